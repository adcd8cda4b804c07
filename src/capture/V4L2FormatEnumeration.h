#pragma once

#include <QList>

#include "capture/CaptureSettings.h"
#include "capture/V4L2Device.h"
#include "capture/V4L2Formats.h"

namespace talvora {

// The formats a V4L2 camera offers, read on an open descriptor: pixel formats, frame sizes and
// frame intervals, and from them the choices of the format dialog. Every enumeration stops
// after kMaxEnumerated entries, so that a broken driver cannot make a dialog loop for ever.

inline constexpr quint32 kMaxEnumerated = 64;

// Each pixel format once, in the driver's order.
QList<quint32> enumeratePixelFormats(V4L2Device& device, int fd);

// The discrete sizes of a pixel format, or its one stepwise or continuous range; edges are
// clamped to kMaxFrameEdge.
QList<FrameSizeRange> enumerateFrameSizes(V4L2Device& device, int fd, quint32 pixelFormat);

// The discrete intervals of a size, or the fastest and slowest ends of its range.
QList<FrameInterval> enumerateFrameIntervals(V4L2Device& device, int fd, quint32 pixelFormat, int width,
                                             int height);

// The format dialog's choices: every pixel format of `devicePixelFormats` the converters read,
// with its sizes (a range offers its ends and the common sizes on its grid) and their intervals.
// A size without enumerated intervals offers `fallbackInterval`; a format without enumerated
// sizes offers the current one when `current` is of that format.
QList<CaptureFormatOption> enumerateFormatOptions(V4L2Device& device, int fd,
                                                  const QList<quint32>& devicePixelFormats,
                                                  const V4L2FrameGeometry& current,
                                                  FrameInterval fallbackInterval);

// The slowest frame rate the default capture mode may have (frames a second).
inline constexpr quint32 kMinDefaultFrameRate = 25;

// The default capture mode among `options`: the size nearest `width` x `height` (sum of the
// edge differences) that runs at kMinDefaultFrameRate or faster, at its fastest rate; sizes
// without enumerated rates count as fast enough, and slower sizes are taken only when nothing
// is fast enough. On a tie the preferred format wins: RGB, then raw YUV, then compressed. A
// choice with code 0 when there are no sizes at all.
CaptureFormatChoice chooseCaptureMode(const QList<CaptureFormatOption>& options, int width, int height);

} // namespace talvora
