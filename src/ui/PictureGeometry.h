#pragma once

#include <QRect>
#include <QSize>

namespace talvora {

// Where the remote picture area draws a picture: the largest size that fits the area with the
// picture's aspect ratio kept (enlarging as well as reducing), centred with offsets of half the
// free width and height rounded down. A picture wider than high first takes the full width,
// otherwise the full height; the other side is the exact product of the aspect ratio, truncated.
// 384x288 in 800x650 is drawn at (0, 25) 800x600. Empty picture or area: an empty rectangle.
QRect fitPicture(QSize picture, QSize area);

} // namespace talvora
