// Two call sessions wired back to back: what one sends reaches the other on the next turn of the
// event loop (queue.drain(), after every user action), as on one event loop. The worked
// sequences of a call, step by step.

#include "FakePhone.h"

#include <gtest/gtest.h>

#include <deque>

namespace talvora::test {
namespace {

const QString kA = QStringLiteral("10.0.0.1");
const QString kB = QStringLiteral("10.0.0.2");
const QString kThird = QStringLiteral("10.0.0.3");

// Datagrams in flight and scripted user actions, handled in order by drain(): the event loop.
class EventQueue {
public:
    void post(std::function<void()> event) { m_events.push_back(std::move(event)); }
    void drain() {
        while (!m_events.empty()) {
            auto e = std::move(m_events.front());
            m_events.pop_front();
            e();
        }
    }

private:
    std::deque<std::function<void()>> m_events;
};

class TwoPhones : public ::testing::Test {
protected:
    TwoPhones() {
        wire(a, kA);
        wire(b, kB);
        a.session.settings().callerId = QStringLiteral("Alice");
        b.session.settings().callerId = QStringLiteral("Bob");
        a.window.host = kB; // A's user types B's address
    }

    void wire(FakePhone& p, const QString& own) {
        p.sender.onSend = [this, &p, own](const QString& host, const QByteArray& payload) {
            p.voice.log << "sent " + QString::fromUtf8(payload);
            FakePhone* to = host == kA ? &a : host == kB ? &b : nullptr;
            if (to == nullptr) {
                thirdInbox.append({host, payload});
                return;
            }
            queue.post([to, payload, own] { deliverSignal(to->session, payload, own); });
        };
    }

