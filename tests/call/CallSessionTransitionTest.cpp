// Every state of a phone against every event, from the peer and from a third address: the state
// it ends in, the datagrams it sends and the voice sessions it makes. Each event is handled in one
// step, with no event loop run inside it.

#include "FakePhone.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>

#include <optional>

namespace talvora::test {
namespace {

const QString kPeer = QStringLiteral("10.0.0.2");
const QString kThird = QStringLiteral("10.0.0.3");

// The states a user can see; the session's own state must name the same one.
using State = CallState;
enum class Event {
    Call,
    End,
    DialogCancel,
    RequestFromPeer,
    RequestFromThird,
    AcceptFromPeer,
    AcceptFromThird,
    CancelFromPeer,
    CancelFromThird,
    StatusText,
    RingTimeRunsOut,
};

const char* name(State s) {
    static const char* names[] = {"Idle",       "Placing",         "PlacingAnswered", "Ringing",
                                  "Unanswered", "ConnectedCallee", "ConnectedCaller", "Engaged"};
    return names[static_cast<int>(s)];
}

const char* name(Event e) {
    static const char* names[] = {"Call",
                                  "End",
                                  "DialogCancel",
                                  "RequestFromPeer",
                                  "RequestFromThird",
                                  "AcceptFromPeer",
                                  "AcceptFromThird",
                                  "CancelFromPeer",
                                  "CancelFromThird",
                                  "StatusText",
                                  "RingTimeRunsOut"};
    return names[static_cast<int>(e)];
}

// Reads a phone's state from its flags, timer, voice session and dialog, as the state table
// defines them; anything that fits no row is described instead.
QString observe(const FakePhone& p) {
    const auto& s = p.session;
    const bool voice = s.voiceSession() != nullptr;
    const bool timer = p.timer.isEnabled();
    const bool shown = p.dialog.shown;
    auto is = [&](bool inCall, bool incoming, bool ringing, bool timerOn, bool voiceOn, bool shownOn) {
        return s.inCall() == inCall && s.incomingCall() == incoming && s.ringing() == ringing &&
               timer == timerOn && voice == voiceOn && shown == shownOn && s.sendVideo() == voiceOn;
    };
    if (is(false, false, false, false, false, false)) {
        return "Idle";
    }
    if (is(true, false, false, false, false, true)) {
        if (p.dialog.animating && p.dialog.status == "Hailing...") {
            return "Placing";
        }
        if (!p.dialog.animating && p.dialog.status != "Hailing...") {
            return "PlacingAnswered";
        }
    }
    if (is(false, true, true, true, false, false)) {
        return "Ringing";
    }
    if (is(false, true, false, false, false, false)) {
        return "Unanswered";
    }
    if (is(true, true, false, false, true, false)) {
        return "ConnectedCallee";
    }
    if (is(true, false, false, false, true, false)) {
        return "ConnectedCaller";
    }
    if (is(true, false, false, false, false, false)) {
        return "Engaged";
    }
    return QStringLiteral("Other(inCall=%1 incoming=%2 ringing=%3 timer=%4 voice=%5 video=%6 dialog=%7)")
        .arg(s.inCall())
        .arg(s.incomingCall())
        .arg(s.ringing())
        .arg(timer)
        .arg(voice)
        .arg(s.sendVideo())
        .arg(shown);
}

void enter(FakePhone& p, State state) {
    p.window.host = kPeer;
    switch (state) {
    case State::Idle:
        break;
    case State::Placing:
        p.session.onCallClicked();
        break;
    case State::PlacingAnswered:
        p.session.onCallClicked();
        deliverSignal(p.session, "Nobody home", kPeer);
        break;
    case State::Ringing:
        deliverSignal(p.session, "Calling|Bob", kPeer);
        break;
    case State::Unanswered:
        deliverSignal(p.session, "Calling|Bob", kPeer);
        p.timer.advance(p.session.settings().ringTimeMs);
        break;
    case State::ConnectedCallee:
        deliverSignal(p.session, "Calling|Bob", kPeer);
        p.session.onCallClicked();
        break;
    case State::ConnectedCaller:
        p.session.onCallClicked();
        deliverSignal(p.session, "Accept", kPeer);
        break;
    case State::Engaged:
        p.sender.failWith = QStringLiteral("Network is unreachable");
        p.session.onCallClicked();
        p.sender.failWith.clear();
        break;
    }
    ASSERT_EQ(observe(p), QString::fromLatin1(name(state)));
    ASSERT_EQ(p.session.state(), state);
}

void apply(FakePhone& p, Event e) {
    switch (e) {
    case Event::Call:
        p.session.onCallClicked();
        break;
    case Event::End:
        p.session.onEndClicked();
        break;
    case Event::DialogCancel:
        p.session.onCancelClicked();
        break;
    case Event::RequestFromPeer:
        deliverSignal(p.session, "Calling|Bob", kPeer);
        break;
    case Event::RequestFromThird:
        deliverSignal(p.session, "Calling|Carol", kThird);
        break;
    case Event::AcceptFromPeer:
        deliverSignal(p.session, "Accept", kPeer);
        break;
    case Event::AcceptFromThird:
        deliverSignal(p.session, "Accept", kThird);
        break;
    case Event::CancelFromPeer:
        deliverSignal(p.session, "Cancel", kPeer);
        break;
    case Event::CancelFromThird:
        deliverSignal(p.session, "Cancel", kThird);
        break;
    case Event::StatusText:
        deliverSignal(p.session, "Out to lunch", kThird);
        break;
    case Event::RingTimeRunsOut:
        p.timer.advance(p.session.settings().ringTimeMs);
        break;
    }
}

struct Row {
    State from;
    Event event;
    const char* to;
    QList<SentDatagram> sent;
    int voiceSessionsMade = 0;
};

const QByteArray kCallRequest = "Calling|Alice";
const QByteArray kBusy = "Unanswered";

// Rows for the events a user cannot raise in a state (the main window takes no input while the
// modal calling dialog is shown, and the dialog's Cancel exists only while it is shown) are left
// out.
const Row kRows[] = {
    {State::Idle, Event::Call, "Placing", {{kPeer, kCallRequest}}},
    {State::Idle, Event::End, "Idle", {}},
    {State::Idle, Event::RequestFromPeer, "Ringing", {}},
    {State::Idle, Event::RequestFromThird, "Ringing", {}},
    {State::Idle, Event::AcceptFromPeer, "Idle", {}}, // nobody was called: no microphone opens
    {State::Idle, Event::AcceptFromThird, "Idle", {}},
    {State::Idle, Event::CancelFromPeer, "Idle", {}},
    {State::Idle, Event::CancelFromThird, "Idle", {}},
    {State::Idle, Event::StatusText, "Idle", {}},
    {State::Idle, Event::RingTimeRunsOut, "Idle", {}},

    {State::Placing, Event::DialogCancel, "Idle", {{kPeer, "Cancel"}}},
    {State::Placing, Event::RequestFromPeer, "Placing", {{kPeer, kBusy}}},
    {State::Placing, Event::RequestFromThird, "Placing", {{kThird, kBusy}}},
    {State::Placing, Event::AcceptFromPeer, "ConnectedCaller", {}, 1},
    {State::Placing, Event::AcceptFromThird, "Placing", {}},
    {State::Placing, Event::CancelFromPeer, "Placing", {}},
    {State::Placing, Event::CancelFromThird, "Placing", {}},
    {State::Placing, Event::StatusText, "PlacingAnswered", {}},
    {State::Placing, Event::RingTimeRunsOut, "Placing", {}},

    {State::PlacingAnswered, Event::DialogCancel, "Idle", {{kPeer, "Cancel"}}},
    {State::PlacingAnswered, Event::RequestFromPeer, "PlacingAnswered", {{kPeer, kBusy}}},
    {State::PlacingAnswered, Event::RequestFromThird, "PlacingAnswered", {{kThird, kBusy}}},
    {State::PlacingAnswered, Event::AcceptFromPeer, "ConnectedCaller", {}, 1}, // the late answer
    {State::PlacingAnswered, Event::AcceptFromThird, "PlacingAnswered", {}},
    {State::PlacingAnswered, Event::CancelFromPeer, "PlacingAnswered", {}},
    {State::PlacingAnswered, Event::CancelFromThird, "PlacingAnswered", {}},
    {State::PlacingAnswered, Event::StatusText, "PlacingAnswered", {}},
    {State::PlacingAnswered, Event::RingTimeRunsOut, "PlacingAnswered", {}},

    {State::Ringing, Event::Call, "ConnectedCallee", {{kPeer, "Accept"}}, 1},
    {State::Ringing, Event::End, "Ringing", {}},
    {State::Ringing, Event::RequestFromPeer, "Ringing", {}},
    {State::Ringing, Event::RequestFromThird, "Ringing", {}},
    {State::Ringing, Event::AcceptFromPeer, "Ringing", {}},
    {State::Ringing, Event::AcceptFromThird, "Ringing", {}},
    {State::Ringing, Event::CancelFromPeer, "Idle", {}},
    {State::Ringing, Event::CancelFromThird, "Ringing", {}},
    {State::Ringing, Event::StatusText, "Ringing", {}},
    {State::Ringing, Event::RingTimeRunsOut, "Unanswered", {{kPeer, kBusy}}},

    {State::Unanswered, Event::Call, "ConnectedCallee", {{kPeer, "Accept"}}, 1},
    {State::Unanswered, Event::End, "Idle", {}},
    {State::Unanswered, Event::RequestFromPeer, "Ringing", {}},
    {State::Unanswered, Event::RequestFromThird, "Ringing", {}},
    {State::Unanswered, Event::AcceptFromPeer, "Unanswered", {}},
    {State::Unanswered, Event::AcceptFromThird, "Unanswered", {}},
    {State::Unanswered, Event::CancelFromPeer, "Idle", {}},
    {State::Unanswered, Event::CancelFromThird, "Unanswered", {}},
    {State::Unanswered, Event::StatusText, "Unanswered", {}},
    {State::Unanswered, Event::RingTimeRunsOut, "Unanswered", {}},

    {State::ConnectedCallee, Event::Call, "ConnectedCallee", {}},
    {State::ConnectedCallee, Event::End, "Idle", {}},
    {State::ConnectedCallee, Event::RequestFromPeer, "ConnectedCallee", {{kPeer, kBusy}}},
    {State::ConnectedCallee, Event::RequestFromThird, "ConnectedCallee", {{kThird, kBusy}}},
    {State::ConnectedCallee, Event::AcceptFromPeer, "ConnectedCallee", {}},
    {State::ConnectedCallee, Event::AcceptFromThird, "ConnectedCallee", {}},
    // A stray cancel from the peer only drops the "incoming" mark; voice and video go on.
    {State::ConnectedCallee, Event::CancelFromPeer, "ConnectedCaller", {}},
    {State::ConnectedCallee, Event::CancelFromThird, "ConnectedCallee", {}},
    {State::ConnectedCallee, Event::StatusText, "ConnectedCallee", {}},
    {State::ConnectedCallee, Event::RingTimeRunsOut, "ConnectedCallee", {}},

    {State::ConnectedCaller, Event::Call, "ConnectedCaller", {}},
    {State::ConnectedCaller, Event::End, "Idle", {}},
    {State::ConnectedCaller, Event::RequestFromPeer, "ConnectedCaller", {{kPeer, kBusy}}},
    {State::ConnectedCaller, Event::RequestFromThird, "ConnectedCaller", {{kThird, kBusy}}},
    {State::ConnectedCaller, Event::AcceptFromPeer, "ConnectedCaller", {}},
    {State::ConnectedCaller, Event::AcceptFromThird, "ConnectedCaller", {}},
    {State::ConnectedCaller, Event::CancelFromPeer, "ConnectedCaller", {}},
    {State::ConnectedCaller, Event::CancelFromThird, "ConnectedCaller", {}},
    {State::ConnectedCaller, Event::StatusText, "ConnectedCaller", {}},
    {State::ConnectedCaller, Event::RingTimeRunsOut, "ConnectedCaller", {}},

    {State::Engaged, Event::Call, "Engaged", {}},
    {State::Engaged, Event::End, "Idle", {}},
    {State::Engaged, Event::RequestFromPeer, "Engaged", {{kPeer, kBusy}}},
    {State::Engaged, Event::RequestFromThird, "Engaged", {{kThird, kBusy}}},
    {State::Engaged, Event::AcceptFromPeer, "Engaged", {}}, // the request never left
    {State::Engaged, Event::AcceptFromThird, "Engaged", {}},
    {State::Engaged, Event::CancelFromPeer, "Engaged", {}},
    {State::Engaged, Event::CancelFromThird, "Engaged", {}},
    {State::Engaged, Event::StatusText, "Engaged", {}},
    {State::Engaged, Event::RingTimeRunsOut, "Engaged", {}},
};

// Notices an event loop run inside a step: an event posted before the step is delivered only
// when some loop processes events.
class NestedLoopDetector : public QObject {
public:
    void arm() {
        delivered = false;
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
    }
    void disarm() { QCoreApplication::sendPostedEvents(this); }
    bool delivered = false;

protected:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) {
            delivered = true;
            return true;
        }
        return QObject::event(e);
    }
};

