#include "ui/PictureGeometry.h"

namespace talvora {

QRect fitPicture(QSize picture, QSize area) {
    const qint64 pw = picture.width();
    const qint64 ph = picture.height();
    const qint64 aw = area.width();
    const qint64 ah = area.height();
    if (pw <= 0 || ph <= 0 || aw <= 0 || ah <= 0) {
        return {};
    }
    // Whole-number arithmetic: a floating aspect ratio can land a hair below a whole product
    // (495 / (121 / 110) = 449.99999999999994, not 450) and truncate a row away.
    qint64 w = 0;
    qint64 h = 0;
    if (pw > ph) {
        w = aw;
        h = aw * ph / pw;
        if (h > ah) {
            h = ah;
            w = ah * pw / ph;
        }
    } else {
        h = ah;
        w = ah * pw / ph;
        if (w > aw) {
            w = aw;
            h = aw * ph / pw;
        }
    }
    return QRect(int((aw - w) / 2), int((ah - h) / 2), int(w), int(h));
}

} // namespace talvora
