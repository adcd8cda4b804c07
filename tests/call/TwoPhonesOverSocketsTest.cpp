// Two call sessions on real signalling endpoints over loopback (127.0.0.2 and 127.0.0.3, a
// third party on 127.0.0.4), with the real ring timer and calling dialog. Voice, ring tone and
// the main window are fakes.

#include "CallFakes.h"
#include "call/CallSession.h"
#include "call/RingTimer.h"
#include "call/SignalEndpoint.h"
#include "support/EventLoop.h"
#include "support/FakeMessageService.h"
#include "ui/CallingDialog.h"
#include "ui/RbButton.h"
#include "ui/RxDice.h"

#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <gtest/gtest.h>

namespace talvora {
namespace {

using test::waitUntil;

constexpr int kWaitMs = 20000; // generous: the machine may be busy

struct SocketPhone {
    explicit SocketPhone(const char* address)
        : endpoint(NetworkConfig{QHostAddress(QString::fromLatin1(address))}, messages),
          session(CallSessionParts{endpoint, voice, timer, tone, window, dialog, messages, nullptr}) {
        endpoint.setHandler(&session);
        endpoint.open();
        timer.setTimeoutHandler([this] { runGuarded(messages, [this] { session.onRingTimeout(); }); });
        dialog.setCancelHandler([this] { session.onCancelClicked(); });
    }

    test::FakeMessageService messages;
    SignalEndpoint endpoint;
    test::FakeVoiceFactory voice;
    QtRingTimer timer;
    test::FakeRingTonePlayer tone;
    test::FakeCallWindow window;
    CallingDialog dialog;
    CallSession session;
};

// A bare socket on the third party's signalling port.
struct ThirdParty {
    ThirdParty() { EXPECT_TRUE(socket.bind(QHostAddress(QStringLiteral("127.0.0.4")), 6767)); }
    void send(const char* to, const QByteArray& payload) {
        socket.writeDatagram(payload, QHostAddress(QString::fromLatin1(to)), 6767);
    }
    QByteArray receive() {
        if (!waitUntil([&] { return socket.hasPendingDatagrams(); }, kWaitMs)) {
            return {};
        }
        QByteArray data(int(socket.pendingDatagramSize()), Qt::Uninitialized);
        socket.readDatagram(data.data(), data.size());
        return data;
    }
    QUdpSocket socket;
};

class TwoPhonesOverSockets : public ::testing::Test {
protected:
    TwoPhonesOverSockets() {
        a.session.settings().callerId = QStringLiteral("Alice");
        b.session.settings().callerId = QStringLiteral("Bob");
        a.window.host = QStringLiteral("127.0.0.3");
    }
    SocketPhone a{"127.0.0.2"};
    SocketPhone b{"127.0.0.3"};
};

TEST_F(TwoPhonesOverSockets, NormalCall) {
    a.session.onCallClicked();
    EXPECT_TRUE(a.dialog.isVisible());
    ASSERT_TRUE(waitUntil([&] { return b.session.ringing(); }, kWaitMs));
    EXPECT_EQ(b.window.callerLine, "Alice hailing...");
    EXPECT_EQ(b.window.host, "127.0.0.2");
    runGuarded(b.messages, [&] { b.session.onCallClicked(); });
    ASSERT_TRUE(waitUntil([&] { return !a.dialog.isVisible(); }, kWaitMs)); // the accept closed it
    EXPECT_TRUE(a.session.sendVideo());
    EXPECT_TRUE(b.session.sendVideo());
    EXPECT_TRUE(a.voice.log.contains("#1 SetRemoteAddress 127.0.0.3"));
    EXPECT_TRUE(b.voice.log.contains("#1 SetRemoteAddress 127.0.0.2"));
    EXPECT_EQ(a.voice.log.last(), "#1 Start");
    EXPECT_EQ(b.voice.log.last(), "#1 Start");
    EXPECT_TRUE(a.messages.boxes.isEmpty());
    EXPECT_TRUE(b.messages.boxes.isEmpty());

    // A third party finds both engaged.
    ThirdParty carol;
    carol.send("127.0.0.2", "Calling|Carol");
    EXPECT_EQ(carol.receive(), "Unanswered");
    carol.send("127.0.0.3", "Calling|Carol");
    EXPECT_EQ(carol.receive(), "Unanswered");
    EXPECT_EQ(b.window.host, "127.0.0.2");
}

TEST_F(TwoPhonesOverSockets, UnansweredThenCancel) {
    b.session.settings().ringTimeMs = 1000;
    b.session.settings().unansweredMessage = QStringLiteral("Out to lunch");
    a.session.onCallClicked();
    EXPECT_TRUE(waitUntil(
        [&] { return a.dialog.findChild<QLabel*>(QStringLiteral("Label1"))->text() == "Out to lunch"; },
        kWaitMs));
    EXPECT_FALSE(a.dialog.findChild<RxDice*>(QStringLiteral("RxDice1"))->rotating());
    QTest::mouseClick(a.dialog.findChild<RbButton*>(QStringLiteral("btnCancel")), Qt::LeftButton);
    EXPECT_FALSE(a.dialog.isVisible());
    EXPECT_FALSE(a.session.inCall());
    EXPECT_TRUE(waitUntil([&] { return !b.session.incomingCall(); }, kWaitMs));
    EXPECT_EQ(a.voice.created + b.voice.created, 0);
}

TEST_F(TwoPhonesOverSockets, StrangersCannotAcceptOrCancel) {
    ThirdParty mallory;
    a.session.onCallClicked();
    ASSERT_TRUE(waitUntil([&] { return b.session.ringing(); }, kWaitMs));
    mallory.send("127.0.0.2", "Accept");
    mallory.send("127.0.0.3", "Cancel");
    test::pumpEvents(300);
    EXPECT_TRUE(a.dialog.isVisible() && a.voice.created == 0 && b.session.ringing());
    QTest::mouseClick(a.dialog.findChild<RbButton*>(QStringLiteral("btnCancel")), Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] { return !b.session.ringing(); }, kWaitMs));
}

} // namespace
} // namespace talvora
