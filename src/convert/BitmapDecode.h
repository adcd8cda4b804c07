#pragma once

#include <QByteArray>
#include <QImage>

namespace talvora {

// Decodes the BMP file `file` straight into `picture` (Format_RGB32, already sized) when it is
// one of the layouts cameras and our converters give: a 40-byte info header, one plane, 32-bit
// B, G, R, x pixels (BI_RGB, or BI_BITFIELDS with the usual masks) or 24-bit B, G, R, bottom-up
// or top-down, of exactly the picture's size. Returns false, leaving `picture` alone, for
// anything else.
bool decodeCommonBitmap(const QByteArray& file, QImage& picture);

// Decodes any bitmap Qt's BMP reader takes (1 to 32 bits, palettes, colour masks, both row
// orders); null when the reader rejects it. An alpha channel is ignored, as in a plain bitmap.
QImage decodeAnyBitmap(const QByteArray& file);

} // namespace talvora
