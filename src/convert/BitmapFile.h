#pragma once

#include <QtGlobal>

// The in-memory BMP file of a frame: 14-byte file header, bitmap info block, pixel area.
namespace talvora {

inline constexpr int kBitmapFileHeaderBytes = 14;
inline constexpr int kBitmapInfoHeaderBytes = 40;

// Fills the first 40 bytes of `block`: biSize 40, the given size and depth, one plane, BI_RGB,
// biSizeImage for that size, zero resolution and colour counts. Width and height must be such
// that the image size fits 32 bits (the callers keep frames far below that).
void initBitmapHeader(uchar* block, int width, int height, int bitsPerPixel);

// Writes the 14-byte file header: "BM", the file size, two zero reserved fields, the offset of
// the pixel area.
void writeBitmapFileHeader(uchar* at, quint32 fileBytes, quint32 pixelOffset);

} // namespace talvora
