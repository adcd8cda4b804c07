// The artwork on screens of 1x, 1.5x and 2x pixel density (three offscreen screens, see
// data/scaled-screens.json): each picture must come out as the SVG rendered at the screen's own
// pixel size, not as a 1x bitmap enlarged.
#include "support/EventLoop.h"
#include "ui/PictureButton.h"
#include "ui/PictureView.h"
#include "ui/SvgArtwork.h"
#include "ui/SvgPicture.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace talvora {
namespace {

// The share of pixels whose colour is off by more than a rounding step in some channel.
double differingShare(const QImage& actual, const QImage& expected) {
    if (actual.size() != expected.size()) {
        return 1.0;
    }
    const QImage a = actual.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage e = expected.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    qint64 differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* ra = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* re = reinterpret_cast<const QRgb*>(e.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const int d =
                std::max({std::abs(qRed(ra[x]) - qRed(re[x])), std::abs(qGreen(ra[x]) - qGreen(re[x])),
                          std::abs(qBlue(ra[x]) - qBlue(re[x])), std::abs(qAlpha(ra[x]) - qAlpha(re[x]))});
            differing += d > 8 ? 1 : 0;
        }
    }
    return double(differing) / (double(a.width()) * a.height());
}

QImage onBlack(const QImage& artwork) {
    QImage out(artwork.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::black);
    QPainter(&out).drawImage(0, 0, artwork);
    return out;
}

struct Artwork {
    const char* name;
    const char* resource;
    QSize size;                                    // logical pixels
    std::function<QWidget*(QWidget* parent)> make; // the widget that shows it
    bool onBlack;                                  // drawn over black (the idle picture)
};

const Artwork kArtwork[] = {
    {"command picture",
     ":/icons/call.svg",
     {48, 48},
     [](QWidget* p) {
         return new PictureButton(QStringLiteral(":/icons/call.svg"), {48, 48}, p);
     },
     false},
    {"slider symbol",
     ":/icons/mic-small.svg",
     {24, 24},
     [](QWidget* p) { return new SvgPicture(QStringLiteral(":/icons/mic-small.svg"), p); },
     false},
    {"idle picture", ":/idle.svg", {800, 600}, [](QWidget* p) { return new PictureView(p); }, true},
};

TEST(ScaledArtwork, IsDrawnAtTheScreensPixelDensity) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    ASSERT_EQ(screens.size(), 3) << "run with QT_QPA_PLATFORM=offscreen:configfile=data/scaled-screens.json";
    for (QScreen* screen : screens) {
        const qreal dpr = screen->devicePixelRatio();
        for (const Artwork& art : kArtwork) {
            SCOPED_TRACE(testing::Message() << art.name << " at " << dpr << "x");
            QWidget window;
            window.setGeometry(QRect(screen->geometry().topLeft() + QPoint(10, 10), art.size));
            QWidget* widget = art.make(&window);
            widget->setGeometry(QRect(QPoint(0, 0), art.size));
            window.show();
            ASSERT_TRUE(test::waitUntil([&] { return window.windowHandle()->screen() == screen; }));
            ASSERT_EQ(widget->devicePixelRatio(), dpr);

            const QImage shown = widget->grab().toImage();
            const QSize pixels = art.size * dpr;
            ASSERT_EQ(shown.size(), pixels);
            const QImage crisp = renderSvg(QString::fromLatin1(art.resource), pixels);
            EXPECT_LT(differingShare(shown, art.onBlack ? onBlack(crisp) : crisp), 0.001);
            if (dpr > 1) {
                // What the check is there for: a 1x bitmap enlarged to the same size fails it.
                const QImage enlarged = renderSvg(QString::fromLatin1(art.resource), art.size)
                                            .scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
                EXPECT_GT(differingShare(art.onBlack ? onBlack(enlarged) : enlarged,
                                         art.onBlack ? onBlack(crisp) : crisp),
                          0.005);
            }
        }
    }
}

// The pixmap is made again when the density or size changes (a window moved to another screen)
// and kept while neither does.
TEST(ScaledArtwork, RendersAgainOnlyForANewDensityOrSize) {
    const SvgArtwork art(QStringLiteral(":/icons/end.svg"));
    const QPixmap first = art.pixmap({48, 48}, 1.0);
    EXPECT_EQ(art.pixmap({48, 48}, 1.0).cacheKey(), first.cacheKey());
    const QPixmap sharp = art.pixmap({48, 48}, 1.5);
    EXPECT_EQ(sharp.size(), QSize(72, 72));
    EXPECT_EQ(sharp.devicePixelRatio(), 1.5);
    EXPECT_EQ(art.pixmap({24, 24}, 1.5).size(), QSize(36, 36));
    // A resource that does not load draws nothing rather than failing.
    const QImage missing = renderSvg(QStringLiteral(":/icons/none.svg"), {8, 8});
    EXPECT_EQ(missing.size(), QSize(8, 8));
    EXPECT_EQ(missing.pixel(4, 4), qRgba(0, 0, 0, 0));
}

} // namespace
} // namespace talvora
