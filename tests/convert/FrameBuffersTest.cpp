// The frame state: format negotiation, the in-memory BMP file byte for byte, every kind of frame
// end to end, hostile format blocks, and the invalid-format warning.
#include "convert/FrameBuffers.h"
#include "convert/BitmapDecode.h"
#include "convert/BitmapFile.h"
#include "convert/BitmapInfo.h"
#include "convert/FakeCaptureFormatSource.h"
#include "convert/YUVConverts.h"
#include "support/FakeMessageService.h"

#include "base/Error.h"

#include <QtEndian>

#include <gtest/gtest.h>

#include <random>

namespace talvora {
namespace {

using test::FakeCaptureFormatSource;
using test::FakeMessageService;

const QString kInvalidFormat = QStringLiteral("Invalid Video Format Selected. Please Select RGB.");

QByteArray header(int width, int height, int bits, quint32 compression, quint32 imageBytes) {
    QByteArray block(kBitmapInfoHeaderBytes, '\0');
    BitmapInfoHeader h;
    h.biWidth = width;
    h.biHeight = height;
    h.biBitCount = quint16(bits);
    h.biCompression = compression;
    h.biSizeImage = imageBytes;
    writeBitmapInfoHeader(block.data(), h);
    return block;
}

QByteArray yuvFormat(quint32 fourcc, int width, int height, int bits = 16) {
    return header(width, height, bits, fourcc, quint32(width * height * bits / 8));
}

QByteArray rgbFormat(int width, int height, int bits) {
    return header(width, height, bits, kBiRgb,
                  quint32(bitmapRowBytes(qint64(width) * bits) * std::abs(height)));
}

QByteArray le32(std::initializer_list<quint32> values) {
    QByteArray out;
    for (quint32 v : values) {
        char b[4];
        qToLittleEndian(v, b);
        out.append(b, 4);
    }
    return out;
}

QByteArray maskedFormat(int width, int height, int bits, quint32 r, quint32 g, quint32 b) {
    return header(width, height, bits, kBiBitfields,
                  quint32(bitmapRowBytes(qint64(width) * bits) * std::abs(height))) +
           le32({r, g, b});
}

quint32 u32At(const QByteArray& bytes, qsizetype at) {
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(bytes.constData()) + at);
}

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "(" << c.r << "," << c.g << "," << c.b << ")";
}

Rgb at(const QImage& image, int x, int y) {
    const QRgb p = image.pixel(x, y);
    return {qRed(p), qGreen(p), qBlue(p)};
}

Rgb fromBgr0(quint32 p) {
    return {int(p >> 16 & 255), int(p >> 8 & 255), int(p & 255)};
}

class FrameBuffersTest : public ::testing::Test {
protected:
    FakeMessageService messages;
    FakeCaptureFormatSource camera;
    FrameBuffers buffers{messages};

    void start(const QByteArray& format) {
        camera.format = format;
        buffers.initFrameBuffers(camera);
    }
    QImage frame(const QByteArray& data) {
        return buffers.frameToBitmap(reinterpret_cast<const uchar*>(data.constData()), data.size());
    }
};

TEST_F(FrameBuffersTest, AsksFor384x288At24BitsAndAdoptsWhatTheDriverUses) {
    camera.acceptRequests = true;
    start({});
    ASSERT_EQ(camera.requests.size(), 1);
    const QByteArray expected = QByteArray::fromHex("28000000"
                                                    "80010000"
                                                    "20010000"
                                                    "0100"
                                                    "1800"
                                                    "00000000"
                                                    "00100500" // 1152 * 288 = 331776
                                                    "00000000000000000000000000000000");
    EXPECT_EQ(camera.requests.first(), expected);
    EXPECT_EQ(buffers.formatKind(), FormatKind::RGB);
    EXPECT_EQ(buffers.captureFormat(), expected);
    EXPECT_EQ(buffers.frameInfo(), expected);
    const QByteArray& file = buffers.frameStream();
    ASSERT_EQ(file.size(), 14 + 40 + 331776);
    EXPECT_EQ(file.left(14), QByteArray::fromHex("424D"
                                                 "36100500"
                                                 "0000"
                                                 "0000"
                                                 "36000000"));
    EXPECT_EQ(file.mid(14, 40), expected);
    EXPECT_EQ(buffers.framePixelsOffset(), 54);
    EXPECT_TRUE(buffers.formatProblem().isEmpty());
}

