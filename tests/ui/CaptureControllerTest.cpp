#include <gtest/gtest.h>

#include <thread>

#include <chrono>

#include <atomic>

#include <QDialog>
#include <QLabel>
#include <QWidget>

#include <linux/videodev2.h>

#include "capture/FakeV4L2Device.h"
#include "capture/ManualFrameTicker.h"
#include "capture/RecordingCaptureBackend.h"
#include "capture/TestCamera.h"
#include "capture/V4L2Capture.h"
#include "support/EventLoop.h"
#include "support/FakeMessageService.h"
#include "ui/CaptureController.h"
#include "ui/CaptureFormatDialog.h"
#include "ui/CaptureSourceDialog.h"

namespace talvora {
namespace {

using test::FakeV4L2Device;
using test::RecordingCaptureBackend;

// The main window's preview panel and status label, and the capture unit over a back end.
struct Screen {
    QWidget window;
    QWidget* panel = new QWidget(&window);
    QLabel* label = new QLabel(&window);

    Screen() {
        window.resize(1000, 650);
        panel->setGeometry(0, 462, 250, 188);
    }
};

struct RecordingRig : Screen {
    RecordingCaptureBackend* backend = nullptr;
    bool factoryWorks = true;
    CaptureController cap{[this]() -> std::unique_ptr<CaptureBackend> {
        if (!factoryWorks)
            return nullptr;
        auto owned = std::make_unique<RecordingCaptureBackend>();
        backend = owned.get();
        backend->usableIndexes = usable;
        return owned;
    }};
    QList<int> usable = {0};

    RecordingRig() {
        cap.setVideoPanel(panel);
        cap.setStatusLabel(label);
    }
};

struct V4L2Rig : Screen {
    std::shared_ptr<FakeV4L2Device> device = std::make_shared<FakeV4L2Device>();
    CaptureController cap{[this] { return std::make_unique<V4L2Capture>(device); }};

