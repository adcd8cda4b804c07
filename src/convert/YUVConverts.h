#pragma once

#include <QtGlobal>

#include <span>

namespace talvora {

// What a capture format's pixels are, by the biCompression field of its bitmap info header.
enum class FormatKind : quint8 {
    None = 0, // not something we can convert: frames are dropped
    RGB = 1,  // BI_RGB or BI_BITFIELDS: the frame is already bitmap pixel data
    YUY2 = 2,
    UYVY = 3,
    Y41P = 4,
    YVU9 = 5,
    I420 = 6,
    Y8 = 7,
    Y211 = 8,
};

FormatKind formatKindOf(quint32 compression);

// One pixel from luma Y and chroma U, V: the bytes B, G, R, 0 packed little-endian (blue in the
// low byte), exactly as the extended-precision formula gives them (truncated, then clamped).
quint32 yuvToRgb(quint8 y, quint8 u, quint8 v);

// Bytes of one source frame of `kind` at width x height; -1 for non-YUV kinds or sizes that are
// not positive.
qint64 yuvFrameBytes(FormatKind kind, int width, int height);

// The converters write 32-bit B, G, R, 0 pixels into a bottom-up bitmap of width x height pixels
// (rows of exactly width * 4 bytes). They read a top-down source frame, except y41pToRgb, which
// writes source row r to bitmap row r and so reads a bottom-up one. Each returns false and
// writes nothing when width or height is not positive, the source is shorter than a whole frame
// (yuvFrameBytes) or the destination is shorter than width * 4 * height bytes. Destination
// pixels that a format leaves out (partial groups, the rows below the last whole chroma band)
// are not touched.
using YUVConverter = bool (*)(std::span<const uchar> src, std::span<uchar> dst, int width, int height);

bool yuy2ToRgb(std::span<const uchar> src, std::span<uchar> dst, int width, int height);
bool uyvyToRgb(std::span<const uchar> src, std::span<uchar> dst, int width, int height);
bool y41pToRgb(std::span<const uchar> src, std::span<uchar> dst, int width, int height);
bool yvu9ToRgb(std::span<const uchar> src, std::span<uchar> dst, int width, int height);
bool i420ToRgb(std::span<const uchar> src, std::span<uchar> dst, int width, int height);
bool y8ToRgb(std::span<const uchar> src, std::span<uchar> dst, int width, int height);
bool y211ToRgb(std::span<const uchar> src, std::span<uchar> dst, int width, int height);

// Runs the converter of `kind`; false without touching the destination for FormatKind::None, FormatKind::RGB,
// any other value, and whenever the converter refuses the sizes.
bool convertToRgb(FormatKind kind, std::span<const uchar> src, std::span<uchar> dst, int width, int height);

} // namespace talvora
