#pragma once

#include <QImage>

namespace talvora {

// Pictures for the peer are at most this wide. A larger camera picture would cost several times
// the coding on both sides and exceed one datagram at any useful quality, for a picture the peer
// shows in an 800 by 600 area; 640 pixels across keep every camera at about standard
// definition's cost. The peer decodes any size, so nothing changes on the wire.
inline constexpr int kMaxPeerPictureWidth = 640;

// The picture to compress for the peer: `frame` itself up to 640 pixels wide; a wider one is
// scaled to 640 across, its height in proportion. A width of exactly n times 640 with a height
// divisible by n (1280 x 720, 1920 x 1080) is reduced by averaging n x n blocks, which costs
// about a tenth of a millisecond at 720p; any other width goes through Qt's smooth scaling.
// The result is QImage::Format_RGB888.
QImage pictureForPeer(const QImage& frame);

} // namespace talvora
