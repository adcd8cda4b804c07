#include <gtest/gtest.h>

#include <atomic>

#include <QLabel>
#include <QWidget>

#include <linux/videodev2.h>

#include "capture/FakeV4L2Device.h"
#include "capture/V4L2Capture.h"
#include "convert/BitmapInfo.h"
#include "support/EventLoop.h"
#include "ui/CaptureController.h"

namespace talvora {
namespace {

using test::FakeV4L2Device;

// The preview panel and the status line over the V4L2 back end and a fake kernel device whose
// cameras the test plugs in and pulls out.
struct HotplugRig {
    QWidget window;
    QWidget* panel = new QWidget(&window);
    QLabel* label = new QLabel(&window);
    std::shared_ptr<FakeV4L2Device> device = std::make_shared<FakeV4L2Device>();
    CaptureController cap{[this] { return std::make_unique<V4L2Capture>(device); }};
    int formatReads = 0;
    std::atomic<int> frames = 0;
    QByteArray formatAtRead;

    HotplugRig() {
        window.resize(1000, 650);
        panel->setGeometry(0, 462, 250, 188);
        cap.setVideoPanel(panel);
        cap.setStatusLabel(label);
        cap.setFormatReader([this] {
            ++formatReads;
            formatAtRead = cap.videoFormat();
        });
        cap.setFrameHandler([this](const uchar*, qsizetype) {
            ++frames;
            return QImage(8, 8, QImage::Format_RGB888);
        });
    }

    static FakeV4L2Device::Node camera(const char* card) {
        FakeV4L2Device::Node node;
        node.card = QString::fromLatin1(card);
        return node;
    }

    // Asks for 384x288 at 24 bits, as the frame buffers do at the start.
    bool askForProgramsFormat() {
        BitmapInfoHeader h;
        h.biWidth = 384;
        h.biHeight = 288;
        h.biBitCount = 24;
        QByteArray block(40, '\0');
        writeBitmapInfoHeader(block.data(), h);
        return cap.setVideoFormat(block);
    }

    bool frameGetsThrough() {
        const int before = frames;
        return device->deliverFrame(QByteArray(320 * 240 * 2, '\x20')) &&
               test::waitUntil([&] { return frames == before + 1; });
    }
};

int widthOf(const QByteArray& format) {
    return format.size() < 40 ? 0 : readBitmapInfoHeader(format.constData()).biWidth;
}

TEST(CameraHotplugTest, UnpluggedCameraPluggedBackInResumesThePreviewInItsFormat) {
    HotplugRig rig;
    rig.device->addNode(0, HotplugRig::camera("USB Camera"));
    ASSERT_TRUE(rig.cap.createCaptureWindow());
    EXPECT_TRUE(rig.device->watching());
    EXPECT_EQ(rig.device->watchedDirectory(), QStringLiteral("/dev"));
    ASSERT_TRUE(rig.askForProgramsFormat());
    rig.cap.startPreview();
    ASSERT_TRUE(rig.frameGetsThrough());

    rig.device->unplug(0);
    ASSERT_TRUE(test::waitUntil([&] { return !rig.cap.backend()->isPreviewing(); }));
    EXPECT_TRUE(test::waitUntil(
        [&] { return rig.label->text() == QStringLiteral("The camera USB Camera was disconnected"); }));
    EXPECT_TRUE(rig.panel->isHidden());
    EXPECT_TRUE(rig.cap.hasCaptureWindow());
    EXPECT_EQ(rig.formatReads, 0);

    rig.device->clearCalls();
    rig.device->plugIn(0); // the window's thread hears of it from the event loop
    ASSERT_TRUE(test::waitUntil([&] { return rig.cap.backend()->isPreviewing(); }));
    EXPECT_TRUE(rig.cap.backend()->isConnected());
    EXPECT_FALSE(rig.panel->isHidden());
    // The program's size was asked for again, and read before the first frame came.
    ASSERT_FALSE(rig.device->callsOf(VIDIOC_S_FMT).isEmpty());
    EXPECT_EQ(rig.device->callsOf(VIDIOC_S_FMT).last().width, 320u);
    EXPECT_EQ(rig.formatReads, 1);
    EXPECT_EQ(widthOf(rig.formatAtRead), 320);
    EXPECT_TRUE(rig.frameGetsThrough());

    // Pulled out and plugged in once more: the same again.
    rig.device->unplug(0);
    ASSERT_TRUE(test::waitUntil([&] { return !rig.cap.backend()->isConnected(); }));
    rig.device->plugIn(0);
    EXPECT_TRUE(test::waitUntil([&] { return rig.formatReads == 2; }));
    EXPECT_TRUE(rig.cap.backend()->isPreviewing());
    EXPECT_TRUE(rig.frameGetsThrough());
}

TEST(CameraHotplugTest, WhatAnAppearingCameraChanges) {
    struct Case {
        const char* name;
        bool cameraAtStart;
        bool previewStarted;
        bool captureWindowKept;
        bool connectedAfter;
        bool previewingAfter;
        int formatReads;
    };
    const Case cases[] = {
        {"no camera at the start, then one", false, true, true, true, true, 1},
        {"plugged in before the preview was asked for", false, false, true, true, false, 1},
        {"a second camera while the first works", true, true, true, true, true, 0},
        {"after the capture window was destroyed", false, true, false, false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HotplugRig rig;
        if (c.cameraAtStart)
            rig.device->addNode(0, HotplugRig::camera("First Camera"));
        ASSERT_TRUE(rig.cap.createCaptureWindow());
        EXPECT_EQ(rig.panel->isHidden(), !c.cameraAtStart);
        if (c.previewStarted)
            rig.cap.startPreview();
        if (!c.captureWindowKept) {
            rig.cap.abortCapture();
            rig.cap.destroyCaptureWindow();
            EXPECT_FALSE(rig.device->watching());
        }
        const int opensBefore = rig.device->openDescriptors();
        rig.device->plugIn(1, HotplugRig::camera("Second Camera"));
        test::pumpEvents(50); // the window's thread hears of it from the event loop
        EXPECT_EQ(rig.formatReads, c.formatReads);
        if (!c.captureWindowKept)
            continue;
        EXPECT_EQ(rig.cap.backend()->isConnected(), c.connectedAfter);
        EXPECT_EQ(rig.cap.backend()->isPreviewing(), c.previewingAfter);
        EXPECT_FALSE(rig.panel->isHidden());
        EXPECT_EQ(rig.device->openDescriptors(), c.cameraAtStart ? opensBefore : 1);
        CaptureDriverCaps caps;
        ASSERT_TRUE(rig.cap.backend()->getDriverCaps(caps));
        EXPECT_EQ(caps.deviceIndex, c.cameraAtStart ? 0u : 1u);
    }
}

} // namespace
} // namespace talvora
