#include "convert/BitmapFile.h"

#include "convert/BitmapInfo.h"

#include <QtEndian>

namespace talvora {

void initBitmapHeader(uchar* block, int width, int height, int bitsPerPixel) {
    BitmapInfoHeader h;
    h.biSize = kBitmapInfoHeaderBytes;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = quint16(bitsPerPixel);
    h.biCompression = kBiRgb;
    h.biSizeImage = quint32(bitmapRowBytes(qint64(width) * bitsPerPixel) * height);
    writeBitmapInfoHeader(block, h);
}

void writeBitmapFileHeader(uchar* at, quint32 fileBytes, quint32 pixelOffset) {
    at[0] = 'B';
    at[1] = 'M';
    qToLittleEndian<quint32>(fileBytes, at + 2);
    qToLittleEndian<quint16>(0, at + 6);
    qToLittleEndian<quint16>(0, at + 8);
    qToLittleEndian<quint32>(pixelOffset, at + 10);
}

} // namespace talvora
