#include "capture/V4L2Capture.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

namespace talvora {

namespace {

// Bounds on what the enumerations read from a driver, so that a broken one cannot make a
// dialog loop for ever.
constexpr quint32 kMaxEnumerated = 64;
constexpr qint64 kMaxMenuItems = 256;

QString errnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString fixedText(const __u8* text, std::size_t size) {
    const auto* begin = reinterpret_cast<const char*>(text);
    return QString::fromUtf8(begin, qsizetype(strnlen(begin, size)));
}

quint64 timestampUs(const v4l2_buffer& buffer) {
    return quint64(buffer.timestamp.tv_sec) * 1000000u + quint64(buffer.timestamp.tv_usec);
}

// Frame sizes the format dialog offers inside a stepwise or continuous range.
const FrameSize kCommonSizes[] = {{160, 120},  {176, 144},  {320, 240},  {352, 288},
                                  {384, 288},  {640, 360},  {640, 480},  {800, 600},
                                  {1024, 768}, {1280, 720}, {1280, 960}, {1920, 1080}};

} // namespace

V4L2Capture::V4L2Capture(std::shared_ptr<V4L2Device> device, QString pathPattern)
    : m_device(std::move(device)), m_pathPattern(std::move(pathPattern)) {}

V4L2Capture::~V4L2Capture() {
    // Stop reporting before the teardown, whose texts nobody could show any more.
    m_statusCallback = nullptr;
    m_frameCallback = nullptr;
    disconnectDriver();
}

void V4L2Capture::status(int id, const QString& text) {
    if (const StatusCallback callback = m_statusCallback)
        callback(id, text);
}

bool V4L2Capture::connectDriver(int index) {
    disconnectDriver();
    if (index < 0 || index > 9)
        return false;
    const QByteArray devicePath = path(index).toLocal8Bit();
    const int fd = m_device->open(devicePath.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        // A missing node is the normal end of the search; anything else the user should hear.
        if (error != ENOENT && error != ENODEV && error != ENXIO)
            status(StatusError, QStringLiteral("Cannot open %1: %2").arg(path(index), errnoText(error)));
        return false;
    }
    v4l2_capability capability{};
    if (xioctl(*m_device, fd, VIDIOC_QUERYCAP, &capability) < 0) {
        m_device->close(fd);
        return false;
    }
    const quint32 caps =
        (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps : capability.capabilities;
    // Cameras also expose metadata and output nodes; only a streaming capture node will do.
    if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING)) {
        m_device->close(fd);
        return false;
    }
    m_fd = fd;
    m_index = index;
    m_cardName = fixedText(capability.card, sizeof capability.card);
    m_parms = CaptureParms{};
    m_devicePixelFormats = enumeratePixelFormats();

    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(*m_device, m_fd, VIDIOC_G_PARM, &parm) == 0) {
        m_canSetFrameInterval = (parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME) != 0;
        const v4l2_fract tpf = parm.parm.capture.timeperframe;
        if (tpf.numerator != 0 && tpf.denominator != 0)
            m_parms.dwRequestMicroSecPerFrame = quint32(std::min<quint64>(
                quint64(tpf.numerator) * 1000000u / tpf.denominator, std::numeric_limits<quint32>::max()));
    }
    status(StatusConnected, QStringLiteral("Connected to %1 (%2)").arg(m_cardName, path(index)));

    // Start in the format the driver is set to when the converters read it, else in the best
    // one it offers; the frame buffers then ask for their own.
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    int width = 384;
    int height = 288;
    quint32 pixelFormat = 0;
    if (xioctl(*m_device, m_fd, VIDIOC_G_FMT, &format) == 0) {
        width = int(std::min<quint32>(format.fmt.pix.width, kMaxFrameEdge));
        height = int(std::min<quint32>(format.fmt.pix.height, kMaxFrameEdge));
        if (m_devicePixelFormats.contains(format.fmt.pix.pixelformat))
            pixelFormat = format.fmt.pix.pixelformat;
    }
    if (pixelFormat == 0 || !isSupportedPixelFormat(pixelFormat)) {
        const quint32 preferred = choosePixelFormat(kBiRgb, m_devicePixelFormats);
        if (preferred != 0)
            pixelFormat = preferred;
    }
    if (pixelFormat != 0) {
        const FrameSize size = nearestFrameSize(frameSizes(pixelFormat), width, height);
        negotiate(pixelFormat, size.width, size.height);
    } else if (format.fmt.pix.pixelformat != 0) {
        // Nothing the converters read (an MJPEG-only camera): report it, frames are dropped.
        V4L2FrameGeometry geometry{format.fmt.pix.pixelformat, width, height, format.fmt.pix.bytesperline,
                                   format.fmt.pix.sizeimage};
        m_geometry = geometry;
        m_formatBlock = formatBlockFor(geometry);
        status(StatusFormat, QStringLiteral("Video format %1 %2x%3 cannot be converted")
                                 .arg(pixelFormatName(geometry.pixelFormat))
                                 .arg(width)
                                 .arg(height));
    }
    return true;
}

