#include "convert/PixelRepack.h"

namespace talvora::repack {

namespace {

bool haveAvx2() {
    static const bool available = avx2::available();
    return available;
}

} // namespace

void bgrxToRgb(const uchar* src, uchar* dst, int pixels) {
    const int done = haveAvx2() ? avx2::bgrxToRgb(src, dst, pixels) : 0;
    for (int i = done; i < pixels; ++i) {
        dst[3 * i] = src[4 * i + 2];
        dst[3 * i + 1] = src[4 * i + 1];
        dst[3 * i + 2] = src[4 * i];
    }
}

void bgrToRgb(const uchar* src, uchar* dst, int pixels) {
    const int done = haveAvx2() ? avx2::bgrToRgb(src, dst, pixels) : 0;
    for (int i = done; i < pixels; ++i) {
        dst[3 * i] = src[3 * i + 2];
        dst[3 * i + 1] = src[3 * i + 1];
        dst[3 * i + 2] = src[3 * i];
    }
}

} // namespace talvora::repack
