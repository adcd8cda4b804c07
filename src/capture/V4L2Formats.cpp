#include "capture/V4L2Formats.h"

#include "capture/MjpegFrame.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace talvora {

namespace {

struct Plane {
    qint64 srcOffset = 0;
    qint64 srcStride = 0;
    qint64 rowBytes = 0;
    qint64 rows = 0;
};

struct Layout {
    std::array<Plane, 3> planes{};
    int planeCount = 0;
};

// Bytes of one packed row as the converters read it (or as the driver packs RGB).
qint64 packedRowBytes(quint32 pixelFormat, qint64 width) {
    switch (pixelFormat) {
    case V4L2_PIX_FMT_YUYV:
    case V4L2_PIX_FMT_UYVY:
    case V4L2_PIX_FMT_RGB565:
    case V4L2_PIX_FMT_RGB555:
    case V4L2_PIX_FMT_XRGB555:
        return width * 2;
    case V4L2_PIX_FMT_Y41P:
        return ((width + 7) / 8) * 12;
    case V4L2_PIX_FMT_GREY:
        return width;
    case V4L2_PIX_FMT_BGR24:
    case V4L2_PIX_FMT_RGB24:
        return width * 3;
    case V4L2_PIX_FMT_BGR32:
    case V4L2_PIX_FMT_XBGR32:
    case V4L2_PIX_FMT_ABGR32:
    case V4L2_PIX_FMT_RGB32:
    case V4L2_PIX_FMT_XRGB32:
    case V4L2_PIX_FMT_ARGB32:
        return width * 4;
    default:
        return 0;
    }
}

int rgbBitCount(quint32 pixelFormat) {
    switch (pixelFormat) {
    case V4L2_PIX_FMT_BGR24:
    case V4L2_PIX_FMT_RGB24:
        return 24;
    case V4L2_PIX_FMT_RGB565:
    case V4L2_PIX_FMT_RGB555:
    case V4L2_PIX_FMT_XRGB555:
        return 16;
    default:
        return 32;
    }
}

int yuvBitCount(quint32 pixelFormat) {
    switch (pixelFormat) {
    case V4L2_PIX_FMT_YUYV:
    case V4L2_PIX_FMT_UYVY:
        return 16;
    case V4L2_PIX_FMT_Y41P:
    case V4L2_PIX_FMT_YUV420:
        return 12;
    case V4L2_PIX_FMT_YVU410:
        return 9;
    default:
        return 8;
    }
}

quint32 blockFourcc(quint32 pixelFormat) {
    switch (pixelFormat) {
    case V4L2_PIX_FMT_YUYV:
        return kFourccYUY2;
    case V4L2_PIX_FMT_UYVY:
        return kFourccUYVY;
    case V4L2_PIX_FMT_Y41P:
        return kFourccY41P;
    case V4L2_PIX_FMT_YVU410:
        return kFourccYVU9;
    case V4L2_PIX_FMT_YUV420:
        return kFourccI420;
    case V4L2_PIX_FMT_GREY:
        return kFourccY8;
    default:
        return pixelFormat;
    }
}

// The driver's planes for a YUV format, or the single plane of an RGB format. An empty layout
// when the driver's numbers cannot describe the picture.
Layout captureLayout(const V4L2FrameGeometry& g) {
    Layout layout;
    if (g.width <= 0 || g.height <= 0 || g.width > kMaxFrameEdge || g.height > kMaxFrameEdge)
        return layout;
    const qint64 w = g.width;
    const qint64 h = g.height;
    if (g.pixelFormat == V4L2_PIX_FMT_YUV420 || g.pixelFormat == V4L2_PIX_FMT_YVU410) {
        const qint64 divisor = g.pixelFormat == V4L2_PIX_FMT_YUV420 ? 2 : 4;
        const qint64 lumaStride = g.bytesPerLine == 0 ? w : qint64(g.bytesPerLine);
        if (lumaStride < w || lumaStride > 4 * w + 4096)
            return layout;
        // Chroma rows are the luma row divided, rounded up so that an odd width still fits.
        const qint64 chromaStride = (lumaStride + divisor - 1) / divisor;
        const qint64 chromaWidth = (w + divisor - 1) / divisor;
        const qint64 chromaRows = (h + divisor - 1) / divisor;
        layout.planes[0] = {0, lumaStride, w, h};
        layout.planes[1] = {lumaStride * h, chromaStride, chromaWidth, chromaRows};
        layout.planes[2] = {lumaStride * h + chromaStride * chromaRows, chromaStride, chromaWidth,
                            chromaRows};
        layout.planeCount = 3;
        return layout;
    }
    const qint64 rowBytes = packedRowBytes(g.pixelFormat, w);
    if (rowBytes == 0)
        return layout;
    const qint64 stride = g.bytesPerLine == 0 ? rowBytes : qint64(g.bytesPerLine);
    if (stride < rowBytes || stride > 4 * rowBytes + 4096)
        return layout;
    layout.planes[0] = {0, stride, rowBytes, h};
    layout.planeCount = 1;
    return layout;
}

qint64 requiredBytes(const Layout& layout) {
    const Plane& last = layout.planes[layout.planeCount - 1];
    return last.srcOffset + (last.rows - 1) * last.srcStride + last.rowBytes;
}

void copyBgrRow(quint32 pixelFormat, const uchar* src, uchar* dst, int width) {
    switch (pixelFormat) {
    case V4L2_PIX_FMT_RGB24:
        for (int x = 0; x < width; ++x, src += 3, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
        return;
    case V4L2_PIX_FMT_RGB32:
    case V4L2_PIX_FMT_XRGB32:
    case V4L2_PIX_FMT_ARGB32:
        // X R G B in memory; the bitmap wants B G R X.
        for (int x = 0; x < width; ++x, src += 4, dst += 4) {
            dst[0] = src[3];
            dst[1] = src[2];
            dst[2] = src[1];
            dst[3] = 0;
        }
        return;
    case V4L2_PIX_FMT_BGR32:
    case V4L2_PIX_FMT_XBGR32:
    case V4L2_PIX_FMT_ABGR32:
        for (int x = 0; x < width; ++x, src += 4, dst += 4) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            dst[3] = 0;
        }
        return;
    default: // BGR24 and the 16-bit formats match the bitmap's little-endian pixels.
        std::memcpy(dst, src, size_t(packedRowBytes(pixelFormat, width)));
        return;
    }
}

} // namespace