void V4L2Capture::disconnectDriver() {
    stopStreaming();
    if (m_fd >= 0)
        m_device->close(m_fd);
    m_fd = -1;
    m_index = -1;
    m_cardName.clear();
    m_devicePixelFormats.clear();
    m_geometry = {};
    m_formatBlock.clear();
    m_canSetFrameInterval = false;
}

bool V4L2Capture::getSequenceSetup(CaptureParms& parms) const {
    if (!isConnected())
        return false;
    parms = m_parms;
    return true;
}

// The record describes capture to a file, which this back end does not do; it is kept so that
// what the program writes reads back unchanged. The preview's own rate is set by
// setPreviewRate.
bool V4L2Capture::setSequenceSetup(const CaptureParms& parms) {
    if (!isConnected())
        return false;
    m_parms = parms;
    return true;
}

bool V4L2Capture::getDriverCaps(CaptureDriverCaps& caps) const {
    if (!isConnected())
        return false;
    caps = CaptureDriverCaps{};
    caps.wDeviceIndex = quint32(m_index);
    caps.fCaptureInitialized = true;
    caps.fHasDlgVideoSource = !controls().isEmpty() || inputs().size() > 1;
    caps.fHasDlgVideoFormat =
        std::any_of(m_devicePixelFormats.begin(), m_devicePixelFormats.end(), isSupportedPixelFormat);
    return true;
}

QByteArray V4L2Capture::videoFormat() const {
    return isConnected() ? m_formatBlock : QByteArray();
}

bool V4L2Capture::setVideoFormat(const QByteArray& formatBlock) {
    if (!isConnected() || formatBlock.size() < qsizetype(sizeof(BitmapInfoHeader)))
        return false;
    const BitmapInfoHeader header = readBitmapInfoHeader(formatBlock.constData());
    const qint64 height = std::abs(qint64(header.biHeight));
    if (header.biWidth <= 0 || header.biWidth > kMaxFrameEdge || height == 0 || height > kMaxFrameEdge)
        return false;
    const quint32 pixelFormat = choosePixelFormat(header.biCompression, m_devicePixelFormats);
    if (pixelFormat == 0)
        return false;
    const FrameSize size = nearestFrameSize(frameSizes(pixelFormat), header.biWidth, int(height));
    return negotiate(pixelFormat, size.width, size.height);
}

