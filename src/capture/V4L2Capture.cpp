#include "capture/V4L2Capture.h"

#include <fcntl.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>

#include <QFileInfo>

#include "capture/V4L2Controls.h"
#include "capture/V4L2FormatEnumeration.h"

namespace talvora {

namespace {

// Cameras also expose metadata and output nodes; only a streaming capture node will do.
bool isStreamingCaptureNode(const v4l2_capability& capability) {
    const quint32 caps =
        (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps : capability.capabilities;
    return (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
}

} // namespace

V4L2Capture::V4L2Capture(std::shared_ptr<V4L2Device> device, QString pathPattern)
    : m_device(std::move(device)), m_pathPattern(std::move(pathPattern)),
      m_stream(
          *m_device, [this](const uchar* data, qsizetype size) { deliverFrame(data, size); },
          [this](const QString& text) { status(StatusId::Error, text); },
          [this](int error) { loseDevice(error); }) {}

V4L2Capture::~V4L2Capture() {
    // Stop reporting before the teardown, whose texts nobody could show any more.
    m_statusCallback = nullptr;
    m_frameCallback = nullptr;
    setDeviceAppearedCallback(nullptr);
    disconnectDriver();
}

void V4L2Capture::setDeviceAppearedCallback(DeviceAppearedCallback callback) {
    m_deviceAppeared = std::move(callback);
    if (!m_deviceAppeared) {
        m_device->watchNodes({}, nullptr);
        return;
    }
    m_device->watchNodes(QFileInfo(path(0)).absolutePath(), [this] {
        // A copy, so that a handler clearing the callback does not destroy the one running.
        if (const DeviceAppearedCallback callback = m_deviceAppeared)
            callback();
    });
}

void V4L2Capture::status(StatusId id, const QString& text) {
    if (const StatusCallback callback = m_statusCallback)
        callback(id, text);
}

void V4L2Capture::deliverFrame(const uchar* data, qsizetype size) {
    // A copy, so that a handler clearing the callback does not destroy the one running.
    if (const FrameCallback callback = m_frameCallback)
        callback(data, size);
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
            status(StatusId::Error, QStringLiteral("Cannot open %1: %2").arg(path(index), errnoText(error)));
        return false;
    }
    v4l2_capability capability{};
    if (xioctl(*m_device, fd, VIDIOC_QUERYCAP, &capability) < 0) {
        m_device->close(fd);
        return false;
    }
    if (!isStreamingCaptureNode(capability)) {
        m_device->close(fd);
        return false;
    }
    m_fd = fd;
    m_index = index;
    m_cardName = kernelText(capability.card, sizeof capability.card);
    m_captureSettings = CaptureSettings{};
    m_devicePixelFormats = enumeratePixelFormats(*m_device, m_fd);
    readFrameInterval();
    // A camera that another program streams from, or that offers nothing we can show, is left
    // alone so that the search goes on to the next one.
    if (!startInDriverFormat() || !canStream()) {
        disconnectDriver();
        return false;
    }
    status(StatusId::Connected, QStringLiteral("Connected to %1 (%2)").arg(m_cardName, path(index)));
    status(StatusId::Format, formatText());
    return true;
}

QString V4L2Capture::formatText() const {
    return QStringLiteral("Video format %1 %2x%3")
        .arg(pixelFormatName(m_geometry.pixelFormat))
        .arg(m_geometry.width)
        .arg(m_geometry.height);
}

void V4L2Capture::reportBusy() {
    status(StatusId::Error, QStringLiteral("%1 is busy (used by another program)").arg(path(m_index)));
}

// Drivers refuse buffers to all but the program that streams; asking for none tells whether we
// could have them without taking any.
bool V4L2Capture::canStream() {
    v4l2_requestbuffers request{};
    request.count = 0;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (xioctl(*m_device, m_fd, VIDIOC_REQBUFS, &request) == 0 || errno != EBUSY)
        return true;
    reportBusy();
    return false;
}

// Whether the rate can be set, and the driver's current one as the settings record's rate.
void V4L2Capture::readFrameInterval() {
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(*m_device, m_fd, VIDIOC_G_PARM, &parm) != 0)
        return;
    m_canSetFrameInterval = (parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME) != 0;
    const v4l2_fract tpf = parm.parm.capture.timeperframe;
    if (tpf.numerator != 0 && tpf.denominator != 0)
        m_captureSettings.microSecPerFrame = quint32(std::min<quint64>(
            quint64(tpf.numerator) * 1000000u / tpf.denominator, std::numeric_limits<quint32>::max()));
}

// Starts in the format the driver is set to when it is a raw one we read, else in the default
// mode (chooseCaptureMode); the frame buffers then ask for their own. False when the device
// offers nothing we can show or refuses every format.
bool V4L2Capture::startInDriverFormat() {
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(*m_device, m_fd, VIDIOC_G_FMT, &format) == 0 &&
        m_devicePixelFormats.contains(format.fmt.pix.pixelformat) &&
        isSupportedPixelFormat(format.fmt.pix.pixelformat) &&
        !isCompressedPixelFormat(format.fmt.pix.pixelformat)) {
        const quint32 pixelFormat = format.fmt.pix.pixelformat;
        const FrameSize size = nearestFrameSize(frameSizes(pixelFormat),
                                                int(std::min<quint32>(format.fmt.pix.width, kMaxFrameEdge)),
                                                int(std::min<quint32>(format.fmt.pix.height, kMaxFrameEdge)));
        return negotiate(pixelFormat, size.width, size.height, Report::Quiet);
    }
    const CaptureFormatChoice choice = chooseCaptureMode(formatOptions(), kDefaultWidth, kDefaultHeight);
    if (choice.code == 0) {
        status(StatusId::Error, QStringLiteral("%1 (%2) offers no video format this program can show")
                                    .arg(m_cardName, path(m_index)));
        return false;
    }
    return negotiate(choice.code, choice.width, choice.height, Report::Quiet);
}

