#pragma once

#include <QtGlobal>

namespace talvora::yuv {

// The colour factors 1.1643828125, 2.01723046875, -0.39176171875, -0.81296875 and 1.59602734375
// are 298.082, 516.411, -100.291, -208.120 and 408.583 divided by 256, so every channel is an
// integer sum divided by 256000. Exact integers reproduce the extended-precision formula bit for
// bit except for 15 green values (see YUVPixelKernel.cpp).
inline constexpr qint32 kLumaFactor = 298082;
inline constexpr qint32 kBlueFactor = 516411;
inline constexpr qint32 kGreenFromCbFactor = 100291;
inline constexpr qint32 kGreenFromCrFactor = 208120;
inline constexpr qint32 kRedFactor = 408583;
inline constexpr qint32 kScale = 256000;

// The largest sum whose quotient is still below 256: sums are clamped to [0, this] first.
inline constexpr qint32 kLargestSum = 256 * kScale - 1;

// Truncates sum / 256000 toward zero and clamps it to 0..255. Negative sums (truncating to 0 or
// less) clamp to 0 either way, so the division only sees 0..65,535,999. That range shifted right
// by 11 (256000 = 2^11 * 125) stays below 32,000, where (m * 33555) >> 22 equals m / 125 exactly
// (33555 * 125 - 2^22 = 71, and 71 * 32000 < 2^22), all in 32-bit lanes.
inline qint32 scaledToChannel(qint32 sum) {
    const qint32 clamped = sum < 0 ? 0 : (sum > kLargestSum ? kLargestSum : sum);
    return qint32((quint32(clamped >> 11) * 33555u) >> 22);
}

inline qint32 lumaSum(quint8 y) {
    return (qint32(y) - 16) * kLumaFactor;
}

inline qint32 blueChannel(quint8 y, quint8 u) {
    return scaledToChannel(lumaSum(y) + (qint32(u) - 128) * kBlueFactor);
}

inline qint32 greenChannel(quint8 y, quint8 u, quint8 v) {
    return scaledToChannel(lumaSum(y) - (qint32(u) - 128) * kGreenFromCbFactor -
                           (qint32(v) - 128) * kGreenFromCrFactor);
}

inline qint32 redChannel(quint8 y, quint8 v) {
    return scaledToChannel(lumaSum(y) + (qint32(v) - 128) * kRedFactor);
}

} // namespace talvora::yuv
