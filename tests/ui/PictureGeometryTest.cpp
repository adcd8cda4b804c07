#include "ui/PictureGeometry.h"

#include <gtest/gtest.h>

namespace talvora {
namespace {

TEST(FitPicture, LargestProportionalSizeCentredWithOffsetsRoundedDown) {
    struct Case {
        QSize picture;
        QSize area;
        QRect expected;
    } cases[] = {
        // The shipped area: 384x288 fills the width, 25 rows free above and below.
        {{384, 288}, {800, 650}, {0, 25, 800, 600}},
        // Maximised window (control panel of 200 taken from 1920x1080): full height.
        {{384, 288}, {1720, 1080}, {140, 0, 1440, 1080}},
        {{640, 480}, {800, 650}, {0, 25, 800, 600}},
        {{1280, 720}, {800, 650}, {0, 100, 800, 450}},
        // The idle picture fits the area's width exactly.
        {{800, 600}, {800, 650}, {0, 25, 800, 600}},
        // Enlarging a tiny picture.
        {{4, 3}, {800, 650}, {0, 25, 800, 600}},
        // Taller than wide: the full height first, width truncated (650 * 3 / 4 = 487.5).
        {{300, 400}, {800, 650}, {156, 0, 487, 650}},
        // Square pictures count as "not wider": full height.
        {{100, 100}, {800, 650}, {75, 0, 650, 650}},
        {{100, 100}, {500, 800}, {0, 150, 500, 500}},
        // Wider than high but the area is wider still: full width would overflow, so height.
        {{400, 300}, {2000, 650}, {567, 0, 866, 650}},
        // Odd free space: offset rounded down (free 51 -> 25).
        {{400, 300}, {800, 651}, {0, 25, 800, 600}},
        // A product a floating aspect ratio gets wrong (495 * 110 / 121 is exactly 450).
        {{121, 110}, {495, 500}, {0, 25, 495, 450}},
        // One-pixel sides.
        {{1, 1000}, {800, 650}, {400, 0, 0, 650}},
        {{1000, 1}, {800, 650}, {0, 325, 800, 0}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fitPicture(c.picture, c.area), c.expected)
            << c.picture.width() << "x" << c.picture.height() << " in " << c.area.width() << "x"
            << c.area.height();
    }
}

TEST(FitPicture, NothingToDrawGivesAnEmptyRectangle) {
    EXPECT_TRUE(fitPicture({0, 0}, {800, 650}).isEmpty());
    EXPECT_TRUE(fitPicture({384, 288}, {0, 650}).isEmpty());
    EXPECT_TRUE(fitPicture({-1, 5}, {800, 650}).isEmpty());
}

TEST(FitPicture, AlwaysInsideTheArea) {
    for (int pw = 1; pw < 300; pw += 13) {
        for (int ph = 1; ph < 300; ph += 11) {
            for (QSize area : {QSize(800, 650), QSize(1720, 1080), QSize(33, 700), QSize(700, 33)}) {
                const QRect r = fitPicture({pw, ph}, area);
                EXPECT_TRUE(QRect(QPoint(0, 0), area).contains(r) || r.isEmpty()) << pw << "x" << ph;
                // One side always touches the area's edges.
                EXPECT_TRUE(r.width() == area.width() || r.height() == area.height()) << pw << "x" << ph;
            }
        }
    }
}

} // namespace
} // namespace talvora