TEST(CallSessionTransitions, EveryStateAgainstEveryEvent) {
    NestedLoopDetector loops;
    for (const Row& row : kRows) {
        SCOPED_TRACE(std::string(name(row.from)) + " + " + name(row.event));
        FakePhone p;
        enter(p, row.from);
        p.sender.sent.clear();
        const int madeBefore = p.voice.created;

        loops.arm();
        apply(p, row.event);
        EXPECT_FALSE(loops.delivered) << "an event loop ran inside the step";
        loops.disarm();

        EXPECT_EQ(observe(p), QString::fromLatin1(row.to));
        EXPECT_STREQ(name(p.session.state()), row.to);
        EXPECT_EQ(p.sender.sent, row.sent);
        EXPECT_EQ(p.voice.created - madeBefore, row.voiceSessionsMade);
    }
}

TEST(CallSessionTransitions, NoVoiceSessionBeforeAnAnswerOrAnAccept) {
    // The only rows that make a voice session are the local user's answer and the called peer's
    // accept; every other route into a state leaves the microphone closed.
    for (const Row& row : kRows) {
        const bool answers =
            row.event == Event::Call && (row.from == State::Ringing || row.from == State::Unanswered);
        const bool accepted = row.event == Event::AcceptFromPeer &&
                              (row.from == State::Placing || row.from == State::PlacingAnswered);
        EXPECT_EQ(row.voiceSessionsMade, (answers || accepted) ? 1 : 0)
            << name(row.from) << " + " << name(row.event);
    }
}

} // namespace
} // namespace talvora::test
