#include "convert/BitmapDecode.h"

#include "convert/BitmapFile.h"
#include "convert/BitmapInfo.h"

#include <QtEndian>

#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>

#include <cstdlib>

namespace talvora {

namespace {

bool hasUsualMasks(const QByteArray& file) {
    const qsizetype at = kBitmapFileHeaderBytes + kBitmapInfoHeaderBytes;
    if (file.size() < at + 12) {
        return false;
    }
    const uchar* m = reinterpret_cast<const uchar*>(file.constData()) + at;
    return qFromLittleEndian<quint32>(m) == 0x00FF0000u && qFromLittleEndian<quint32>(m + 4) == 0x0000FF00u &&
           qFromLittleEndian<quint32>(m + 8) == 0x000000FFu;
}

} // namespace

bool decodeCommonBitmap(const QByteArray& file, QImage& picture) {
    if (file.size() < kBitmapFileHeaderBytes + kBitmapInfoHeaderBytes || file[0] != 'B' || file[1] != 'M' ||
        picture.format() != QImage::Format_RGB32) {
        return false;
    }
    const uchar* bytes = reinterpret_cast<const uchar*>(file.constData());
    const qint64 pixelOffset = qFromLittleEndian<quint32>(bytes + 10);
    const BitmapInfoHeader h = readBitmapInfoHeader(bytes + kBitmapFileHeaderBytes);
    const bool plain = h.biCompression == kBiRgb && (h.biBitCount == 32 || h.biBitCount == 24);
    const bool masked = h.biCompression == kBiBitfields && h.biBitCount == 32 && hasUsualMasks(file);
    if (h.biSize != kBitmapInfoHeaderBytes || h.biPlanes != 1 || !(plain || masked) ||
        h.biWidth != picture.width() || std::llabs(qint64(h.biHeight)) != picture.height()) {
        return false;
    }
    const int rows = picture.height();
    const qint64 rowBytes = bitmapRowBytes(qint64(h.biWidth) * h.biBitCount);
    if (pixelOffset < kBitmapFileHeaderBytes + kBitmapInfoHeaderBytes || pixelOffset > file.size() ||
        (file.size() - pixelOffset) / rowBytes < rows) {
        return false;
    }
    // libyuv's names count bytes from the lowest address: its RGB24 is a bitmap's B, G, R, its
    // ARGB is B, G, R, A, which is Qt's RGB32. A negative height reads the rows bottom-up.
    const uchar* pixels = bytes + pixelOffset;
    const int height = h.biHeight > 0 ? -rows : rows;
    const int stride = int(rowBytes);
    uchar* out = picture.bits();
    const int outStride = int(picture.bytesPerLine());
    if (h.biBitCount == 24) {
        return libyuv::RGB24ToARGB(pixels, stride, out, outStride, h.biWidth, height) == 0;
    }
    if (libyuv::ARGBCopy(pixels, stride, out, outStride, h.biWidth, height) != 0) {
        return false;
    }
    // The fourth byte is just there in a bitmap; Qt's RGB32 wants it opaque.
    for (int y = 0; y < rows; ++y) {
        auto* row = reinterpret_cast<quint32*>(picture.scanLine(y));
        for (int x = 0; x < h.biWidth; ++x) {
            row[x] |= 0xff000000u;
        }
    }
    return true;
}

QImage decodeAnyBitmap(const QByteArray& file) {
    QImage image;
    if (!image.loadFromData(file, "BMP")) {
        return {};
    }
    if (image.format() == QImage::Format_ARGB32) {
        // A plain bitmap has no transparency: the fourth byte is just there.
        image.reinterpretAsFormat(QImage::Format_RGB32);
    }
    return image;
}

} // namespace talvora
