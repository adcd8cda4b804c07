#include "capture/V4L2Stream.h"

#include <linux/videodev2.h>
#include <sys/mman.h>

#include <cerrno>

namespace talvora {

namespace {

quint64 timestampUs(const v4l2_buffer& buffer) {
    return quint64(buffer.timestamp.tv_sec) * 1000000u + quint64(buffer.timestamp.tv_usec);
}

v4l2_buffer mmapBuffer() {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    return buffer;
}

} // namespace

V4L2Stream::V4L2Stream(V4L2Device& device, FrameSink frames, ErrorSink errors, LossSink loss)
    : m_device(device), m_frames(std::move(frames)), m_errors(std::move(errors)), m_loss(std::move(loss)) {}

V4L2Stream::~V4L2Stream() {
    stop();
}

bool V4L2Stream::start(int fd, const V4L2FrameGeometry& geometry) {
    stop();
    m_fd = fd;
    m_geometry = geometry;
    v4l2_requestbuffers request{};
    request.count = kRequestedBuffers;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (xioctl(m_device, m_fd, VIDIOC_REQBUFS, &request) < 0) {
        m_errors(QStringLiteral("Cannot start video capture: %1").arg(errnoText(errno)));
        return false;
    }
    m_buffersRequested = true;
    const auto fail = [this](const QString& text) {
        m_errors(text);
        releaseBuffers();
        return false;
    };
    if (request.count < kMinBuffers || request.count > kMaxBuffers)
        return fail(
            QStringLiteral("Cannot start video capture: the driver granted %1 buffers").arg(request.count));
    if (!mapBuffers(request.count)) {
        releaseBuffers();
        return false;
    }
    for (quint32 i = 0; i < request.count; ++i) {
        if (!queueBuffer(i))
            return fail(QStringLiteral("Cannot queue video buffer: %1").arg(errnoText(errno)));
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(m_device, m_fd, VIDIOC_STREAMON, &type) < 0)
        return fail(QStringLiteral("Cannot start video capture: %1").arg(errnoText(errno)));
    m_streaming = true;
    m_lastFrameUs = 0;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read);
    QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier, [this] { readFrames(); });
    return true;
}

// Reports the reason and returns false on the first buffer the driver describes wrongly.
bool V4L2Stream::mapBuffers(unsigned count) {
    const qsizetype captureBytes = requiredCaptureSize(m_geometry);
    const qsizetype frameBytes = deliveredFrameSize(m_geometry);
    const bool copyFrames = !isDeliveredAsCaptured(m_geometry);
    m_buffers.resize(count);
    for (quint32 i = 0; i < count; ++i) {
        v4l2_buffer buffer = mmapBuffer();
        buffer.index = i;
        if (xioctl(m_device, m_fd, VIDIOC_QUERYBUF, &buffer) < 0) {
            m_errors(QStringLiteral("Cannot start video capture: %1").arg(errnoText(errno)));
            return false;
        }
        if (buffer.index != i || buffer.length == 0 || qsizetype(buffer.length) > kMaxFrameBytes ||
            (isSupportedPixelFormat(m_geometry.pixelFormat) && qsizetype(buffer.length) < captureBytes)) {
            m_errors(QStringLiteral("Cannot start video capture: the driver's buffer %1 is unusable").arg(i));
            return false;
        }
        void* start =
            m_device.mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, off_t(buffer.m.offset));
        if (start == MAP_FAILED) {
            m_errors(QStringLiteral("Cannot map video buffer: %1").arg(errnoText(errno)));
            return false;
        }
        m_buffers[i].start = start;
        m_buffers[i].length = buffer.length;
        if (copyFrames)
            m_buffers[i].laidOut = QByteArray(frameBytes, '\0');
    }
    return true;
}

void V4L2Stream::stop() {
    if (m_notifier) {
        m_notifier->setEnabled(false);
        // Inside its own signal the notifier must outlive the emission.
        if (m_dispatch.active())
            m_notifier->deleteLater();
        else
            delete m_notifier;
        m_notifier = nullptr;
    }
    if (m_streaming) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        xioctl(m_device, m_fd, VIDIOC_STREAMOFF, &type); // fails harmlessly on an unplugged camera
        m_streaming = false;
    }
    releaseBuffers();
}

