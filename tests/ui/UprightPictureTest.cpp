// A camera's top row must end up as the top row of the picture, whatever the pixel format:
// driver frames run top-down, bitmap rows bottom-up, and each converter has its own row order.
#include "capture/V4L2Formats.h"
#include "convert/FrameBuffers.h"

#include <linux/videodev2.h>

#include <gtest/gtest.h>

#include "convert/FakeCaptureFormatSource.h"
#include "support/FakeMessageService.h"

namespace talvora {
namespace {

// One driver frame, top row white and the rest black, in the packed layouts the back end reads.
QByteArray whiteTopRow(quint32 pixelFormat, int width, int height, int& bytesPerLine) {
    QByteArray frame;
    switch (pixelFormat) {
    case V4L2_PIX_FMT_YUYV:
        bytesPerLine = width * 2;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; x += 2) {
                const char luma = y == 0 ? char(235) : char(16);
                const char group[] = {luma, char(128), luma, char(128)};
                frame.append(group, sizeof group);
            }
        }
        break;
    case V4L2_PIX_FMT_Y41P:
        bytesPerLine = (width + 7) / 8 * 12;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; x += 8) {
                const char l = y == 0 ? char(235) : char(16);
                const char c = char(128);
                const char group[] = {c, l, c, l, c, l, c, l, l, l, l, l};
                frame.append(group, sizeof group);
            }
        }
        break;
    case V4L2_PIX_FMT_GREY:
        bytesPerLine = width;
        for (int y = 0; y < height; ++y) {
            frame += QByteArray(width, y == 0 ? char(235) : char(16));
        }
        break;
    case V4L2_PIX_FMT_RGB24:
        bytesPerLine = width * 3;
        for (int y = 0; y < height; ++y) {
            frame += QByteArray(width * 3, y == 0 ? char(255) : char(0));
        }
        break;
    }
    return frame;
}

TEST(UprightPicture, TopRowOfTheFrameIsTopRowOfThePictureInEveryPackedLayout) {
    const quint32 formats[] = {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_Y41P, V4L2_PIX_FMT_GREY, V4L2_PIX_FMT_RGB24};
    for (quint32 pixelFormat : formats) {
        const int width = 16, height = 4;
        int bytesPerLine = 0;
        const QByteArray frame = whiteTopRow(pixelFormat, width, height, bytesPerLine);
        const V4L2FrameGeometry geometry{pixelFormat, width, height, quint32(bytesPerLine),
                                         quint32(frame.size())};

        QByteArray delivered(deliveredFrameSize(geometry), '\0');
        ASSERT_TRUE(layoutFrame(geometry, reinterpret_cast<const uchar*>(frame.constData()), frame.size(),
                                reinterpret_cast<uchar*>(delivered.data()), delivered.size()))
            << pixelFormat;

        test::FakeMessageService messages;
        test::FakeCaptureFormatSource driver;
        driver.format = formatBlockFor(geometry);
        FrameBuffers frames(messages);
        frames.initFrameBuffers(driver);
        const QImage picture =
            frames.frameToBitmap(reinterpret_cast<const uchar*>(delivered.constData()), delivered.size());
        ASSERT_EQ(picture.size(), QSize(width, height)) << pixelFormat;
        EXPECT_GT(qGray(picture.pixel(3, 0)), 200) << "top row, format " << pixelFormat;
        EXPECT_LT(qGray(picture.pixel(3, height - 1)), 30) << "bottom row, format " << pixelFormat;
    }
}

} // namespace
} // namespace talvora
