#include "capture/CameraJpeg.h"

#include <cstdlib>

#include "convert/BitmapInfo.h"
#include "transport/JpegCodec.h"

namespace talvora::test {

QImage cameraPicture(int width, int height) {
    QImage picture(width, height, QImage::Format_RGB888);
    // Four flat quadrants: JPEG keeps flat areas close to their colour.
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool right = x >= width / 2;
            const bool bottom = y >= height / 2;
            const QRgb colour = !bottom ? (right ? qRgb(220, 30, 30) : qRgb(30, 200, 40))
                                        : (right ? qRgb(40, 40, 210) : qRgb(230, 230, 230));
            picture.setPixel(x, y, colour);
        }
    }
    return picture;
}

QByteArray jpegWithTables(const QImage& picture) {
    return encodeJpeg(picture, 90);
}

QByteArray jpegWithoutTables(const QImage& picture) {
    return stripHuffmanTables(jpegWithTables(picture));
}

QByteArray stripHuffmanTables(const QByteArray& jpeg) {
    QByteArray out = jpeg.left(2); // SOI
    qsizetype pos = 2;
    while (pos + 4 <= jpeg.size() && uchar(jpeg[pos]) == 0xFF) {
        const uchar marker = uchar(jpeg[pos + 1]);
        if (marker == 0xDA) // SOS: the entropy-coded data follows
            break;
        const qsizetype length = (qsizetype(uchar(jpeg[pos + 2])) << 8) | uchar(jpeg[pos + 3]);
        if (marker != 0xC4)
            out.append(jpeg.mid(pos, 2 + length));
        pos += 2 + length;
    }
    out.append(jpeg.mid(pos));
    return out;
}

QRgb bitmapPixel(const QByteArray& bitmap, int width, int height, int x, int y) {
    const qint64 stride = bitmapRowBytes(qint64(width) * 24);
    const auto* p = reinterpret_cast<const uchar*>(bitmap.constData()) + (height - 1 - y) * stride + x * 3;
    return qRgb(p[2], p[1], p[0]);
}

bool closeColour(QRgb a, QRgb b, int tolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

} // namespace talvora::test
