#pragma once

#include <QByteArray>
#include <QImage>

namespace talvora::test {

// A picture whose colours differ from place to place, so that a picture upside down, mirrored
// or with red and blue swapped is told apart from the right one.
QImage cameraPicture(int width, int height);

// `picture` as the project's encoder writes it, and as a UVC camera sends it: the same file
// without its Huffman tables (DHT segments), which the camera leaves to the standard ones.
QByteArray jpegWithTables(const QImage& picture);
QByteArray jpegWithoutTables(const QImage& picture);

// Removes every DHT segment in front of the first scan.
QByteArray stripHuffmanTables(const QByteArray& jpeg);

// The pixel at (x, y) of a bottom-up 24-bit bitmap of `width` pixels a row.
QRgb bitmapPixel(const QByteArray& bitmap, int width, int height, int x, int y);

// Whether two colours are within `tolerance` in every channel (JPEG is lossy).
bool closeColour(QRgb a, QRgb b, int tolerance = 24);

} // namespace talvora::test
