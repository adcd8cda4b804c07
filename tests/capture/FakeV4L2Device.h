#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <linux/videodev2.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/V4L2Device.h"

namespace talvora::test {

// A kernel V4L2 device in memory, enough of it for the capture back end: capabilities,
// formats with sizes and intervals, format negotiation, mmap streaming, controls and inputs.
// open() hands out an eventfd, which is readable while dequeued frames wait, so the back end's
// QSocketNotifier path runs for real. Tests push frames with deliverFrame() and break the
// device with the fault methods, from their own thread while the back end streams on the camera
// thread: every call takes the device's lock, as the kernel serialises a device's ioctls.
class FakeV4L2Device final : public V4L2Device {
public:
    struct Format {
        quint32 pixelFormat = V4L2_PIX_FMT_YUYV;
        QList<QPair<int, int>> sizes;     // discrete sizes; empty with a stepwise range
        v4l2_frmsize_stepwise stepwise{}; // used when sizes is empty
        QList<v4l2_fract> intervals = {{1, 30}, {1, 15}};
    };
    struct Control {
        v4l2_queryctrl query{};
        QMap<quint32, QString> menu; // index -> name; missing indexes are gaps
        qint32 value = 0;
    };
    struct Node {
        QString card = QStringLiteral("Fake Camera");
        quint32 deviceCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
        QList<Format> formats;
        QList<Control> controls;
        QStringList inputs = {QStringLiteral("Camera 1")};
        bool timePerFrame = true;
        quint32 extraBytesPerLine = 0; // row padding the "driver" adds
        quint32 grantedBuffers = 0;    // 0: as many as requested
        int openErrno = 0;
        bool busy = false; // another program streams: formats and buffers are refused with EBUSY
        bool controlsNeedNextCtrlFallback = false; // old driver: no V4L2_CTRL_FLAG_NEXT_CTRL

        // Negotiated state.
        v4l2_pix_format pix{};
        v4l2_fract timePerFrameValue{1, 30};
        int input = 0;
        bool unplugged = false;
    };
    struct Call {
        unsigned long request;
        quint32 pixelFormat = 0; // S_FMT
        quint32 width = 0, height = 0;
        v4l2_fract interval{}; // S_PARM
        quint32 id = 0;        // S_CTRL
        qint32 value = 0;      // S_CTRL, S_INPUT
    };

    FakeV4L2Device();
    ~FakeV4L2Device() override;

    // Creates /dev/video<index>; a camera by default, or what `node` says.
    Node& addNode(int index, Node node);
    Node& addNode(int index);
    Node& node(int index) { return m_nodes.at(index); }
    static Node metadataNode();
    static Control integerControl(quint32 id, const char* name, qint32 min, qint32 max, qint32 def);

    // Fills the oldest queued buffer with `bytes` and marks it done. False when the back end
    // has no buffer queued (or is not streaming).
    bool deliverFrame(const QByteArray& bytes, quint32 flags = 0, quint64 timestampUs = 0);
    // The next dequeue reports this index (not one the back end queued).
    void deliverBogusIndex(quint32 index);
    // The camera goes away: every later call on it fails with ENODEV and the descriptor wakes.
    void unplug(int index);
    // The camera comes back as a fresh node (an unplugged one in its first configuration),
    // and the watcher hears of it.
    Node& plugIn(int index);
    Node& plugIn(int index, Node node);
    bool watching() const {
        const std::lock_guard lock(m_lock);
        return bool(m_nodesChanged);
    }

    int queuedBuffers() const;
    // Every delivered frame dequeued and every buffer back with the driver.
    bool idle() const {
        const std::lock_guard lock(m_lock);
        return m_done.empty() && queuedBuffers() == bufferCount();
    }
    int bufferCount() const {
        const std::lock_guard lock(m_lock);
        return int(m_buffers.size());
    }
    bool streaming() const {
        const std::lock_guard lock(m_lock);
        return m_streaming;
    }
    int openDescriptors() const {
        const std::lock_guard lock(m_lock);
        return int(m_open.size());
    }
    int mappedBuffers() const;
    std::vector<Call> calls() const {
        const std::lock_guard lock(m_lock);
        return m_calls;
    }
    QList<Call> callsOf(unsigned long request) const;
    void clearCalls() {
        const std::lock_guard lock(m_lock);
        m_calls.clear();
    }

    int open(const char* path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    void* mmap(std::size_t length, int prot, int flags, int fd, off_t offset) override;
    int munmap(void* address, std::size_t length) override;
    void watchNodes(const QString& directory, std::function<void()> changed) override;
    QString watchedDirectory() const {
        const std::lock_guard lock(m_lock);
        return m_watchedDirectory;
    }

private:
    struct Buffer {
        std::vector<uchar> memory;
        bool queued = false;
        bool done = false;
        bool mapped = false;
        quint32 bytesUsed = 0;
        quint32 flags = 0;
        quint64 timestampUs = 0;
    };
    struct Done {
        quint32 index;
        bool bogus;
    };

    int fail(int error) const;
    void negotiate(Node& node, v4l2_pix_format& pix) const;
    void wake(int count = 1);
    void drainWakeups();
    int handle(Node& node, unsigned long request, void* arg);

    std::map<int, Node> m_nodes;
    std::map<int, int> m_open; // descriptor -> node index
    int m_streamFd = -1;
    std::vector<Buffer> m_buffers;
    std::deque<Done> m_done;
    bool m_streaming = false;
    std::vector<Call> m_calls;
    std::function<void()> m_nodesChanged;
    std::unique_ptr<QObject> m_watcher; // made on the thread that watches
    QString m_watchedDirectory;
    // Recursive: some calls are made of others (plugIn of addNode, idle of queuedBuffers).
    mutable std::recursive_mutex m_lock;
};

} // namespace talvora::test
