#include "convert/PictureScale.h"

#include <libyuv/convert_argb.h>
#include <libyuv/scale_argb.h>

namespace talvora {

namespace {

// libyuv's "ARGB" is B, G, R, A in memory: Qt's RGB32 on a little-endian machine.
QImage asRgb32(const QImage& picture) {
    if (picture.format() == QImage::Format_RGB32) {
        return picture;
    }
    if (picture.format() == QImage::Format_RGB888) {
        // Qt's RGB888 is R, G, B in memory: libyuv's "RAW".
        QImage out(picture.size(), QImage::Format_RGB32);
        if (out.isNull() ||
            libyuv::RAWToARGB(picture.constBits(), int(picture.bytesPerLine()), out.bits(),
                              int(out.bytesPerLine()), picture.width(), picture.height()) != 0) {
            return {};
        }
        return out;
    }
    return picture.convertToFormat(QImage::Format_RGB32);
}

} // namespace

QImage scalePicture(const QImage& picture, QSize size) {
    if (picture.isNull() || size.isEmpty()) {
        return {};
    }
    const QImage source = asRgb32(picture);
    if (source.isNull() || source.size() == size) {
        return source;
    }
    QImage out(size, QImage::Format_RGB32);
    if (out.isNull()) {
        return {};
    }
    const bool shrinks = size.width() < source.width() && size.height() < source.height();
    const int failed =
        libyuv::ARGBScale(source.constBits(), int(source.bytesPerLine()), source.width(), source.height(),
                          out.bits(), int(out.bytesPerLine()), size.width(), size.height(),
                          shrinks ? libyuv::kFilterBox : libyuv::kFilterBilinear);
    return failed == 0 ? out : QImage();
}

} // namespace talvora
