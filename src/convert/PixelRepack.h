#pragma once

#include <QtGlobal>

// Row repacking from bitmap pixel order (blue first) to the R, G, B bytes of a 24-bit picture.
namespace talvora::repack {

// 4-byte B, G, R, x pixels (the fourth byte ignored) to 3-byte R, G, B.
void bgrxToRgb(const uchar* src, uchar* dst, int pixels);

// 3-byte B, G, R pixels to 3-byte R, G, B.
void bgrToRgb(const uchar* src, uchar* dst, int pixels);

namespace avx2 {
bool available();
// Whole blocks of 8 pixels while at least 11 remain (their 32-byte loads and stores stay inside the
// rows); returns the pixels done.
int bgrxToRgb(const uchar* src, uchar* dst, int pixels);
int bgrToRgb(const uchar* src, uchar* dst, int pixels);
} // namespace avx2

} // namespace talvora::repack
