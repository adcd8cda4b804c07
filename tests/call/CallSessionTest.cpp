// The call session's steps in detail: failures, the ring tone, settings taking effect and the
// mended faults.

#include "FakePhone.h"

#include <gtest/gtest.h>

namespace talvora::test {
namespace {

const QString kPeer = QStringLiteral("10.0.0.2");
const QString kThird = QStringLiteral("10.0.0.3");
const QString kTone = QStringLiteral(TALVORA_TEST_TONE);

// --- placing ------------------------------------------------------------------------------------

TEST(CallSessionPlacing, PlaceholderAsksForAnAddress) {
    FakePhone p;
    p.session.onCallClicked();
    ASSERT_EQ(p.messages.boxes.size(), 1);
    EXPECT_EQ(p.messages.boxes[0].kind, FakeMessageService::Kind::Information);
    EXPECT_EQ(p.messages.boxes[0].caption, "Information");
    EXPECT_EQ(p.messages.boxes[0].text, "Please enter a valid Hailing Frequency First.");
    EXPECT_EQ(p.window.hostFocused, 1);
    EXPECT_FALSE(p.session.inCall());
    EXPECT_TRUE(p.sender.sent.isEmpty());
    EXPECT_EQ(p.dialog.modalShows, 0);
}

TEST(CallSessionPlacing, FailuresShowAnErrorAndLeaveThePhoneEngaged) {
    struct Case {
        const char* host;
        const char* sendError; // empty: the send works
        const char* shown;
    } cases[] = {
        {"nowhere.invalid", "", "Host not found"},
        {"", "", "Host not found"}, // an empty address is tried, and fails
        {"10.0.0.2", "Network is unreachable", "Network is unreachable"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        FakePhone p;
        p.window.host = c.host;
        p.sender.failWith = c.sendError;
        p.session.onCallClicked();
        ASSERT_EQ(p.messages.boxes.size(), 1);
        EXPECT_EQ(p.messages.boxes[0].kind, FakeMessageService::Kind::Error);
        EXPECT_EQ(p.messages.boxes[0].caption, "Error");
        EXPECT_EQ(p.messages.boxes[0].text, c.shown);
        EXPECT_EQ(p.window.hostFocused, 1);
        EXPECT_EQ(p.dialog.modalShows, 0);
        EXPECT_FALSE(p.dialog.animating);
        EXPECT_TRUE(p.session.inCall());
        // Engaged until End: Call does nothing, requests get the busy reply.
        p.sender.failWith.clear();
        p.session.onCallClicked();
        EXPECT_EQ(p.messages.boxes.size(), 1);
        deliverSignal(p.session, "Calling|Carol", kThird);
        EXPECT_EQ(p.sender.sent, (QList<SentDatagram>{{kThird, "Unanswered"}}));
        p.session.onEndClicked();
        EXPECT_FALSE(p.session.inCall());
    }
}

TEST(CallSessionPlacing, HostNameIsResolvedAndItsAddressMayAccept) {
    FakePhone p;
    p.window.host = QStringLiteral("bob.lan");
    p.session.onCallClicked();
    EXPECT_EQ(p.sender.sent, (QList<SentDatagram>{{kPeer, "Calling|Alice"}}));
    deliverSignal(p.session, "Accept", QStringLiteral("::ffff:10.0.0.2")); // a dual-stack socket's view
    ASSERT_NE(p.session.voiceSession(), nullptr);
    EXPECT_TRUE(p.voice.log.contains("#1 SetRemoteAddress ::ffff:10.0.0.2"));
    // The name is looked up once: pictures go to the address that answered, not to the name.
    EXPECT_EQ(p.window.videoDestination, kPeer);
}

TEST(CallSessionPlacing, AcceptIgnoredAfterTheCallWasWithdrawn) {
    FakePhone p;
    p.window.host = kPeer;
    p.session.onCallClicked();
    p.session.onCancelClicked();
    deliverSignal(p.session, "Accept", kPeer);
    EXPECT_EQ(p.voice.created, 0);
    EXPECT_FALSE(p.session.sendVideo());
}

TEST(CallSessionPlacing, DialogCancelDropsSendErrorsAndStillCloses) {
    FakePhone p;
    p.window.host = kPeer;
    p.session.onCallClicked();
    p.sender.failWith = QStringLiteral("Network is unreachable");
    p.session.onCancelClicked();
    EXPECT_FALSE(p.dialog.shown);
    EXPECT_EQ(p.dialog.closes, 1);
    EXPECT_TRUE(p.messages.boxes.isEmpty());
    EXPECT_FALSE(p.session.inCall());
}

TEST(CallSessionPlacing, StatusTextsReachTheDialogOnlyWhilePlacing) {
    FakePhone p;
    p.dialog.animating = true;
    deliverSignal(p.session, "junk while idle", kThird);
    EXPECT_TRUE(p.dialog.animating);
    EXPECT_EQ(p.dialog.status, "Hailing...");

    p.window.host = kPeer;
    p.session.onCallClicked();
    deliverSignal(p.session, "first", kThird);
    deliverSignal(p.session, "second", kThird);
    EXPECT_FALSE(p.dialog.animating);
    EXPECT_EQ(p.dialog.status, "second");
    EXPECT_EQ(p.session.state(), CallState::PlacingAnswered);
}

// A name is looked up without blocking: the dialog shows meanwhile, and what the user does
// before the answer decides what leaves.
TEST(CallSessionPlacing, SlowLookupShowsTheDialogAndHonoursCancel) {
    struct Case {
        const char* name;
        bool cancelFirst;
        HostLookupResult answer;
        QList<SentDatagram> sent;
        QStringList boxes;
        CallState state;
    };
    const HostLookupResult found{{QHostAddress(kPeer)}, {}};
    const Case cases[] = {
        {"answer", false, found, {{kPeer, "Calling|Alice"}}, {}, CallState::Placing},
        {"not found", false, {{}, "Host not found"}, {}, {"Host not found"}, CallState::Engaged},
        {"cancelled", true, found, {}, {}, CallState::Idle},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePhone p;
        p.window.host = QStringLiteral("bob.slow");
        p.session.onCallClicked();
        ASSERT_EQ(p.slowLookups.size(), 1);
        EXPECT_TRUE(p.dialog.shown);
        EXPECT_TRUE(p.sender.sent.isEmpty());
        if (c.cancelFirst) {
            p.session.onCancelClicked(); // nothing has left: nothing to withdraw
        }
        p.slowLookups.takeFirst().answer(c.answer);
        EXPECT_EQ(p.sender.sent, c.sent);
        EXPECT_EQ(p.messages.texts(), c.boxes);
        EXPECT_EQ(p.session.state(), c.state);
        EXPECT_EQ(p.dialog.shown, c.state == CallState::Placing);
    }
}

TEST(CallSessionPlacing, AnyAddressOfTheDialledNameMayAccept) {
    const struct {
        const char* from;
        bool accepted;
    } cases[] = {{"10.0.0.2", true}, {"10.0.0.4", true}, {"::ffff:10.0.0.4", true}, {"10.0.0.9", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        FakePhone p;
        p.window.host = QStringLiteral("multi.lan");
        p.session.onCallClicked();
        deliverSignal(p.session, "Accept", QString::fromLatin1(c.from));
        EXPECT_EQ(p.session.voiceSession() != nullptr, c.accepted);
    }
}

// --- ringing and the ring tone ------------------------------------------------------------------

TEST(CallSessionRinging, RingToneOnlyForAnExistingFile) {
    struct Case {
        QString tone;
        QStringList ops;
    } cases[] = {
        {"", {}},
        {"/nonexistent/ring.wav", {}},
        {QStringLiteral(TALVORA_TEST_DIR), {}}, // a directory is not a sound file
        {kTone, {"close", "open " + kTone, "play"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tone.toStdString());
        FakePhone p;
        p.session.settings().ringTone = c.tone;
        deliverSignal(p.session, "Calling|Bob", kPeer);
        EXPECT_EQ(p.tone.ops, c.ops);
        EXPECT_TRUE(p.messages.boxes.isEmpty());
        p.timer.advance(10000);
        if (c.tone.isEmpty()) {
            EXPECT_EQ(p.tone.queries, 0); // the player is never touched
        }
    }
}

TEST(CallSessionRinging, EveryWayOutOfTheRingStopsAPlayingTone) {
    struct Case {
        const char* name;
        std::function<void(FakePhone&)> leave;
    } cases[] = {
        {"answer", [](FakePhone& p) { p.session.onCallClicked(); }},
        {"cancel", [](FakePhone& p) { deliverSignal(p.session, "Cancel", kPeer); }},
        {"time out", [](FakePhone& p) { p.timer.advance(10000); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakePhone p;
        p.session.settings().ringTone = kTone;
        deliverSignal(p.session, "Calling|Bob", kPeer);
        c.leave(p);
        EXPECT_EQ(p.tone.ops.last(), "stop");
        EXPECT_FALSE(p.tone.isPlaying());
    }
    // A tone that already ended is not stopped again.
    FakePhone p;
    p.session.settings().ringTone = kTone;
    deliverSignal(p.session, "Calling|Bob", kPeer);
    p.tone.finish();
    p.timer.advance(10000);
    EXPECT_EQ(p.tone.ops.last(), "play");
}

TEST(CallSessionRinging, SettingsTakeEffectForTheNextCall) {
    FakePhone p;
    p.window.host = kPeer;
    auto& s = p.session.settings();
    s.ringTimeMs = 3000;
    s.unansweredMessage = QStringLiteral("Not now");
    s.callerId = QStringLiteral("Desk 7");
    deliverSignal(p.session, "Calling|Bob", kPeer);
    EXPECT_EQ(p.timer.interval(), 3000);
    p.timer.advance(3000);
    EXPECT_EQ(p.sender.sent.last(), (SentDatagram{kPeer, "Not now"}));
    p.session.onEndClicked();
    p.session.onCallClicked();
    EXPECT_EQ(p.sender.sent.last(), (SentDatagram{kPeer, "Calling|Desk 7"}));
}

TEST(CallSessionRinging, EndDoesNotTouchTimerOrTone) {
    FakePhone p;
    p.session.settings().ringTone = kTone;
    deliverSignal(p.session, "Calling|Bob", kPeer);
    p.timer.advance(10000); // unanswered
    const QStringList opsBefore = p.tone.ops;
    p.timer.setEnabled(true); // pretend it were running: End must leave it alone
    p.session.onEndClicked();
    EXPECT_TRUE(p.timer.isEnabled());
    EXPECT_EQ(p.tone.ops, opsBefore);
    EXPECT_EQ(p.sender.sent.size(), 1); // only the unanswered message from before
}

// --- the unanswered message as a keyword --------------------------------------------------------

TEST(CallSessionMessage, KeywordMessagesGoOutAsUnanswered) {
    struct Case {
        const char* message;
        QByteArray sent;
    } cases[] = {
        {"Accept", "Unanswered"},
        {"Cancel", "Unanswered"},
        {"Calling", "Unanswered"},
        {"a|b", "Unanswered"},
        {"accept", "accept"},
        {"Accept ", "Accept "},
        {"Call me later", "Call me later"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        FakePhone p;
        p.session.settings().unansweredMessage = c.message;
        deliverSignal(p.session, "Calling|Bob", kPeer);
        p.timer.advance(10000);
        deliverSignal(p.session, "Calling|Carol", kThird);
        p.session.onCallClicked(); // answer Carol, then hear from a fourth caller
        deliverSignal(p.session, "Calling|Dan", QStringLiteral("10.0.0.4"));
        EXPECT_EQ(p.sender.sent.first().payload, c.sent);
        EXPECT_EQ(p.sender.sent.last(), (SentDatagram{QStringLiteral("10.0.0.4"), c.sent}));
    }
}

// --- voice sessions -----------------------------------------------------------------------------

TEST(CallSessionVoice, EndStopsThenDestroysEvenWhenStopFails) {
    FakePhone p;
    p.voice.failStop = true;
    deliverSignal(p.session, "Calling|Bob", kPeer);
    p.session.onCallClicked();
    EXPECT_THROW(p.session.onEndClicked(), Error);
    EXPECT_EQ(p.voice.log.mid(p.voice.log.size() - 2), (QStringList{"#1 Stop", "#1 destroy"}));
    EXPECT_EQ(p.session.voiceSession(), nullptr);
    EXPECT_EQ(p.window.idlePictures, 1);
    EXPECT_FALSE(p.session.inCall());
}

// A call whose voice cannot be set up ends at once, on either side, and says why: the phone is
// idle again, so End, Call and the next caller are served as usual.
TEST(CallSessionVoice, ACallThatCannotStartEndsAndSaysWhy) {
    struct Case {
        const char* name;
        bool asCaller;
        bool failCreate, failStart;
        const char* failSend;
        const char* error;
        QStringList log;
    } cases[] = {
        {"answer: voice engine missing", false, true, false, "", "The voice engine is not available", {}},
        {"answer: accept not sent",
         false,
         false,
         false,
         "Network is unreachable",
         "Network is unreachable",
         {"#1 create", "#1 SetTransmitPort 8500", "#1 SetReceivePort 8500", "#1 SetRemoteAddress 10.0.0.2",
          "#1 Stop", "#1 destroy"}},
        {"answer: voice does not start",
         false,
         false,
         true,
         "",
         "No microphone",
         {"#1 create", "#1 SetTransmitPort 8500", "#1 SetReceivePort 8500", "#1 SetRemoteAddress 10.0.0.2",
          "#1 Start", "#1 Stop", "#1 destroy"}},
        {"accept: voice does not start",
         true,
         false,
         true,
         "",
         "No microphone",
         {"#1 create", "#1 SetTransmitPort 8500", "#1 SetReceivePort 8500", "#1 SetRemoteAddress 10.0.0.2",
          "#1 Start", "#1 Stop", "#1 destroy"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakePhone p;
        p.voice.failCreate = c.failCreate;
        p.voice.failStart = c.failStart;
        p.window.host = kPeer;
        if (c.asCaller) {
            p.session.onCallClicked();
        } else {
            deliverSignal(p.session, "Calling|Bob", kPeer);
        }
        p.sender.failWith = c.failSend;
        try {
            if (c.asCaller) {
                deliverSignal(p.session, "Accept", kPeer);
            } else {
                p.session.onCallClicked();
            }
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(e.text(), c.error);
        }
        p.sender.failWith.clear();
        EXPECT_EQ(p.session.state(), CallState::Idle);
        EXPECT_EQ(p.voice.log, c.log);
        EXPECT_FALSE(p.session.sendVideo());
        EXPECT_EQ(p.window.callerLine, "");
        EXPECT_EQ(p.window.idlePictures, 1);
        // The next caller rings instead of hearing "busy".
        deliverSignal(p.session, "Calling|Carol", kThird);
        EXPECT_TRUE(p.session.ringing());
    }
}

// Call a slow name, Cancel, call another slow name: the first name's late answer is gone with
// its call, and Cancel of the second call sends nothing, since no request left.
TEST(CallSessionPlacing, AWithdrawnLookupCannotReachTheNextCall) {
    FakePhone p;
    p.window.host = QStringLiteral("a.slow");
    p.session.onCallClicked();
    p.session.onCancelClicked();
    p.window.host = QStringLiteral("b.slow");
    p.session.onCallClicked();
    ASSERT_EQ(p.slowLookups.size(), 2);
    p.slowLookups.takeFirst().answer({{QHostAddress(kPeer)}, {}});
    EXPECT_TRUE(p.sender.sent.isEmpty());
    EXPECT_TRUE(p.session.lookingUp());
    p.session.onCancelClicked();
    EXPECT_TRUE(p.sender.sent.isEmpty());
    EXPECT_FALSE(p.session.lookingUp());
    p.slowLookups.takeFirst().answer({{QHostAddress(kThird)}, {}});
    EXPECT_TRUE(p.sender.sent.isEmpty());
    EXPECT_EQ(p.session.state(), CallState::Idle);
}

TEST(CallSessionVoice, ANewSessionFirstStopsAndDestroysTheOldOne) {
    FakePhone p;
    p.window.host = kPeer;
    p.session.onCallClicked();
    deliverSignal(p.session, "Accept", kPeer);
    // The calling dialog's Cancel clears only FInCall; the call's voice session is still there
    // when the next call is answered.
    p.session.onCancelClicked();
    deliverSignal(p.session, "Calling|Carol", kThird);
    p.session.onCallClicked();
    EXPECT_EQ(p.voice.log.mid(5),
              (QStringList{"#1 Stop", "#1 destroy", "#2 create", "#2 SetTransmitPort 8500",
                           "#2 SetReceivePort 8500", "#2 SetRemoteAddress 10.0.0.3", "#2 Start"}));
    EXPECT_EQ(p.window.videoDestination, kThird);

    // When the new session cannot be made, pictures stop going to the old peer too.
    p.session.onEndClicked();
    p.session.onCallClicked();
    deliverSignal(p.session, "Accept", kThird);
    p.session.onCancelClicked();
    ASSERT_TRUE(p.session.sendVideo());
    deliverSignal(p.session, "Calling|Dan", kPeer);
    p.voice.failCreate = true;
    EXPECT_THROW(p.session.onCallClicked(), Error);
    EXPECT_EQ(p.session.voiceSession(), nullptr);
    EXPECT_FALSE(p.session.sendVideo());
}

TEST(CallSessionRinging, LateCallAnswersTheCallerOrPlacesTheTypedCall) {
    const struct {
        const char* typed;
        QList<SentDatagram> sent;
        CallState state;
    } cases[] = {
        {"10.0.0.2", {{kPeer, "Accept"}}, CallState::ConnectedCallee},
        {"10.0.0.3", {{kThird, "Calling|Alice"}}, CallState::Placing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        FakePhone p;
        deliverSignal(p.session, "Calling|Bob", kPeer);
        p.timer.advance(p.session.settings().ringTimeMs);
        ASSERT_EQ(p.session.state(), CallState::Unanswered);
        p.sender.sent.clear();
        p.window.host = QString::fromLatin1(c.typed);
        p.session.onCallClicked();
        EXPECT_EQ(p.sender.sent, c.sent);
        EXPECT_EQ(p.session.state(), c.state);
    }
}

} // namespace
} // namespace talvora::test
