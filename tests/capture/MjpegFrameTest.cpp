#include <gtest/gtest.h>

#include <QByteArray>

#include "capture/CameraJpeg.h"
#include "capture/MjpegFrame.h"
#include "convert/BitmapInfo.h"

namespace talvora {
namespace {

using test::bitmapPixel;
using test::cameraPicture;
using test::closeColour;

constexpr int kWidth = 64;
constexpr int kHeight = 48;

QByteArray withSize(QByteArray jpeg, int width, int height) {
    // The frame header (SOF0) holds height then width after its length and precision.
    const qsizetype sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    jpeg[sof + 5] = char(height >> 8);
    jpeg[sof + 6] = char(height & 0xFF);
    jpeg[sof + 7] = char(width >> 8);
    jpeg[sof + 8] = char(width & 0xFF);
    return jpeg;
}

struct FrameCase {
    const char* name;
    QByteArray frame;
    MjpegDecodeStatus expected;
};

std::vector<FrameCase> frameCases() {
    const QImage picture = cameraPicture(kWidth, kHeight);
    const QByteArray full = test::jpegWithTables(picture);
    const QByteArray bare = test::jpegWithoutTables(picture);
    QByteArray padded = bare;
    padded.insert(padded.size() - 2, QByteArray(5, '\0')); // bytes before the end marker
    QByteArray flipped = bare;
    flipped[flipped.size() / 2 + 40] = char(~flipped[flipped.size() / 2 + 40]);
    return {
        {"with tables", full, MjpegDecodeStatus::Ok},
        {"without tables", bare, MjpegDecodeStatus::Ok},
        {"padding before the end marker", padded, MjpegDecodeStatus::Ok},
        {"trailing garbage after the end marker", bare + QByteArray(100, 'x'), MjpegDecodeStatus::Ok},
        {"truncated in the scan", bare.left(bare.size() * 2 / 3), MjpegDecodeStatus::Corrupt},
        {"header only", bare.left(bare.indexOf(QByteArray("\xFF\xDA", 2))), MjpegDecodeStatus::Corrupt},
        {"not a JPEG", QByteArray(500, 'x'), MjpegDecodeStatus::Corrupt},
        {"empty", QByteArray(), MjpegDecodeStatus::Refused},
        {"another size", withSize(bare, 32, 48), MjpegDecodeStatus::WrongSize},
        {"hostile size", withSize(bare, 65000, 65000), MjpegDecodeStatus::Refused},
    };
}

TEST(MjpegFrameTest, DecodesGoodFramesAndRefusesDamagedOnes) {
    const qsizetype stride = qsizetype(bitmapRowBytes(kWidth * 24));
    for (const FrameCase& c : frameCases()) {
        SCOPED_TRACE(c.name);
        QByteArray bitmap(stride * kHeight, '\0');
        const MjpegDecodeStatus status =
            decodeMjpegFrame(reinterpret_cast<const uchar*>(c.frame.constData()), c.frame.size(), kWidth,
                             kHeight, reinterpret_cast<uchar*>(bitmap.data()), stride);
        EXPECT_EQ(status, c.expected);
        if (status != MjpegDecodeStatus::Ok)
            continue;
        // Rows bottom-up, B G R: each quadrant keeps its colour.
        EXPECT_TRUE(closeColour(bitmapPixel(bitmap, kWidth, kHeight, 8, 8), qRgb(30, 200, 40)));
        EXPECT_TRUE(closeColour(bitmapPixel(bitmap, kWidth, kHeight, kWidth - 8, 8), qRgb(220, 30, 30)));
        EXPECT_TRUE(closeColour(bitmapPixel(bitmap, kWidth, kHeight, 8, kHeight - 8), qRgb(230, 230, 230)));
        EXPECT_TRUE(
            closeColour(bitmapPixel(bitmap, kWidth, kHeight, kWidth - 8, kHeight - 8), qRgb(40, 40, 210)));
    }
}

TEST(MjpegFrameTest, StrippedFramesReallyLackTables) {
    const QByteArray bare = test::jpegWithoutTables(cameraPicture(kWidth, kHeight));
    EXPECT_FALSE(bare.contains(QByteArray("\xFF\xC4", 2)));
    EXPECT_TRUE(test::jpegWithTables(cameraPicture(kWidth, kHeight)).contains(QByteArray("\xFF\xC4", 2)));
}

TEST(MjpegFrameTest, RefusesBadArguments) {
    const QByteArray frame = test::jpegWithoutTables(cameraPicture(kWidth, kHeight));
    const auto* data = reinterpret_cast<const uchar*>(frame.constData());
    QByteArray bitmap(kWidth * 3 * kHeight, '\0');
    auto* dst = reinterpret_cast<uchar*>(bitmap.data());
    EXPECT_EQ(decodeMjpegFrame(data, frame.size(), kWidth, kHeight, dst, kWidth * 3 - 1),
              MjpegDecodeStatus::Refused);
    EXPECT_EQ(decodeMjpegFrame(data, frame.size(), 0, kHeight, dst, kWidth * 3), MjpegDecodeStatus::Refused);
    EXPECT_EQ(decodeMjpegFrame(data, frame.size(), 5000, 16, dst, 5000 * 3), MjpegDecodeStatus::Refused);
    EXPECT_EQ(decodeMjpegFrame(nullptr, 10, kWidth, kHeight, dst, kWidth * 3), MjpegDecodeStatus::Refused);
}

// A 1280 x 720 frame comes out at 640 x 360 through the decoder's DCT scaling: the picture of a
// full decode, averaged over 2 x 2 blocks, within JPEG's losses.
TEST(MjpegFrameTest, WideFramesAreDecodedAtHalfSize) {
    const QImage picture = cameraPicture(1280, 720);
    const QByteArray frame = test::jpegWithoutTables(picture);
    const auto* data = reinterpret_cast<const uchar*>(frame.constData());
    EXPECT_EQ(mjpegDeliveredSize(1280, 720), QSize(640, 360));
    EXPECT_EQ(mjpegDeliveredSize(1279, 720), QSize(1279, 720));
    const qsizetype stride = 640 * 3;
    QByteArray half(stride * 360, '\0');
    ASSERT_EQ(decodeMjpegFrame(data, frame.size(), 1280, 720, reinterpret_cast<uchar*>(half.data()), stride),
              MjpegDecodeStatus::Ok);
    const QImage reference = picture.convertToFormat(QImage::Format_RGB32)
                                 .scaled(640, 360, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (const QPoint p :
         {QPoint(0, 0), QPoint(639, 0), QPoint(320, 180), QPoint(5, 359), QPoint(600, 300)}) {
        EXPECT_TRUE(closeColour(bitmapPixel(half, 640, 360, p.x(), p.y()), reference.pixel(p)))
            << p.x() << "," << p.y();
    }
    // A buffer laid out for the full width is not needed, and one narrower than half is refused.
    EXPECT_EQ(
        decodeMjpegFrame(data, frame.size(), 1280, 720, reinterpret_cast<uchar*>(half.data()), stride - 1),
        MjpegDecodeStatus::Refused);
}

} // namespace
} // namespace talvora