void V4L2Stream::releaseBuffers() {
    if (!m_buffersRequested)
        return;
    m_buffersRequested = false;
    ++m_generation;
    for (Buffer& buffer : m_buffers) {
        if (buffer.start)
            m_device.munmap(buffer.start, buffer.length);
    }
    m_buffers.clear();
    v4l2_requestbuffers request{};
    request.count = 0;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    xioctl(m_device, m_fd, VIDIOC_REQBUFS, &request);
}

bool V4L2Stream::queueBuffer(quint32 index) {
    v4l2_buffer buffer = mmapBuffer();
    buffer.index = index;
    if (xioctl(m_device, m_fd, VIDIOC_QBUF, &buffer) < 0)
        return false;
    m_buffers[index].queued = true;
    return true;
}

// Hands a skipped buffer back to the driver; a driver that refuses it has failed.
bool V4L2Stream::requeue(quint32 index) {
    if (!queueBuffer(index))
        m_loss(errno);
    return true;
}

void V4L2Stream::readFrames() {
    const ReentrancyGuard::Entry entry(m_dispatch);
    // At most one round of the buffers per wake-up, so that a flood cannot starve the window.
    const std::size_t rounds = m_buffers.size();
    for (std::size_t i = 0; i < rounds && m_streaming; ++i) {
        if (!dequeueOne())
            break;
    }
}

// Returns false when there is nothing more to read now.
bool V4L2Stream::dequeueOne() {
    v4l2_buffer buffer = mmapBuffer();
    if (xioctl(m_device, m_fd, VIDIOC_DQBUF, &buffer) < 0) {
        if (errno != EAGAIN)
            m_loss(errno);
        return false;
    }
    if (buffer.index >= m_buffers.size() || !m_buffers[buffer.index].queued) {
        // Not a buffer we queued: its memory is unknown, so it is neither read nor requeued.
        m_errors(QStringLiteral("The video driver returned an invalid buffer (%1)").arg(buffer.index));
        return true;
    }
    const quint32 index = buffer.index;
    Buffer& slot = m_buffers[index];
    slot.queued = false;
    const qsizetype used = buffer.bytesused == 0 ? qsizetype(slot.length) : qsizetype(buffer.bytesused);
    const quint64 nowUs = timestampUs(buffer);
    // Drivers that ignore the requested rate are thinned to the preview rate (with slack for
    // jitter); drivers without timestamps are not thinned.
    const quint64 minGapUs = quint64(m_previewRateMs) * 750;
    const bool tooSoon = m_lastFrameUs != 0 && nowUs > m_lastFrameUs && nowUs - m_lastFrameUs < minGapUs;
    const bool damaged = (buffer.flags & V4L2_BUF_FLAG_ERROR) || used > qsizetype(slot.length);
    if (damaged || tooSoon)
        return requeue(index);

    const uchar* frame = static_cast<const uchar*>(slot.start);
    qsizetype frameSize = used;
    if (!slot.laidOut.isEmpty()) {
        auto* dst = reinterpret_cast<uchar*>(slot.laidOut.data());
        // A short frame (the camera lost part of it) is skipped.
        if (!layoutFrame(m_geometry, frame, used, dst, slot.laidOut.size()))
            return requeue(index);
        frame = dst;
        frameSize = slot.laidOut.size();
    } else if (isSupportedPixelFormat(m_geometry.pixelFormat)) {
        if (used < deliveredFrameSize(m_geometry))
            return requeue(index);
        frameSize = deliveredFrameSize(m_geometry);
    }
    m_lastFrameUs = nowUs;

    const quint64 generation = m_generation;
    m_frames(frame, frameSize);
    // The handler may have stopped, restarted or disconnected the stream in a nested loop.
    if (generation != m_generation || !m_streaming)
        return false;
    if (!queueBuffer(index)) {
        m_loss(errno);
        return false;
    }
    return true;
}

} // namespace talvora
