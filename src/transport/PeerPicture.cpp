#include "transport/PeerPicture.h"

#include "convert/PictureScale.h"

#include <algorithm>

namespace talvora {

QImage pictureForPeer(const QImage& frame) {
    if (frame.isNull() || frame.width() <= kMaxPeerPictureWidth)
        return frame;
    const int height =
        std::max(1, int((qint64(frame.height()) * kMaxPeerPictureWidth + frame.width() / 2) / frame.width()));
    return scalePicture(frame, QSize(kMaxPeerPictureWidth, height));
}

} // namespace talvora