TEST_F(FrameBuffersTest, DriverRefusingTheRequestIsNoError) {
    start(yuvFormat(kFourccYUY2, 640, 480));
    EXPECT_EQ(camera.requests.size(), 1);
    EXPECT_EQ(buffers.formatKind(), FormatKind::YUY2);
    const BitmapInfoHeader info = readBitmapInfoHeader(buffers.frameInfo().constData());
    EXPECT_EQ(info.biWidth, 640);
    EXPECT_EQ(info.biHeight, 480);
    EXPECT_EQ(info.biBitCount, 32);
    EXPECT_EQ(info.biCompression, kBiRgb);
    EXPECT_EQ(info.biSizeImage, 640u * 480 * 4);
    EXPECT_EQ(buffers.frameStream().size(), 54 + 640 * 480 * 4);
}

TEST_F(FrameBuffersTest, NoCaptureWindowDoesNothing) {
    camera.window = false;
    camera.format = rgbFormat(4, 4, 24);
    EXPECT_NO_THROW(buffers.initFrameBuffers(camera));
    EXPECT_NO_THROW(buffers.readCaptureFormat(camera));
    EXPECT_TRUE(camera.requests.isEmpty());
    EXPECT_TRUE(buffers.frameStream().isEmpty());
    EXPECT_EQ(buffers.formatKind(), FormatKind::None);
    EXPECT_TRUE(frame(QByteArray(48, 'x')).isNull());
}

TEST_F(FrameBuffersTest, NoDriverFormatFailsWithTheWebCamText) {
    try {
        start({});
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_TRUE(e.text().startsWith("WebCam not found. "));
    }
}

TEST_F(FrameBuffersTest, ColourMasksTravelIntoTheFile) {
    const QByteArray format = maskedFormat(4, 2, 16, 0xF800, 0x07E0, 0x001F);
    start(format);
    ASSERT_EQ(buffers.formatKind(), FormatKind::RGB);
    EXPECT_EQ(buffers.frameInfo(), format);
    const QByteArray& file = buffers.frameStream();
    EXPECT_EQ(u32At(file, 2), quint32(14 + 52 + 16));
    EXPECT_EQ(u32At(file, 10), 66u);
    EXPECT_EQ(file.mid(14, 52), format);
    EXPECT_EQ(u32At(file, 14 + 16), 3u);
    // 565 pixels: red, green, blue, white in the bottom row, black above.
    QByteArray pixels(16, '\0');
    qToLittleEndian<quint16>(0xF800, pixels.data());
    qToLittleEndian<quint16>(0x07E0, pixels.data() + 2);
    qToLittleEndian<quint16>(0x001F, pixels.data() + 4);
    qToLittleEndian<quint16>(0xFFFF, pixels.data() + 6);
    const QImage picture = frame(pixels);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.format(), QImage::Format_RGB32);
    // 5- and 6-bit channels are widened by shifting, as bitmap readers do.
    EXPECT_EQ(at(picture, 0, 1), (Rgb{248, 0, 0}));
    EXPECT_EQ(at(picture, 1, 1), (Rgb{0, 252, 0}));
    EXPECT_EQ(at(picture, 2, 1), (Rgb{0, 0, 248}));
    EXPECT_EQ(at(picture, 3, 1), (Rgb{248, 252, 248}));
    EXPECT_EQ(at(picture, 0, 0), (Rgb{0, 0, 0}));
    EXPECT_TRUE(messages.boxes.isEmpty());
}

