// Two complete phones in one process, bound to two loopback addresses, talking over the real
// signalling and video ports: the main windows, call sessions, test cameras, frame buffers and
// JPEG transport, with a fake voice engine and message boxes.
#include "call/CallSession.h"
#include "call/RingTimer.h"
#include "call/SignalEndpoint.h"
#include "capture/TestCamera.h"
#include "convert/FrameBuffers.h"
#include "link/PeerLink.h"
#include "phone/CallMonitor.h"
#include "phone/Phone.h"
#include "transport/VideoReceiver.h"
#include "ui/CallingDialog.h"
#include "ui/CaptureController.h"
#include "ui/MainWindow.h"
#include "ui/PhoneAssembly.h"
#include "ui/PictureView.h"
#include "voice/FakeSpeakerVolume.h"
#include "voice/SpeakerVolume.h"
#include <QPushButton>

#include <QBuffer>
#include <QDeadlineTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "support/Controls.h"

#include "call/CallFakes.h"
#include "capture/ManualFrameTicker.h"
#include "support/EventLoop.h"
#include "support/FakeMessageService.h"
#include "support/QtPrinters.h"

namespace talvora {
namespace {

using test::waitUntil;

template <class T> T& control(PhoneAssembly& phone, const char* name) {
    return *test::control<T>(phone.mainWindow(), name);
}

// One phone as the program wires it, with a test camera stepped by hand and fake voice, ring
// tone and message boxes.
struct TestPhone {
    explicit TestPhone(const char* address, bool linkPort = true) {
        assembly = std::make_unique<PhoneAssembly>(
            PhoneServices{messages, speaker,
                          [this] {
                              auto t = std::make_unique<test::ManualFrameTicker>();
                              ticker = t.get();
                              return std::make_unique<TestCamera>(TestCameraConfig{}, std::move(t));
                          },
                          voice, [] { return std::make_unique<test::FakeRingTonePlayer>(); },
                          [] { return std::make_unique<QtRingTimer>(); },
                          NetworkConfig{QHostAddress(QString(address)), linkPort},
                          ConfigLocation(config.path(), config.path())});
        calling = &assembly->callingDialog();
        window = &assembly->mainWindow();
        assembly->start();
        window->show();
    }
    // Hands one frame of the test camera to the frame handler.
    void frame() { ticker->tick(); }
    Phone& phone() { return assembly->phone(); }
    CallSession& call() { return *phone().callSession(); }
    QLineEdit& hostEdit() { return control<QLineEdit>(*assembly, "edtHostName"); }
    QLabel& callerLabel() { return control<QLabel>(*assembly, "lblCallerID"); }
    QLabel& statusLine() { return control<QLabel>(*assembly, "lblVideoArea"); }
    QLabel& privacyLine() { return control<QLabel>(*assembly, "lblPrivacy"); }
    const QImage& picture() { return control<PictureView>(*assembly, "Image1").picture(); }
    const QImage& idlePicture() { return control<PictureView>(*assembly, "Image1").idlePicture(); }
    void click(const char* button) { control<QPushButton>(*assembly, button).click(); }

    QTemporaryDir config;
    test::FakeMessageService messages;
    test::ManualFrameTicker* ticker = nullptr;
    FakeSpeakerVolume speaker;
    test::FakeVoiceFactory voice;
    std::unique_ptr<PhoneAssembly> assembly;
    MainWindow* window = nullptr;
    CallingDialog* calling = nullptr;
};

class TwoPhonesTest : public ::testing::Test {
protected:
    TestPhone a{"127.0.0.31"};
    TestPhone b{"127.0.0.32"};

    void SetUp() override {
        ASSERT_TRUE(a.phone().videoReceiver().isOpen());
        ASSERT_TRUE(b.phone().videoReceiver().isOpen());
    }

