#pragma once

#include <QtGlobal>

#include <cstring>

namespace talvora {

// The 40-byte bitmap info header that describes a capture format and heads the in-memory BMP
// file of each frame. Stored little-endian, as on the wire of the BMP format; this struct is
// only a view for reading and writing it on a little-endian machine.
struct BitmapInfoHeader {
    quint32 biSize = 40;
    qint32 biWidth = 0;
    qint32 biHeight = 0;
    quint16 biPlanes = 1;
    quint16 biBitCount = 0;
    quint32 biCompression = 0;
    quint32 biSizeImage = 0;
    qint32 biXPelsPerMeter = 0;
    qint32 biYPelsPerMeter = 0;
    quint32 biClrUsed = 0;
    quint32 biClrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40, "bitmap info header is 40 bytes");
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "the bitmap structures are read in place");

inline constexpr quint32 kBiRgb = 0;
inline constexpr quint32 kBiBitfields = 3;

// A FOURCC as the 32-bit little-endian value of its four ASCII bytes ("YUY2" is 59 55 59 32).
constexpr quint32 fourcc(char a, char b, char c, char d) {
    return quint32(quint8(a)) | quint32(quint8(b)) << 8 | quint32(quint8(c)) << 16 | quint32(quint8(d)) << 24;
}

inline constexpr quint32 kFourccYUY2 = fourcc('Y', 'U', 'Y', '2');
inline constexpr quint32 kFourccUYVY = fourcc('U', 'Y', 'V', 'Y');
inline constexpr quint32 kFourccY41P = fourcc('Y', '4', '1', 'P');
inline constexpr quint32 kFourccYVU9 = fourcc('Y', 'V', 'U', '9');
inline constexpr quint32 kFourccI420 = fourcc('I', '4', '2', '0');
inline constexpr quint32 kFourccY8 = fourcc('Y', '8', ' ', ' ');
inline constexpr quint32 kFourccY211 = fourcc('Y', '2', '1', '1');
// Motion JPEG: what a webcam sends; frames are decoded into 24-bit bitmaps before they reach
// the converters.
inline constexpr quint32 kFourccMJPG = fourcc('M', 'J', 'P', 'G');

// Reads a header from the start of a format block of at least 40 bytes.
inline BitmapInfoHeader readBitmapInfoHeader(const void* block) {
    BitmapInfoHeader h;
    std::memcpy(&h, block, sizeof h);
    return h;
}

inline void writeBitmapInfoHeader(void* block, const BitmapInfoHeader& h) {
    std::memcpy(block, &h, sizeof h);
}

// Bytes of one bitmap row of `bitsPerRow` bits (width times bits per pixel): rows are padded to
// whole 32-bit words.
constexpr qint64 bitmapRowBytes(qint64 bitsPerRow) {
    return (bitsPerRow + 31) / 32 * 4;
}

} // namespace talvora