bool V4L2Capture::negotiate(quint32 pixelFormat, int width, int height) {
    const bool wasStreaming = m_streaming;
    stopStreaming();
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.pixelformat = pixelFormat;
    format.fmt.pix.width = quint32(width);
    format.fmt.pix.height = quint32(height);
    format.fmt.pix.field = V4L2_FIELD_NONE;
    bool ok = xioctl(*m_device, m_fd, VIDIOC_S_FMT, &format) == 0;
    if (!ok) {
        status(StatusError, QStringLiteral("Cannot set video format %1 %2x%3: %4")
                                .arg(pixelFormatName(pixelFormat))
                                .arg(width)
                                .arg(height)
                                .arg(errnoText(errno)));
    } else {
        // The driver may adjust anything; what it reports is what its frames will be.
        const V4L2FrameGeometry geometry{format.fmt.pix.pixelformat,
                                         int(std::min<quint32>(format.fmt.pix.width, 1u << 30)),
                                         int(std::min<quint32>(format.fmt.pix.height, 1u << 30)),
                                         format.fmt.pix.bytesperline, format.fmt.pix.sizeimage};
        const qsizetype frameBytes = deliveredFrameSize(geometry);
        if (!isPlausibleGeometry(geometry) || frameBytes <= 0 || frameBytes > kMaxFrameBytes) {
            status(StatusError, QStringLiteral("The video driver reported an unusable format (%1x%2)")
                                    .arg(geometry.width)
                                    .arg(geometry.height));
            ok = false;
        } else {
            m_geometry = geometry;
            m_formatBlock = formatBlockFor(geometry);
            applyFrameInterval();
            status(StatusFormat, QStringLiteral("Video format %1 %2x%3")
                                     .arg(pixelFormatName(geometry.pixelFormat))
                                     .arg(geometry.width)
                                     .arg(geometry.height));
        }
    }
    if (wasStreaming && !m_formatBlock.isEmpty())
        startStreaming();
    return ok;
}

void V4L2Capture::applyFrameInterval() {
    if (!m_canSetFrameInterval || m_fd < 0)
        return;
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    parm.parm.capture.timeperframe.numerator = m_frameInterval.numerator;
    parm.parm.capture.timeperframe.denominator = m_frameInterval.denominator;
    // A driver that cannot take the rate keeps its own; frames are then thinned in readFrames.
    xioctl(*m_device, m_fd, VIDIOC_S_PARM, &parm);
}

void V4L2Capture::setPreviewRate(int intervalMs) {
    m_previewRateMs = std::clamp(intervalMs, 1, 10000);
    // 33 ms asks for 30 frames a second.
    m_frameInterval = {1, quint32(std::max(1L, std::lround(1000.0 / m_previewRateMs)))};
    if (!isConnected())
        return;
    const bool wasStreaming = m_streaming;
    stopStreaming(); // most drivers refuse a new rate while streaming
    applyFrameInterval();
    if (wasStreaming)
        startStreaming();
}

bool V4L2Capture::setPreview(bool on) {
    if (!on) {
        stopStreaming();
        return true;
    }
    if (!isConnected() || m_formatBlock.isEmpty())
        return false;
    return m_streaming || startStreaming();
}

bool V4L2Capture::startStreaming() {
    v4l2_requestbuffers request{};
    request.count = kRequestedBuffers;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (xioctl(*m_device, m_fd, VIDIOC_REQBUFS, &request) < 0) {
        status(StatusError, QStringLiteral("Cannot start video capture: %1").arg(errnoText(errno)));
        return false;
    }
    m_buffersRequested = true;
    const auto fail = [this](const QString& text) {
        status(StatusError, text);
        releaseBuffers();
        return false;
    };
    if (request.count < kMinBuffers || request.count > 32)
        return fail(
            QStringLiteral("Cannot start video capture: the driver granted %1 buffers").arg(request.count));

    const qsizetype captureBytes = requiredCaptureSize(m_geometry);
    const qsizetype frameBytes = deliveredFrameSize(m_geometry);
    const bool copyFrames = !isDeliveredAsCaptured(m_geometry);
    m_buffers.resize(request.count);
    for (quint32 i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (xioctl(*m_device, m_fd, VIDIOC_QUERYBUF, &buffer) < 0)
            return fail(QStringLiteral("Cannot start video capture: %1").arg(errnoText(errno)));
        if (buffer.index != i || buffer.length == 0 || qsizetype(buffer.length) > kMaxFrameBytes ||
            (isSupportedPixelFormat(m_geometry.pixelFormat) && qsizetype(buffer.length) < captureBytes))
            return fail(
                QStringLiteral("Cannot start video capture: the driver's buffer %1 is unusable").arg(i));
        void* start =
            m_device->mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, off_t(buffer.m.offset));
        if (start == MAP_FAILED)
            return fail(QStringLiteral("Cannot map video buffer: %1").arg(errnoText(errno)));
        m_buffers[i].start = start;
        m_buffers[i].length = buffer.length;
        if (copyFrames)
            m_buffers[i].laidOut = QByteArray(frameBytes, '\0');
    }
    for (quint32 i = 0; i < request.count; ++i) {
        if (!queueBuffer(i))
            return fail(QStringLiteral("Cannot queue video buffer: %1").arg(errnoText(errno)));
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(*m_device, m_fd, VIDIOC_STREAMON, &type) < 0)
        return fail(QStringLiteral("Cannot start video capture: %1").arg(errnoText(errno)));
    m_streaming = true;
    m_lastFrameUs = 0;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read);
    QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier, [this] { readFrames(); });
    return true;
}

