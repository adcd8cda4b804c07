#pragma once

#include <QtGlobal>

// The per-row conversion loops behind the converters. Every function writes 4-byte B, G, R, 0
// pixels at `dst` (no alignment needed) bit-exact with yuvToRgb, using AVX2 where the processor
// has it and plain code otherwise.
namespace talvora::yuv {

// One luma and one chroma pair per pixel.
void convertPixels(const quint8* y, const quint8* u, const quint8* v, uchar* dst, int pixels);

// Packed 4:2:2 groups of 4 bytes per pixel pair (YUY2: yAt 0, uAt 1, vAt 3; UYVY: 1, 0, 2); luma
// at yAt and yAt + 2. `pixels` is even.
void convertPacked422(const uchar* src, uchar* dst, int pixels, int yAt, int uAt, int vAt);

// Full-resolution luma, one chroma pair per two pixels. `pixels` is even.
void convertHalfChroma(const quint8* y, const quint8* u, const quint8* v, uchar* dst, int pixels);

// The green channel of the few inputs whose extended-precision sum falls just below a whole
// number: -1 when (y, u, v) is not one of them.
int exceptionalGreen(quint8 y, quint8 u, quint8 v);

// The same loops without vector instructions, for processors without AVX2 (and for tests that
// check both ways agree).
namespace scalar {
void convertPixels(const quint8* y, const quint8* u, const quint8* v, uchar* dst, int pixels);
void convertPacked422(const uchar* src, uchar* dst, int pixels, int yAt, int uAt, int vAt);
void convertHalfChroma(const quint8* y, const quint8* u, const quint8* v, uchar* dst, int pixels);
} // namespace scalar

} // namespace talvora::yuv
