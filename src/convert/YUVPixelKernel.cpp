#include "convert/YUVPixelKernel.h"

#include "convert/YUVArithmetic.h"
#include "convert/YUVKernelAvx2.h"
#include "convert/YUVKernelAvx512.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace talvora::yuv {

namespace {

constexpr quint32 packYuv(quint32 y, quint32 u, quint32 v) {
    return y << 16 | u << 8 | v;
}

// The inputs whose green channel, summed in extended precision (64-bit mantissa, every product
// and sum rounded), lands just below the whole number that the exact sum reaches, so that
// truncation gives one less than the exact formula. There are exactly these 15 among all
// 16,777,216 inputs; blue and red never differ.
constexpr std::array<quint32, 15> kLowGreen = {
    packYuv(26, 68, 47), // green 100 where the exact sum is 101
    packYuv(28, 232, 84),   packYuv(70, 196, 100), packYuv(91, 178, 108),  packYuv(123, 202, 205),
    packYuv(133, 142, 124), packYuv(143, 82, 43),  packYuv(166, 228, 88),  packYuv(175, 106, 140),
    packYuv(186, 148, 229), packYuv(187, 210, 96), packYuv(219, 234, 193), packYuv(228, 112, 245),
    packYuv(240, 216, 201), packYuv(249, 94, 253),
};
static_assert(std::is_sorted(kLowGreen.begin(), kLowGreen.end()));

inline void writePixel(uchar* dst, quint8 y, quint8 u, quint8 v) {
    int green = exceptionalGreen(y, u, v);
    if (green < 0) {
        green = greenChannel(y, u, v);
    }
    const quint32 pixel = quint32(blueChannel(y, u)) | quint32(green) << 8 | quint32(redChannel(y, v)) << 16;
    std::memcpy(dst, &pixel, 4);
}

enum class VectorUnit { None, Avx2, Avx512 };

VectorUnit vectorUnit() {
    static const VectorUnit unit =
        avx512::available() ? VectorUnit::Avx512 : (avx2::available() ? VectorUnit::Avx2 : VectorUnit::None);
    return unit;
}

} // namespace

int exceptionalGreen(quint8 y, quint8 u, quint8 v) {
    if (!std::binary_search(kLowGreen.begin(), kLowGreen.end(), packYuv(y, u, v))) {
        return -1;
    }
    return greenChannel(y, u, v) - 1;
}

namespace scalar {

void convertPixels(const quint8* y, const quint8* u, const quint8* v, uchar* dst, int pixels) {
    for (int i = 0; i < pixels; ++i) {
        writePixel(dst + 4 * i, y[i], u[i], v[i]);
    }
}

void convertPacked422(const uchar* src, uchar* dst, int pixels, int yAt, int uAt, int vAt) {
    for (int i = 0; i < pixels; i += 2) {
        const uchar* s = src + 2 * i;
        writePixel(dst + 4 * i, s[yAt], s[uAt], s[vAt]);
        writePixel(dst + 4 * i + 4, s[yAt + 2], s[uAt], s[vAt]);
    }
}

void convertHalfChroma(const quint8* y, const quint8* u, const quint8* v, uchar* dst, int pixels) {
    for (int i = 0; i < pixels; ++i) {
        writePixel(dst + 4 * i, y[i], u[i / 2], v[i / 2]);
    }
}

} // namespace scalar

void convertPixels(const quint8* y, const quint8* u, const quint8* v, uchar* dst, int pixels) {
    int done = 0;
    switch (vectorUnit()) {
    case VectorUnit::Avx512:
        done = avx512::perPixel(y, u, v, dst, pixels);
        [[fallthrough]]; // the AVX2 loop takes a remaining block of 16
    case VectorUnit::Avx2:
        done += avx2::perPixel(y + done, u + done, v + done, dst + 4 * done, pixels - done);
        break;
    case VectorUnit::None:
        break;
    }
    scalar::convertPixels(y + done, u + done, v + done, dst + 4 * done, pixels - done);
}

void convertPacked422(const uchar* src, uchar* dst, int pixels, int yAt, int uAt, int vAt) {
    int done = 0;
    switch (vectorUnit()) {
    case VectorUnit::Avx512:
        done = avx512::packed422(src, dst, pixels, yAt, uAt, vAt);
        [[fallthrough]];
    case VectorUnit::Avx2:
        done += avx2::packed422(src + 2 * done, dst + 4 * done, pixels - done, yAt, uAt, vAt);
        break;
    case VectorUnit::None:
        break;
    }
    scalar::convertPacked422(src + 2 * done, dst + 4 * done, pixels - done, yAt, uAt, vAt);
}

void convertHalfChroma(const quint8* y, const quint8* u, const quint8* v, uchar* dst, int pixels) {
    int done = 0;
    switch (vectorUnit()) {
    case VectorUnit::Avx512:
        done = avx512::halfChroma(y, u, v, dst, pixels);
        [[fallthrough]];
    case VectorUnit::Avx2:
        done += avx2::halfChroma(y + done, u + done / 2, v + done / 2, dst + 4 * done, pixels - done);
        break;
    case VectorUnit::None:
        break;
    }
    scalar::convertHalfChroma(y + done, u + done / 2, v + done / 2, dst + 4 * done, pixels - done);
}

} // namespace talvora::yuv
