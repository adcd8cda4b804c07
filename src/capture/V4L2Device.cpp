#include "capture/V4L2Device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QFileSystemWatcher>

namespace talvora {

SystemV4L2Device::SystemV4L2Device() = default;
SystemV4L2Device::~SystemV4L2Device() = default;

void SystemV4L2Device::watchNodes(const QString& directory, std::function<void()> changed) {
    m_watcher.reset();
    if (!changed)
        return;
    m_watcher = std::make_unique<QFileSystemWatcher>(QStringList{directory});
    QObject::connect(m_watcher.get(), &QFileSystemWatcher::directoryChanged, m_watcher.get(),
                     [changed = std::move(changed)] { changed(); });
}

int SystemV4L2Device::open(const char* path, int flags) {
    return ::open(path, flags);
}

int SystemV4L2Device::close(int fd) {
    return ::close(fd);
}

int SystemV4L2Device::ioctl(int fd, unsigned long request, void* arg) {
    return ::ioctl(fd, request, arg);
}

void* SystemV4L2Device::mmap(std::size_t length, int prot, int flags, int fd, off_t offset) {
    return ::mmap(nullptr, length, prot, flags, fd, offset);
}

int SystemV4L2Device::munmap(void* address, std::size_t length) {
    return ::munmap(address, length);
}

int xioctl(V4L2Device& device, int fd, unsigned long request, void* arg) {
    int result;
    do {
        result = device.ioctl(fd, request, arg);
    } while (result == -1 && errno == EINTR);
    return result;
}

QString errnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString kernelText(const unsigned char* text, std::size_t size) {
    const auto* begin = reinterpret_cast<const char*>(text);
    return QString::fromUtf8(begin, qsizetype(strnlen(begin, size)));
}

} // namespace talvora
