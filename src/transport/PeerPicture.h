#pragma once

#include <QImage>

namespace talvora {

// Pictures for the peer are at most this wide. A larger camera picture would cost several times
// the coding on both sides and exceed one datagram at any useful quality, for a picture the peer
// shows in an 800 by 600 area; 640 pixels across keep every camera at about standard
// definition's cost. The peer decodes any size, so nothing changes on the wire.
inline constexpr int kMaxPeerPictureWidth = 640;

// The picture to compress for the peer: `frame` itself up to 640 pixels wide; a wider one is
// scaled to 640 across, its height in proportion, each pixel the average of the area it covers
// (scalePicture; 1280 x 720 costs about a tenth of a millisecond), as QImage::Format_RGB32.
QImage pictureForPeer(const QImage& frame);

} // namespace talvora
