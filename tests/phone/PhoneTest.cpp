// The phone without windows: its signals stand in for the main window, and fakes for the
// services. It binds the real signalling and video ports on its own loopback addresses.
#include "phone/Phone.h"

#include "call/CallSession.h"
#include "call/RingTimer.h"
#include "call/SignalEndpoint.h"
#include "transport/VideoReceiver.h"
#include "voice/FakeSpeakerVolume.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "call/CallFakes.h"
#include "support/EventLoop.h"
#include "support/FakeMessageService.h"
#include "support/QtPrinters.h"

namespace talvora {
namespace {

class PhoneTest : public ::testing::Test {
protected:
    QTemporaryDir config;
    test::FakeMessageService messages;
    FakeSpeakerVolume speaker;
    test::FakeVoiceFactory voice;
    test::FakeCallingDialog calling;
    test::FakeRingTimer* timer = nullptr;

    std::unique_ptr<Phone> makePhone(const char* address = "127.0.0.51") {
        auto phone = std::make_unique<Phone>(PhoneServices{
            messages, speaker, [] { return std::unique_ptr<CaptureBackend>(); }, voice,
            [] { return std::make_unique<test::FakeRingTonePlayer>(); },
            [this] {
                auto t = std::make_unique<test::FakeRingTimer>();
                timer = t.get();
                return t;
            },
            NetworkConfig{QHostAddress(QString(address))}, ConfigLocation(config.path(), config.path())});
        phone->attachCallingView(calling);
        // What the main window does with the slider the phone moves.
        QObject::connect(phone.get(), &Phone::micSliderRequested, phone.get(), &Phone::setMicLevel);
        return phone;
    }
    void writeSettings(const QByteArray& text) {
        QFile f(config.filePath("Settings.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
};

TEST_F(PhoneTest, StartLoadsTheSettingsOpensThePortsAndShowsTheStartLevels) {
    writeSettings("[Settings]\nRingTime=3\nCallerID=Ann\nmicVolume=40\n");
    speaker.left = 1234;
    auto phone = makePhone();
    QSignalSpy address(phone.get(), &Phone::localAddressChanged);
    QSignalSpy started(phone.get(), &Phone::started);
    QSignalSpy speakerRead(phone.get(), &Phone::speakerVolumeRead);
    phone->start();
    EXPECT_EQ(address.value(0).value(0).toString(), "127.0.0.51");
    ASSERT_EQ(started.size(), 1);
    EXPECT_EQ(started[0][0].toInt(), 40);
    ASSERT_TRUE(test::waitUntil([&] { return speakerRead.size() == 1; })); // the server answers later
    EXPECT_EQ(speakerRead[0][0].toInt(), 1234);
    EXPECT_EQ(phone->micLevel(), 40);
    EXPECT_EQ(phone->jpegQuality(), 100);
    EXPECT_EQ(phone->callSession()->settings().ringTimeMs, 3000);
    EXPECT_EQ(phone->callSession()->settings().callerId, "Ann");
    EXPECT_TRUE(phone->signalling().isOpen());
    EXPECT_TRUE(phone->videoReceiver().isOpen());
    EXPECT_TRUE(phone->videoStarted());
    EXPECT_TRUE(messages.boxes.isEmpty());
}

TEST_F(PhoneTest, MessageThatWouldReadAsASignalIsUnansweredOnLoad) {
    struct Case {
        QByteArray inFile;
        QString used;
    } cases[] = {
        {"Accept", "Unanswered"}, {"Back|soon", "Unanswered"},      {"Calling", "Unanswered"},
        {"accept", "accept"},     {"Out to lunch", "Out to lunch"},
    };
    for (const Case& c : cases) {
        writeSettings("[Settings]\nMessage=" + c.inFile + "\n");
        auto phone = makePhone("127.0.0.52");
        phone->start();
        EXPECT_EQ(phone->settings().unansweredMessage, c.used) << c.inFile.constData();
    }
}

TEST_F(PhoneTest, TheCallSessionsViewBecomesSignals) {
    auto phone = makePhone("127.0.0.53");
    phone->start();
    QSignalSpy caller(phone.get(), &Phone::callerIdText);
    QSignalSpy attention(phone.get(), &Phone::attentionRequested);
    QSignalSpy idle(phone.get(), &Phone::idlePictureRequested);

    phone->callSession()->callRequestReceived("Bob", "127.0.0.54");
    ASSERT_FALSE(caller.isEmpty());
    EXPECT_EQ(caller.last().value(0).toString(), "Bob hailing...");
    EXPECT_FALSE(attention.isEmpty());
    phone->call(); // answers
    ASSERT_NE(phone->callSession()->voiceSession(), nullptr);
    EXPECT_TRUE(phone->callSession()->sendVideo());
    phone->end();
    EXPECT_EQ(phone->callSession()->voiceSession(), nullptr);
    EXPECT_FALSE(idle.isEmpty());
    EXPECT_TRUE(messages.boxes.isEmpty());
}

TEST_F(PhoneTest, TypedHostTextIsWhatTheSessionReadsWithoutEchoingBack) {
    auto phone = makePhone();
    QSignalSpy changed(phone.get(), &Phone::hostTextChanged);
    EXPECT_EQ(phone->hostText(), "Hailing Frequency...");
    phone->hostEdited("10.0.0.9");
    EXPECT_EQ(phone->hostText(), "10.0.0.9");
    EXPECT_TRUE(changed.isEmpty());
}

TEST_F(PhoneTest, MuteTable) {
    // Each row: the slider before the call, what happens during it, then the levels.
    struct Case {
        int sliderBefore;
        int sliderDuring; // -1: left alone
        int mutes;
        int level, saved, lastSent;
    } cases[] = {
        {60, -1, 1, 0, 60, 0}, {60, -1, 2, 60, 60, 60}, {60, 30, 1, 0, 30, 0},
        {60, 0, 1, 0, 0, 0},   {0, -1, 1, 0, 0, 0},     {85, -1, 3, 0, 85, 0},
    };
    int next = 55;
    for (const Case& c : cases) {
        voice.log.clear();
        auto phone = makePhone("127.0.0.55");
        phone->setMicLevel(c.sliderBefore);
        phone->callSession()->callRequestReceived("Bob", QStringLiteral("127.0.0.%1").arg(++next));
        phone->call();
        ASSERT_NE(phone->callSession()->voiceSession(), nullptr);
        if (c.sliderDuring >= 0) {
            phone->setMicLevel(c.sliderDuring);
        }
        for (int i = 0; i < c.mutes; ++i) {
            phone->toggleMute();
        }
        EXPECT_EQ(phone->micLevel(), c.level) << c.sliderBefore << " " << c.mutes;
        EXPECT_EQ(phone->savedMicLevel(), c.saved) << c.sliderBefore << " " << c.mutes;
        EXPECT_TRUE(voice.log.filter("SetMicLevel")
                        .last()
                        .endsWith(QStringLiteral(" SetMicLevel %1").arg(c.lastSent)))
            << voice.log.join(", ").toStdString();
    }
}

TEST_F(PhoneTest, MuteWithoutACallChangesNothing) {
    auto phone = makePhone();
    QSignalSpy moved(phone.get(), &Phone::micSliderRequested);
    phone->setMicLevel(60);
    phone->toggleMute();
    EXPECT_TRUE(moved.isEmpty());
    EXPECT_EQ(phone->micLevel(), 60);
}

TEST_F(PhoneTest, AppliedSettingsReachTheSessionButNotTheMicrophone) {
    writeSettings("[Settings]\nmicVolume=40\n");
    auto phone = makePhone("127.0.0.70");
    phone->start();
    PhoneSettings edited = phone->settings();
    edited.ringTone = "/r.wav";
    edited.ringTimeMs = 4000;
    edited.unansweredMessage = "Away";
    edited.callerId = "Desk";
    edited.micVolume = 7;
    phone->applySettings(edited);
    const PhoneSettings now = phone->settings();
    EXPECT_EQ(now.ringTone, "/r.wav");
    EXPECT_EQ(now.ringTimeMs, 4000);
    EXPECT_EQ(now.unansweredMessage, "Away");
    EXPECT_EQ(now.callerId, "Desk");
    EXPECT_EQ(now.micVolume, 40);
}

TEST_F(PhoneTest, SpeakerSliderWritesBothChannels) {
    auto phone = makePhone();
    phone->setSpeakerVolume(40000);
    ASSERT_TRUE(test::waitUntil([&] { return speaker.writes == 1; }));
    EXPECT_EQ(speaker.left, 40000);
    EXPECT_EQ(speaker.right, 40000);
}

TEST_F(PhoneTest, ShutDownKeepsTheSlidersLevel) {
    auto phone = makePhone();
    phone->setMicLevel(33);
    phone->shutDown();
    QFile f(config.filePath("Settings.ini"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "[Settings]\nmicVolume=33\n");
    EXPECT_TRUE(messages.boxes.isEmpty());
}

TEST_F(PhoneTest, NoticesBecomeStatusText) {
    auto phone = makePhone();
    QSignalSpy status(phone.get(), &Phone::statusText);
    phone->showNotice("Voice engine ready");
    ASSERT_EQ(status.size(), 1);
    EXPECT_EQ(status[0][0].toString(), "Voice engine ready");
}

} // namespace
} // namespace talvora
