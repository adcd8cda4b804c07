// Every one of the 16,777,216 inputs against the extended-precision rule, through the one-pixel
// function and through each vector and plain row loop.
#include "convert/YUVConverts.h"
#include "convert/YUVKernelAvx2.h"
#include "convert/YUVKernelAvx512.h"
#include "convert/YUVPixelKernel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace talvora {
namespace {

// The rule itself: products and sums in x87 extended precision (64-bit mantissa, each rounded),
// truncated toward zero, then clamped.
int extendedChannel(long double sum) {
    const long truncated = static_cast<long>(sum);
    return truncated > 255 ? 255 : (truncated < 0 ? 0 : int(truncated));
}

quint32 reference(int y, int u, int v) {
    static_assert(sizeof(long double) > sizeof(double), "needs the x87 extended format");
    const long double ly = y - 16;
    const long double cb = u - 128;
    const long double cr = v - 128;
    const long double luma = ly * 1.1643828125L;
    const long double blue = luma + cb * 2.01723046875L;
    const long double greenPart = luma + cb * -0.39176171875L;
    const long double green = greenPart + cr * -0.81296875L;
    const long double red = luma + cr * 1.59602734375L;
    return quint32(extendedChannel(blue)) | quint32(extendedChannel(green)) << 8 |
           quint32(extendedChannel(red)) << 16;
}

constexpr int kAll = 1 << 24;

// All inputs in one go: y, u, v planes indexed by y << 16 | u << 8 | v.
struct AllInputs {
    std::vector<quint8> y, u, v;
    std::vector<quint32> expected;
    AllInputs() : y(kAll), u(kAll), v(kAll), expected(kAll) {
        for (int i = 0; i < kAll; ++i) {
            y[i] = quint8(i >> 16);
            u[i] = quint8(i >> 8);
            v[i] = quint8(i);
            expected[i] = reference(i >> 16, (i >> 8) & 255, i & 255);
        }
    }
};

const AllInputs& allInputs() {
    static const AllInputs inputs;
    return inputs;
}

quint32 pixelAt(const std::vector<uchar>& out, qint64 i) {
    quint32 p;
    std::memcpy(&p, out.data() + 4 * i, 4);
    return p;
}

// Counts mismatches and reports the first few, instead of 16 million failures.
void expectAllMatch(const std::vector<uchar>& out, const char* what) {
    const AllInputs& in = allInputs();
    int wrong = 0;
    for (int i = 0; i < kAll; ++i) {
        if (pixelAt(out, i) != in.expected[i] && ++wrong <= 5) {
            ADD_FAILURE() << what << ": Y " << (i >> 16) << " U " << ((i >> 8) & 255) << " V " << (i & 255)
                          << " gave " << std::hex << pixelAt(out, i) << " want " << in.expected[i];
        }
    }
    EXPECT_EQ(wrong, 0) << what;
}

TEST(YUVToRGB, EveryInputMatchesExtendedPrecision) {
    const AllInputs& in = allInputs();
    int wrong = 0;
    for (int i = 0; i < kAll; ++i) {
        const quint32 got = yuvToRgb(in.y[i], in.u[i], in.v[i]);
        if (got != in.expected[i] && ++wrong <= 5) {
            ADD_FAILURE() << "Y " << int(in.y[i]) << " U " << int(in.u[i]) << " V " << int(in.v[i]);
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(YUVToRGB, KnownPixels) {
    struct Case {
        int y, u, v;
        int b, g, r;
    };
    const Case cases[] = {
        {16, 128, 128, 0, 0, 0},        {235, 128, 128, 254, 254, 254}, {236, 128, 128, 255, 255, 255},
        {255, 128, 128, 255, 255, 255}, {0, 128, 128, 0, 0, 0},         {26, 68, 47, 0, 100, 0},
        {128, 255, 128, 255, 80, 130},  {128, 128, 255, 130, 27, 255},
    };
    for (const Case& c : cases) {
        const quint32 p = yuvToRgb(quint8(c.y), quint8(c.u), quint8(c.v));
        EXPECT_EQ(int(p & 255), c.b) << c.y << " " << c.u << " " << c.v;
        EXPECT_EQ(int(p >> 8 & 255), c.g) << c.y << " " << c.u << " " << c.v;
        EXPECT_EQ(int(p >> 16 & 255), c.r) << c.y << " " << c.u << " " << c.v;
        EXPECT_EQ(p >> 24, 0u);
    }
}

// Each way of running the row loops: the dispatching entry points, the plain loops, and each
// vector unit this processor has (the vector ones convert whole blocks only; 2^24 is one).
struct RowLoops {
    const char* name;
    bool available;
    void (*perPixel)(const quint8*, const quint8*, const quint8*, uchar*, int);
    void (*packed422)(const uchar*, uchar*, int, int, int, int);
    void (*halfChroma)(const quint8*, const quint8*, const quint8*, uchar*, int);
};

std::vector<RowLoops> rowLoops() {
    return {
        {"dispatch", true, yuv::convertPixels, yuv::convertPacked422, yuv::convertHalfChroma},
        {"plain", true, yuv::scalar::convertPixels, yuv::scalar::convertPacked422,
         yuv::scalar::convertHalfChroma},
        {"avx2", yuv::avx2::available(),
         [](auto y, auto u, auto v, auto d, int n) { yuv::avx2::perPixel(y, u, v, d, n); },
         [](auto s, auto d, int n, int a, int b, int c) { yuv::avx2::packed422(s, d, n, a, b, c); },
         [](auto y, auto u, auto v, auto d, int n) { yuv::avx2::halfChroma(y, u, v, d, n); }},
        {"avx512", yuv::avx512::available(),
         [](auto y, auto u, auto v, auto d, int n) { yuv::avx512::perPixel(y, u, v, d, n); },
         [](auto s, auto d, int n, int a, int b, int c) { yuv::avx512::packed422(s, d, n, a, b, c); },
         [](auto y, auto u, auto v, auto d, int n) { yuv::avx512::halfChroma(y, u, v, d, n); }},
    };
}

// Output pixel p of the packed and half-chroma frames below carries luma p & 255 and chroma
// p >> 8; reorder into input order (y << 16 | u << 8 | v).
std::vector<uchar> byInput(const std::vector<uchar>& out) {
    std::vector<uchar> reordered(out.size());
    for (int p = 0; p < kAll; ++p) {
        const int input = (p & 255) << 16 | p >> 8;
        std::memcpy(reordered.data() + 4 * qint64(input), out.data() + 4 * qint64(p), 4);
    }
    return reordered;
}

TEST(YUVRowLoops, PerPixelEveryInput) {
    const AllInputs& in = allInputs();
    for (const RowLoops& loops : rowLoops()) {
        if (!loops.available) {
            continue;
        }
        std::vector<uchar> out(size_t(kAll) * 4);
        loops.perPixel(in.y.data(), in.u.data(), in.v.data(), out.data(), kAll);
        expectAllMatch(out, loops.name);
    }
}

// Packed pairs: pixel pair k of chroma (u, v) carries luma 2k and 2k + 1, so every input occurs.
TEST(YUVRowLoops, Packed422EveryInput) {
    struct Layout {
        int yAt, uAt, vAt;
    };
    for (const Layout l : {Layout{0, 1, 3}, Layout{1, 0, 2}}) {
        std::vector<uchar> src(size_t(kAll) * 2);
        for (int i = 0; i < kAll / 2; ++i) {
            uchar* s = src.data() + 4 * i;
            const int chroma = i >> 7;
            s[l.yAt] = uchar(2 * (i & 127));
            s[l.yAt + 2] = uchar(2 * (i & 127) + 1);
            s[l.uAt] = uchar(chroma >> 8);
            s[l.vAt] = uchar(chroma);
        }
        for (const RowLoops& loops : rowLoops()) {
            if (!loops.available) {
                continue;
            }
            std::vector<uchar> out(size_t(kAll) * 4);
            loops.packed422(src.data(), out.data(), kAll, l.yAt, l.uAt, l.vAt);
            expectAllMatch(byInput(out), loops.name);
        }
    }
}

TEST(YUVRowLoops, HalfChromaEveryInput) {
    std::vector<quint8> y(kAll);
    std::vector<quint8> u(kAll / 2);
    std::vector<quint8> v(kAll / 2);
    for (int p = 0; p < kAll; ++p) {
        y[p] = quint8(p);
    }
    for (int c = 0; c < kAll / 2; ++c) {
        const int chroma = c >> 7;
        u[c] = quint8(chroma >> 8);
        v[c] = quint8(chroma);
    }
    for (const RowLoops& loops : rowLoops()) {
        if (!loops.available) {
            continue;
        }
        std::vector<uchar> out(size_t(kAll) * 4);
        loops.halfChroma(y.data(), u.data(), v.data(), out.data(), kAll);
        expectAllMatch(byInput(out), loops.name);
    }
}

} // namespace
} // namespace talvora