const QList<quint32>& supportedPixelFormats() {
    static const QList<quint32> formats = {
        V4L2_PIX_FMT_BGR24,  V4L2_PIX_FMT_RGB24,  V4L2_PIX_FMT_XBGR32,  V4L2_PIX_FMT_BGR32,
        V4L2_PIX_FMT_ABGR32, V4L2_PIX_FMT_XRGB32, V4L2_PIX_FMT_RGB32,   V4L2_PIX_FMT_ARGB32,
        V4L2_PIX_FMT_RGB565, V4L2_PIX_FMT_RGB555, V4L2_PIX_FMT_XRGB555, V4L2_PIX_FMT_YUYV,
        V4L2_PIX_FMT_UYVY,   V4L2_PIX_FMT_YUV420, V4L2_PIX_FMT_Y41P,    V4L2_PIX_FMT_YVU410,
        V4L2_PIX_FMT_GREY,   V4L2_PIX_FMT_MJPEG,  V4L2_PIX_FMT_JPEG,
    };
    return formats;
}

bool isSupportedPixelFormat(quint32 pixelFormat) {
    return supportedPixelFormats().contains(pixelFormat);
}

bool isCompressedPixelFormat(quint32 pixelFormat) {
    return pixelFormat == V4L2_PIX_FMT_MJPEG || pixelFormat == V4L2_PIX_FMT_JPEG;
}

bool isRgbPixelFormat(quint32 pixelFormat) {
    return isSupportedPixelFormat(pixelFormat) && packedRowBytes(pixelFormat, 1) != 0 &&
           pixelFormat != V4L2_PIX_FMT_YUYV && pixelFormat != V4L2_PIX_FMT_UYVY &&
           pixelFormat != V4L2_PIX_FMT_Y41P && pixelFormat != V4L2_PIX_FMT_GREY;
}