TEST_F(FrameBuffersTest, SwitchFromRgbToYuvKeepsTheRgbBlockSize) {
    start(maskedFormat(8, 4, 32, 0xFF0000, 0xFF00, 0xFF));
    ASSERT_EQ(buffers.frameInfo().size(), 52);
    camera.format = yuvFormat(kFourccYUY2, 6, 3);
    buffers.readCaptureFormat(camera);
    ASSERT_EQ(buffers.formatKind(), FormatKind::YUY2);
    ASSERT_EQ(buffers.frameInfo().size(), 52);
    const QByteArray& file = buffers.frameStream();
    EXPECT_EQ(u32At(file, 10), 66u);
    EXPECT_EQ(u32At(file, 2), quint32(66 + 6 * 3 * 4));
    ASSERT_EQ(file.size(), 66 + 6 * 3 * 4);
    QByteArray rewritten(40, '\0');
    initBitmapHeader(reinterpret_cast<uchar*>(rewritten.data()), 6, 3, 32);
    EXPECT_EQ(file.mid(14, 40), rewritten);
    EXPECT_EQ(file.mid(54, 12), le32({0xFF0000, 0xFF00, 0xFF})); // the masks stay behind the header
    // The pixels are still found at the offset, past the masks.
    QByteArray yuy2(6 * 3 * 2, '\0');
    for (int i = 0; i < yuy2.size(); i += 4) {
        yuy2[i] = char(235);
        yuy2[i + 1] = char(128);
        yuy2[i + 2] = char(235);
        yuy2[i + 3] = char(128);
    }
    const QImage picture = frame(yuy2);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), QSize(6, 3));
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 6; ++x) {
            EXPECT_EQ(at(picture, x, y), (Rgb{254, 254, 254}));
        }
    }
    // The general decoder agrees with the direct one on this file.
    const QImage viaQt = decodeAnyBitmap(file).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(viaQt, picture);
}

// A frame whose rows each have one luma value (chroma fixed): after conversion and decoding the
// picture stands upright, except Y41P, which the converter writes top-down into a bottom-up file.
QByteArray rowLumaFrame(FormatKind kind, int w, int h, int (*luma)(int row), quint8 u, quint8 v) {
    QByteArray f(yuvFrameBytes(kind, w, h), '\0');
    uchar* s = reinterpret_cast<uchar*>(f.data());
    auto planar = [&](int block, bool vFirst) {
        for (int r = 0; r < h; ++r) {
            std::fill(s + r * w, s + (r + 1) * w, uchar(luma(r)));
        }
        const qsizetype plane = qsizetype((w + block - 1) / block) * ((h + block - 1) / block);
        std::fill(s + w * h, s + w * h + plane, vFirst ? v : u);
        std::fill(s + w * h + plane, s + w * h + 2 * plane, vFirst ? u : v);
    };
    switch (kind) {
    case FormatKind::YUY2:
    case FormatKind::UYVY:
        for (int r = 0; r < h; ++r) {
            for (int x = 0; x < w * 2; x += 4) {
                uchar* g = s + r * w * 2 + x;
                const bool yuy2 = kind == FormatKind::YUY2;
                g[yuy2 ? 0 : 1] = g[yuy2 ? 2 : 3] = uchar(luma(r));
                g[yuy2 ? 1 : 0] = u;
                g[yuy2 ? 3 : 2] = v;
            }
        }
        break;
    case FormatKind::Y41P:
        for (int r = 0; r < h; ++r) {
            for (int g = 0; g < (w + 7) / 8; ++g) {
                uchar* p = s + r * ((w + 7) / 8 * 12) + 12 * g;
                p[0] = p[4] = u;
                p[2] = p[6] = v;
                for (int k : {1, 3, 5, 7, 8, 9, 10, 11}) {
                    p[k] = uchar(luma(r));
                }
            }
        }
        break;
    case FormatKind::YVU9:
        planar(4, true);
        break;
    case FormatKind::I420:
        planar(2, false);
        break;
    case FormatKind::Y8:
        for (int r = 0; r < h; ++r) {
            std::fill(s + r * w, s + (r + 1) * w, uchar(luma(r)));
        }
        break;
    case FormatKind::Y211:
        for (int r = 0; r < h; ++r) {
            for (int g = 0; g < (w + 3) / 4; ++g) {
                uchar* p = s + r * ((w + 3) / 4 * 4) + 4 * g;
                p[0] = p[2] = uchar(luma(r));
                p[1] = u;
                p[3] = v;
            }
        }
        break;
    default:
        break;
    }
    return f;
}

