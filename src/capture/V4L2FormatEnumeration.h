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

} // namespace talvora
