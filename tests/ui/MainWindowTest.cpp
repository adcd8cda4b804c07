#include "ui/MainWindow.h"

#include "call/CallSession.h"
#include "ui/CallingDialog.h"
#include "call/SignalEndpoint.h"
#include "convert/FrameBuffers.h"
#include "transport/JpegCodec.h"
#include "capture/ManualFrameTicker.h"
#include "ui/PictureView.h"
#include "capture/TestCamera.h"
#include "capture/V4L2Capture.h"
#include "ui/CaptureController.h"
#include "transport/VideoReceiver.h"
#include "voice/SpeakerVolume.h"
#include "ui/PictureButton.h"
#include "ui/TrackBar.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <sys/fsuid.h>

#include "call/CallFakes.h"
#include "support/EventLoop.h"
#include "support/FakeMessageService.h"
#include "support/QtPrinters.h"

namespace talvora {
namespace {

using test::FakeMessageService;
using test::ManualFrameTicker;
using test::waitUntil;

class MainWindowTest : public ::testing::Test {
protected:
    QTemporaryDir config;
    FakeMessageService messages;
    // The test camera, stepped by hand; `noCamera` makes the V4L2 back end find no device.
    bool noCamera = false;
    ManualFrameTicker* ticker = nullptr;
    CaptureController videoCap{[this]() -> std::unique_ptr<CaptureBackend> {
        if (noCamera) {
            return std::make_unique<V4L2Capture>(std::make_shared<SystemV4L2Device>(),
                                                 QStringLiteral("/nonexistent/video%1"));
        }
        auto t = std::make_unique<ManualFrameTicker>();
        ticker = t.get();
        return std::make_unique<TestCamera>(TestCameraConfig{}, std::move(t));
    }};
    FrameBuffers frames{messages};
    FakeSpeakerVolume speaker;
    test::FakeVoiceFactory voice;