TEST_F(FrameBuffersTest, EveryYuvKindEndToEnd) {
    struct Case {
        const char* name;
        quint32 fourcc;
        FormatKind kind;
        bool upsideDown;
    };
    const Case cases[] = {
        {"YUY2", kFourccYUY2, FormatKind::YUY2, false}, {"UYVY", kFourccUYVY, FormatKind::UYVY, false},
        {"Y41P", kFourccY41P, FormatKind::Y41P, true},  {"YVU9", kFourccYVU9, FormatKind::YVU9, false},
        {"I420", kFourccI420, FormatKind::I420, false}, {"Y8", kFourccY8, FormatKind::Y8, false},
        {"Y211", kFourccY211, FormatKind::Y211, false},
    };
    const int w = 24;
    const int h = 16;
    const auto luma = [](int row) { return 20 + row * 13; };
    for (const Case& c : cases) {
        start(yuvFormat(c.fourcc, w, h));
        ASSERT_EQ(buffers.formatKind(), c.kind) << c.name;
        const QImage picture = frame(rowLumaFrame(c.kind, w, h, luma, 90, 170));
        ASSERT_FALSE(picture.isNull()) << c.name;
        ASSERT_EQ(picture.size(), QSize(w, h)) << c.name;
        ASSERT_EQ(picture.format(), QImage::Format_RGB32);
        for (int y = 0; y < h; ++y) {
            const int sourceRow = c.upsideDown ? h - 1 - y : y;
            const quint8 l = quint8(luma(sourceRow));
            const Rgb want = c.kind == FormatKind::Y8 ? Rgb{l, l, l} : fromBgr0(yuvToRgb(l, 90, 170));
            EXPECT_EQ(at(picture, 0, y), want) << c.name << " row " << y;
            EXPECT_EQ(at(picture, w - 1, y), want) << c.name << " row " << y;
        }
        EXPECT_EQ(buffers.frameBitmap(), picture);
    }
    EXPECT_TRUE(messages.boxes.isEmpty());
}

TEST_F(FrameBuffersTest, PartialGroupsStayBlackOnTheFirstFrame) {
    start(yuvFormat(kFourccYUY2, 7, 5));
    const QImage picture = frame(rowLumaFrame(
        FormatKind::YUY2, 7, 5, [](int) { return 235; }, 128, 128));
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(at(picture, 5, 2), (Rgb{254, 254, 254}));
    EXPECT_EQ(at(picture, 6, 2), (Rgb{0, 0, 0}));
}

// RGB frames of several depths and orders: a 3 x 2 picture, top row red green blue, bottom row
// white grey black.
const Rgb kPicture[2][3] = {{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}},
                            {{255, 255, 255}, {128, 128, 128}, {0, 0, 0}}};

QByteArray rgbPixels(int bits, bool topDown, QByteArray* palette) {
    const qsizetype rowBytes = bitmapRowBytes(3 * bits);
    QByteArray out(rowBytes * 2, char(0x5A)); // padding bytes are junk on purpose
    for (int y = 0; y < 2; ++y) {
        uchar* row = reinterpret_cast<uchar*>(out.data()) + (topDown ? y : 1 - y) * rowBytes;
        for (int x = 0; x < 3; ++x) {
            const Rgb c = kPicture[y][x];
            switch (bits) {
            case 32:
                row[4 * x] = uchar(c.b), row[4 * x + 1] = uchar(c.g), row[4 * x + 2] = uchar(c.r),
                        row[4 * x + 3] = 0x77;
                break;
            case 24:
                row[3 * x] = uchar(c.b), row[3 * x + 1] = uchar(c.g), row[3 * x + 2] = uchar(c.r);
                break;
            case 8:
                row[x] = uchar(3 * y + x);
                break;
            }
        }
    }
    if (palette) {
        palette->clear();
        for (const auto& line : kPicture) {
            for (const Rgb& c : line) {
                palette->append(char(c.b)).append(char(c.g)).append(char(c.r)).append('\0');
            }
        }
    }
    return out;
}

