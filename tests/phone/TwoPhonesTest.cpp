// Two complete phones in one process, bound to two loopback addresses, talking over the real
// signalling and video ports: the main windows, call sessions, test cameras, frame buffers and
// JPEG transport, with a fake voice engine and message boxes.
#include "call/CallSession.h"
#include "ui/CallingDialog.h"
#include "call/SignalEndpoint.h"
#include "ui/MainWindow.h"
#include "convert/FrameBuffers.h"
#include "ui/PictureView.h"
#include "capture/TestCamera.h"
#include "ui/CaptureController.h"
#include "transport/VideoReceiver.h"
#include "voice/FakeSpeakerVolume.h"

#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include "call/CallFakes.h"
#include "support/EventLoop.h"
#include "support/FakeMessageService.h"
#include "support/QtPrinters.h"
#include "capture/ManualFrameTicker.h"

namespace talvora {
namespace {

using test::waitUntil;

// Runs `action` from the event loop once `ready` holds, e.g. once a modal dialog is up; after a
// generous bound it runs anyway, so that a broken phone fails the test instead of hanging it.
void whenReady(std::function<bool()> ready, std::function<void()> action) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QDeadlineTimer deadline(10000);
    QObject::connect(poll, &QTimer::timeout, [poll, ready, action, deadline] {
        if (ready() || deadline.hasExpired()) {
            EXPECT_TRUE(ready());
            poll->stop();
            poll->deleteLater();
            action();
        }
    });
    poll->start();
}

struct Phone {
    explicit Phone(const char* address) {
        window = std::make_unique<MainWindow>(
            MainWindowContext{messages, ConfigLocation(config.path(), config.path()),
                              NetworkConfig{QHostAddress(QString(address))}, videoCap, frames, speaker});
        calling = new CallingDialog(window.get());
        window->attachCallSession(*calling, voice);
        window->show();
        window->activateWindow();
    }
    // Hands one frame of the test camera to the frame handler.
    void frame() { ticker->tick(); }
    CallSession& call() { return window->callSession(); }

    QTemporaryDir config;
    test::FakeMessageService messages;
    test::ManualFrameTicker* ticker = nullptr;
    CaptureController videoCap{[this] {
        auto t = std::make_unique<test::ManualFrameTicker>();
        ticker = t.get();
        return std::make_unique<TestCamera>(TestCameraConfig{}, std::move(t));
    }};
    FrameBuffers frames{messages};
    FakeSpeakerVolume speaker;
    test::FakeVoiceFactory voice;
    std::unique_ptr<MainWindow> window;
    CallingDialog* calling = nullptr;
};

class TwoPhonesTest : public ::testing::Test {
protected:
    Phone a{"127.0.0.31"};
    Phone b{"127.0.0.32"};

    void SetUp() override {
        ASSERT_TRUE(waitUntil([&] { return a.window->activated() && b.window->activated(); }));
        ASSERT_TRUE(a.window->videoReceiver().isOpen());
        ASSERT_TRUE(b.window->videoReceiver().isOpen());
    }

    // A calls B; B answers while A waits in its modal calling dialog.
    void connect() {
        a.window->edtHostName->setText("127.0.0.32");
        QTimer::singleShot(0, [&] {
            ASSERT_TRUE(waitUntil([&] { return b.call().ringing(); }));
            EXPECT_EQ(b.window->lblCallerID->text(), "127.0.0.31 hailing...");
            b.window->onCallClicked();
        });
        a.window->onCallClicked(); // returns when the Accept closes the dialog
        ASSERT_NE(a.call().voiceSession(), nullptr);
        ASSERT_NE(b.call().voiceSession(), nullptr);
    }
};

TEST_F(TwoPhonesTest, PicturesFlowBothWaysOnlyDuringTheCallAndEndIsLocal) {
    a.frame();
    b.frame();
    test::pumpEvents(150);
    EXPECT_EQ(a.window->Image1->picture(), a.window->Image12); // nothing is sent outside a call
    EXPECT_EQ(b.window->Image1->picture(), b.window->Image12);

    connect();
    EXPECT_EQ(a.voice.log.filter("SetRemoteAddress"), QStringList{"#1 SetRemoteAddress 127.0.0.32"});
    EXPECT_EQ(b.voice.log.filter("SetRemoteAddress"), QStringList{"#1 SetRemoteAddress 127.0.0.31"});

    a.frame();
    b.frame();
    ASSERT_TRUE(waitUntil([&] { return a.window->Image1->picture().size() == QSize(384, 288); }));
    ASSERT_TRUE(waitUntil([&] { return b.window->Image1->picture().size() == QSize(384, 288); }));
    EXPECT_EQ(a.window->FJpegQuality, 100); // a 384x288 picture fits one datagram at once

    // End on A: its voice stops and its idle picture returns; B goes on sending until its own End.
    a.window->onEndClicked();
    EXPECT_EQ(a.call().voiceSession(), nullptr);
    EXPECT_EQ(a.window->Image1->picture(), a.window->Image12);
    EXPECT_NE(b.call().voiceSession(), nullptr);
    EXPECT_NE(b.window->Image1->picture(), b.window->Image12);
    EXPECT_TRUE(a.messages.boxes.isEmpty());
    EXPECT_TRUE(b.messages.boxes.isEmpty());
}

TEST_F(TwoPhonesTest, AFormatChangeChangesThePictureSizeThePeerReceives) {
    connect();
    CaptureFormatChoice choice = a.videoCap.backend()->currentFormatChoice();
    choice.width = 160;
    choice.height = 120;
    ASSERT_TRUE(a.videoCap.backend()->applyFormatChoice(choice));
    a.frames.ReadCaptureFormat(a.videoCap); // what the video options dialog does after the format dialog
    a.frame();
    ASSERT_TRUE(waitUntil([&] { return b.window->Image1->picture().size() == QSize(160, 120); }));
}

TEST_F(TwoPhonesTest, UnansweredCallShowsTheCalleesMessageAndCancelEndsTheRinging) {
    b.call().settings().unansweredMessage = "Out to lunch";
    b.call().settings().ringTimeMs = 200;
    a.window->edtHostName->setText("127.0.0.32");
    // The ring time runs out on B, which sends its message; A's dialog shows it, and A withdraws.
    whenReady([&] { return a.calling->isVisible() && a.calling->Label1->text() == "Out to lunch"; },
              [&] {
                  EXPECT_TRUE(b.call().incomingCall());
                  EXPECT_FALSE(b.call().ringing());
                  a.calling->onCancelClicked();
              });
    a.window->onCallClicked();
    EXPECT_FALSE(a.call().inCall());
    ASSERT_TRUE(waitUntil([&] { return !b.call().incomingCall(); }));
    EXPECT_EQ(b.window->lblCallerID->text(), "");
    EXPECT_EQ(a.voice.created + b.voice.created, 0);
}

} // namespace
} // namespace talvora
