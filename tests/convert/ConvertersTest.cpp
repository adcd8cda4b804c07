// The seven converters against a per-pixel reading of each layout, on odd and ordinary sizes.
// The destination starts filled with a marker so that pixels a layout leaves out can be seen.
#include "convert/YUVConverts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace talvora {
namespace {

constexpr uchar kMarker = 0xA5;

using Frame = std::vector<uchar>;

void put(Frame& dst, int width, int row, int x, quint32 pixel) {
    std::memcpy(&dst[(size_t(row) * width + x) * 4], &pixel, 4);
}

// Reference readings, written from the layout table: which bytes make each pixel, where it goes.
void refYUY2(const uchar* s, Frame& d, int w, int h) {
    for (int r = 0; r < h; ++r) {
        for (int x = 0; x < w / 2 * 2; ++x) {
            const uchar* g = s + size_t(r) * w * 2 + 4 * (x / 2);
            put(d, w, h - 1 - r, x, yuvToRgb(g[x % 2 == 0 ? 0 : 2], g[1], g[3]));
        }
    }
}

void refUYVY(const uchar* s, Frame& d, int w, int h) {
    for (int r = 0; r < h; ++r) {
        for (int x = 0; x < w / 2 * 2; ++x) {
            const uchar* g = s + size_t(r) * w * 2 + 4 * (x / 2);
            put(d, w, h - 1 - r, x, yuvToRgb(g[x % 2 == 0 ? 1 : 3], g[0], g[2]));
        }
    }
}

void refY41P(const uchar* s, Frame& d, int w, int h) {
    const int rowBytes = (w + 7) / 8 * 12;
    for (int r = 0; r < h; ++r) {
        for (int x = 0; x < w; ++x) {
            const uchar* g = s + size_t(r) * rowBytes + 12 * (x / 8);
            const int k = x % 8;
            const quint32 p = k < 4 ? yuvToRgb(g[1 + 2 * k], g[0], g[2]) : yuvToRgb(g[8 + k - 4], g[4], g[6]);
            put(d, w, r, x, p); // top row first: the one layout written top-down
        }
    }
}

void refYVU9(const uchar* s, Frame& d, int w, int h) {
    const int cw = (w + 3) / 4;
    const int ch = (h + 3) / 4;
    const uchar* vPlane = s + size_t(w) * h;
    const uchar* uPlane = vPlane + size_t(cw) * ch;
    for (int r = 0; r < h / 4 * 4; ++r) {
        for (int x = 0; x < w / 4 * 4; ++x) {
            const size_t c = size_t(r / 4) * cw + x / 4;
            put(d, w, h - 1 - r, x, yuvToRgb(s[size_t(r) * w + x], uPlane[c], vPlane[c]));
        }
    }
}

void refI420(const uchar* s, Frame& d, int w, int h) {
    const int cw = (w + 1) / 2;
    const int ch = (h + 1) / 2;
    const uchar* uPlane = s + size_t(w) * h;
    const uchar* vPlane = uPlane + size_t(cw) * ch;
    for (int r = 0; r < h / 2 * 2; ++r) {
        for (int x = 0; x < w / 2 * 2; ++x) {
            const size_t c = size_t(r / 2) * cw + x / 2;
            put(d, w, h - 1 - r, x, yuvToRgb(s[size_t(r) * w + x], uPlane[c], vPlane[c]));
        }
    }
}

void refY8(const uchar* s, Frame& d, int w, int h) {
    for (int r = 0; r < h; ++r) {
        for (int x = 0; x < w; ++x) {
            const quint32 b = s[size_t(r) * w + x];
            put(d, w, h - 1 - r, x, b | b << 8 | b << 16);
        }
    }
}

void refY211(const uchar* s, Frame& d, int w, int h) {
    const int rowBytes = (w + 3) / 4 * 4;
    for (int r = 0; r < h; ++r) {
        for (int x = 0; x < w / 4 * 4; ++x) {
            const uchar* g = s + size_t(r) * rowBytes + 4 * (x / 4);
            put(d, w, h - 1 - r, x, yuvToRgb(g[x % 4 < 2 ? 0 : 2], g[1], g[3]));
        }
    }
}

struct Converter {
    const char* name;
    FormatKind kind;
    YUVConverter convert;
    void (*reference)(const uchar*, Frame&, int, int);
};

const Converter kConverters[] = {
    {"YUY2", FormatKind::YUY2, yuy2ToRgb, refYUY2}, {"UYVY", FormatKind::UYVY, uyvyToRgb, refUYVY},
    {"Y41P", FormatKind::Y41P, y41pToRgb, refY41P}, {"YVU9", FormatKind::YVU9, yvu9ToRgb, refYVU9},
    {"I420", FormatKind::I420, i420ToRgb, refI420}, {"Y8", FormatKind::Y8, y8ToRgb, refY8},
    {"Y211", FormatKind::Y211, y211ToRgb, refY211},
};

struct Size {
    int width, height;
};
const Size kSizes[] = {{1, 1}, {2, 2}, {7, 5}, {13, 9}, {17, 3}, {33, 7}, {100, 6}, {384, 288}, {641, 11}};

Frame noise(qint64 bytes, unsigned seed) {
    Frame f(static_cast<size_t>(bytes));
    std::mt19937 rng(seed);
    for (auto& b : f) {
        b = uchar(rng());
    }
    return f;
}

TEST(Converters, MatchPerPixelReadingOnEverySize) {
    for (const Converter& c : kConverters) {
        for (const Size s : kSizes) {
            const Frame src =
                noise(yuvFrameBytes(c.kind, s.width, s.height), unsigned(s.width * 1000 + s.height));
            Frame got(size_t(s.width) * s.height * 4, kMarker);
            Frame want = got;
            ASSERT_TRUE(c.convert(src, got, s.width, s.height)) << c.name;
            c.reference(src.data(), want, s.width, s.height);
            EXPECT_EQ(got, want) << c.name << " " << s.width << "x" << s.height;
            // convertToRgb runs the same converter.
            Frame viaKind(got.size(), kMarker);
            ASSERT_TRUE(convertToRgb(c.kind, src, viaKind, s.width, s.height));
            EXPECT_EQ(viaKind, want) << c.name;
        }
    }
}

TEST(Converters, FrameSizes) {
    struct Case {
        FormatKind kind;
        int w, h;
        qint64 bytes;
    };
    const Case cases[] = {
        {FormatKind::YUY2, 384, 288, 384 * 2 * 288},
        {FormatKind::UYVY, 7, 5, 70},
        {FormatKind::Y41P, 7, 5, 60},
        {FormatKind::Y41P, 9, 2, 48},
        {FormatKind::YVU9, 13, 9, 117 + 2 * 4 * 3},
        {FormatKind::I420, 7, 5, 35 + 2 * 4 * 3},
        {FormatKind::Y8, 7, 5, 35},
        {FormatKind::Y211, 7, 5, 40},
        {FormatKind::YUY2, 0, 5, -1},
        {FormatKind::I420, 5, -2, -1},
        {FormatKind::RGB, 5, 5, -1},
        {FormatKind::None, 5, 5, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(yuvFrameBytes(c.kind, c.w, c.h), c.bytes) << int(c.kind) << " " << c.w << "x" << c.h;
    }
}

// The rows a layout cannot fill keep what the previous frame left there.
TEST(Converters, UnwrittenRowsKeepThePreviousFrame) {
    struct Case {
        FormatKind kind;
        YUVConverter convert;
        int w, h, untouchedRows;
    };
    const Case cases[] = {
        {FormatKind::I420, i420ToRgb, 8, 5, 1}, {FormatKind::I420, i420ToRgb, 8, 6, 0},
        {FormatKind::YVU9, yvu9ToRgb, 8, 9, 1}, {FormatKind::YVU9, yvu9ToRgb, 8, 7, 3},
        {FormatKind::YVU9, yvu9ToRgb, 8, 8, 0},
    };
    for (const Case& c : cases) {
        const Frame src = noise(yuvFrameBytes(c.kind, c.w, c.h), 3);
        Frame dst(size_t(c.w) * c.h * 4, kMarker);
        ASSERT_TRUE(c.convert(src, dst, c.w, c.h));
        // The bottom rows of the picture are the first rows of the bottom-up pixel area.
        const size_t rowBytes = size_t(c.w) * 4;
        for (int row = 0; row < c.h; ++row) {
            const bool untouched =
                std::all_of(dst.begin() + row * rowBytes, dst.begin() + (row + 1) * rowBytes,
                            [](uchar b) { return b == kMarker; });
            EXPECT_EQ(untouched, row < c.untouchedRows)
                << int(c.kind) << " " << c.w << "x" << c.h << " row " << row;
        }
    }
}

TEST(Converters, RowOrder) {
    // A 384x288 frame whose top row is white and the rest black: YUY2 puts the top row last in
    // the pixel area, Y41P first.
    const int w = 384;
    const int h = 288;
    Frame yuy2(size_t(w) * 2 * h);
    for (size_t i = 0; i < yuy2.size(); i += 2) {
        yuy2[i] = i < size_t(w) * 2 ? 235 : 16;
        yuy2[i + 1] = 128;
    }
    Frame dst(size_t(w) * h * 4, kMarker);
    ASSERT_TRUE(yuy2ToRgb(yuy2, dst, w, h));
    EXPECT_EQ(dst[size_t(w) * (h - 1) * 4], 254);
    EXPECT_EQ(dst[0], 0);
    EXPECT_EQ(std::count(dst.begin(), dst.end(), kMarker), 0);

    Frame y41p(size_t(w / 8 * 12) * h);
    for (size_t i = 0; i < y41p.size(); ++i) {
        const size_t k = i % 12;
        const bool luma = k == 1 || k == 3 || k == 5 || k >= 7;
        y41p[i] = luma ? (i < size_t(w / 8 * 12) ? 235 : 16) : 128;
    }
    std::fill(dst.begin(), dst.end(), kMarker);
    ASSERT_TRUE(y41pToRgb(y41p, dst, w, h));
    EXPECT_EQ(dst[0], 254);
    EXPECT_EQ(dst[size_t(w) * (h - 1) * 4], 0);
}

TEST(Converters, Y8IsTheGreyLevelItself) {
    const Frame src = {200};
    Frame dst(4, kMarker);
    ASSERT_TRUE(y8ToRgb(src, dst, 1, 1));
    EXPECT_EQ(dst, (Frame{200, 200, 200, 0}));
}

TEST(Converters, RefuseShortBuffersAndBadSizesWithoutWriting) {
    for (const Converter& c : kConverters) {
        const int w = 13;
        const int h = 9;
        const qint64 need = yuvFrameBytes(c.kind, w, h);
        const Frame src = noise(need, 1);
        Frame dst(size_t(w) * h * 4, kMarker);
        const Frame untouched = dst;
        // A frame one byte short (a driver's short bytesused) is dropped.
        EXPECT_FALSE(c.convert(std::span(src).first(size_t(need - 1)), dst, w, h)) << c.name;
        EXPECT_FALSE(c.convert(src, std::span(dst).first(dst.size() - 1), w, h)) << c.name;
        EXPECT_FALSE(c.convert(src, dst, 0, h)) << c.name;
        EXPECT_FALSE(c.convert(src, dst, w, -h)) << c.name;
        EXPECT_FALSE(c.convert(src, dst, -w, h)) << c.name;
        EXPECT_FALSE(c.convert({}, dst, w, h)) << c.name;
        EXPECT_EQ(dst, untouched) << c.name;
    }
    // Sizes whose byte counts overflow 32 bits are refused, not wrapped.
    const Frame tiny(64);
    Frame dst(64);
    EXPECT_FALSE(yuy2ToRgb(tiny, dst, 65536, 65536));
    EXPECT_FALSE(i420ToRgb(tiny, dst, 2147483647, 2));
}

TEST(Converters, ConvertToRGBRefusesOtherKinds) {
    const Frame src(400, 100);
    Frame dst(400, kMarker);
    for (int kind : {int(FormatKind::None), int(FormatKind::RGB), 9, 200}) {
        EXPECT_FALSE(convertToRgb(FormatKind(kind), src, dst, 5, 5)) << kind;
    }
    EXPECT_EQ(std::count(dst.begin(), dst.end(), kMarker), 400);
}

TEST(formatKindOf, Table) {
    struct Case {
        quint32 code;
        FormatKind kind;
    };
    const auto le = [](const char* s) {
        return quint32(uchar(s[0])) | quint32(uchar(s[1])) << 8 | quint32(uchar(s[2])) << 16 |
               quint32(uchar(s[3])) << 24;
    };
    const Case cases[] = {
        {0, FormatKind::RGB},           {3, FormatKind::RGB},           {1, FormatKind::None},
        {2, FormatKind::None},          {le("YUY2"), FormatKind::YUY2}, {le("UYVY"), FormatKind::UYVY},
        {le("Y41P"), FormatKind::Y41P}, {le("YVU9"), FormatKind::YVU9}, {le("I420"), FormatKind::I420},
        {le("Y8  "), FormatKind::Y8},   {le("Y211"), FormatKind::Y211}, {le("Y8\0\0"), FormatKind::None},
        {le("YV12"), FormatKind::None}, {le("MJPG"), FormatKind::None}, {le("yuy2"), FormatKind::None},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formatKindOf(c.code), c.kind) << std::hex << c.code;
    }
    EXPECT_EQ(le("YUY2"), 0x32595559u);
}

} // namespace
} // namespace talvora