TEST_F(FrameBuffersTest, RgbFramesOfEachLayout) {
    struct Case {
        const char* name;
        int bits;
        bool topDown;
        bool masks;
    };
    const Case cases[] = {
        {"32 bottom-up", 32, false, false}, {"32 top-down", 32, true, false},
        {"24 bottom-up", 24, false, false}, {"24 top-down", 24, true, false},
        {"32 masks", 32, false, true},      {"8 palette", 8, false, false},
    };
    for (const Case& c : cases) {
        QByteArray palette;
        const QByteArray pixels = rgbPixels(c.bits, c.topDown, c.bits == 8 ? &palette : nullptr);
        QByteArray format = c.masks ? maskedFormat(3, 2, 32, 0xFF0000, 0xFF00, 0xFF)
                                    : rgbFormat(3, c.topDown ? -2 : 2, c.bits);
        if (c.bits == 8) {
            qToLittleEndian<quint32>(6, format.data() + 32); // biClrUsed
            format += palette;
        }
        start(format);
        ASSERT_EQ(buffers.formatKind(), FormatKind::RGB) << c.name;
        const QImage picture = frame(pixels);
        ASSERT_FALSE(picture.isNull()) << c.name;
        ASSERT_EQ(picture.size(), QSize(3, 2)) << c.name;
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 3; ++x) {
                EXPECT_EQ(at(picture, x, y), kPicture[y][x]) << c.name << " " << x << "," << y;
            }
        }
        // The frame's bytes sit in the file's pixel area as they came.
        EXPECT_EQ(buffers.frameStream().mid(buffers.framePixelsOffset()), pixels) << c.name;
    }
    EXPECT_TRUE(messages.boxes.isEmpty());
}

TEST_F(FrameBuffersTest, ZeroImageSizeMeansTheSizeTheBitmapNeeds) {
    start(header(3, 2, 24, kBiRgb, 0));
    ASSERT_EQ(buffers.formatKind(), FormatKind::RGB);
    EXPECT_EQ(buffers.frameStream().size(), 54 + 24);
    const QImage picture = frame(rgbPixels(24, false, nullptr));
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(at(picture, 1, 0), (Rgb{0, 255, 0}));
}

TEST_F(FrameBuffersTest, ShortFramesAreDroppedAndChangeNothing) {
    start(yuvFormat(kFourccI420, 8, 6, 12));
    const QByteArray full = rowLumaFrame(
        FormatKind::I420, 8, 6, [](int) { return 100; }, 128, 128);
    ASSERT_FALSE(frame(full).isNull());
    const QByteArray before = buffers.frameStream();
    EXPECT_TRUE(frame(full.left(full.size() - 1)).isNull());
    EXPECT_TRUE(frame({}).isNull());
    EXPECT_TRUE(buffers.frameToBitmap(nullptr, 1000).isNull());
    EXPECT_EQ(buffers.frameStream(), before);

    start(rgbFormat(3, 2, 24));
    const QByteArray rgb = rgbPixels(24, false, nullptr);
    EXPECT_TRUE(frame(rgb.left(rgb.size() - 1)).isNull());
    // Longer frames (a driver's padding) are fine.
    EXPECT_FALSE(frame(rgb + QByteArray(100, 'p')).isNull());
}

TEST_F(FrameBuffersTest, UnknownFormatsDropFramesSilently) {
    start(header(320, 240, 16, fourcc('M', 'J', 'P', 'G'), 320 * 240 * 2));
    EXPECT_EQ(buffers.formatKind(), FormatKind::None);
    EXPECT_TRUE(buffers.formatProblem().contains("MJPG"));
    EXPECT_TRUE(frame(QByteArray(320 * 240 * 2, 'x')).isNull());
    EXPECT_TRUE(messages.boxes.isEmpty());
    // FrameInfo is left as it was: the 24-bit request.
    EXPECT_EQ(buffers.frameInfo().size(), 40);
    EXPECT_EQ(readBitmapInfoHeader(buffers.frameInfo().constData()).biWidth, 384);
}

TEST_F(FrameBuffersTest, HostileFormatBlocksAllocateNothingAndDropFrames) {
    auto patched = [](QByteArray block, int offset, quint32 value) {
        qToLittleEndian<quint32>(value, block.data() + offset);
        return block;
    };
    struct Case {
        const char* name;
        QByteArray block;
    };
    const QByteArray rgb = rgbFormat(64, 48, 24);
    const Case cases[] = {
        {"one byte", QByteArray(1, '\0')},
        {"39 bytes", rgb.left(39)},
        {"huge block", rgb + QByteArray(1 << 20, '\0')},
        {"zero width", patched(rgb, 4, 0)},
        {"negative width", patched(rgb, 4, quint32(-64))},
        {"zero height", patched(rgb, 8, 0)},
        {"width 2^31-1", patched(rgb, 4, 0x7FFFFFFF)},
        {"height -2^31", patched(rgb, 8, 0x80000000)},
        {"16384 x 16384", patched(patched(rgb, 4, 16384), 8, 16384)},
        {"image size 4 GB", patched(rgb, 20, 0xFFFFFFFF)},
        {"image size too small", patched(rgb, 20, 100)},
        {"7 bits", patched(rgb, 14, 7)},
        {"masks at 24 bits", patched(rgb, 16, kBiBitfields)},
        {"top-down YUY2", yuvFormat(kFourccYUY2, 64, -48)},
        {"YUY2 100000 wide", yuvFormat(kFourccYUY2, 100000, 2)},
        {"I420 65536 x 65536", header(65536, 65536, 12, kFourccI420, 0)},
    };
    for (const Case& c : cases) {
        camera.format = c.block;
        ASSERT_NO_THROW(buffers.initFrameBuffers(camera)) << c.name;
        EXPECT_EQ(buffers.formatKind(), FormatKind::None) << c.name;
        EXPECT_FALSE(buffers.formatProblem().isEmpty()) << c.name;
        EXPECT_LT(buffers.frameStream().size(), 1 << 20) << c.name;
        EXPECT_TRUE(frame(QByteArray(64 * 48 * 4, 'x')).isNull()) << c.name;
    }
    EXPECT_TRUE(messages.boxes.isEmpty());
}

