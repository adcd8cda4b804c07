#pragma once

#include <sys/types.h>

#include <QString>

#include <cstddef>
#include <functional>
#include <memory>

class QFileSystemWatcher;

namespace talvora {

// The few kernel calls the V4L2 capture back end makes, behind one small interface so that tests
// can run the real back end against a fake kernel device. Each call has the contract of the
// system call of the same name: -1 (or MAP_FAILED) on failure with the reason in errno.
//
// The descriptor returned by open() must be pollable for reading (the back end watches it with
// a QSocketNotifier), so a fake hands out a real descriptor such as an eventfd.
class V4L2Device {
public:
    virtual ~V4L2Device() = default;

    virtual int open(const char* path, int flags) = 0;
    virtual int close(int fd) = 0;
    // Retried by the caller on EINTR; `arg` points to the request's structure.
    virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual void* mmap(std::size_t length, int prot, int flags, int fd, off_t offset) = 0;
    virtual int munmap(void* address, std::size_t length) = 0;

    // Calls `changed` from the event loop when nodes in `directory` may have come or gone (a
    // camera plugged in or out); an empty function ends the watching.
    virtual void watchNodes(const QString& directory, std::function<void()> changed) = 0;
};

// The real kernel.
class SystemV4L2Device final : public V4L2Device {
public:
    int open(const char* path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    void* mmap(std::size_t length, int prot, int flags, int fd, off_t offset) override;
    int munmap(void* address, std::size_t length) override;
    void watchNodes(const QString& directory, std::function<void()> changed) override;

    SystemV4L2Device();
    ~SystemV4L2Device() override;
    SystemV4L2Device(const SystemV4L2Device&) = delete;
    SystemV4L2Device& operator=(const SystemV4L2Device&) = delete;

private:
    // Watches the directory itself (/dev): new nodes show up there, and udev's later permission
    // changes on them too.
    std::unique_ptr<QFileSystemWatcher> m_watcher;
};

// ioctl retried while it is interrupted by a signal.
int xioctl(V4L2Device& device, int fd, unsigned long request, void* arg);

// The system's text for an errno value, for the status texts.
QString errnoText(int error);

// A fixed-size text field of a kernel structure (card, control and input names): UTF-8, ended
// by the first NUL or by the end of the field.
QString kernelText(const unsigned char* text, std::size_t size);

} // namespace talvora