void V4L2Capture::stopStreaming() {
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
        xioctl(*m_device, m_fd, VIDIOC_STREAMOFF, &type); // fails harmlessly on an unplugged camera
        m_streaming = false;
    }
    releaseBuffers();
}

void V4L2Capture::releaseBuffers() {
    if (!m_buffersRequested)
        return;
    m_buffersRequested = false;
    ++m_generation;
    for (Buffer& buffer : m_buffers) {
        if (buffer.start)
            m_device->munmap(buffer.start, buffer.length);
    }
    m_buffers.clear();
    v4l2_requestbuffers request{};
    request.count = 0;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    xioctl(*m_device, m_fd, VIDIOC_REQBUFS, &request);
}

bool V4L2Capture::queueBuffer(quint32 index) {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.index = index;
    if (xioctl(*m_device, m_fd, VIDIOC_QBUF, &buffer) < 0)
        return false;
    m_buffers[index].queued = true;
    return true;
}

void V4L2Capture::readFrames() {
    const ReentrancyGuard::Entry entry(m_dispatch);
    // At most one round of the buffers per wake-up, so that a flood cannot starve the window.
    const std::size_t rounds = m_buffers.size();
    for (std::size_t i = 0; i < rounds && m_streaming; ++i) {
        if (!dequeueOne())
            break;
    }
}

// Returns false when there is nothing more to read now.
bool V4L2Capture::dequeueOne() {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    if (xioctl(*m_device, m_fd, VIDIOC_DQBUF, &buffer) < 0) {
        if (errno != EAGAIN)
            loseDevice(errno);
        return false;
    }
    if (buffer.index >= m_buffers.size() || !m_buffers[buffer.index].queued) {
        // Not a buffer we queued: its memory is unknown, so it is neither read nor requeued.
        status(StatusError,
               QStringLiteral("The video driver returned an invalid buffer (%1)").arg(buffer.index));
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
    if (damaged || tooSoon) {
        if (!queueBuffer(index))
            loseDevice(errno);
        return true;
    }

    const uchar* frame = static_cast<const uchar*>(slot.start);
    qsizetype frameSize = used;
    if (!slot.laidOut.isEmpty()) {
        auto* dst = reinterpret_cast<uchar*>(slot.laidOut.data());
        if (!layoutFrame(m_geometry, frame, used, dst, slot.laidOut.size())) {
            // A short frame (the camera lost part of it): skip it.
            if (!queueBuffer(index))
                loseDevice(errno);
            return true;
        }
        frame = dst;
        frameSize = slot.laidOut.size();
    } else if (isSupportedPixelFormat(m_geometry.pixelFormat)) {
        if (used < deliveredFrameSize(m_geometry)) {
            if (!queueBuffer(index))
                loseDevice(errno);
            return true;
        }
        frameSize = deliveredFrameSize(m_geometry);
    }
    m_lastFrameUs = nowUs;

    const quint64 generation = m_generation;
    // A copy, so that a handler clearing the callback does not destroy the one running.
    if (const FrameCallback callback = m_frameCallback)
        callback(frame, frameSize);
    // The callback may have stopped, restarted or disconnected the stream in a nested loop.
    if (generation != m_generation || !m_streaming)
        return false;
    if (!queueBuffer(index)) {
        loseDevice(errno);
        return false;
    }
    return true;
}

void V4L2Capture::loseDevice(int error) {
    const QString text = (error == ENODEV)
                             ? QStringLiteral("The camera %1 was disconnected").arg(m_cardName)
                             : QStringLiteral("Video capture stopped: %1").arg(errnoText(error));
    stopStreaming();
    if (error == ENODEV) {
        // The node is gone for good; a camera plugged in again is found by a new connect.
        disconnectDriver();
    }
    status(error == ENODEV ? StatusDeviceLost : StatusError, text);
}

QList<quint32> V4L2Capture::enumeratePixelFormats() const {
    QList<quint32> formats;
    for (quint32 i = 0; i < kMaxEnumerated; ++i) {
        v4l2_fmtdesc desc{};
        desc.index = i;
        desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(*m_device, m_fd, VIDIOC_ENUM_FMT, &desc) < 0)
            break;
        if (!formats.contains(desc.pixelformat))
            formats.append(desc.pixelformat);
    }
    return formats;
}

