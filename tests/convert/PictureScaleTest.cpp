#include "convert/PictureScale.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace talvora {
namespace {

// Channels of `p` against r, g, b, within `slack` levels.
bool near(QRgb p, int r, int g, int b, int slack) {
    return std::abs(qRed(p) - r) <= slack && std::abs(qGreen(p) - g) <= slack &&
           std::abs(qBlue(p) - b) <= slack;
}

TEST(PictureScale, KeepsColoursAndChannelOrderAtEverySize) {
    // A channel order mixed up between Qt's and libyuv's names would swap red and blue here.
    struct Case {
        QImage::Format format;
        QSize from, to;
        int slack; // whole-number reductions average exactly; other ratios lose up to 2 levels
    } cases[] = {
        {QImage::Format_RGB888, {640, 360}, {800, 450}, 2},
        {QImage::Format_RGB32, {384, 288}, {800, 600}, 2},
        {QImage::Format_RGB32, {640, 360}, {250, 188}, 2},
        {QImage::Format_RGB32, {1280, 720}, {640, 360}, 0},
        {QImage::Format_RGB888, {1920, 1080}, {640, 360}, 0},
        {QImage::Format_ARGB32, {100, 50}, {10, 5}, 0},
    };
    for (const Case& c : cases) {
        QImage picture(c.from, c.format);
        picture.fill(QColor(200, 120, 40));
        const QImage scaled = scalePicture(picture, c.to);
        ASSERT_EQ(scaled.size(), c.to) << c.to.width();
        EXPECT_EQ(scaled.format(), QImage::Format_RGB32);
        for (const QPoint at : {QPoint(0, 0), QPoint(c.to.width() - 1, c.to.height() - 1)}) {
            EXPECT_TRUE(near(scaled.pixel(at), 200, 120, 40, c.slack))
                << c.to.width() << ": " << qRed(scaled.pixel(at)) << "," << qGreen(scaled.pixel(at)) << ","
                << qBlue(scaled.pixel(at));
        }
    }
}

TEST(PictureScale, HalvingAveragesEachBlock) {
    QImage picture(4, 2, QImage::Format_RGB32);
    const QRgb pixels[2][4] = {{qRgb(0, 0, 0), qRgb(100, 8, 255), qRgb(10, 10, 10), qRgb(30, 30, 30)},
                               {qRgb(200, 16, 255), qRgb(100, 0, 255), qRgb(50, 50, 50), qRgb(70, 70, 70)}};
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 4; ++x) {
            picture.setPixel(x, y, pixels[y][x]);
        }
    }
    const QImage half = scalePicture(picture, QSize(2, 1));
    ASSERT_EQ(half.size(), QSize(2, 1));
    EXPECT_TRUE(near(half.pixel(0, 0), 100, 6, 191, 1));
    EXPECT_TRUE(near(half.pixel(1, 0), 40, 40, 40, 0));
}

TEST(PictureScale, SameSizeIsSharedAndEmptyGivesNothing) {
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::white);
    EXPECT_EQ(scalePicture(picture, QSize(64, 48)).cacheKey(), picture.cacheKey());
    EXPECT_TRUE(scalePicture(QImage(), QSize(64, 48)).isNull());
    EXPECT_TRUE(scalePicture(picture, QSize(0, 48)).isNull());
}

} // namespace
} // namespace talvora
