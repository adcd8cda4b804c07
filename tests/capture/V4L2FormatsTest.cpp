#include <gtest/gtest.h>

#include <linux/videodev2.h>

#include "capture/V4L2Formats.h"

namespace talvora {
namespace {

BitmapInfoHeader headerOf(const QByteArray& block) {
    EXPECT_GE(block.size(), 40);
    return readBitmapInfoHeader(block.constData());
}

V4L2FrameGeometry tight(quint32 pixelFormat, int width, int height) {
    return {pixelFormat, width, height, 0, 0};
}

TEST(V4L2FormatsTest, FormatBlocksOfTheYuvLayouts) {
    struct Case {
        quint32 pixelFormat;
        const char fourcc[5];
        int bits;
        quint32 sizeImage; // 384 x 288
    };
    const Case cases[] = {
        {V4L2_PIX_FMT_YUYV, "YUY2", 16, 384 * 288 * 2},
        {V4L2_PIX_FMT_UYVY, "UYVY", 16, 384 * 288 * 2},
        {V4L2_PIX_FMT_Y41P, "Y41P", 12, 48 * 12 * 288},
        {V4L2_PIX_FMT_YVU410, "YVU9", 9, 384 * 288 + 2 * 96 * 72},
        {V4L2_PIX_FMT_YUV420, "I420", 12, 384 * 288 + 2 * 192 * 144},
        {V4L2_PIX_FMT_GREY, "Y8  ", 8, 384 * 288},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fourcc);
        const QByteArray block = formatBlockFor(tight(c.pixelFormat, 384, 288));
        ASSERT_EQ(block.size(), 40);
        EXPECT_EQ(block.mid(16, 4), QByteArray(c.fourcc, 4)); // biCompression, as bytes
        const BitmapInfoHeader h = headerOf(block);
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, 384);
        EXPECT_EQ(h.biHeight, 288);
        EXPECT_EQ(h.biPlanes, 1);
        EXPECT_EQ(h.biBitCount, c.bits);
        EXPECT_EQ(h.biSizeImage, c.sizeImage);
        EXPECT_EQ(deliveredFrameSize(tight(c.pixelFormat, 384, 288)), qsizetype(c.sizeImage));
        EXPECT_EQ(pixelFormatForCompression(h.biCompression), c.pixelFormat);
    }
}