    // A calls B; B answers while A's calling dialog is up.
    void connect() {
        a.hostEdit().setText("127.0.0.32");
        a.click("btnCall");
        EXPECT_TRUE(a.calling->isVisible());
        ASSERT_TRUE(waitUntil([&] { return b.call().ringing(); }));
        EXPECT_EQ(b.callerLabel().text(), "127.0.0.31 hailing...");
        b.click("btnCall");
        ASSERT_TRUE(waitUntil([&] { return !a.calling->isVisible(); })); // the Accept closed it
        ASSERT_NE(a.call().voiceSession(), nullptr);
        ASSERT_NE(b.call().voiceSession(), nullptr);
        // Pictures leave once the call's keys are agreed; a frame taken before is held back.
        ASSERT_TRUE(waitUntil([&] {
            return a.privacyLine().text().startsWith("Encrypted") &&
                   b.privacyLine().text().startsWith("Encrypted");
        }));
    }
};

// One JPEG picture, as a stranger on the LAN would send it to the picture port.
void sendStrangersPicture(const char* to) {
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPEG");
    QUdpSocket stranger;
    ASSERT_TRUE(stranger.bind(QHostAddress("127.0.0.39"), 0));
    ASSERT_EQ(stranger.writeDatagram(jpeg, QHostAddress(to), kVideoPort), jpeg.size());
}

TEST_F(TwoPhonesTest, PicturesFlowBothWaysOnlyDuringTheCall) {
    a.frame();
    b.frame();
    sendStrangersPicture("127.0.0.32");
    ASSERT_TRUE(waitUntil([&] { return b.phone().videoReceiver().counters().strangers == 1; }));
    test::pumpEvents(150);
    EXPECT_EQ(a.picture(), a.idlePicture()); // nothing is sent outside a call
    EXPECT_EQ(b.picture(), b.idlePicture()); // and a stranger's picture is not shown

    connect();
    EXPECT_EQ(a.voice.log.filter("SetRemoteAddress"), QStringList{"#1 SetRemoteAddress 127.0.0.32"});
    EXPECT_EQ(b.voice.log.filter("SetRemoteAddress"), QStringList{"#1 SetRemoteAddress 127.0.0.31"});

    a.frame();
    b.frame();
    ASSERT_TRUE(waitUntil([&] { return a.picture().size() == QSize(384, 288); }));
    ASSERT_TRUE(waitUntil([&] { return b.picture().size() == QSize(384, 288); }));
    EXPECT_EQ(a.phone().jpegQuality(), 100); // a 384x288 picture fits one datagram at once
    EXPECT_TRUE(a.messages.boxes.isEmpty());
    EXPECT_TRUE(b.messages.boxes.isEmpty());
}

// End on either side ends the call on both when both are Talvora phones: the hang-up goes over
// the link port. The side that pressed End says nothing; the other names who hung up.
TEST_F(TwoPhonesTest, HangingUpEndsTheCallOnBothSides) {
    struct Case {
        bool callerHangsUp;
        const char* line; // the other side's status line
    };
    for (const Case& c :
         {Case{true, "127.0.0.31 ended the call"}, Case{false, "127.0.0.32 ended the call"}}) {
        SCOPED_TRACE(c.callerHangsUp ? "the caller hangs up" : "the callee hangs up");
        connect();
        ASSERT_TRUE(waitUntil([&] {
            return a.phone().link().peerKind() == PeerLink::PeerKind::Talvora &&
                   b.phone().link().peerKind() == PeerLink::PeerKind::Talvora;
        }));
        TestPhone& ender = c.callerHangsUp ? a : b;
        TestPhone& other = c.callerHangsUp ? b : a;
        ender.click("btnEnd");
        ASSERT_TRUE(waitUntil([&] { return !other.call().inCall(); }));
        EXPECT_EQ(other.call().voiceSession(), nullptr);
        EXPECT_EQ(other.picture(), other.idlePicture());
        EXPECT_EQ(other.statusLine().text(), c.line);
        EXPECT_TRUE(a.messages.boxes.isEmpty());
        EXPECT_TRUE(b.messages.boxes.isEmpty());
    }
}

// A Talvora peer whose hang-up never arrived (lost, or the phone crashed) sends no reports
// either: after 30 s of nothing the call ends by itself and says why.
TEST_F(TwoPhonesTest, ACallWhoseHangUpWasLostEndsAfterThirtySecondsOfNothing) {
    connect();
    ASSERT_TRUE(waitUntil([&] { return b.phone().link().peerKind() == PeerLink::PeerKind::Talvora; }));
    a.phone().link().endCall(); // A forgets B: its End sends nothing, and its reports stop
    a.click("btnEnd");
    b.phone().checkPeerActivity(); // takes in what was already on its way
    int seconds = 0;
    for (; seconds < 20; ++seconds) {
        b.phone().checkPeerActivity();
    }
    EXPECT_TRUE(b.call().inCall()) << "not yet";
    EXPECT_EQ(b.statusLine().text(), "No pictures or voice from 127.0.0.31 for 10 s");
    for (; seconds < 40 && b.call().inCall(); ++seconds) {
        b.phone().checkPeerActivity();
    }
    EXPECT_EQ(seconds, CallMonitor::kSilenceEndSeconds);
    EXPECT_FALSE(b.call().inCall());
    EXPECT_EQ(b.call().voiceSession(), nullptr);
    EXPECT_EQ(b.statusLine().text(), "The call with 127.0.0.31 ended: nothing arrived for 30 s");
    // The next call starts with a clean line.
    connect();
    EXPECT_EQ(b.statusLine().text(), "");
}

// Two Talvora phones agree on keys when the call connects: both windows show the same code,
// pictures still flow (sealed), and once the users say the codes match, the next call with that
// peer says it is verified without a code, on both sides that pressed.
TEST_F(TwoPhonesTest, CallsArePrivateAndAVerifiedPeerIsRecognisedNextTime) {
    connect();
    const QRegularExpression coded("^Encrypted \u00b7 code (\\S+)$");
    ASSERT_TRUE(waitUntil([&] {
        return coded.match(a.privacyLine().text()).hasMatch() &&
               coded.match(b.privacyLine().text()).hasMatch();
    }));
    EXPECT_EQ(a.privacyLine().text(), b.privacyLine().text()) << "the same code on both sides";
    a.frame();
    ASSERT_TRUE(waitUntil([&] { return b.picture().size() == QSize(384, 288); }));
    EXPECT_EQ(b.phone().videoReceiver().counters().unopened, 0u);

    auto& matchA = control<QAbstractButton>(*a.assembly, "btnCodesMatch");
    ASSERT_TRUE(matchA.isVisible());
    matchA.click();
    control<QAbstractButton>(*b.assembly, "btnCodesMatch").click();
    EXPECT_EQ(a.privacyLine().text(), QString::fromUtf8("Encrypted \u00b7 verified"));
    EXPECT_FALSE(matchA.isVisible());
    EXPECT_TRUE(QFile::exists(a.config.filePath("VerifiedPeers.dat")));

    a.click("btnEnd");
    ASSERT_TRUE(waitUntil([&] { return !b.call().inCall(); }));
    EXPECT_EQ(a.privacyLine().text(), "");
    connect();
    ASSERT_TRUE(waitUntil([&] {
        return a.privacyLine().text() == QString::fromUtf8("Encrypted \u00b7 verified") &&
               b.privacyLine().text() == QString::fromUtf8("Encrypted \u00b7 verified");
    }));
}

// An older peer has no link port: End is local as older phones know it, and the peer's call
// goes on (with its silence notice) until its own End.
TEST(TwoPhonesWithAnOlderPeer, EndIsLocalAndNothingGoesToTheLinkPort) {
    TestPhone a{"127.0.0.33"};
    TestPhone older{"127.0.0.34", /*linkPort=*/false};
    QUdpSocket linkPortOfTheOlderPeer; // stands where the older peer's 6768 would be
    ASSERT_TRUE(linkPortOfTheOlderPeer.bind(QHostAddress("127.0.0.34"), kLinkPort));
    a.hostEdit().setText("127.0.0.34");
    a.click("btnCall");
    ASSERT_TRUE(waitUntil([&] { return older.call().ringing(); }));
    older.click("btnCall");
    ASSERT_TRUE(waitUntil([&] { return a.call().inCall() && older.call().inCall(); }));
    ASSERT_TRUE(waitUntil([&] { return a.phone().link().peerKind() == PeerLink::PeerKind::Older; }, 6000));
    EXPECT_EQ(a.privacyLine().text(), "Not encrypted (the peer is an older phone)");
    EXPECT_EQ(older.privacyLine().text(), "Not encrypted (the peer is an older phone)");
    while (linkPortOfTheOlderPeer.hasPendingDatagrams()) {
        linkPortOfTheOlderPeer.receiveDatagram(); // A's hellos, in the first seconds
    }
    a.click("btnEnd");
    test::pumpEvents(300);
    EXPECT_TRUE(older.call().inCall());
    EXPECT_FALSE(linkPortOfTheOlderPeer.hasPendingDatagrams()) << "no hang-up for an older phone";
    // Its End stays local too; A has nothing to end.
    older.click("btnEnd");
    EXPECT_FALSE(older.call().inCall());

    // A phone that takes private calls only ends a call that cannot be encrypted, and says why.
    PhoneSettings privateOnly = a.phone().settings();
    privateOnly.privateCallsOnly = true;
    a.phone().applySettings(privateOnly);
    a.click("btnCall");
    ASSERT_TRUE(waitUntil([&] { return older.call().ringing(); }));
    older.click("btnCall");
    ASSERT_TRUE(waitUntil([&] { return !a.call().inCall() && a.call().voiceSession() == nullptr; }, 8000));
    EXPECT_TRUE(a.statusLine().text().endsWith("this phone takes private calls only: the call is ended."))
        << a.statusLine().text().toStdString();
}

TEST_F(TwoPhonesTest, AFormatChangeChangesThePictureSizeThePeerReceives) {
    connect();
    CaptureFormatChoice choice = a.assembly->capture().backend()->currentFormatChoice();
    choice.width = 160;
    choice.height = 120;
    ASSERT_TRUE(a.assembly->capture().backend()->applyFormatChoice(choice));
    a.phone().readCaptureFormat(); // what the video options dialog does after the format dialog
    a.frame();
    ASSERT_TRUE(waitUntil([&] { return b.picture().size() == QSize(160, 120); }));
}

TEST_F(TwoPhonesTest, UnansweredCallShowsTheCalleesMessageAndCancelEndsTheRinging) {
    b.call().settings().unansweredMessage = "Out to lunch";
    b.call().settings().ringTimeMs = 200;
    a.hostEdit().setText("127.0.0.32");
    // The ring time runs out on B, which sends its message; A's dialog shows it, and A withdraws.
    a.click("btnCall");
    ASSERT_TRUE(waitUntil([&] {
        return a.calling->isVisible() &&
               a.calling->findChild<QLabel*>(QStringLiteral("Label1"))->text() == "Out to lunch";
    }));
    EXPECT_TRUE(b.call().incomingCall());
    EXPECT_FALSE(b.call().ringing());
    a.calling->findChild<QAbstractButton*>(QStringLiteral("btnCancel"))->click();
    EXPECT_FALSE(a.call().inCall());
    ASSERT_TRUE(waitUntil([&] { return !b.call().incomingCall(); }));
    EXPECT_EQ(b.callerLabel().text(), "");
    EXPECT_EQ(a.voice.created + b.voice.created, 0);
}

// A stranger floods B's signalling and video ports with junk during a call: the peer's pictures
// keep coming (they are all that gets decoded, and the junk is read in batches that leave the
// event loop its turn), and they go on by themselves when the flood ends.
TEST_F(TwoPhonesTest, PicturesKeepComingThroughAJunkFlood) {
    connect();
    int shown = 0;
    QObject::connect(&b.phone(), &Phone::pictureReceived, [&] { ++shown; });
    QTimer camera;
    QObject::connect(&camera, &QTimer::timeout, [&] { a.frame(); });
    camera.start(33);

    std::atomic<bool> flooding{true};
    std::thread stranger([&] {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(0x7f000021); // 127.0.0.33
        ::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from);
        sockaddr_in to = from;
        to.sin_addr.s_addr = htonl(0x7f000020); // B, 127.0.0.32
        const char junk[] = "junk junk junk";
        // About 20,000 datagrams a second, shared between the two ports.
        for (int i = 0; flooding; ++i) {
            to.sin_port = htons(i % 2 ? kSignalPort : kVideoPort);
            ::sendto(fd, junk, sizeof junk, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            if (i % 20 == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        ::close(fd);
    });
    test::pumpEvents(3000);
    const int duringFlood = shown;
    flooding = false;
    stranger.join();
    test::pumpEvents(1000);
    const int afterFlood = shown - duringFlood;
    camera.stop();

    // About 90 pictures leave A in 3 s, and an idle machine shows nearly all of them (93 here);
    // the rate is a matter for measurement. This asserts what a user sees on any machine, even
    // a loaded one under AddressSanitizer: the pictures keep coming through the flood and after.
    RecordProperty("picturesDuringFlood", duringFlood);
    RecordProperty("picturesAfterFlood", afterFlood);
    EXPECT_GE(duringFlood, 4) << "pictures shown during 3 s of flood";
    EXPECT_GE(afterFlood, 4) << "pictures shown in the second after it";
    EXPECT_GT(b.phone().videoReceiver().counters().strangers, 0u);
    EXPECT_TRUE(b.messages.boxes.isEmpty());
}

// A peer that vanishes mid-call (killed, unplugged) sends nothing more: after ten seconds of
// nothing the status line says so, the call itself goes on until End, and the line clears when
// pictures come again.
TEST_F(TwoPhonesTest, APeerThatFallsSilentIsNoticedAndItsReturnClearsTheNotice) {
    connect();
    auto& status = control<QLabel>(*b.assembly, "lblVideoArea");
    const auto secondPasses = [&](bool pictureFromA) {
        if (pictureFromA) {
            const QImage before = b.picture();
            a.frame();
            ASSERT_TRUE(waitUntil([&] { return b.picture() != before; }));
        }
        b.phone().checkPeerActivity();
    };
    for (int s = 0; s < 12; ++s) {
        secondPasses(true);
    }
    EXPECT_FALSE(status.text().startsWith("No pictures"));
    for (int s = 0; s < CallMonitor::kSilenceNoticeSeconds - 1; ++s) {
        secondPasses(false);
    }
    EXPECT_FALSE(status.text().startsWith("No pictures")) << "not before ten seconds";
    secondPasses(false);
    EXPECT_EQ(status.text(), "No pictures or voice from 127.0.0.31 for 10 s");
    EXPECT_TRUE(b.call().inCall());
    secondPasses(true);
    EXPECT_EQ(status.text(), "");
}

} // namespace
} // namespace talvora
