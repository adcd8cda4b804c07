#include "convert/YUVConverts.h"

#include "convert/BitmapInfo.h"
#include "convert/YUVArithmetic.h"
#include "convert/YUVPixelKernel.h"

#include <algorithm>
#include <cstring>

namespace talvora {

FormatKind formatKindOf(quint32 compression) {
    switch (compression) {
    case kBiRgb:
    case kBiBitfields:
        return FormatKind::RGB;
    case kFourccYUY2:
        return FormatKind::YUY2;
    case kFourccUYVY:
        return FormatKind::UYVY;
    case kFourccY41P:
        return FormatKind::Y41P;
    case kFourccYVU9:
        return FormatKind::YVU9;
    case kFourccI420:
        return FormatKind::I420;
    case kFourccY8:
        return FormatKind::Y8;
    case kFourccY211:
        return FormatKind::Y211;
    default:
        return FormatKind::None;
    }
}

quint32 yuvToRgb(quint8 y, quint8 u, quint8 v) {
    const int exceptional = yuv::exceptionalGreen(y, u, v);
    const quint32 green = exceptional >= 0 ? quint32(exceptional) : quint32(yuv::greenChannel(y, u, v));
    return quint32(yuv::blueChannel(y, u)) | green << 8 | quint32(yuv::redChannel(y, v)) << 16;
}

qint64 yuvFrameBytes(FormatKind kind, int width, int height) {
    if (width <= 0 || height <= 0) {
        return -1;
    }
    const qint64 w = width;
    const qint64 h = height;
    switch (kind) {
    case FormatKind::YUY2:
    case FormatKind::UYVY:
        return w * 2 * h;
    case FormatKind::Y41P:
        return (w + 7) / 8 * 12 * h;
    case FormatKind::YVU9:
        return w * h + 2 * ((w + 3) / 4) * ((h + 3) / 4);
    case FormatKind::I420:
        return w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
    case FormatKind::Y8:
        return w * h;
    case FormatKind::Y211:
        return (w + 3) / 4 * 4 * h;
    default:
        return -1;
    }
}

namespace {

// Pixels per kernel call: a multiple of every group width (8 at most), and small enough that the
// unpacked planes stay in the first-level cache next to the source and destination rows.
constexpr int kChunkPixels = 512;

bool sizesFit(FormatKind kind, std::span<const uchar> src, std::span<uchar> dst, int width, int height) {
    const qint64 needed = yuvFrameBytes(kind, width, height);
    return needed >= 0 && qint64(src.size()) >= needed && qint64(dst.size()) / 4 / width >= height;
}

// Destination row that source row `row` lands in: the pixel area is a bottom-up bitmap, so the
// top source row becomes its last row and the picture stands upright.
uchar* bottomUpRow(std::span<uchar> dst, int width, int height, int row) {
    return dst.data() + qint64(height - 1 - row) * width * 4;
}

// Converts one row of `pixels` pixels in chunks: `unpack(first, count, ys, us, vs)` spreads the
// source bytes of pixels first..first+count-1 into one luma and one chroma pair per pixel.
template <class Unpack> void convertRow(int pixels, uchar* out, Unpack&& unpack) {
    alignas(64) quint8 ys[kChunkPixels];
    alignas(64) quint8 us[kChunkPixels];
    alignas(64) quint8 vs[kChunkPixels];
    for (int first = 0; first < pixels; first += kChunkPixels) {
        const int count = std::min(kChunkPixels, pixels - first);
        unpack(first, count, ys, us, vs);
        yuv::convertPixels(ys, us, vs, out + qint64(first) * 4, count);
    }
}

// YUY2 and UYVY: 4 bytes per pixel pair, luma at yAt and yAt + 2, chroma at uAt and vAt.
bool packed422ToRgb(FormatKind kind, int yAt, int uAt, int vAt, std::span<const uchar> src,
                    std::span<uchar> dst, int width, int height) {
    if (!sizesFit(kind, src, dst, width, height)) {
        return false;
    }
    const qint64 srcRowBytes = qint64(width) * 2;
    for (int row = 0; row < height; ++row) {
        yuv::convertPacked422(src.data() + row * srcRowBytes, bottomUpRow(dst, width, height, row),
                              width / 2 * 2, yAt, uAt, vAt);
    }
    return true;
}

// YVU9 and I420: a luma plane, then two chroma planes with one sample per `block` x `block` pixels.
// Each band of `block` rows shares one chroma row; only whole blocks are converted.
template <int block>
bool planarToRgb(FormatKind kind, bool vFirst, std::span<const uchar> src, std::span<uchar> dst, int width,
                 int height) {
    if (!sizesFit(kind, src, dst, width, height)) {
        return false;
    }
    const qint64 chromaWidth = (qint64(width) + block - 1) / block;
    const qint64 chromaPlane = chromaWidth * ((qint64(height) + block - 1) / block);
    const uchar* lumaPlane = src.data();
    const uchar* firstChroma = lumaPlane + qint64(width) * height;
    const uchar* uPlane = vFirst ? firstChroma + chromaPlane : firstChroma;
    const uchar* vPlane = vFirst ? firstChroma : firstChroma + chromaPlane;
    const int pixels = width / block * block;
    const int rows = height / block * block;
    // One chroma sample per two pixels is what the row loop takes; 4:1 chroma is doubled first.
    alignas(64) quint8 us[kChunkPixels / 2];
    alignas(64) quint8 vs[kChunkPixels / 2];
    for (int row = 0; row < rows; ++row) {
        const uchar* yRow = lumaPlane + qint64(row) * width;
        const uchar* uRow = uPlane + row / block * chromaWidth;
        const uchar* vRow = vPlane + row / block * chromaWidth;
        uchar* out = bottomUpRow(dst, width, height, row);
        if constexpr (block == 2) {
            yuv::convertHalfChroma(yRow, uRow, vRow, out, pixels);
        } else {
            for (int first = 0; first < pixels; first += kChunkPixels) {
                const int count = std::min(kChunkPixels, pixels - first);
                for (int j = 0; j < count / 2; ++j) {
                    us[j] = uRow[(first / 2 + j) / 2];
                    vs[j] = vRow[(first / 2 + j) / 2];
                }
                yuv::convertHalfChroma(yRow + first, us, vs, out + qint64(first) * 4, count);
            }
        }
    }
    return true;
}

} // namespace

bool yuy2ToRgb(std::span<const uchar> src, std::span<uchar> dst, int width, int height) {
    return packed422ToRgb(FormatKind::YUY2, 0, 1, 3, src, dst, width, height);
}

bool uyvyToRgb(std::span<const uchar> src, std::span<uchar> dst, int width, int height) {
    return packed422ToRgb(FormatKind::UYVY, 1, 0, 2, src, dst, width, height);
}

bool y41pToRgb(std::span<const uchar> src, std::span<uchar> dst, int width, int height) {
    if (!sizesFit(FormatKind::Y41P, src, dst, width, height)) {
        return false;
    }
    const qint64 srcRowBytes = (qint64(width) + 7) / 8 * 12;
    for (int row = 0; row < height; ++row) {
        const uchar* in = src.data() + row * srcRowBytes;
        // Unlike the other layouts, source row r goes to destination row r.
        convertRow(width, dst.data() + qint64(row) * width * 4,
                   [&](int first, int count, quint8* ys, quint8* us, quint8* vs) {
                       // Chunks start on group boundaries; a last partial group is read whole (the
                       // row holds it) and only the pixels still needed are converted.
                       const uchar* s = in + qint64(first) / 8 * 12;
                       for (int g = 0; g < (count + 7) / 8; ++g, s += 12) {
                           quint8* y = ys + 8 * g;
                           quint8* u = us + 8 * g;
                           quint8* v = vs + 8 * g;
                           y[0] = s[1], y[1] = s[3], y[2] = s[5], y[3] = s[7];
                           y[4] = s[8], y[5] = s[9], y[6] = s[10], y[7] = s[11];
                           u[0] = u[1] = u[2] = u[3] = s[0];
                           v[0] = v[1] = v[2] = v[3] = s[2];
                           u[4] = u[5] = u[6] = u[7] = s[4];
                           v[4] = v[5] = v[6] = v[7] = s[6];
                       }
                   });
    }
    return true;
}

bool yvu9ToRgb(std::span<const uchar> src, std::span<uchar> dst, int width, int height) {
    return planarToRgb<4>(FormatKind::YVU9, true, src, dst, width, height);
}

bool i420ToRgb(std::span<const uchar> src, std::span<uchar> dst, int width, int height) {
    return planarToRgb<2>(FormatKind::I420, false, src, dst, width, height);
}

bool y8ToRgb(std::span<const uchar> src, std::span<uchar> dst, int width, int height) {
    if (!sizesFit(FormatKind::Y8, src, dst, width, height)) {
        return false;
    }
    for (int row = 0; row < height; ++row) {
        const uchar* in = src.data() + qint64(row) * width;
        uchar* out = bottomUpRow(dst, width, height, row);
        // The byte is the grey level itself: no luma offset or scaling.
        for (int i = 0; i < width; ++i) {
            const quint32 pixel = quint32(in[i]) * 0x010101u;
            std::memcpy(out + 4 * i, &pixel, 4);
        }
    }
    return true;
}

bool y211ToRgb(std::span<const uchar> src, std::span<uchar> dst, int width, int height) {
    if (!sizesFit(FormatKind::Y211, src, dst, width, height)) {
        return false;
    }
    const qint64 srcRowBytes = (qint64(width) + 3) / 4 * 4;
    alignas(64) quint8 ys[kChunkPixels / 2];
    alignas(64) quint8 us[kChunkPixels / 2];
    alignas(64) quint8 vs[kChunkPixels / 2];
    alignas(64) uchar pairs[kChunkPixels / 2 * 4];
    const int groups = width / 4;
    for (int row = 0; row < height; ++row) {
        const uchar* in = src.data() + row * srcRowBytes;
        uchar* out = bottomUpRow(dst, width, height, row);
        // Each group of four pixels holds two distinct colours, each shown twice: convert the two
        // and write each one to both of its pixels.
        for (int first = 0; first < groups; first += kChunkPixels / 4) {
            const int count = std::min(kChunkPixels / 4, groups - first);
            const uchar* s = in + qint64(first) * 4;
            for (int g = 0; g < count; ++g) {
                ys[2 * g] = s[4 * g];
                ys[2 * g + 1] = s[4 * g + 2];
                us[2 * g] = us[2 * g + 1] = s[4 * g + 1];
                vs[2 * g] = vs[2 * g + 1] = s[4 * g + 3];
            }
            yuv::convertPixels(ys, us, vs, pairs, 2 * count);
            uchar* o = out + qint64(first) * 16;
            for (int p = 0; p < 2 * count; ++p) {
                std::memcpy(o + 8 * p, pairs + 4 * p, 4);
                std::memcpy(o + 8 * p + 4, pairs + 4 * p, 4);
            }
        }
    }
    return true;
}

bool convertToRgb(FormatKind kind, std::span<const uchar> src, std::span<uchar> dst, int width, int height) {
    switch (kind) {
    case FormatKind::YUY2:
        return yuy2ToRgb(src, dst, width, height);
    case FormatKind::UYVY:
        return uyvyToRgb(src, dst, width, height);
    case FormatKind::Y41P:
        return y41pToRgb(src, dst, width, height);
    case FormatKind::YVU9:
        return yvu9ToRgb(src, dst, width, height);
    case FormatKind::I420:
        return i420ToRgb(src, dst, width, height);
    case FormatKind::Y8:
        return y8ToRgb(src, dst, width, height);
    case FormatKind::Y211:
        return y211ToRgb(src, dst, width, height);
    default:
        return false;
    }
}

} // namespace talvora