QList<FrameSizeRange> V4L2Capture::frameSizes(quint32 pixelFormat) const {
    QList<FrameSizeRange> ranges;
    for (quint32 i = 0; i < kMaxEnumerated; ++i) {
        v4l2_frmsizeenum size{};
        size.index = i;
        size.pixel_format = pixelFormat;
        if (xioctl(*m_device, m_fd, VIDIOC_ENUM_FRAMESIZES, &size) < 0)
            break;
        FrameSizeRange range;
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            const int w = int(std::min<quint32>(size.discrete.width, kMaxFrameEdge));
            const int h = int(std::min<quint32>(size.discrete.height, kMaxFrameEdge));
            range = {w, w, 0, h, h, 0};
        } else {
            const auto edge = [](quint32 v) { return int(std::min<quint32>(v, kMaxFrameEdge)); };
            const auto& sw = size.stepwise;
            range = {edge(sw.min_width),  edge(sw.max_width),  edge(sw.step_width),
                     edge(sw.min_height), edge(sw.max_height), edge(sw.step_height)};
            ranges.append(range);
            break; // a stepwise entry is the only one
        }
        if (range.minWidth > 0 && range.minHeight > 0)
            ranges.append(range);
    }
    return ranges;
}

QList<FrameInterval> V4L2Capture::frameIntervals(quint32 pixelFormat, int width, int height) const {
    QList<FrameInterval> intervals;
    for (quint32 i = 0; i < kMaxEnumerated; ++i) {
        v4l2_frmivalenum ival{};
        ival.index = i;
        ival.pixel_format = pixelFormat;
        ival.width = quint32(width);
        ival.height = quint32(height);
        if (xioctl(*m_device, m_fd, VIDIOC_ENUM_FRAMEINTERVALS, &ival) < 0)
            break;
        if (ival.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            if (ival.discrete.numerator != 0 && ival.discrete.denominator != 0)
                intervals.append({ival.discrete.numerator, ival.discrete.denominator});
            continue;
        }
        // A range: offer its fastest and slowest ends.
        const v4l2_fract fastest = ival.stepwise.min;
        const v4l2_fract slowest = ival.stepwise.max;
        if (fastest.numerator != 0 && fastest.denominator != 0)
            intervals.append({fastest.numerator, fastest.denominator});
        if (slowest.numerator != 0 && slowest.denominator != 0 &&
            !(slowest.numerator == fastest.numerator && slowest.denominator == fastest.denominator))
            intervals.append({slowest.numerator, slowest.denominator});
        break;
    }
    return intervals;
}

