// The privacy of a call as the phone sees it: two calls joined by a wire the test controls, with
// the clock in the test's hands.

#include "secure/PrivateCall.h"
#include "link/LinkWire.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <deque>

namespace talvora {
namespace {

using State = PrivateCallState;

class ManualClock : public voice::Clock {
public:
    std::int64_t nowUs() const override { return us; }
    std::int64_t us = 0;
};

IdentityKey identity(std::uint8_t fill) {
    std::array<std::uint8_t, 32> seed{};
    seed.fill(fill);
    return IdentityKey::fromSeed(seed);
}

// Phone A calls phone B (at 10.0.0.2); both keep their verified peers in the test's folder.
struct Call {
    Call(const IdentityKey& idA, const IdentityKey& idB, VerifiedPeers& peersA, VerifiedPeers& peersB,
         PrivateCallPolicy policy = {})
        : a(KeyAgreementRole::Initiator, QStringLiteral("10.0.0.2"), policy, sender(toB), idA, peersA, clock,
            {200, 3000}),
          b(KeyAgreementRole::Responder, QStringLiteral("10.0.0.1"), policy, sender(toA), idB, peersB, clock,
            {200, 3000}) {
        QObject::connect(&a, &PrivateCall::statusChanged, [this] { ++changesOfA; });
    }
    PrivateCall::SendMessage sender(std::deque<KeyMessage>& queue) {
        return [&queue, this](quint8 type, const QByteArray& payload) {
            if (!bSilent || &queue == &toB) {
                queue.push_back({type, payload});
            }
            return true;
        };
    }
    void bothTalvora() {
        a.peerIsTalvora(kLinkReports | kLinkPrivateCalls);
        b.peerIsTalvora(kLinkReports | kLinkPrivateCalls);
        run();
    }
    void run() {
        for (int ms = 0; ms <= 4000; ms += 100) {
            while (!toA.empty() || !toB.empty()) {
                for (auto [queue, to] : {std::pair{&toA, &a}, std::pair{&toB, &b}}) {
                    while (!queue->empty()) {
                        const KeyMessage m = queue->front();
                        queue->pop_front();
                        to->messageReceived(m.type, m.payload);
                    }
                }
            }
            clock.us = ms * 1000;
            a.onTimer();
            b.onTimer();
        }
    }
    ManualClock clock;
    std::deque<KeyMessage> toA, toB;
    bool bSilent = false;
    PrivateCall a, b;
    int changesOfA = 0;
};

struct Peers {
    QTemporaryDir dir;
    VerifiedPeers a{dir.filePath(QStringLiteral("a/VerifiedPeers.dat"))};
    VerifiedPeers b{dir.filePath(QStringLiteral("b/VerifiedPeers.dat"))};
};

TEST(PrivateCall, TwoTalvoraPhonesEncryptWithTheSameCode) {
    const IdentityKey idA = identity(1), idB = identity(2);
    Peers peers;
    Call call(idA, idB, peers.a, peers.b);
    EXPECT_EQ(call.a.windowText(), QStringLiteral("Setting up encryption..."));
    call.bothTalvora();
    ASSERT_EQ(call.a.status().state, State::Encrypted);
    ASSERT_EQ(call.b.status().state, State::Encrypted);
    EXPECT_EQ(call.a.status().code, call.b.status().code);
    EXPECT_EQ(call.a.windowText(), QStringLiteral("Encrypted \u00b7 code ") + call.a.status().code);
    EXPECT_EQ(call.changesOfA, 1);
    EXPECT_FALSE(privateCallWarns(call.a.status()));

    // A's pictures open at B only, sealed.
    const std::vector<std::uint8_t> jpeg = {0xff, 0xd8, 1, 2, 3, 0xff, 0xd9};
    std::vector<std::uint8_t> sealed(100), opened(100);
    const auto sent = call.a.pictureGuard()->outgoing(jpeg, sealed);
    ASSERT_EQ(sent.status, MediaGuard::Sent::Sealed);
    const auto got = call.b.pictureGuard()->incoming(sent.bytes, opened);
    ASSERT_TRUE(got);
    EXPECT_TRUE(std::equal(got->begin(), got->end(), jpeg.begin(), jpeg.end()));
    EXPECT_FALSE(call.b.voiceGuard()->incoming(sent.bytes, opened)) << "a picture is no voice";
}

TEST(PrivateCall, PeersThatCannotEncrypt) {
    const IdentityKey idA = identity(1), idB = identity(2);
    const QString plainText = QStringLiteral("Not encrypted (the peer is an older phone)");
    const struct {
        const char* name;
        bool refusePlain;
        bool older; // no hello at all; else a hello without private calls
        State expected;
    } cases[] = {
        {"older phone", false, true, State::Plain},
        {"Talvora phone from before private calls", false, false, State::Plain},
        {"older phone, private calls only", true, true, State::Refused},
        {"Talvora phone from before private calls, private calls only", true, false, State::Refused},
    };
    for (const auto& c : cases) {
        Peers peers;
        Call call(idA, idB, peers.a, peers.b, {c.refusePlain});
        if (c.older) {
            call.a.peerIsOlder();
        } else {
            call.a.peerIsTalvora(kLinkReports | kLinkHangUp);
        }
        call.run();
        EXPECT_EQ(call.a.status().state, c.expected) << c.name;
        EXPECT_TRUE(call.toB.empty()) << c.name << ": nothing of the agreement sent";
        EXPECT_EQ(call.a.mustEnd(), c.refusePlain) << c.name;
        const auto mode = c.refusePlain ? MediaGuard::Mode::Hold : MediaGuard::Mode::Plain;
        EXPECT_EQ(call.a.pictureGuard()->mode(), mode) << c.name;
        EXPECT_EQ(call.a.voiceGuard()->mode(), mode) << c.name;
        EXPECT_TRUE(call.a.windowText().startsWith(plainText)) << c.name;
        EXPECT_EQ(privateCallWarns(call.a.status()), c.refusePlain) << c.name;
    }
}

TEST(PrivateCall, SilentTalvoraPeerFailsAndHoldsTheMedia) {
    const IdentityKey idA = identity(1), idB = identity(2);
    for (bool refusePlain : {false, true}) {
        Peers peers;
        Call call(idA, idB, peers.a, peers.b, {refusePlain});
        call.bSilent = true;
        call.bothTalvora();
        for (PrivateCall* side : {&call.a, &call.b}) {
            EXPECT_EQ(side->status().state, State::Failed);
            EXPECT_EQ(side->status().failure, KeyAgreementFailure::TimedOut);
            EXPECT_EQ(side->pictureGuard()->mode(), MediaGuard::Mode::Hold);
            EXPECT_TRUE(privateCallWarns(side->status()));
            EXPECT_EQ(side->mustEnd(), refusePlain);
        }
        EXPECT_GT(call.a.counters().retransmitted, 5u);
        call.a.peerIsOlder(); // too late to change anything
        EXPECT_EQ(call.a.status().state, State::Failed);
    }
}

TEST(PrivateCall, VerifiedPeerIsRecognisedAndAnImpostorIsWarnedAbout) {
    const IdentityKey idA = identity(1), idB = identity(2), impostor = identity(3);
    Peers peers;
    {
        Call first(idA, idB, peers.a, peers.b);
        first.bothTalvora();
        QString error;
        EXPECT_TRUE(first.a.markPeerVerified(QStringLiteral("Bob"), QDate(2024, 3, 4), &error))
            << error.toStdString();
        EXPECT_EQ(first.a.windowText(), QStringLiteral("Encrypted \u00b7 verified"));
    }
    VerifiedPeers reread(peers.a.path());
    EXPECT_EQ(reread.load(), QString());
    {
        Call later(idA, idB, reread, peers.b);
        later.bothTalvora();
        EXPECT_TRUE(later.a.status().verified);
        EXPECT_EQ(later.a.windowText(), QStringLiteral("Encrypted \u00b7 verified"));
        EXPECT_EQ(later.b.windowText(), QStringLiteral("Encrypted \u00b7 code ") + later.b.status().code)
            << "B did not verify A";
    }
    Call attacked(idA, impostor, reread, peers.b);
    attacked.bothTalvora();
    const PrivateCallStatus& s = attacked.a.status();
    EXPECT_TRUE(s.keyMismatch && !s.verified);
    EXPECT_TRUE(privateCallWarns(s));
    EXPECT_EQ(attacked.a.windowText(),
              QStringLiteral("Warning: this is not the phone you verified as \"Bob\": its key is different. "
                             "Someone may be listening in, or another computer now has this address. Compare "
                             "the code %1 before you say anything private.")
                  .arg(s.code));
}

} // namespace
} // namespace talvora