TEST(V4L2FormatsTest, FormatBlocksOfTheRgbLayoutsAreDwordAlignedBitmaps) {
    struct Case {
        quint32 pixelFormat;
        int width;
        int bits;
        quint32 compression;
        quint32 rowBytes;
    };
    const Case cases[] = {
        {V4L2_PIX_FMT_BGR24, 5, 24, kBiRgb, 16},       {V4L2_PIX_FMT_RGB24, 4, 24, kBiRgb, 12},
        {V4L2_PIX_FMT_XBGR32, 3, 32, kBiRgb, 12},      {V4L2_PIX_FMT_XRGB32, 3, 32, kBiRgb, 12},
        {V4L2_PIX_FMT_RGB565, 3, 16, kBiBitfields, 8}, {V4L2_PIX_FMT_RGB555, 3, 16, kBiRgb, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(pixelFormatName(c.pixelFormat).toStdString());
        const QByteArray block = formatBlockFor(tight(c.pixelFormat, c.width, 7));
        const BitmapInfoHeader h = headerOf(block);
        EXPECT_EQ(h.biBitCount, c.bits);
        EXPECT_EQ(h.biCompression, c.compression);
        EXPECT_EQ(h.biHeight, 7); // positive: bottom-up rows
        EXPECT_EQ(h.biSizeImage, c.rowBytes * 7);
        if (c.compression == kBiBitfields) {
            ASSERT_EQ(block.size(), 52);
            EXPECT_EQ(block.mid(40), QByteArray::fromHex("00f80000e00700001f000000"));
        } else {
            EXPECT_EQ(block.size(), 40);
        }
    }
}

TEST(V4L2FormatsTest, UnconvertibleFormatIsReportedUnderItsOwnFourcc) {
    const QByteArray block = formatBlockFor({V4L2_PIX_FMT_H264, 640, 480, 0, 123456});
    ASSERT_EQ(block.size(), 40);
    EXPECT_EQ(block.mid(16, 4), QByteArray("H264"));
    EXPECT_EQ(headerOf(block).biSizeImage, 123456u);
    EXPECT_FALSE(isSupportedPixelFormat(V4L2_PIX_FMT_H264));
}

TEST(V4L2FormatsTest, CompressedFramesAreDeliveredAsTwentyFourBitBitmaps) {
    for (quint32 format : {quint32(V4L2_PIX_FMT_MJPEG), quint32(V4L2_PIX_FMT_JPEG)}) {
        SCOPED_TRACE(pixelFormatName(format).toStdString());
        EXPECT_TRUE(isSupportedPixelFormat(format));
        EXPECT_TRUE(isCompressedPixelFormat(format));
        EXPECT_FALSE(isRgbPixelFormat(format));
        const V4L2FrameGeometry g{format, 638, 480, 0, 123456};
        const QByteArray block = formatBlockFor(g);
        ASSERT_EQ(block.size(), 40);
        EXPECT_EQ(headerOf(block).biCompression, kBiRgb);
        EXPECT_EQ(headerOf(block).biBitCount, 24);
        EXPECT_EQ(headerOf(block).biSizeImage, 1916u * 480u); // rows padded to whole words
        EXPECT_EQ(deliveredFrameSize(g), 1916 * 480);
        EXPECT_FALSE(isDeliveredAsCaptured(g));
        EXPECT_EQ(requiredCaptureSize(g), kMinJpegFrameBytes);
        // Beyond the receiver's picture limit nothing is allocated.
        EXPECT_TRUE(formatBlockFor({format, 4097, 480, 0, 123456}).isEmpty());
        EXPECT_EQ(deliveredFrameSize({format, 640, 5000, 0, 0}), 0);
        // From 1280 across, frames come at half size (rounded up).
        const struct {
            int width, height, deliveredWidth, deliveredHeight;
        } sizes[] = {
            {1279, 720, 1279, 720}, {1280, 720, 640, 360}, {1920, 1080, 960, 540}, {1281, 721, 641, 361}};
        for (const auto& size : sizes) {
            const QByteArray large = formatBlockFor({format, size.width, size.height, 0, 0});
            EXPECT_EQ(headerOf(large).biWidth, size.deliveredWidth) << size.width;
            EXPECT_EQ(headerOf(large).biHeight, size.deliveredHeight) << size.width;
            const qsizetype bytes =
                qsizetype(bitmapRowBytes(qint64(size.deliveredWidth) * 24)) * size.deliveredHeight;
            EXPECT_EQ(deliveredFrameSize({format, size.width, size.height, 0, 0}), bytes) << size.width;
            EXPECT_EQ(qsizetype(headerOf(large).biSizeImage), bytes) << size.width;
        }
    }
}

TEST(V4L2FormatsTest, ImplausibleGeometryIsRejected) {
    EXPECT_TRUE(formatBlockFor({V4L2_PIX_FMT_YUYV, 0, 480, 0, 0}).isEmpty());
    EXPECT_TRUE(formatBlockFor({V4L2_PIX_FMT_YUYV, 100000, 480, 0, 0}).isEmpty());
    EXPECT_TRUE(formatBlockFor({V4L2_PIX_FMT_YUYV, 640, 480, 100, 0}).isEmpty()); // row shorter than pixels
    EXPECT_EQ(deliveredFrameSize({V4L2_PIX_FMT_YUYV, 640, -1, 0, 0}), 0);
}

TEST(V4L2FormatsTest, ChoosesRequestedFormatElseRgbElseYuyvElseMjpeg) {
    const QList<quint32> webcam = {V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_YUYV};
    EXPECT_EQ(choosePixelFormat(kBiRgb, webcam), V4L2_PIX_FMT_YUYV);
    EXPECT_EQ(choosePixelFormat(kFourccI420, webcam), V4L2_PIX_FMT_YUYV);
    EXPECT_EQ(choosePixelFormat(kFourccI420, {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_YUV420}), V4L2_PIX_FMT_YUV420);
    EXPECT_EQ(choosePixelFormat(kBiRgb, {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_RGB24}), V4L2_PIX_FMT_RGB24);
    EXPECT_EQ(choosePixelFormat(kBiRgb, {V4L2_PIX_FMT_MJPEG}), V4L2_PIX_FMT_MJPEG);
    EXPECT_EQ(choosePixelFormat(kBiRgb, {V4L2_PIX_FMT_H264}), 0u);
    EXPECT_EQ(choosePixelFormat(kFourccY211, {V4L2_PIX_FMT_GREY}), V4L2_PIX_FMT_GREY);
}

TEST(V4L2FormatsTest, NearestFrameSize) {
    const QList<FrameSizeRange> discrete = {{640, 640, 0, 480, 480, 0},
                                            {352, 352, 0, 288, 288, 0},
                                            {320, 320, 0, 240, 240, 0},
                                            {1280, 1280, 0, 720, 720, 0}};
    const QList<FrameSizeRange> stepwise = {{16, 1920, 8, 16, 1080, 2}};
    struct Case {
        QList<FrameSizeRange> ranges;
        int width, height;
        FrameSize expected;
    };
    const Case cases[] = {
        {discrete, 384, 288, {352, 288}}, {discrete, 640, 480, {640, 480}},
        {discrete, 10, 10, {320, 240}},   {discrete, 5000, 5000, {1280, 720}},
        {stepwise, 384, 288, {384, 288}}, {stepwise, 387, 289, {384, 290}},
        {stepwise, 4000, 8, {1920, 16}},  {{}, 384, 288, {384, 288}},
    };
    for (const Case& c : cases) {
        const FrameSize got = nearestFrameSize(c.ranges, c.width, c.height);
        EXPECT_EQ(got.width, c.expected.width) << c.width << "x" << c.height;
        EXPECT_EQ(got.height, c.expected.height) << c.width << "x" << c.height;
    }
}

TEST(V4L2FormatsTest, RgbFramesAreLaidOutBottomUpInBitmapByteOrder) {
    // Two rows of three pixels: red, green, blue / white, black, grey.
    const uchar rgb[2][3][3] = {{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}},
                                {{255, 255, 255}, {0, 0, 0}, {9, 8, 7}}};
    struct Case {
        quint32 pixelFormat;
        int bytesPerPixel;
        std::function<void(const uchar*, uchar*)> encode; // rgb -> driver bytes
        QByteArray expected;                              // bitmap rows, bottom one first
    };
    const Case cases[] = {
        {V4L2_PIX_FMT_RGB24, 3, [](const uchar* p, uchar* o) { o[0] = p[0], o[1] = p[1], o[2] = p[2]; },
         QByteArray::fromHex("ffffff000000070809"
                             "000000"
                             "0000ff00ff00ff0000"
                             "000000")},
        {V4L2_PIX_FMT_BGR24, 3, [](const uchar* p, uchar* o) { o[0] = p[2], o[1] = p[1], o[2] = p[0]; },
         QByteArray::fromHex("ffffff000000070809"
                             "000000"
                             "0000ff00ff00ff0000"
                             "000000")},
        {V4L2_PIX_FMT_XRGB32, 4,
         [](const uchar* p, uchar* o) { o[0] = 0xAA, o[1] = p[0], o[2] = p[1], o[3] = p[2]; },
         QByteArray::fromHex("ffffff000000000007080900"
                             "0000ff0000ff0000ff000000")},
        {V4L2_PIX_FMT_XBGR32, 4,
         [](const uchar* p, uchar* o) { o[0] = p[2], o[1] = p[1], o[2] = p[0], o[3] = 0xAA; },
         QByteArray::fromHex("ffffff000000000007080900"
                             "0000ff0000ff0000ff000000")},
        {V4L2_PIX_FMT_RGB565, 2,
         [](const uchar* p, uchar* o) {
             const quint16 v = quint16((p[0] >> 3) << 11 | (p[1] >> 2) << 5 | (p[2] >> 3));
             o[0] = uchar(v & 0xFF), o[1] = uchar(v >> 8);
         },
         QByteArray::fromHex("ffff00004008"
                             "0000"
                             "00f8e0071f00"
                             "0000")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(pixelFormatName(c.pixelFormat).toStdString());
        const int padding = 5; // the driver pads its rows
        const quint32 stride = quint32(3 * c.bytesPerPixel + padding);
        QByteArray src(int(stride) * 2, char(0x5A));
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                c.encode(rgb[y][x], reinterpret_cast<uchar*>(src.data()) + y * stride + x * c.bytesPerPixel);
        const V4L2FrameGeometry g{c.pixelFormat, 3, 2, stride, stride * 2};
        ASSERT_EQ(deliveredFrameSize(g), c.expected.size());
        EXPECT_FALSE(isDeliveredAsCaptured(g));
        QByteArray dst(c.expected.size(), char(0x77));
        ASSERT_TRUE(layoutFrame(g, reinterpret_cast<const uchar*>(src.constData()), src.size(),
                                reinterpret_cast<uchar*>(dst.data()), dst.size()));
        EXPECT_EQ(dst.toHex(), c.expected.toHex());
    }
}

TEST(V4L2FormatsTest, PaddedYuvRowsArePackedAndTightOnesPassThrough) {
    // YUYV 2x2 with 4 bytes of padding per row.
    const QByteArray yuyv = QByteArray::fromHex("10203040"
                                                "eeeeeeee"
                                                "50607080"
                                                "eeeeeeee");
    const V4L2FrameGeometry padded{V4L2_PIX_FMT_YUYV, 2, 2, 8, 16};
    EXPECT_FALSE(isDeliveredAsCaptured(padded));
    QByteArray out(deliveredFrameSize(padded), '\0');
    ASSERT_TRUE(layoutFrame(padded, reinterpret_cast<const uchar*>(yuyv.constData()), yuyv.size(),
                            reinterpret_cast<uchar*>(out.data()), out.size()));
    EXPECT_EQ(out.toHex(), QByteArray("1020304050607080"));
    EXPECT_TRUE(isDeliveredAsCaptured({V4L2_PIX_FMT_YUYV, 2, 2, 4, 8}));

    // I420 4x2 with luma rows of 6 bytes: chroma rows of 3 bytes hold 2.
    const QByteArray i420 = QByteArray::fromHex("010203040000"
                                                "050607080000"
                                                "aabb00"
                                                "ccdd00");
    const V4L2FrameGeometry planar{V4L2_PIX_FMT_YUV420, 4, 2, 6, 18};
    EXPECT_EQ(requiredCaptureSize(planar), 17);
    out = QByteArray(deliveredFrameSize(planar), '\0');
    ASSERT_EQ(out.size(), 12);
    ASSERT_TRUE(layoutFrame(planar, reinterpret_cast<const uchar*>(i420.constData()), i420.size(),
                            reinterpret_cast<uchar*>(out.data()), out.size()));
    EXPECT_EQ(out.toHex(), QByteArray("0102030405060708aabbccdd"));
}

TEST(V4L2FormatsTest, ShortFramesAreRefusedWithoutTouchingTheOutput) {
    const V4L2FrameGeometry g{V4L2_PIX_FMT_RGB24, 4, 4, 12, 48};
    const QByteArray src(47, '\x01');
    QByteArray dst(deliveredFrameSize(g), '\x09');
    EXPECT_FALSE(layoutFrame(g, reinterpret_cast<const uchar*>(src.constData()), src.size(),
                             reinterpret_cast<uchar*>(dst.data()), dst.size()));
    EXPECT_EQ(dst, QByteArray(dst.size(), '\x09'));
    EXPECT_FALSE(layoutFrame({V4L2_PIX_FMT_H264, 4, 4, 0, 48},
                             reinterpret_cast<const uchar*>(src.constData()), src.size(),
                             reinterpret_cast<uchar*>(dst.data()), dst.size()));
}

} // namespace
} // namespace talvora