void V4L2Capture::disconnectDriver() {
    m_stream.stop();
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

bool V4L2Capture::getSequenceSetup(CaptureSettings& settings) const {
    if (!isConnected())
        return false;
    settings = m_captureSettings;
    return true;
}

// Kept only to be read back: the preview's own rate is set by setPreviewRate.
bool V4L2Capture::setSequenceSetup(const CaptureSettings& settings) {
    if (!isConnected())
        return false;
    m_captureSettings = settings;
    return true;
}

bool V4L2Capture::getDriverCaps(CaptureDriverCaps& caps) const {
    if (!isConnected())
        return false;
    caps = CaptureDriverCaps{};
    caps.deviceIndex = quint32(m_index);
    caps.hasSourceDialog = !controls().isEmpty() || inputs().size() > 1 || devices().size() > 1;
    caps.hasFormatDialog =
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
    const quint32 wanted = pixelFormatForCompression(header.biCompression);
    const bool offersRgb =
        std::any_of(m_devicePixelFormats.begin(), m_devicePixelFormats.end(), isRgbPixelFormat);
    if ((wanted != 0 && m_devicePixelFormats.contains(wanted)) || (wanted == 0 && offersRgb)) {
        const quint32 pixelFormat = choosePixelFormat(header.biCompression, m_devicePixelFormats);
        const FrameSize size = nearestFrameSize(frameSizes(pixelFormat), header.biWidth, int(height));
        return negotiate(pixelFormat, size.width, size.height);
    }
    // Webcams: the mode nearest the wanted size that keeps the picture fluid.
    const CaptureFormatChoice choice = chooseCaptureMode(formatOptions(), header.biWidth, int(height));
    return choice.code != 0 && negotiate(choice.code, choice.width, choice.height);
}

bool V4L2Capture::negotiate(quint32 pixelFormat, int width, int height, Report report) {
    const bool wasStreaming = m_stream.isStreaming();
    m_stream.stop();
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.pixelformat = pixelFormat;
    format.fmt.pix.width = quint32(width);
    format.fmt.pix.height = quint32(height);
    format.fmt.pix.field = V4L2_FIELD_NONE;
    bool ok = xioctl(*m_device, m_fd, VIDIOC_S_FMT, &format) == 0;
    if (!ok && errno == EBUSY) {
        reportBusy();
    } else if (!ok) {
        status(StatusId::Error, QStringLiteral("Cannot set video format %1 %2x%3: %4")
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
        if (!isPlausibleGeometry(geometry) || frameBytes <= 0 || frameBytes > V4L2Stream::kMaxFrameBytes) {
            status(StatusId::Error, QStringLiteral("The video driver reported an unusable format (%1x%2)")
                                        .arg(geometry.width)
                                        .arg(geometry.height));
            ok = false;
        } else {
            m_geometry = geometry;
            m_formatBlock = formatBlockFor(geometry);
            applyFrameInterval();
            if (report == Report::Status)
                status(StatusId::Format, formatText());
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
    // A driver that cannot take the rate keeps its own; the stream then thins its frames.
    xioctl(*m_device, m_fd, VIDIOC_S_PARM, &parm);
}

void V4L2Capture::setPreviewRate(int intervalMs) {
    m_previewRateMs = std::clamp(intervalMs, 1, 10000);
    m_stream.setPreviewRate(m_previewRateMs);
    // 33 ms asks for 30 frames a second.
    m_frameInterval = {1, quint32(std::max(1L, std::lround(1000.0 / m_previewRateMs)))};
    if (!isConnected())
        return;
    const bool wasStreaming = m_stream.isStreaming();
    m_stream.stop(); // most drivers refuse a new rate while streaming
    applyFrameInterval();
    if (wasStreaming)
        startStreaming();
}

bool V4L2Capture::setPreview(bool on) {
    if (!on) {
        m_stream.stop();
        return true;
    }
    if (!isConnected() || m_formatBlock.isEmpty())
        return false;
    return m_stream.isStreaming() || startStreaming();
}

bool V4L2Capture::startStreaming() {
    return m_stream.start(m_fd, m_geometry);
}

void V4L2Capture::loseDevice(int error) {
    const QString text = (error == ENODEV)
                             ? QStringLiteral("The camera %1 was disconnected").arg(m_cardName)
                             : QStringLiteral("Video capture stopped: %1").arg(errnoText(error));
    m_stream.stop();
    if (error == ENODEV) {
        // The node is gone for good; a camera plugged in again is found by a new connect.
        disconnectDriver();
    }
    status(error == ENODEV ? StatusId::DeviceLost : StatusId::Error, text);
}

QList<FrameSizeRange> V4L2Capture::frameSizes(quint32 pixelFormat) const {
    return enumerateFrameSizes(*m_device, m_fd, pixelFormat);
}

QList<CaptureControl> V4L2Capture::controls() const {
    return isConnected() ? queryControls(*m_device, m_fd) : QList<CaptureControl>();
}

bool V4L2Capture::setControl(quint32 id, qint32 value) {
    return isConnected() && setControlValue(*m_device, m_fd, id, value);
}

QList<CaptureInput> V4L2Capture::inputs() const {
    return isConnected() ? queryInputs(*m_device, m_fd) : QList<CaptureInput>();
}

// The connected camera is not opened a second time; the others only long enough to ask their
// names, which does not disturb a program streaming from them.
QList<CaptureDevice> V4L2Capture::devices() const {
    QList<CaptureDevice> found;
    for (int index = 0; index <= 9; ++index) {
        if (index == m_index) {
            found.append({index, path(index), m_cardName});
            continue;
        }
        const QByteArray devicePath = path(index).toLocal8Bit();
        const int fd = m_device->open(devicePath.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        v4l2_capability capability{};
        if (xioctl(*m_device, fd, VIDIOC_QUERYCAP, &capability) == 0 && isStreamingCaptureNode(capability))
            found.append({index, path(index), kernelText(capability.card, sizeof capability.card)});
        m_device->close(fd);
    }
    return found;
}

int V4L2Capture::currentInput() const {
    return isConnected() ? queryCurrentInput(*m_device, m_fd) : -1;
}

bool V4L2Capture::setInput(int index) {
    if (!isConnected() || index < 0)
        return false;
    const bool wasStreaming = m_stream.isStreaming();
    m_stream.stop(); // the input cannot change while buffers are queued
    const bool ok = selectInput(*m_device, m_fd, index);
    if (!ok)
        status(StatusId::Error,
               QStringLiteral("Cannot select video input %1: %2").arg(index).arg(errnoText(errno)));
    if (wasStreaming)
        startStreaming();
    return ok;
}

QList<CaptureFormatOption> V4L2Capture::formatOptions() const {
    if (!isConnected())
        return {};
    return enumerateFormatOptions(*m_device, m_fd, m_devicePixelFormats, m_geometry, m_frameInterval);
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
