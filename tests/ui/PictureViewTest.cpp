#include "ui/PictureView.h"
#include "ui/Snapshot.h"

#include "transport/TestPictures.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

namespace talvora {
namespace {

// A parent that records the presses that reach it, as the main window's drag does.
class PressRecorder : public QWidget {
public:
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent* e) override {
        ++presses;
        e->accept();
    }
};

TEST(PictureView, ScalesTheRemotePictureToFitAndCentres) {
    PictureView view;
    view.resize(800, 650);
    view.setPicture(test::flatPicture(384, 288, Qt::red));
    EXPECT_EQ(view.pictureRect(), QRect(0, 25, 800, 600));

    const QImage shot = view.grab().toImage();
    ASSERT_EQ(shot.size(), QSize(800, 650));
    EXPECT_EQ(QColor(shot.pixel(400, 10)), QColor(Qt::black)) << "free band above";
    EXPECT_EQ(QColor(shot.pixel(400, 640)), QColor(Qt::black)) << "free band below";
    // Scaling may take a level or two off a channel (libyuv's 7-bit filter weights).
    const auto red = [&](int x, int y) {
        const QRgb p = shot.pixel(x, y);
        return qRed(p) >= 250 && qGreen(p) == 0 && qBlue(p) == 0;
    };
    EXPECT_TRUE(red(400, 25)) << "first picture row";
    EXPECT_TRUE(red(0, 324));
    EXPECT_TRUE(red(799, 624)) << "last picture row";
    EXPECT_EQ(QColor(shot.pixel(400, 625)), QColor(Qt::black));
}

TEST(PictureView, GrowsWithTheWindow) {
    QWidget window;
    auto* view = new PictureView(&window);
    window.resize(800, 650);
    view->setGeometry(window.rect());
    view->setPicture(test::flatPicture(384, 288, Qt::green));
    EXPECT_EQ(view->pictureRect(), QRect(0, 25, 800, 600));
    window.resize(1720, 1080); // maximised: the area and the picture grow
    view->setGeometry(window.rect());
    EXPECT_EQ(view->pictureRect(), QRect(140, 0, 1440, 1080));
}

TEST(PictureView, StartsWithTheIdlePictureAndShowsItAgain) {
    PictureView view;
    view.resize(800, 650);
    const QImage idle = view.idlePicture();
    EXPECT_EQ(idle.size(), QSize(800, 600));
    EXPECT_EQ(idle, PictureView::renderIdlePicture());
    EXPECT_EQ(view.picture(), idle);
    view.setPicture(test::cameraLikePicture(384, 288));
    EXPECT_NE(view.picture(), idle);
    view.showIdlePicture(); // the local user ends the call
    EXPECT_EQ(view.picture(), idle);
    EXPECT_EQ(view.pictureRect(), QRect(0, 25, 800, 600));
}

TEST(PictureView, ForwardsMousePressesOfEveryButton) {
    PressRecorder parent;
    parent.resize(800, 650);
    auto* view = new PictureView(&parent);
    view->setGeometry(parent.rect());
    view->setPicture(test::flatPicture(384, 288, Qt::blue));
    int signalled = 0;
    QObject::connect(view, &PictureView::mousePressed, view, [&](QMouseEvent*) { ++signalled; });

    // Nobody handles the signal: the press goes on to the parent (the window drag).
    for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        QTest::mousePress(view, b, {}, QPoint(400, 5)); // on the free band too
        QTest::mouseRelease(view, b, {}, QPoint(400, 5));
    }
    EXPECT_EQ(signalled, 3);
    EXPECT_EQ(parent.presses, 3);

    // A slot that handles the press keeps it.
    QObject::connect(view, &PictureView::mousePressed, view, [](QMouseEvent* e) { e->accept(); });
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(400, 300));
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(400, 300));
    EXPECT_EQ(signalled, 4);
    EXPECT_EQ(parent.presses, 3);
}

TEST(Snapshot, CopiesThePictureOnShowToTheClipboard) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    PictureView view;
    view.resize(800, 650);
    const QImage picture = test::cameraLikePicture(384, 288);
    view.setPicture(picture);
    ASSERT_TRUE(takeSnapshot(view));
    const QImage copied = clipboard->image();
    EXPECT_EQ(copied.size(), picture.size());
    EXPECT_EQ(copied.convertToFormat(QImage::Format_RGB888), picture);

    // Without a received picture the idle picture is copied.
    PictureView fresh;
    ASSERT_TRUE(takeSnapshot(fresh));
    EXPECT_EQ(clipboard->image().size(), QSize(800, 600));

    // No picture at all: the clipboard is left alone.
    EXPECT_FALSE(copyPictureToClipboard(QImage()));
    EXPECT_EQ(clipboard->image().size(), QSize(800, 600));
}

} // namespace
} // namespace talvora