QList<CaptureControl> V4L2Capture::controls() const {
    QList<CaptureControl> result;
    if (!isConnected())
        return result;
    const auto add = [&](const v4l2_queryctrl& query) {
        if (query.flags & V4L2_CTRL_FLAG_DISABLED)
            return;
        CaptureControl control;
        switch (query.type) {
        case V4L2_CTRL_TYPE_INTEGER:
            control.kind = CaptureControl::Kind::Integer;
            break;
        case V4L2_CTRL_TYPE_BOOLEAN:
            control.kind = CaptureControl::Kind::Boolean;
            break;
        case V4L2_CTRL_TYPE_MENU:
        case V4L2_CTRL_TYPE_INTEGER_MENU:
            control.kind = CaptureControl::Kind::Menu;
            break;
        case V4L2_CTRL_TYPE_BUTTON:
            control.kind = CaptureControl::Kind::Button;
            break;
        default:
            return; // classes, strings and compound controls have no place in this dialog
        }
        if (query.minimum > query.maximum)
            return;
        control.id = query.id;
        control.name = fixedText(query.name, sizeof query.name);
        control.minimum = query.minimum;
        control.maximum = query.maximum;
        control.step = std::max<qint32>(1, query.step);
        control.defaultValue = query.default_value;
        control.value = query.default_value;
        control.readOnly = (query.flags & (V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_GRABBED)) != 0;
        control.inactive = (query.flags & V4L2_CTRL_FLAG_INACTIVE) != 0;
        if (control.kind == CaptureControl::Kind::Menu) {
            if (qint64(query.maximum) - query.minimum >= kMaxMenuItems)
                return;
            for (qint32 item = query.minimum; item <= query.maximum; ++item) {
                v4l2_querymenu menu{};
                menu.id = query.id;
                menu.index = quint32(item);
                if (xioctl(*m_device, m_fd, VIDIOC_QUERYMENU, &menu) < 0)
                    continue; // menus may have gaps
                const QString name = query.type == V4L2_CTRL_TYPE_MENU
                                         ? fixedText(menu.name, sizeof menu.name)
                                         : QString::number(qlonglong(menu.value));
                control.menu.append({item, name});
            }
            if (control.menu.isEmpty())
                return;
        }
        if (control.kind != CaptureControl::Kind::Button) {
            v4l2_control current{};
            current.id = query.id;
            if (xioctl(*m_device, m_fd, VIDIOC_G_CTRL, &current) == 0)
                control.value = current.value;
        }
        result.append(control);
    };

    v4l2_queryctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    if (xioctl(*m_device, m_fd, VIDIOC_QUERYCTRL, &query) == 0) {
        for (quint32 count = 0; count < 1024; ++count) {
            add(query);
            query.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
            if (xioctl(*m_device, m_fd, VIDIOC_QUERYCTRL, &query) < 0)
                break;
        }
        return result;
    }
    // Older drivers: walk the user class and the private range.
    for (quint32 id = V4L2_CID_BASE; id < V4L2_CID_LASTP1; ++id) {
        v4l2_queryctrl one{};
        one.id = id;
        if (xioctl(*m_device, m_fd, VIDIOC_QUERYCTRL, &one) == 0)
            add(one);
    }
    for (quint32 id = V4L2_CID_PRIVATE_BASE; id < V4L2_CID_PRIVATE_BASE + kMaxEnumerated; ++id) {
        v4l2_queryctrl one{};
        one.id = id;
        if (xioctl(*m_device, m_fd, VIDIOC_QUERYCTRL, &one) < 0)
            break;
        add(one);
    }
    return result;
}

bool V4L2Capture::setControl(quint32 id, qint32 value) {
    if (!isConnected())
        return false;
    v4l2_control control{};
    control.id = id;
    control.value = value;
    return xioctl(*m_device, m_fd, VIDIOC_S_CTRL, &control) == 0;
}