QString pixelFormatName(quint32 pixelFormat) {
    if (isRgbPixelFormat(pixelFormat)) {
        switch (pixelFormat) {
        case V4L2_PIX_FMT_RGB565:
            return QStringLiteral("RGB 16 (5-6-5)");
        case V4L2_PIX_FMT_RGB555:
        case V4L2_PIX_FMT_XRGB555:
            return QStringLiteral("RGB 16 (5-5-5)");
        default:
            return QStringLiteral("RGB %1").arg(rgbBitCount(pixelFormat));
        }
    }
    const quint32 code = blockFourcc(pixelFormat);
    QByteArray text(4, '\0');
    for (int i = 0; i < 4; ++i) {
        const char c = char((code >> (8 * i)) & 0xFF);
        text[i] = (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return QString::fromLatin1(text);
}

quint32 pixelFormatForCompression(quint32 biCompression) {
    switch (biCompression) {
    case kFourccYUY2:
        return V4L2_PIX_FMT_YUYV;
    case kFourccUYVY:
        return V4L2_PIX_FMT_UYVY;
    case kFourccY41P:
        return V4L2_PIX_FMT_Y41P;
    case kFourccYVU9:
        return V4L2_PIX_FMT_YVU410;
    case kFourccI420:
        return V4L2_PIX_FMT_YUV420;
    case kFourccY8:
        return V4L2_PIX_FMT_GREY;
    default:
        return 0;
    }
}

quint32 choosePixelFormat(quint32 biCompression, const QList<quint32>& devicePixelFormats) {
    const quint32 wanted = pixelFormatForCompression(biCompression);
    if (wanted != 0 && devicePixelFormats.contains(wanted))
        return wanted;
    for (quint32 format : supportedPixelFormats()) {
        if (devicePixelFormats.contains(format))
            return format;
    }
    return 0;
}

FrameSize nearestFrameSize(const QList<FrameSizeRange>& ranges, int width, int height) {
    const auto snap = [](int wanted, int low, int high, int step) {
        int value = std::clamp(wanted, low, std::max(low, high));
        if (step > 1)
            value = low + ((value - low + step / 2) / step) * step;
        return std::min(value, std::max(low, high));
    };
    FrameSize best{width, height};
    long bestDistance = -1;
    for (const FrameSizeRange& range : ranges) {
        const FrameSize candidate{snap(width, range.minWidth, range.maxWidth, range.stepWidth),
                                  snap(height, range.minHeight, range.maxHeight, range.stepHeight)};
        const long distance =
            std::labs(long(candidate.width) - width) + std::labs(long(candidate.height) - height);
        const bool larger = long(candidate.width) * candidate.height > long(best.width) * best.height;
        if (bestDistance < 0 || distance < bestDistance || (distance == bestDistance && larger)) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return best;
}

bool isPlausibleGeometry(const V4L2FrameGeometry& geometry) {
    if (isCompressedPixelFormat(geometry.pixelFormat))
        return geometry.width > 0 && geometry.height > 0 && geometry.width <= kMaxJpegFrameEdge &&
               geometry.height <= kMaxJpegFrameEdge;
    if (!isSupportedPixelFormat(geometry.pixelFormat))
        return geometry.width > 0 && geometry.height > 0 && geometry.width <= kMaxFrameEdge &&
               geometry.height <= kMaxFrameEdge;
    return captureLayout(geometry).planeCount > 0;
}

qsizetype requiredCaptureSize(const V4L2FrameGeometry& geometry) {
    if (isCompressedPixelFormat(geometry.pixelFormat))
        return isPlausibleGeometry(geometry) ? kMinJpegFrameBytes : 0;
    const Layout layout = captureLayout(geometry);
    return layout.planeCount == 0 ? 0 : qsizetype(requiredBytes(layout));
}

qsizetype deliveredFrameSize(const V4L2FrameGeometry& geometry) {
    if (isCompressedPixelFormat(geometry.pixelFormat)) {
        const QSize delivered = mjpegDeliveredSize(geometry.width, geometry.height);
        return isPlausibleGeometry(geometry)
                   ? qsizetype(bitmapRowBytes(qint64(delivered.width()) * 24) * delivered.height())
                   : 0;
    }
    if (!isSupportedPixelFormat(geometry.pixelFormat))
        return isPlausibleGeometry(geometry) ? qsizetype(geometry.sizeImage) : 0;
    const Layout layout = captureLayout(geometry);
    if (layout.planeCount == 0)
        return 0;
    if (isRgbPixelFormat(geometry.pixelFormat))
        return qsizetype(bitmapRowBytes(qint64(geometry.width) * rgbBitCount(geometry.pixelFormat)) *
                         geometry.height);
    qint64 total = 0;
    for (int i = 0; i < layout.planeCount; ++i)
        total += layout.planes[i].rowBytes * layout.planes[i].rows;
    return qsizetype(total);
}

bool isDeliveredAsCaptured(const V4L2FrameGeometry& geometry) {
    if (!isSupportedPixelFormat(geometry.pixelFormat))
        return true;
    if (isRgbPixelFormat(geometry.pixelFormat) || geometry.pixelFormat == V4L2_PIX_FMT_Y41P ||
        isCompressedPixelFormat(geometry.pixelFormat))
        return false; // compressed frames are decoded; driver rows are top-down, bitmap rows (and Y41P's
                      // converter) bottom-up
    const Layout layout = captureLayout(geometry);
    if (layout.planeCount == 0)
        return false;
    for (int i = 0; i < layout.planeCount; ++i) {
        if (layout.planes[i].srcStride != layout.planes[i].rowBytes)
            return false;
    }
    return true;
}

QByteArray formatBlockFor(const V4L2FrameGeometry& geometry) {
    if (!isPlausibleGeometry(geometry))
        return {};
    BitmapInfoHeader header;
    header.biWidth = geometry.width;
    header.biHeight = geometry.height;
    header.biSizeImage = quint32(deliveredFrameSize(geometry));
    QByteArray block(sizeof header, '\0');
    if (!isSupportedPixelFormat(geometry.pixelFormat)) {
        header.biCompression = geometry.pixelFormat;
    } else if (isCompressedPixelFormat(geometry.pixelFormat)) {
        header.biBitCount = 24; // decoded into a 24-bit bitmap, large frames at half size
        header.biCompression = kBiRgb;
        const QSize delivered = mjpegDeliveredSize(geometry.width, geometry.height);
        header.biWidth = delivered.width();
        header.biHeight = delivered.height();
    } else if (isRgbPixelFormat(geometry.pixelFormat)) {
        header.biBitCount = quint16(rgbBitCount(geometry.pixelFormat));
        if (geometry.pixelFormat == V4L2_PIX_FMT_RGB565) {
            header.biCompression = kBiBitfields;
            const quint32 masks[3] = {0xF800, 0x07E0, 0x001F};
            block.append(reinterpret_cast<const char*>(masks), sizeof masks);
        } else {
            header.biCompression = kBiRgb;
        }
    } else {
        header.biBitCount = quint16(yuvBitCount(geometry.pixelFormat));
        header.biCompression = blockFourcc(geometry.pixelFormat);
    }
    writeBitmapInfoHeader(block.data(), header);
    return block;
}

bool layoutFrame(const V4L2FrameGeometry& geometry, const uchar* src, qsizetype srcSize, uchar* dst,
                 qsizetype dstSize) {
    if (!isSupportedPixelFormat(geometry.pixelFormat))
        return false;
    if (isCompressedPixelFormat(geometry.pixelFormat)) {
        if (!isPlausibleGeometry(geometry) || dstSize < deliveredFrameSize(geometry))
            return false;
        const QSize delivered = mjpegDeliveredSize(geometry.width, geometry.height);
        return decodeMjpegFrame(src, srcSize, geometry.width, geometry.height, dst,
                                qsizetype(bitmapRowBytes(qint64(delivered.width()) * 24))) ==
               MjpegDecodeStatus::Ok;
    }
    const Layout layout = captureLayout(geometry);
    if (layout.planeCount == 0 || srcSize < requiredBytes(layout) || dstSize < deliveredFrameSize(geometry))
        return false;
    if (isRgbPixelFormat(geometry.pixelFormat)) {
        const Plane& plane = layout.planes[0];
        const qint64 dstStride = bitmapRowBytes(qint64(geometry.width) * rgbBitCount(geometry.pixelFormat));
        for (qint64 row = 0; row < plane.rows; ++row) {
            uchar* dstRow = dst + (plane.rows - 1 - row) * dstStride;
            copyBgrRow(geometry.pixelFormat, src + row * plane.srcStride, dstRow, geometry.width);
            std::memset(dstRow + plane.rowBytes, 0, size_t(dstStride - plane.rowBytes));
        }
        return true;
    }
    if (geometry.pixelFormat == V4L2_PIX_FMT_Y41P) {
        // The Y41P converter writes source row r to bitmap row r, and bitmap rows run bottom-up:
        // handing it the rows bottom-up keeps the picture upright.
        const Plane& plane = layout.planes[0];
        for (qint64 row = 0; row < plane.rows; ++row) {
            std::memcpy(dst + (plane.rows - 1 - row) * plane.rowBytes,
                        src + plane.srcOffset + row * plane.srcStride, size_t(plane.rowBytes));
        }
        return true;
    }
    for (int i = 0; i < layout.planeCount; ++i) {
        const Plane& plane = layout.planes[i];
        for (qint64 row = 0; row < plane.rows; ++row) {
            std::memcpy(dst, src + plane.srcOffset + row * plane.srcStride, size_t(plane.rowBytes));
            dst += plane.rowBytes;
        }
    }
    return true;
}

} // namespace talvora
