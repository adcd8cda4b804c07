#include "convert/FrameBuffers.h"

#include "base/Error.h"
#include "base/MessageService.h"
#include "convert/BitmapDecode.h"
#include "convert/BitmapFile.h"
#include "convert/BitmapInfo.h"

#include <QPainter>

#include <cstdlib>
#include <cstring>

namespace talvora {

namespace {

// Which devices were tried, and the way to try the phone without any.
const char* const kWebCamNotFound =
    "WebCam not found. No camera answered at /dev/video0 to /dev/video9. To try "
    "the phone without a camera, start it with --test-camera.";
const char* const kInvalidVideoFormat = "Invalid Video Format Selected. Please Select RGB.";

constexpr int kRequestedWidth = 384;
constexpr int kRequestedHeight = 288;
constexpr int kRequestedBits = 24;

quint32 imageBytesOf(const QByteArray& info) {
    return info.size() < kBitmapInfoHeaderBytes ? 0 : readBitmapInfoHeader(info.constData()).biSizeImage;
}

} // namespace

FrameBuffers::FrameBuffers(MessageService& messages) : m_messages(messages) {}

void FrameBuffers::initFrameBuffers(CaptureFormatSource& source) {
    if (!source.hasCaptureWindow()) {
        return;
    }
    m_frameStream.clear();
    m_framePixels = -1;
    m_captureFormat.clear();
    m_frameInfo = QByteArray(kBitmapInfoHeaderBytes, '\0');
    initBitmapHeader(reinterpret_cast<uchar*>(m_frameInfo.data()), kRequestedWidth, kRequestedHeight,
                     kRequestedBits);
    source.setVideoFormat(m_frameInfo); // the driver may refuse or pick another format
    readCaptureFormat(source);
    m_frameBitmap = QImage();
}

void FrameBuffers::readCaptureFormat(CaptureFormatSource& source) {
    if (!source.hasCaptureWindow()) {
        return;
    }
    const QByteArray format = source.videoFormat();
    if (format.isEmpty()) {
        throw Error(QString::fromLatin1(kWebCamNotFound));
    }
    // Frames are dropped until the new state is complete (an allocation may fail on the way).
    m_kind = FormatKind::None;
    m_framePixels = -1;
    m_captureFormat = format;
    m_check = checkCaptureFormat(m_captureFormat);
    qint64 pixelAreaBytes = imageBytesOf(m_frameInfo);
    if (m_check.kind == FormatKind::RGB) {
        // Colour masks and palettes travel into the BMP file with the header.
        m_frameInfo = m_captureFormat;
        pixelAreaBytes = m_check.frameBytes;
    } else if (m_check.kind != FormatKind::None) {
        // Only the header is rewritten: FrameInfo keeps its size, so the pixel offset still counts
        // the colour masks or palette of an earlier RGB format.
        if (m_frameInfo.size() < kBitmapInfoHeaderBytes) {
            m_frameInfo.resize(kBitmapInfoHeaderBytes);
        }
        initBitmapHeader(reinterpret_cast<uchar*>(m_frameInfo.data()), m_check.width, m_check.height, 32);
        pixelAreaBytes = imageBytesOf(m_frameInfo);
    }
    rebuildFrameStream(pixelAreaBytes);
    m_kind = m_check.kind;
}

void FrameBuffers::rebuildFrameStream(qint64 pixelAreaBytes) {
    const qsizetype oldSize = m_frameStream.size();
    const qint64 pixelOffset = kBitmapFileHeaderBytes + m_frameInfo.size();
    const qint64 total = pixelOffset + pixelAreaBytes;
    m_frameStream.resize(qsizetype(total));
    if (m_frameStream.size() > oldSize) {
        std::memset(m_frameStream.data() + oldSize, 0, size_t(m_frameStream.size() - oldSize));
    }
    uchar* file = reinterpret_cast<uchar*>(m_frameStream.data());
    writeBitmapFileHeader(file, quint32(total), quint32(pixelOffset));
    std::memcpy(file + kBitmapFileHeaderBytes, m_frameInfo.constData(), size_t(m_frameInfo.size()));
    m_framePixels = qsizetype(pixelOffset);
}

void FrameBuffers::freeFrameBuffers() {
    m_frameStream = QByteArray();
    m_framePixels = -1;
    m_frameBitmap = QImage();
    m_frameInfo = QByteArray();
    m_captureFormat = QByteArray();
    m_kind = FormatKind::None;
    m_check = CaptureFormatCheck();
}

QImage FrameBuffers::frameToBitmap(const uchar* data, qsizetype size) {
    if (m_kind == FormatKind::None || m_framePixels < 0 || data == nullptr || size < 0) {
        return {};
    }
    const int width = m_check.width;
    const int rows = std::abs(m_check.height);
    uchar* pixels = reinterpret_cast<uchar*>(m_frameStream.data()) + m_framePixels;
    const qsizetype pixelAreaBytes = m_frameStream.size() - m_framePixels;
    if (m_kind == FormatKind::RGB) {
        if (size < m_check.frameBytes) {
            return {}; // a short frame would leave part of the pixel area from the last one
        }
        std::memcpy(pixels, data, size_t(m_check.frameBytes));
    } else if (!convertToRgb(m_kind, {data, size_t(size)}, {pixels, size_t(pixelAreaBytes)}, width, rows)) {
        return {};
    }

    QImage picture(width, rows, QImage::Format_RGB32);
    if (picture.isNull()) {
        return {};
    }
    if (decodeCommonBitmap(m_frameStream, picture)) {
        m_frameBitmap = picture;
        return picture;
    }
    const QImage decoded = decodeAnyBitmap(m_frameStream);
    if (!decoded.isNull()) {
        m_frameBitmap = decoded;
    } else {
        warnInvalidFormat();
    }
    // Frames that arrived while a warning was open may have changed FrameBitmap: draw what it
    // holds now, as the picture of this frame.
    drawFrameBitmap(picture);
    return picture;
}

void FrameBuffers::warnInvalidFormat() {
    if (m_warning.active()) {
        return;
    }
    const ReentrancyGuard::Entry entry(m_warning);
    m_messages.warning(QStringLiteral("Warning"), QString::fromLatin1(kInvalidVideoFormat));
}

void FrameBuffers::drawFrameBitmap(QImage& picture) const {
    // A new bitmap starts black; the last decoded one is drawn at the top left, clipped or
    // leaving black where the sizes differ.
    picture.fill(Qt::black);
    if (m_frameBitmap.isNull()) {
        return;
    }
    QPainter painter(&picture);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, m_frameBitmap);
}

} // namespace talvora