QList<CaptureInput> V4L2Capture::inputs() const {
    QList<CaptureInput> result;
    if (!isConnected())
        return result;
    for (quint32 i = 0; i < kMaxEnumerated; ++i) {
        v4l2_input input{};
        input.index = i;
        if (xioctl(*m_device, m_fd, VIDIOC_ENUMINPUT, &input) < 0)
            break;
        result.append({int(i), fixedText(input.name, sizeof input.name)});
    }
    return result;
}

int V4L2Capture::currentInput() const {
    int index = 0;
    if (!isConnected() || xioctl(*m_device, m_fd, VIDIOC_G_INPUT, &index) < 0)
        return -1;
    return index;
}

bool V4L2Capture::setInput(int index) {
    if (!isConnected() || index < 0)
        return false;
    const bool wasStreaming = m_streaming;
    stopStreaming(); // the input cannot change while buffers are queued
    int value = index;
    const bool ok = xioctl(*m_device, m_fd, VIDIOC_S_INPUT, &value) == 0;
    if (!ok)
        status(StatusError,
               QStringLiteral("Cannot select video input %1: %2").arg(index).arg(errnoText(errno)));
    if (wasStreaming)
        startStreaming();
    return ok;
}

QList<CaptureFormatOption> V4L2Capture::formatOptions() const {
    QList<CaptureFormatOption> options;
    if (!isConnected())
        return options;
    for (quint32 pixelFormat : m_devicePixelFormats) {
        if (!isSupportedPixelFormat(pixelFormat))
            continue;
        CaptureFormatOption option;
        option.code = pixelFormat;
        option.name = pixelFormatName(pixelFormat);
        QList<FrameSize> sizes;
        for (const FrameSizeRange& range : frameSizes(pixelFormat)) {
            if (range.stepWidth == 0 && range.minWidth == range.maxWidth) {
                sizes.append({range.minWidth, range.minHeight});
                continue;
            }
            const auto fits = [&](FrameSize s) {
                const auto onGrid = [](int v, int low, int step) {
                    return step <= 1 || (v - low) % step == 0;
                };
                return s.width >= range.minWidth && s.width <= range.maxWidth &&
                       s.height >= range.minHeight && s.height <= range.maxHeight &&
                       onGrid(s.width, range.minWidth, range.stepWidth) &&
                       onGrid(s.height, range.minHeight, range.stepHeight);
            };
            sizes.append({range.minWidth, range.minHeight});
            for (FrameSize common : kCommonSizes) {
                if (fits(common))
                    sizes.append(common);
            }
            sizes.append({range.maxWidth, range.maxHeight});
        }
        if (sizes.isEmpty() && m_geometry.pixelFormat == pixelFormat)
            sizes.append({m_geometry.width, m_geometry.height});
        for (FrameSize size : sizes) {
            const bool seen =
                std::any_of(option.sizes.begin(), option.sizes.end(), [&](const CaptureFrameSize& s) {
                    return s.width == size.width && s.height == size.height;
                });
            if (seen || size.width <= 0 || size.height <= 0)
                continue;
            QList<FrameInterval> intervals = frameIntervals(pixelFormat, size.width, size.height);
            if (intervals.isEmpty())
                intervals.append(m_frameInterval);
            option.sizes.append({size.width, size.height, intervals});
        }
        options.append(option);
    }
    return options;
}

CaptureFormatChoice V4L2Capture::currentFormatChoice() const {
    return {m_geometry.pixelFormat, m_geometry.width, m_geometry.height, m_frameInterval};
}

bool V4L2Capture::applyFormatChoice(const CaptureFormatChoice& choice) {
    if (!isConnected() || !m_devicePixelFormats.contains(choice.code) || !isSupportedPixelFormat(choice.code))
        return false;
    if (choice.interval.numerator != 0 && choice.interval.denominator != 0)
        m_frameInterval = choice.interval;
    return negotiate(choice.code, choice.width, choice.height);
}

} // namespace talvora