    V4L2Rig() {
        cap.setVideoPanel(panel);
        cap.setStatusLabel(label);
    }
};

TEST(VideoCapTest, WithoutAPanelNoWindowIsCreated) {
    CaptureController cap([] { return std::make_unique<RecordingCaptureBackend>(); });
    EXPECT_FALSE(cap.createCaptureWindow());
    EXPECT_FALSE(cap.hasCaptureWindow());
    // Every operation is harmless without a window.
    EXPECT_FALSE(cap.connectDriver(0));
    cap.startPreview();
    cap.abortCapture();
    cap.showSourceDialog();
    cap.showFormatDialog();
    cap.destroyCaptureWindow();
    EXPECT_FALSE(cap.hasSourceDialog());
    EXPECT_FALSE(cap.hasFormatDialog());
    EXPECT_TRUE(cap.videoFormat().isEmpty());
    EXPECT_FALSE(cap.setVideoFormat(QByteArray(40, '\0')));
}

TEST(VideoCapTest, NoBackEndMeansNoWindow) {
    RecordingRig rig;
    rig.factoryWorks = false;
    EXPECT_FALSE(rig.cap.createCaptureWindow());
    EXPECT_FALSE(rig.cap.hasCaptureWindow());
    EXPECT_TRUE(rig.panel->findChildren<CaptureWindow*>().isEmpty());
}

TEST(VideoCapTest, CaptureWindowIsAChildOfThePanelWithItsSizeAtCreation) {
    RecordingRig rig;
    ASSERT_TRUE(rig.cap.createCaptureWindow());
    CaptureWindow* window = rig.cap.captureWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->parentWidget(), rig.panel);
    EXPECT_EQ(window->geometry(), QRect(0, 0, 250, 188));
    rig.panel->resize(400, 300);
    EXPECT_EQ(window->size(), QSize(250, 188));
}

TEST(VideoCapTest, CreationRegistersCallbacksThenSearchesDriversInOrder) {
    RecordingRig rig;
    rig.usable = {3, 5};
    ASSERT_TRUE(rig.cap.createCaptureWindow());
    EXPECT_EQ(rig.backend->log, QStringList({"no status callback", "status callback", "frame callback",
                                             "connect 0", "connect 1", "connect 2", "connect 3"}));
    EXPECT_EQ(rig.backend->connected, 3);
}

TEST(VideoCapTest, NoDriverAtAllStillGivesAWindowButNoFormat) {
    RecordingRig rig;
    rig.usable = {};
    ASSERT_TRUE(rig.cap.createCaptureWindow());
    EXPECT_EQ(rig.backend->log.filter("connect").size(), 10); // 0 to 9, no more
    EXPECT_TRUE(rig.cap.hasCaptureWindow());
    EXPECT_TRUE(rig.cap.videoFormat().isEmpty());
    EXPECT_FALSE(rig.cap.hasSourceDialog());
    EXPECT_FALSE(rig.cap.hasFormatDialog());
}

TEST(VideoCapTest, ADriverWhoseSettingsCannotBeWrittenDoesNotCount) {
    RecordingRig rig;
    ASSERT_TRUE(rig.cap.createCaptureWindow());
    rig.backend->sequenceSetupWorks = false;
    EXPECT_FALSE(rig.cap.connectDriver(0));
}

TEST(VideoCapTest, ConnectDriverWritesTheCaptureSettings) {
    RecordingRig rig;
    ASSERT_TRUE(rig.cap.createCaptureWindow());
    CaptureSettings driver;
    driver.microSecPerFrame = 33333;
    driver.yield = false;
    driver.captureAudio = false;
    driver.abortKey = 0;
    driver.abortLeftMouse = true;
    driver.abortRightMouse = true;
    driver.limitEnabled = true;
    driver.mciControl = true;
    rig.backend->driverSettings = driver;
    ASSERT_TRUE(rig.cap.connectDriver(0));

    CaptureSettings expected = driver;
    expected.microSecPerFrame = 66667;
    expected.yield = true;
    expected.captureAudio = true;
    expected.abortKey = 27;
    expected.abortLeftMouse = false;
    expected.abortRightMouse = false;
    expected.limitEnabled = false;
    expected.mciControl = false;
    EXPECT_EQ(rig.backend->writtenSettings, expected);
}

TEST(VideoCapTest, StartPreviewScalesAndRunsAt33Ms) {
    RecordingRig rig;
    ASSERT_TRUE(rig.cap.createCaptureWindow());
    rig.backend->log.clear();
    rig.cap.startPreview();
    EXPECT_TRUE(rig.cap.captureWindow()->scale());
    EXPECT_EQ(rig.backend->log, QStringList({"rate 33", "preview on"}));
}

TEST(VideoCapTest, AbortStopsThePreviewAndDestroyForgetsTheWindow) {
    RecordingRig rig;
    ASSERT_TRUE(rig.cap.createCaptureWindow());
    QPointer<CaptureWindow> window = rig.cap.captureWindow();
    rig.backend->log.clear();
    rig.cap.abortCapture();
    EXPECT_EQ(rig.backend->log, QStringList({"preview off"}));
    rig.cap.destroyCaptureWindow();
    EXPECT_FALSE(rig.cap.hasCaptureWindow());
    EXPECT_EQ(rig.cap.backend(), nullptr);
    ASSERT_TRUE(test::waitUntil([&] { return window.isNull(); }));
    rig.cap.destroyCaptureWindow(); // twice is harmless
    rig.cap.abortCapture();
}

TEST(VideoCapTest, DestroyOrderIsStatusThenFrameCallbackThenDisconnect) {
    // A back end that outlives the capture unit, so its log can be read afterwards.
    QStringList log;
    struct Logged final : RecordingCaptureBackend {
        QStringList* out = nullptr;
        ~Logged() override { *out = log; }
    };
    Screen screen;
    CaptureController cap([&] {
        auto backend = std::make_unique<Logged>();
        backend->out = &log;
        return backend;
    });
    cap.setVideoPanel(screen.panel);
    ASSERT_TRUE(cap.createCaptureWindow());
    cap.destroyCaptureWindow();
    ASSERT_GE(log.size(), 3);
    EXPECT_EQ(log.mid(log.size() - 3),
              QStringList({"no status callback", "no frame callback", "disconnect"}));
}

TEST(VideoCapTest, StatusTextsReachTheLabelReplacingTheLastOne) {
    RecordingRig rig;
    ASSERT_TRUE(rig.cap.createCaptureWindow());
    rig.backend->statusCallback(CaptureBackend::StatusId::Connected, QStringLiteral("first"));
    EXPECT_TRUE(test::waitUntil([&] { return rig.label->text() == QStringLiteral("first"); }));
    rig.backend->statusCallback(CaptureBackend::StatusId(77), QStringLiteral("second"));
    EXPECT_TRUE(test::waitUntil([&] { return rig.label->text() == QStringLiteral("second"); }));
    rig.cap.showStatus(CaptureBackend::StatusId::Format, QStringLiteral("third"));
    EXPECT_EQ(rig.label->text(), QStringLiteral("third"));
}

TEST(VideoCapTest, FramesGoThroughTheHandlerIntoThePreview) {
    RecordingRig rig;
    ASSERT_TRUE(rig.cap.createCaptureWindow());
    QList<QByteArray> handled;
    rig.cap.setFrameHandler([&](const uchar* data, qsizetype size) {
        handled.append(QByteArray(reinterpret_cast<const char*>(data), size));
        if (size == 1)
            return QImage(); // dropped
        QImage picture(384, 288, QImage::Format_RGB888);
        picture.fill(Qt::red);
        return picture;
    });
    rig.backend->fireFrame("x");
    rig.backend->fireFrame("frame");
    ASSERT_EQ(handled, QList<QByteArray>({"x", "frame"}));
    ASSERT_TRUE(test::waitUntil([&] { return rig.cap.captureWindow()->framesShown() == 1u; }));
    test::pumpEvents(20);
    EXPECT_EQ(rig.cap.captureWindow()->framesShown(), 1u);
    EXPECT_EQ(rig.cap.captureWindow()->currentFrame().size(), QSize(384, 288));
    // Scaled into the window: the whole window shows the picture.
    rig.cap.startPreview();
    const QImage shot = rig.cap.captureWindow()->grab().toImage();
    for (const QPoint at : {QPoint(1, 1), QPoint(248, 186)}) {
        const QRgb p = shot.pixel(at); // scaling may take a level or two off a channel
        EXPECT_TRUE(qRed(p) >= 250 && qGreen(p) == 0 && qBlue(p) == 0) << at.x();
    }
}

TEST(VideoCapTest, AnErrorLeavingTheFrameHandlerIsShownAndTheFrameDropped) {
    RecordingRig rig;
    test::FakeMessageService messages;
    rig.cap.setMessageService(&messages);
    ASSERT_TRUE(rig.cap.createCaptureWindow());
    rig.cap.setFrameHandler(
        [](const uchar*, qsizetype) -> QImage { throw Error(QStringLiteral("Out of memory")); });
    rig.backend->fireFrame("frame");
    EXPECT_TRUE(test::waitUntil([&] { return messages.texts() == QStringList({"Out of memory."}); }));
    EXPECT_EQ(rig.cap.captureWindow()->framesShown(), 0u);
}

// The window's thread closes the capture while the camera thread is in the middle of a frame:
// the close waits for that frame, then the device is released and its picture goes nowhere.
TEST(VideoCapTest, ClosingWhileAFrameIsInHandWaitsForIt) {
    V4L2Rig rig;
    FakeV4L2Device::Node node;
    node.formats = {{V4L2_PIX_FMT_GREY, {{4, 4}}, {}, {{1, 30}}}};
    rig.device->addNode(0, node);
    ASSERT_TRUE(rig.cap.createCaptureWindow());
    rig.cap.startPreview();
    std::atomic<int> started = 0, finished = 0;
    rig.cap.setFrameHandler([&](const uchar*, qsizetype) {
        ++started;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ++finished;
        return QImage(4, 4, QImage::Format_RGB888);
    });
    ASSERT_TRUE(rig.device->deliverFrame(QByteArray(16, '\x40')));
    ASSERT_TRUE(test::waitUntil([&] { return started == 1; }));
    rig.cap.destroyCaptureWindow();
    EXPECT_EQ(finished, 1);
    test::pumpEvents(20);
    EXPECT_FALSE(rig.cap.hasCaptureWindow());
    EXPECT_EQ(rig.device->openDescriptors(), 0);
}

TEST(VideoCapTest, MetadataNodeAtZeroAndCameraAtOnePicksOneAndPreviews) {
    V4L2Rig rig;
    rig.device->addNode(0, FakeV4L2Device::metadataNode());
    FakeV4L2Device::Node camera;
    camera.card = QStringLiteral("USB Camera");
    camera.formats = {{V4L2_PIX_FMT_MJPEG, {{640, 480}}, {}, {{1, 30}}},
                      {V4L2_PIX_FMT_YUYV, {{640, 480}, {320, 240}}, {}, {{1, 30}}}};
    rig.device->addNode(1, camera);
    ASSERT_TRUE(rig.cap.createCaptureWindow());
    ASSERT_TRUE(rig.cap.backend()->isConnected());
    CaptureDriverCaps caps;
    ASSERT_TRUE(rig.cap.backend()->getDriverCaps(caps));
    EXPECT_EQ(caps.deviceIndex, 1u);
    CaptureSettings settings;
    ASSERT_TRUE(rig.cap.backend()->getSequenceSetup(settings));
    EXPECT_EQ(settings.microSecPerFrame, 66667u);
    EXPECT_EQ(settings.abortKey, 27u);

    rig.cap.startPreview();
    EXPECT_EQ(rig.device->callsOf(VIDIOC_S_PARM).last().interval.denominator, 30u);
    std::atomic<int> frames = 0;
    rig.cap.setFrameHandler([&](const uchar*, qsizetype size) {
        ++frames;
        EXPECT_EQ(size, 320 * 240 * 2); // raw YUYV at the size nearest the program's 384x288
        return QImage(320, 240, QImage::Format_RGB888);
    });
    ASSERT_TRUE(rig.device->deliverFrame(QByteArray(320 * 240 * 2, '\x10')));
    ASSERT_TRUE(test::waitUntil([&] { return rig.cap.captureWindow()->framesShown() == 1u; }));
    EXPECT_EQ(frames, 1);
}

TEST(VideoCapTest, NoDeviceAtAllKeepsTheWindowWithoutAFormat) {
    V4L2Rig rig;
    ASSERT_TRUE(rig.cap.createCaptureWindow());
    EXPECT_TRUE(rig.cap.hasCaptureWindow());
    EXPECT_TRUE(rig.cap.videoFormat().isEmpty());
    rig.cap.startPreview();
    EXPECT_FALSE(rig.cap.backend()->isPreviewing());
}

TEST(VideoCapTest, UnplugDuringPreviewShowsAStatusText) {
    V4L2Rig rig;
    FakeV4L2Device::Node node;
    node.card = QStringLiteral("USB Camera");
    rig.device->addNode(0, node);
    ASSERT_TRUE(rig.cap.createCaptureWindow());
    rig.cap.startPreview();
    ASSERT_TRUE(rig.cap.backend()->isPreviewing());
    rig.device->unplug(0);
    ASSERT_TRUE(test::waitUntil([&] { return !rig.cap.backend()->isPreviewing(); }));
    // The camera thread stops first; the text crosses to the window's thread after it.
    test::waitUntil([&] { return !rig.label->text().isEmpty(); });
    EXPECT_EQ(rig.label->text(), QStringLiteral("The camera USB Camera was disconnected"));
    EXPECT_TRUE(rig.cap.hasCaptureWindow());
    rig.cap.abortCapture();
    rig.cap.destroyCaptureWindow();
}

TEST(VideoCapTest, FormatRequestGoesToTheDriverAndBack) {
    V4L2Rig rig;
    rig.device->addNode(0);
    ASSERT_TRUE(rig.cap.createCaptureWindow());
    BitmapInfoHeader h;
    h.biWidth = 384;
    h.biHeight = 288;
    h.biBitCount = 24;
    QByteArray block(40, '\0');
    writeBitmapInfoHeader(block.data(), h);
    EXPECT_TRUE(rig.cap.setVideoFormat(block));
    const BitmapInfoHeader got = readBitmapInfoHeader(rig.cap.videoFormat().constData());
    EXPECT_EQ(got.biWidth, 320); // the fake camera offers 640x480 and 320x240
    EXPECT_EQ(got.biCompression, kFourccYUY2);
}

TEST(VideoCapTest, TestCameraThroughTheCaptureWindow) {
    Screen screen;
    test::ManualFrameTicker* ticker = nullptr;
    CaptureController cap([&] {
        auto owned = std::make_unique<test::ManualFrameTicker>();
        ticker = owned.get();
        return std::make_unique<TestCamera>(TestCameraConfig{kFourccI420, 320, 240}, std::move(owned));
    });
    cap.setVideoPanel(screen.panel);
    cap.setStatusLabel(screen.label);
    ASSERT_TRUE(cap.createCaptureWindow());
    EXPECT_TRUE(
        test::waitUntil([&] { return screen.label->text() == QStringLiteral("Video format I420 320x240"); }));
    cap.startPreview();
    EXPECT_EQ(ticker->intervalMsSeen, 33);
    qsizetype seen = 0;
    cap.setFrameHandler([&](const uchar*, qsizetype size) {
        seen = size;
        return QImage();
    });
    ticker->tick();
    EXPECT_EQ(seen, 320 * 240 * 3 / 2);
    EXPECT_TRUE(cap.hasSourceDialog());
    EXPECT_TRUE(cap.hasFormatDialog());
}

TEST(VideoCapTest, DriverDialogsRunModallyOnlyWithADriver) {
    V4L2Rig rig;
    QStringList shown;
    rig.cap.setDialogRunner([&](QDialog& dialog) { shown << dialog.metaObject()->className(); });
    ASSERT_TRUE(rig.cap.createCaptureWindow()); // no device
    rig.cap.showSourceDialog();
    rig.cap.showFormatDialog();
    EXPECT_TRUE(shown.isEmpty());
    rig.cap.destroyCaptureWindow();
    rig.device->addNode(0);
    ASSERT_TRUE(rig.cap.createCaptureWindow());
    rig.cap.showSourceDialog();
    rig.cap.showFormatDialog();
    EXPECT_EQ(shown, QStringList({"talvora::CaptureSourceDialog", "talvora::CaptureFormatDialog"}));
}

} // namespace
} // namespace talvora