    void writeSettings(const QByteArray& text) {
        QFile f(config.filePath("Settings.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QByteArray settingsFile() {
        QFile f(config.filePath("Settings.ini"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    std::unique_ptr<MainWindow> makeWindow(const char* bindAddress = "127.0.0.20") {
        auto w = std::make_unique<MainWindow>(
            MainWindowContext{messages, ConfigLocation(config.path(), config.path()),
                              NetworkConfig{QHostAddress(QString(bindAddress))}, videoCap, frames, speaker});
        auto* calling = new CallingDialog(w.get()); // owned by the window, like the program's
        w->attachCallSession(*calling, voice);
        return w;
    }
    static void activate(MainWindow& w) {
        w.show();
        w.activateWindow();
        ASSERT_TRUE(waitUntil([&] { return w.activated(); }));
    }
};

TEST_F(MainWindowTest, LooksAsSpecifiedBeforeActivation) {
    auto w = makeWindow();
    EXPECT_EQ(w->objectName(), "frmMain");
    EXPECT_EQ(w->windowTitle(), "Brisko Talvora Video Phone...");
    EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(w->size(), QSize(1000, 650));
    EXPECT_EQ(w->RbPanel1->geometry(), QRect(800, 0, 200, 650));
    EXPECT_EQ(w->Panel1->geometry(), QRect(0, 0, 800, 650));
    EXPECT_EQ(w->edtHostName->text(), "Hailing Frequency...");
    EXPECT_EQ(w->edtHostName->geometry(), QRect(24, 152, 153, 24));
    EXPECT_EQ(w->Image4->geometry(), QRect(24, 80, 48, 48));
    EXPECT_EQ(w->btnEnd->geometry(), QRect(125, 80, 52, 52));
    EXPECT_FALSE(w->btnCall->isVisibleTo(w.get()));
    EXPECT_EQ(w->Image6->toolTip(), "Hailing Frequencies...");
    EXPECT_EQ(w->btnAddress->toolTip(), "Address Book...");
    EXPECT_EQ(w->Image10->toolTip(), "Close Talvora");
    EXPECT_EQ(w->Image4->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(w->TrbMic->geometry(), QRect(32, 416, 35, 180));
    EXPECT_EQ(w->TrbVoice->maximum(), 65535);
    EXPECT_EQ(w->pnlVideoArea->geometry(), QRect(0, 440, 250, 188));
    EXPECT_EQ(w->lblVideoArea->text(), "lblIPAddress");
    EXPECT_EQ(w->Label3->text(), "85");
    EXPECT_EQ(w->Image12.size(), QSize(800, 600));
    EXPECT_FALSE(w->signalling().isOpen()); // receivers stay closed until activation
}

TEST_F(MainWindowTest, ActivationWithoutSettingsFileUsesDefaults) {
    auto w = makeWindow();
    activate(*w);
    EXPECT_EQ(w->lblIPAddress->text(), "127.0.0.20"); // the bound address is the one peers call
    EXPECT_EQ(w->callSession().settings().ringTone, "");
    EXPECT_EQ(w->callSession().settings().ringTimeMs, 10000);
    EXPECT_EQ(w->callSession().settings().unansweredMessage, "Unanswered");
    EXPECT_EQ(w->callSession().settings().callerId, "127.0.0.20");
    EXPECT_EQ(w->TrbMic->position(), 85);
    EXPECT_EQ(w->Label3->text(), "85");
    EXPECT_EQ(w->FMicLevel, 85);
    EXPECT_EQ(w->FJpegQuality, 100);
    EXPECT_EQ(w->pnlVideoArea->geometry(), QRect(0, 462, 250, 188));
    EXPECT_TRUE(w->signalling().isOpen());
    EXPECT_TRUE(w->videoReceiver().isOpen());
    EXPECT_TRUE(w->FVideoStarted);
    EXPECT_TRUE(messages.boxes.isEmpty());
    EXPECT_FALSE(QFile::exists(config.filePath("Settings.ini")));
}

TEST_F(MainWindowTest, TestCameraPreviewRunsAndNothingIsSentOutsideACall) {
    QUdpSocket peer;
    ASSERT_TRUE(peer.bind(QHostAddress("127.0.0.22"), kVideoPort));
    auto w = makeWindow();
    w->edtHostName->setText("127.0.0.22");
    activate(*w);
    ASSERT_NE(ticker, nullptr);
    EXPECT_EQ(frames.formatKind(), FormatKind::YUY2);
    for (int i = 0; i < 3; ++i) {
        ticker->tick();
    }
    const QImage picture = frames.frameBitmap();
    EXPECT_EQ(picture.size(), QSize(384, 288));
    test::pumpEvents(100);
    EXPECT_FALSE(peer.hasPendingDatagrams());
    EXPECT_FALSE(w->lblVideoArea->text().isEmpty());
}

TEST_F(MainWindowTest, NoCameraShowsTheWebCamMessageAndLeavesVideoOff) {
    noCamera = true;
    auto w = makeWindow();
    activate(*w);
    ASSERT_EQ(messages.boxes.size(), 1);
    EXPECT_EQ(messages.boxes[0].kind, FakeMessageService::Kind::Error);
    EXPECT_EQ(messages.boxes[0].text,
              "WebCam not found. Try using a different codec eg. YUV2, RGB, or I420.");
    EXPECT_FALSE(w->FVideoStarted);
    EXPECT_FALSE(w->videoReceiver().isOpen());
    EXPECT_TRUE(w->signalling().isOpen()); // calls still work
    w->close();                            // and shutting down without a camera is quiet
    EXPECT_EQ(messages.boxes.size(), 1);
}

TEST_F(MainWindowTest, FirstVideoDatagramNamesThePeerAndPicturesReplaceTheIdlePicture) {
    auto w = makeWindow();
    w->edtHostName->setText("peer.example");
    activate(*w);
    QImage sent(64, 48, QImage::Format_RGB888);
    sent.fill(QColor(200, 30, 30));
    QUdpSocket stranger;
    ASSERT_TRUE(stranger.bind(QHostAddress("127.0.0.23"), 0));
    const QByteArray garbage("not a picture");
    stranger.writeDatagram(garbage, QHostAddress("127.0.0.20"), kVideoPort);
    ASSERT_TRUE(waitUntil([&] { return w->FVideoPeerKnown; }));
    EXPECT_EQ(w->edtHostName->text(), "127.0.0.23");
    EXPECT_EQ(w->Image1->picture(), w->Image12); // an undecodable datagram changes nothing on show

    stranger.writeDatagram(encodeJpeg(sent, 90), QHostAddress("127.0.0.20"), kVideoPort);
    ASSERT_TRUE(waitUntil([&] { return w->Image1->picture().size() == QSize(64, 48); }));
    EXPECT_EQ(w->edtHostName->text(), "127.0.0.23");
}

TEST_F(MainWindowTest, MicVolumeAboveRangeClampsSliderButKeepsLevel) {
    writeSettings("[Settings]\nmicVolume=150\n");
    auto w = makeWindow();
    activate(*w);
    EXPECT_EQ(w->TrbMic->position(), 100);
    EXPECT_EQ(w->Label3->text(), "100");
    EXPECT_EQ(w->FMicLevel, 150);
    // Maximise / restore applies the level through the slider again.
    w->SpeedButton8Click();
    EXPECT_EQ(w->FMicLevel, 100);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainWindowTest, BadRingTimeIsReportedAndThePhoneStillListens) {
    writeSettings("[Settings]\nRingTime=ten\nMessage=Away\nmicVolume=40\n");
    auto w = makeWindow();
    activate(*w);
    ASSERT_EQ(messages.boxes.size(), 1);
    EXPECT_EQ(messages.boxes[0].kind, FakeMessageService::Kind::Error);
    EXPECT_EQ(messages.boxes[0].caption, "Talvora Video Phone");
    EXPECT_EQ(messages.boxes[0].text, "'ten' is not a valid integer value.");
    EXPECT_EQ(w->callSession().settings().ringTimeMs, 10000);
    EXPECT_EQ(w->callSession().settings().unansweredMessage, "Away");
    EXPECT_EQ(w->TrbMic->position(), 40);
    EXPECT_TRUE(w->signalling().isOpen());
}

TEST_F(MainWindowTest, TakenSignallingPortStopsActivationWithTheBindMessage) {
    QUdpSocket squatter;
    ASSERT_TRUE(squatter.bind(QHostAddress("127.0.0.21"), kSignalPort));
    auto w = makeWindow("127.0.0.21");
    activate(*w);
    ASSERT_EQ(messages.boxes.size(), 1);
    EXPECT_EQ(messages.boxes[0].text, "Could not bind socket. Address and port are already in use.");
    EXPECT_EQ(w->FJpegQuality, 0); // the steps after the port were not run
}

TEST_F(MainWindowTest, ActivationRunsOnceAcrossModalDialogs) {
    auto w = makeWindow();
    activate(*w);
    w->TrbMic->setPosition(40);

    QDialog dialog(w.get());
    QTimer::singleShot(50, &dialog, &QDialog::accept);
    dialog.exec();
    w->activateWindow();
    test::pumpEvents(100);
    EXPECT_EQ(w->TrbMic->position(), 40); // a second run would have reset it to 85
}

TEST_F(MainWindowTest, SliderSetFromCodeAlwaysRunsItsHandler) {
    auto w = makeWindow();
    int changes = 0;
    QObject::connect(w->TrbVoice, &TrackBar::changed, [&] { ++changes; });
    w->TrbVoice->setPosition(70000);
    EXPECT_EQ(w->TrbVoice->position(), 65535);
    w->TrbVoice->setPosition(65535);
    EXPECT_EQ(changes, 2);
    w->TrbMic->setPosition(-4);
    EXPECT_EQ(w->Label3->text(), "0");
    EXPECT_EQ(w->FMicLevel, 0);
}

TEST_F(MainWindowTest, ClosingStoresTheMicrophoneSliderAndKeepsOtherKeys) {
    writeSettings("[Settings]\nRingTime=5\nmicVolume=85\n");
    auto w = makeWindow();
    activate(*w);
    w->TrbMic->setPosition(0);
    w->btnExitClick();
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(settingsFile(), "[Settings]\nRingTime=5\nmicVolume=0\n");
    EXPECT_TRUE(messages.boxes.isEmpty());
}

TEST_F(MainWindowTest, ClosingWithReadOnlySettingsShowsTheErrorAndStillEnds) {
    writeSettings("[Settings]\nmicVolume=85\n");
    auto w = makeWindow();
    activate(*w);
    QFile::setPermissions(config.path(),
                          QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    QFile::setPermissions(config.filePath("Settings.ini"), QFile::ReadOwner | QFile::ReadOther);
    const int old = ::setfsuid(65534); // root would ignore the permissions
    w->close();
    ::setfsuid(old);
    QFile::setPermissions(config.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_EQ(messages.boxes.size(), 1);
    EXPECT_EQ(messages.boxes[0].text, "Unable to write to " + config.filePath("Settings.ini"));
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(settingsFile(), "[Settings]\nmicVolume=85\n");
}

TEST_F(MainWindowTest, AnyMouseButtonOnPanelOrPictureStartsAMove) {
    auto w = makeWindow();
    activate(*w);
    const QPoint start = w->pos();
    // Without a window manager the system move is refused and the window follows the mouse.
    for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton, Qt::LeftButton}) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 300),
                          w->RbPanel1->mapToGlobal(QPointF(5, 300)), button, button, Qt::NoModifier);
        QApplication::sendEvent(w->RbPanel1, &press);
        QMouseEvent move(QEvent::MouseMove, QPointF(25, 310),
                         w->RbPanel1->mapToGlobal(QPointF(5, 300)) + QPointF(20, 10), Qt::NoButton, button,
                         Qt::NoModifier);
        QApplication::sendEvent(w->RbPanel1, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(25, 310), QPointF(), button, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(w->RbPanel1, &release);
    }
    EXPECT_EQ(w->pos(), start + QPoint(60, 30));
}

} // namespace
} // namespace talvora

namespace talvora {
namespace {

// Levels with a call: a call request rings, Call answers it, and the fake engine logs what the
// session was told.
class LevelControlsTest : public MainWindowTest {
protected:
    std::unique_ptr<MainWindow> w;
    void SetUp() override {
        w = makeWindow("127.0.0.24");
        activate(*w);
    }
    void connectCall() {
        w->callSession().callRequestReceived("Bob", "127.0.0.25");
        w->onCallClicked();
        ASSERT_NE(w->callSession().voiceSession(), nullptr);
    }
    QStringList levelsSent() const { return voice.log.filter("SetMicLevel"); }
};

TEST_F(LevelControlsTest, MuteWithoutACallChangesNothing) {
    w->TrbMic->setPosition(60);
    w->btnMuteClick();
    EXPECT_EQ(w->TrbMic->position(), 60);
    EXPECT_EQ(w->Label3->text(), "60");
    EXPECT_EQ(w->FMicLevel, 60);
    EXPECT_EQ(w->FSavedMicLevel, 0);
}

TEST_F(LevelControlsTest, MuteAndUnmuteDuringACall) {
    w->TrbMic->setPosition(60);
    connectCall();
    EXPECT_EQ(levelsSent(), QStringList{"#1 SetMicLevel 60"}); // the call starts at the slider's level
    w->btnMuteClick();
    EXPECT_EQ(w->TrbMic->position(), 0);
    EXPECT_EQ(w->Label3->text(), "0");
    w->btnMuteClick();
    EXPECT_EQ(w->TrbMic->position(), 60);
    EXPECT_EQ(w->Label3->text(), "60");
    EXPECT_EQ(levelsSent(), (QStringList{"#1 SetMicLevel 60", "#1 SetMicLevel 0", "#1 SetMicLevel 60"}));
}

TEST_F(LevelControlsTest, MutedBeforeTheCallStaysSilentAndFirstMuteUnmutes) {
    connectCall();
    w->btnMuteClick(); // muted during a first call, at 85
    w->onEndClicked();
    connectCall();
    EXPECT_EQ(levelsSent().last(), "#2 SetMicLevel 0"); // not put on the air behind a slider at 0
    w->btnMuteClick();
    EXPECT_EQ(w->TrbMic->position(), 85);
    EXPECT_EQ(levelsSent().last(), "#2 SetMicLevel 85");
}

TEST_F(LevelControlsTest, SliderDraggedToZeroThenMuteKeepsZero) {
    connectCall();
    w->TrbMic->setPosition(0);
    w->btnMuteClick();
    EXPECT_EQ(w->TrbMic->position(), 0);
    EXPECT_EQ(w->FMicLevel, 0);
}

TEST_F(LevelControlsTest, MaximiseDuringACallSendsTheLevelAgain) {
    connectCall();
    w->TrbMic->setPosition(30);
    w->SpeedButton8Click();
    EXPECT_EQ(levelsSent().last(), "#1 SetMicLevel 30");
    w->SpeedButton8Click();
}

TEST_F(MainWindowTest, MicVolumeAboveRangeThenMuteSavesTheClampedLevel) {
    writeSettings("[Settings]\nmicVolume=150\n");
    auto w = makeWindow("127.0.0.26");
    activate(*w);
    w->callSession().callRequestReceived("Bob", "127.0.0.27");
    w->onCallClicked();
    EXPECT_EQ(w->FMicLevel, 150);
    w->btnMuteClick();
    EXPECT_EQ(w->FSavedMicLevel, 100);
}

TEST_F(MainWindowTest, SpeakerVolumeStartsFromTheLeftChannelAndWritesBoth) {
    speaker.left = 40000;
    speaker.right = 20000;
    auto w = makeWindow();
    activate(*w);
    EXPECT_EQ(w->TrbVoice->position(), 40000);
    EXPECT_EQ(speaker.left, 40000);
    EXPECT_EQ(speaker.right, 40000);
    w->TrbVoice->setPosition(65535);
    EXPECT_EQ(speaker.left, 65535);
    EXPECT_EQ(speaker.right, 65535);
    w->TrbVoice->setPosition(0);
    EXPECT_EQ(speaker.left, 0);
    EXPECT_EQ(speaker.right, 0);
}

TEST_F(MainWindowTest, SpeakerWithoutVolumeControlLeavesTheSliderAtMiddle) {
    speaker.hasVolumeControl = false;
    auto w = makeWindow();
    activate(*w);
    EXPECT_EQ(w->TrbVoice->position(), 32767);
    EXPECT_EQ(speaker.writes, 0);
}

} // namespace
} // namespace talvora