    EventQueue queue;
    FakePhone a;
    FakePhone b;
    QList<SentDatagram> thirdInbox;
};

TEST_F(TwoPhones, NormalCall) {
    a.session.onCallClicked();
    queue.drain();
    EXPECT_EQ(a.sender.sent, (QList<SentDatagram>{{kB, "Calling|Alice"}}));
    EXPECT_TRUE(a.dialog.shown);
    EXPECT_TRUE(a.dialog.animating);
    EXPECT_EQ(a.dialog.status, "Hailing...");

    // B rings for A.
    EXPECT_TRUE(b.session.ringing());
    EXPECT_TRUE(b.session.incomingCall());
    EXPECT_FALSE(b.session.inCall());
    EXPECT_EQ(b.window.host, kA);
    EXPECT_EQ(b.window.callerLine, "Alice hailing...");
    EXPECT_EQ(b.window.flashes, 1);
    EXPECT_TRUE(b.timer.isEnabled());
    EXPECT_EQ(b.timer.interval(), 10000);

    b.session.onCallClicked();
    queue.drain();
    // B: voice set up towards A, "Accept" sent before voice starts, then video on.
    EXPECT_EQ(b.voice.log, (QStringList{"#1 create", "#1 SetTransmitPort 8500", "#1 SetReceivePort 8500",
                                        "#1 SetRemoteAddress 10.0.0.1", "sent Accept", "#1 Start"}));
    EXPECT_TRUE(b.session.sendVideo());
    EXPECT_EQ(b.window.videoDestination, kA);
    EXPECT_FALSE(b.session.ringing());
    EXPECT_TRUE(b.session.incomingCall());
    EXPECT_EQ(b.window.callerLine, "Alice hailing...");
    EXPECT_FALSE(b.timer.isEnabled());

    // A: took the accept, voice towards the sender, dialog closed, video to the typed host.
    EXPECT_EQ(a.voice.log,
              (QStringList{"sent Calling|Alice", "#1 create", "#1 SetTransmitPort 8500",
                           "#1 SetReceivePort 8500", "#1 SetRemoteAddress 10.0.0.2", "#1 Start"}));
    EXPECT_FALSE(a.dialog.shown);
    EXPECT_TRUE(a.session.sendVideo());
    EXPECT_EQ(a.window.videoDestination, kB);
    EXPECT_TRUE(a.session.inCall());

    // Ending is local: A stops and sends nothing; B goes on.
    a.session.onEndClicked();
    queue.drain();
    EXPECT_EQ(a.voice.log.mid(6), (QStringList{"#1 Stop", "#1 destroy"}));
    EXPECT_EQ(a.sender.sent.size(), 1);
    EXPECT_FALSE(a.session.sendVideo());
    EXPECT_EQ(a.window.idlePictures, 1);
    EXPECT_TRUE(b.session.sendVideo());
    EXPECT_NE(b.session.voiceSession(), nullptr);

    b.session.onEndClicked();
    queue.drain();
    EXPECT_FALSE(b.session.inCall());
    EXPECT_FALSE(b.session.incomingCall());
    EXPECT_EQ(b.window.callerLine, "");
    EXPECT_EQ(b.session.voiceSession(), nullptr);
}

TEST_F(TwoPhones, UnansweredThenLateAnswer) {
    b.session.settings().unansweredMessage = QStringLiteral("Gone fishing");
    a.session.onCallClicked();
    queue.drain();
    b.timer.advance(9999);
    queue.drain();
    EXPECT_TRUE(b.session.ringing());
    b.timer.advance(1);
    queue.drain();
    EXPECT_FALSE(b.session.ringing());
    EXPECT_TRUE(b.session.incomingCall());
    EXPECT_EQ(b.window.callerLine, "");
    EXPECT_EQ(b.sender.sent.last(), (SentDatagram{kA, "Gone fishing"}));
    queue.drain();
    EXPECT_TRUE(a.dialog.shown);
    EXPECT_FALSE(a.dialog.animating);
    EXPECT_EQ(a.dialog.status, "Gone fishing");

    // B's user answers late; A still takes it.
    b.session.onCallClicked();
    queue.drain();
    EXPECT_EQ(b.sender.sent.last(), (SentDatagram{kA, "Accept"}));
    EXPECT_FALSE(a.dialog.shown);
    EXPECT_NE(a.session.voiceSession(), nullptr);
    EXPECT_TRUE(a.session.sendVideo());
    EXPECT_NE(b.session.voiceSession(), nullptr);
}

TEST_F(TwoPhones, UnansweredThenCancel) {
    a.session.onCallClicked();
    queue.drain();
    b.timer.advance(10000);
    queue.drain();
    EXPECT_EQ(a.dialog.status, "Unanswered");

    a.session.onCancelClicked();
    queue.drain();
    EXPECT_EQ(a.sender.sent.last(), (SentDatagram{kB, "Cancel"}));
    EXPECT_FALSE(a.dialog.shown);
    EXPECT_FALSE(a.session.inCall());
    EXPECT_FALSE(b.session.incomingCall());
    EXPECT_FALSE(b.session.ringing());

    // Both are idle again: B's Call now places a call instead of answering.
    b.session.onCallClicked();
    queue.drain();
    EXPECT_EQ(b.sender.sent.last(), (SentDatagram{kA, "Calling|Bob"}));
    EXPECT_EQ(b.voice.created, 0);
}

TEST_F(TwoPhones, CancelWhileRingingStopsTheRing) {
    const QString tone = QStringLiteral(TALVORA_TEST_TONE);
    b.session.settings().ringTone = tone;
    a.session.onCallClicked();
    queue.drain();
    EXPECT_EQ(b.tone.ops, (QStringList{"close", "open " + tone, "play"}));
    a.session.onCancelClicked();
    queue.drain();
    EXPECT_FALSE(b.session.ringing());
    EXPECT_FALSE(b.timer.isEnabled());
    EXPECT_EQ(b.tone.ops.last(), "stop");
    EXPECT_EQ(b.window.callerLine, "");
    // End works again at once.
    b.session.onEndClicked();
    queue.drain();
    EXPECT_EQ(b.window.idlePictures, 1);
}

TEST_F(TwoPhones, BothCallAtOnce) {
    b.window.host = kA;
    b.session.settings().unansweredMessage = QStringLiteral("Bob is busy");
    // B's user presses Call before A's request arrives.
    queue.post([this] { b.session.onCallClicked(); });
    a.session.onCallClicked();
    queue.drain();

    EXPECT_EQ(a.sender.sent, (QList<SentDatagram>{{kB, "Calling|Alice"}, {kB, "Unanswered"}}));
    EXPECT_EQ(b.sender.sent, (QList<SentDatagram>{{kA, "Calling|Bob"}, {kA, "Bob is busy"}}));
    EXPECT_EQ(a.dialog.status, "Bob is busy");
    EXPECT_EQ(b.dialog.status, "Unanswered");
    EXPECT_FALSE(a.dialog.animating);
    EXPECT_FALSE(b.dialog.animating);
    EXPECT_FALSE(a.session.ringing());
    EXPECT_FALSE(b.session.ringing());
    EXPECT_EQ(a.window.flashes + b.window.flashes, 0);
}

TEST_F(TwoPhones, BusyReplyToAThirdParty) {
    a.session.onCallClicked();
    queue.drain();
    b.session.onCallClicked();
    queue.drain();
    ASSERT_TRUE(a.session.sendVideo());

    for (FakePhone* p : {&a, &b}) {
        deliverSignal(p->session, "Calling|Carol", kThird);
        EXPECT_TRUE(p->session.inCall());
        EXPECT_TRUE(p->session.sendVideo());
        EXPECT_FALSE(p->session.ringing());
        EXPECT_NE(p->window.host, kThird);
    }
    EXPECT_EQ(thirdInbox, (QList<SentDatagram>{{kThird, "Unanswered"}, {kThird, "Unanswered"}}));
    EXPECT_EQ(a.voice.created + b.voice.created, 2);
}

TEST_F(TwoPhones, CancelFromAWrongAddressIsIgnored) {
    a.session.onCallClicked();
    queue.drain();
    deliverSignal(b.session, "Cancel", kThird);
    EXPECT_TRUE(b.session.ringing());
    EXPECT_TRUE(b.timer.isEnabled());
    EXPECT_EQ(b.window.callerLine, "Alice hailing...");

    // An accept from a third party does not start A's call either.
    deliverSignal(a.session, "Accept", kThird);
    EXPECT_TRUE(a.dialog.shown);
    EXPECT_EQ(a.voice.created, 0);

    a.session.onCancelClicked();
    queue.drain();
    EXPECT_FALSE(b.session.ringing());
}

TEST_F(TwoPhones, RingTimeZeroNeverTimesOut) {
    b.session.settings().ringTimeMs = 0;
    a.session.onCallClicked();
    queue.drain();
    b.timer.advance(24LL * 3600 * 1000);
    EXPECT_EQ(b.timer.ticks, 0);
    EXPECT_TRUE(b.session.ringing());
    EXPECT_EQ(b.sender.sent.size(), 0);
    EXPECT_EQ(a.dialog.status, "Hailing...");
    b.session.onCallClicked();
    queue.drain();
    EXPECT_TRUE(a.session.sendVideo());
}

TEST_F(TwoPhones, SecondRequestWhileRingingDoesNotProlongTheRing) {
    a.session.onCallClicked();
    queue.drain();
    b.timer.advance(6000);
    queue.drain();
    deliverSignal(b.session, "Calling|Carol", kThird);
    EXPECT_EQ(b.window.host, kThird);
    EXPECT_EQ(b.window.callerLine, "Carol hailing...");
    EXPECT_EQ(b.timer.remainingMs(), 4000);
    b.timer.advance(4000);
    queue.drain();
    // The message goes to the caller in the host field: the newest one.
    EXPECT_EQ(thirdInbox, (QList<SentDatagram>{{kThird, "Unanswered"}}));
    EXPECT_EQ(a.dialog.status, "Hailing...");
}

TEST_F(TwoPhones, CallingOneselfShowsOwnMessage) {
    // "LOCALHOST" reaches this very phone; its own request finds it engaged and the busy reply
    // lands in its own dialog before the dialog is shown.
    a.window.host = QStringLiteral("LocalHost");
    a.session.settings().unansweredMessage = QStringLiteral("Line busy");
    a.sender.onSend = [this](const QString& host, const QByteArray& payload) {
        ASSERT_EQ(host, "127.0.0.1");
        queue.post([this, payload] { deliverSignal(a.session, payload, QStringLiteral("127.0.0.1")); });
    };
    a.session.onCallClicked();
    queue.drain();
    EXPECT_EQ(a.sender.sent,
              (QList<SentDatagram>{{"127.0.0.1", "Calling|Alice"}, {"127.0.0.1", "Line busy"}}));
    EXPECT_TRUE(a.dialog.shown);
    EXPECT_FALSE(a.dialog.animating);
    EXPECT_EQ(a.dialog.status, "Line busy");
}

} // namespace
} // namespace talvora::test
