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

namespace talvora {
namespace {

// The share of pixels off by more than a rounding step in some channel.
double differingShare(const QImage& actual, const QImage& expected) {
    if (actual.size() != expected.size()) {
        return 1.0;
    }
    const QImage a = actual.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage e = expected.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    qint64 differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = e.pixel(x, y);
            differing += std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                   std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))}) > 8;
        }
    }
    return double(differing) / (double(a.width()) * a.height());
}

// The artwork as it should look at `pixels`: the SVG rendered at that size, over black for the
// idle picture; or, for the comparison, a 1x bitmap enlarged to it.
QImage expected(const QString& resource, QSize logical, QSize pixels, bool overBlack, bool enlarged) {
    const QImage art =
        enlarged
            ? renderSvg(resource, logical).scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            : renderSvg(resource, pixels);
    QImage out(pixels, QImage::Format_ARGB32_Premultiplied);
    out.fill(overBlack ? Qt::black : Qt::transparent);
    QPainter(&out).drawImage(0, 0, art);
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
            const QString svg = QString::fromLatin1(art.resource);
            EXPECT_LT(differingShare(shown, expected(svg, art.size, pixels, art.onBlack, false)), 0.001);
            if (dpr > 1) { // what the check is there for: a 1x bitmap enlarged fails it
                EXPECT_GT(differingShare(expected(svg, art.size, pixels, art.onBlack, true),
                                         expected(svg, art.size, pixels, art.onBlack, false)),
                          0.005);
            }
        }
    }
}

} // namespace
} // namespace talvora