TEST_F(FrameBuffersTest, FreeingDropsFramesUntilSetUpAgain) {
    start(rgbFormat(3, 2, 24));
    const QByteArray pixels = rgbPixels(24, false, nullptr);
    ASSERT_FALSE(frame(pixels).isNull());
    buffers.freeFrameBuffers();
    EXPECT_TRUE(buffers.frameStream().isEmpty());
    EXPECT_TRUE(buffers.frameInfo().isEmpty());
    EXPECT_TRUE(buffers.captureFormat().isEmpty());
    EXPECT_TRUE(buffers.frameBitmap().isNull());
    EXPECT_EQ(buffers.framePixelsOffset(), -1);
    EXPECT_TRUE(frame(pixels).isNull());
    start(rgbFormat(3, 2, 24));
    EXPECT_FALSE(frame(pixels).isNull());
}

// A bitmap Qt's reader rejects (two planes) but whose sizes are sound.
QByteArray rejectedFormat(int w, int h) {
    QByteArray block = rgbFormat(w, h, 24);
    qToLittleEndian<quint16>(2, block.data() + 12);
    return block;
}

TEST_F(FrameBuffersTest, RejectedBitmapWarnsAndDrawsTheLastGoodPicture) {
    start(rgbFormat(3, 2, 24));
    ASSERT_FALSE(frame(rgbPixels(24, false, nullptr)).isNull());
    camera.format = rejectedFormat(4, 3);
    buffers.readCaptureFormat(camera);
    ASSERT_EQ(buffers.formatKind(), FormatKind::RGB);
    const QImage picture = frame(QByteArray(bitmapRowBytes(4 * 24) * 3, '\x33'));
    ASSERT_EQ(messages.boxes.size(), 1);
    EXPECT_EQ(messages.boxes[0].kind, FakeMessageService::Kind::Warning);
    EXPECT_EQ(messages.boxes[0].text, kInvalidFormat);
    // The new picture has the new size; the old 3 x 2 picture sits at its top left, black around.
    ASSERT_EQ(picture.size(), QSize(4, 3));
    EXPECT_EQ(at(picture, 0, 0), (Rgb{255, 0, 0}));
    EXPECT_EQ(at(picture, 2, 1), (Rgb{0, 0, 0}));
    EXPECT_EQ(at(picture, 1, 1), (Rgb{128, 128, 128}));
    EXPECT_EQ(at(picture, 3, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(at(picture, 0, 2), (Rgb{0, 0, 0}));
}

TEST_F(FrameBuffersTest, WarningIsNeverOpenTwiceAtOnce) {
    start(rejectedFormat(4, 3));
    const QByteArray pixels(bitmapRowBytes(4 * 24) * 3, '\x33');
    int nested = 0;
    int nestedPictures = 0;
    messages.whileOpen = [&] {
        // Preview frames keep arriving while the modal box is open.
        for (int i = 0; i < 3; ++i) {
            ++nested;
            nestedPictures += frame(pixels).isNull() ? 0 : 1;
        }
    };
    const QImage first = frame(pixels);
    EXPECT_EQ(nested, 3);
    EXPECT_EQ(nestedPictures, 3);
    EXPECT_EQ(messages.boxes.size(), 1);
    EXPECT_FALSE(first.isNull());
    EXPECT_EQ(at(first, 0, 0), (Rgb{0, 0, 0})); // nothing decoded yet: black
    // Once it is closed, the next rejected frame warns again.
    messages.whileOpen = nullptr;
    frame(pixels);
    EXPECT_EQ(messages.boxes.size(), 2);
}

TEST_F(FrameBuffersTest, ReformattingWhileTheWarningIsOpenIsSafe) {
    start(rejectedFormat(4, 3));
    const QByteArray pixels(bitmapRowBytes(4 * 24) * 3, '\x33');
    messages.whileOpen = [&] {
        // The user opens the driver's format dialog and picks a good 2 x 2 format meanwhile.
        camera.format = rgbFormat(2, 2, 24);
        buffers.readCaptureFormat(camera);
        frame(QByteArray(16, '\xFF'));
    };
    const QImage picture = frame(pixels);
    ASSERT_EQ(picture.size(), QSize(4, 3));
    EXPECT_EQ(at(picture, 1, 1), (Rgb{255, 255, 255}));
    EXPECT_EQ(at(picture, 2, 2), (Rgb{0, 0, 0}));
}

// The direct decoder must agree with Qt's on everything it takes, and decline the rest.
TEST(BitmapDecode, DirectPathMatchesQt) {
    std::mt19937 rng(5);
    struct Case {
        int bits;
        int width, height;
        bool masks;
    };
    const Case cases[] = {{32, 7, 5, false}, {32, 7, -5, false}, {24, 7, 5, false},  {24, 13, -3, false},
                          {32, 16, 9, true}, {24, 1, 1, false},  {32, 64, 3, false}, {24, 33, 2, false}};
    for (const Case& c : cases) {
        const int rows = std::abs(c.height);
        QByteArray info = c.masks ? maskedFormat(c.width, c.height, c.bits, 0xFF0000, 0xFF00, 0xFF)
                                  : rgbFormat(c.width, c.height, c.bits);
        QByteArray pixels(bitmapRowBytes(qint64(c.width) * c.bits) * rows, '\0');
        for (auto& b : pixels) {
            b = char(rng());
        }
        QByteArray file(14, '\0');
        writeBitmapFileHeader(reinterpret_cast<uchar*>(file.data()),
                              quint32(14 + info.size() + pixels.size()), quint32(14 + info.size()));
        file += info + pixels;
        QImage direct(c.width, rows, QImage::Format_RGB32);
        ASSERT_TRUE(decodeCommonBitmap(file, direct)) << c.bits << " " << c.width << "x" << c.height;
        const QImage viaQt = decodeAnyBitmap(file);
        ASSERT_FALSE(viaQt.isNull());
        EXPECT_EQ(direct, viaQt.convertToFormat(QImage::Format_RGB32))
            << c.bits << " " << c.width << "x" << c.height;
    }
}

TEST(BitmapDecode, DirectPathDeclinesOtherLayouts) {
    const auto fileOf = [](const QByteArray& info, qsizetype pixelBytes) {
        QByteArray file(14, '\0');
        writeBitmapFileHeader(reinterpret_cast<uchar*>(file.data()), quint32(14 + info.size() + pixelBytes),
                              quint32(14 + info.size()));
        return file + info + QByteArray(pixelBytes, '\0');
    };
    QImage picture(4, 4, QImage::Format_RGB32);
    EXPECT_FALSE(decodeCommonBitmap(fileOf(rgbFormat(4, 4, 16), 32), picture));
    EXPECT_FALSE(decodeCommonBitmap(fileOf(rgbFormat(4, 4, 8), 16), picture));
    EXPECT_FALSE(decodeCommonBitmap(fileOf(maskedFormat(4, 4, 32, 0xFF, 0xFF00, 0xFF0000), 64), picture));
    EXPECT_FALSE(decodeCommonBitmap(fileOf(rgbFormat(5, 4, 32), 80), picture)); // size differs
    EXPECT_FALSE(decodeCommonBitmap(fileOf(rgbFormat(4, 4, 32), 63), picture)); // pixels short
    EXPECT_FALSE(decodeCommonBitmap(fileOf(rejectedFormat(4, 4), 64), picture));
    EXPECT_FALSE(decodeCommonBitmap(QByteArray("BM"), picture));
}

} // namespace
} // namespace talvora
