#pragma once

#include <QtGlobal>

#include <span>

namespace talvora {

// What a capture format's pixels are, by the biCompression field of its bitmap info header.
enum FormatKind : quint8 {
    fkNone = 0, // not something we can convert: frames are dropped
    fkRGB = 1,  // BI_RGB or BI_BITFIELDS: the frame is already bitmap pixel data
    fkYUY2 = 2,
    fkUYVY = 3,
    fkY41P = 4,
    fkYVU9 = 5,
    fkI420 = 6,
    fkY8 = 7,
    fkY211 = 8,
};

FormatKind FormatKindOf(quint32 compression);

// One pixel from luma Y and chroma U, V: the bytes B, G, R, 0 packed little-endian (blue in the
// low byte), exactly as the extended-precision formula gives them (truncated, then clamped).
quint32 YUVToRGB(quint8 y, quint8 u, quint8 v);

// Bytes of one source frame of `kind` at width x height; -1 for non-YUV kinds or sizes that are
// not positive.
qint64 YUVFrameBytes(FormatKind kind, int width, int height);

// The converters write 32-bit B, G, R, 0 pixels into a bottom-up bitmap of width x height pixels
// (rows of exactly width * 4 bytes). They read a top-down source frame, except Y41PToRGB, which
// writes source row r to bitmap row r and so reads a bottom-up one. Each returns false and
// writes nothing when width or height is not positive, the source is shorter than a whole frame
// (YUVFrameBytes) or the destination is shorter than width * 4 * height bytes. Destination
// pixels that a format leaves out (partial groups, the rows below the last whole chroma band)
// are not touched.
using YUVConverter = bool (*)(std::span<const uchar> src, std::span<uchar> dst, int width, int height);

bool YUY2ToRGB(std::span<const uchar> src, std::span<uchar> dst, int width, int height);
bool UYVYToRGB(std::span<const uchar> src, std::span<uchar> dst, int width, int height);
bool Y41PToRGB(std::span<const uchar> src, std::span<uchar> dst, int width, int height);
bool YVU9ToRGB(std::span<const uchar> src, std::span<uchar> dst, int width, int height);
bool I420ToRGB(std::span<const uchar> src, std::span<uchar> dst, int width, int height);
bool Y8ToRGB(std::span<const uchar> src, std::span<uchar> dst, int width, int height);
bool Y211ToRGB(std::span<const uchar> src, std::span<uchar> dst, int width, int height);

// Runs the converter of `kind`; false without touching the destination for fkNone, fkRGB, any
// other value, and whenever the converter refuses the sizes.
bool ConvertToRGB(FormatKind kind, std::span<const uchar> src, std::span<uchar> dst, int width, int height);

} // namespace talvora
