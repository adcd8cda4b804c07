#pragma once

#include <QByteArray>
#include <QSocketNotifier>
#include <QString>

#include <functional>
#include <vector>

#include "base/ReentrancyGuard.h"
#include "capture/V4L2Device.h"
#include "capture/V4L2Formats.h"

namespace talvora {

// The streaming half of the V4L2 back end: memory-mapped buffers requested from the driver,
// the QSocketNotifier that wakes the main thread when one is filled, and the checks each
// returned buffer passes before its frame is handed on. A handler that runs a nested event loop
// (a message box) keeps receiving frames: the buffer being handled is returned to the driver
// only when its handler is over, and the others keep circulating.
class V4L2Stream {
public:
    // One frame laid out as formatBlockFor(geometry) describes it; valid only during the call.
    using FrameSink = std::function<void(const uchar* data, qsizetype size)>;
    // A text for the status label when the stream cannot start or a buffer is refused.
    using ErrorSink = std::function<void(const QString& text)>;
    // The device failed while streaming (errno in `error`); the owner stops or closes it.
    using LossSink = std::function<void(int error)>;

    // Buffers requested from the driver; fewer than kMinBuffers granted is a failure.
    static constexpr unsigned kRequestedBuffers = 4;
    static constexpr unsigned kMinBuffers = 3;
    // The most a driver may grant; more is a broken driver.
    static constexpr unsigned kMaxBuffers = 32;
    // The largest frame the back end allocates for; a driver claiming more is refused.
    static constexpr qsizetype kMaxFrameBytes = qsizetype(128) * 1024 * 1024;

    V4L2Stream(V4L2Device& device, FrameSink frames, ErrorSink errors, LossSink loss);
    ~V4L2Stream();

    V4L2Stream(const V4L2Stream&) = delete;
    V4L2Stream& operator=(const V4L2Stream&) = delete;

    // Maps the buffers for frames of `geometry` on `fd`, queues them and starts streaming.
    // False, with everything released and the reason reported, when any step fails.
    bool start(int fd, const V4L2FrameGeometry& geometry);
    // Stops streaming and releases the buffers; harmless when not streaming.
    void stop();
    bool isStreaming() const { return m_streaming; }

    // Frames closer together than three quarters of this are dropped (see dequeueOne).
    void setPreviewRate(int intervalMs) { m_previewRateMs = intervalMs; }

private:
    struct Buffer {
        void* start = nullptr;
        std::size_t length = 0;
        bool queued = false;
        QByteArray laidOut; // the frame in the delivered layout, when it differs from the driver's
    };

    bool mapBuffers(unsigned count);
    void releaseBuffers();
    void readFrames();
    bool dequeueOne();
    bool queueBuffer(quint32 index);
    bool requeue(quint32 index);

    V4L2Device& m_device;
    FrameSink m_frames;
    ErrorSink m_errors;
    LossSink m_loss;

    int m_fd = -1;
    V4L2FrameGeometry m_geometry;
    int m_previewRateMs = 33;
    std::vector<Buffer> m_buffers;
    QSocketNotifier* m_notifier = nullptr;
    bool m_streaming = false;
    bool m_buffersRequested = false;
    // Bumped whenever the buffers are released, so that a handler that stopped or restarted
    // the stream from a nested event loop does not hand a stale buffer back to the driver.
    quint64 m_generation = 0;
    // Inside readFrames: the notifier that called it must not be deleted under it.
    ReentrancyGuard m_dispatch;
    quint64 m_lastFrameUs = 0;
};

} // namespace talvora
