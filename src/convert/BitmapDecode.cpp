#include "convert/BitmapDecode.h"

#include "convert/BitmapFile.h"
#include "convert/BitmapInfo.h"
#include "convert/PixelRepack.h"

#include <QtEndian>

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
        picture.format() != QImage::Format_RGB888) {
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
    const uchar* pixels = bytes + pixelOffset;
    const bool bottomUp = h.biHeight > 0;
    for (int y = 0; y < rows; ++y) {
        const uchar* in = pixels + (bottomUp ? rows - 1 - y : y) * rowBytes;
        uchar* out = picture.scanLine(y);
        if (h.biBitCount == 32) {
            repack::bgrxToRgb(in, out, h.biWidth);
        } else {
            repack::bgrToRgb(in, out, h.biWidth);
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
