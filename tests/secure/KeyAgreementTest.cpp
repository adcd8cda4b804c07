// The key agreement between two phones through a wire that loses, repeats and forges messages,
// with time in the test's hands; and the exchange byte for byte from fixed keys.

#include "secure/KeyAgreement.h"
#include "secure/SealedDatagram.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>

namespace talvora {
namespace {

using Role = KeyAgreementRole;
using Failure = KeyAgreementFailure;
using Type = KeyMessageType;

std::array<std::uint8_t, 32> bytes32(const char* hex) {
    const QByteArray b = QByteArray::fromHex(hex);
    std::array<std::uint8_t, 32> out{};
    std::copy(b.begin(), b.end(), out.begin());
    return out;
}

// RFC 7748, section 6.1: Alice's and Bob's X25519 keys.
const auto kAliceSecret = bytes32("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
const auto kBobSecret = bytes32("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");

// What the wire does with the nth message of a type (counted from 1); anything it returns
// arrives in place of the message.
using Fault = std::function<std::vector<QByteArray>(Type type, int nth, const QByteArray& payload)>;

struct Outcome {
    bool completed = false;
    Failure failure = Failure::None;
};

// Two sides, one message at a time, the clock moved to the next deadline when the wire is idle.
struct Exchange {
    IdentityKey idI = IdentityKey::fromSeed(bytes32("01"));
    IdentityKey idR = IdentityKey::fromSeed(bytes32("02"));
    KeyAgreement initiator, responder;
    Fault fault;
    std::deque<std::pair<KeyAgreement*, KeyMessage>> wire;
    std::map<quint8, int> seen;
    std::vector<KeyMessage> log; // what was handed to the wire, in order
    std::int64_t nowMs = 0;

    explicit Exchange(Fault f = {}, std::optional<std::array<std::uint8_t, 32>> secretI = std::nullopt,
                      std::optional<std::array<std::uint8_t, 32>> secretR = std::nullopt,
                      Role roleOfSecond = Role::Responder, std::uint8_t ciphersI = availableCiphers(),
                      std::uint8_t ciphersR = availableCiphers())
        : initiator(Role::Initiator, idI, {200, 5000}, secretI, ciphersI),
          responder(roleOfSecond, idR, {200, 5000}, secretR, ciphersR), fault(std::move(f)) {}

    void post(KeyAgreement& from, const KeyAgreementStep& step) {
        KeyAgreement* to = &from == &initiator ? &responder : &initiator;
        for (const KeyMessage& m : step.send) {
            log.push_back(m);
            const int nth = ++seen[m.type];
            for (const QByteArray& p : fault ? fault(Type(m.type), nth, m.payload) : std::vector{m.payload}) {
                wire.push_back({to, {m.type, p}});
            }
        }
    }
    void run() {
        post(initiator, initiator.start(nowMs));
        post(responder, responder.start(nowMs));
        for (int guard = 0; guard < 10000; ++guard) {
            while (!wire.empty()) {
                auto [to, m] = wire.front();
                wire.pop_front();
                post(*to, to->receive(m.type, m.payload, nowMs));
            }
            const auto a = initiator.nextDeadlineMs(), b = responder.nextDeadlineMs();
            if (!a && !b) {
                return;
            }
            nowMs = std::min(a.value_or(INT64_MAX), b.value_or(INT64_MAX));
            post(initiator, initiator.tick(nowMs));
            post(responder, responder.tick(nowMs));
        }
        FAIL() << "the exchange never settled";
    }
    static Outcome outcome(const KeyAgreement& k) { return {k.completed(), k.failure()}; }
};

// Both sides completed with the same code, and what one seals the other opens, for each
// medium and direction.
void expectSameKeys(KeyAgreement& a, KeyAgreement& b, const char* name) {
    ASSERT_TRUE(a.completed() && b.completed()) << name;
    EXPECT_EQ(a.shortAuthString(), b.shortAuthString()) << name;
    EXPECT_EQ(a.shortAuthString().size(), 4) << name;
    std::optional<SessionKeys> ka = a.takeKeys(), kb = b.takeKeys();
    ASSERT_TRUE(ka && kb) << name;
    ASSERT_EQ(ka->cipher, kb->cipher) << name;
    const std::uint8_t plain[] = {1, 2, 3};
    std::uint8_t sealed[3 + kSealedOverheadBytes], opened[3];
    const auto check = [&](SealedMedium medium, SecretKey& send, SecretKey& receive) {
        MediaSealer sealer(medium, ka->cipher, std::move(send));
        MediaOpener opener(medium, ka->cipher, std::move(receive));
        ASSERT_EQ(sealer.seal(plain, sealed).status, SealStatus::Sealed) << name;
        EXPECT_EQ(opener.open(sealed, opened).status, OpenStatus::Opened) << name;
    };
    check(SealedMedium::Picture, ka->pictureSend, kb->pictureReceive);
    check(SealedMedium::Picture, kb->pictureSend, ka->pictureReceive);
    check(SealedMedium::Voice, ka->voiceSend, kb->voiceReceive);
    check(SealedMedium::Voice, kb->voiceSend, ka->voiceReceive);
}

// The commitment and the code were worked out apart from this code: X25519 by OpenSSL, BLAKE2b and
// libsodium's KDF (keyed BLAKE2b, subkey number as salt, context as personalisation) by Python.
TEST(KeyAgreement, ExchangeByteForByteFromFixedKeys) {
    const auto chacha = std::uint8_t(AeadCipher::ChaCha20Poly1305);
    Exchange x({}, kAliceSecret, kBobSecret, Role::Responder, chacha, chacha);
    x.run();
    ASSERT_EQ(x.log.size(), 6u);
    const char* expected[] = {
        // BLAKE2b of DhPart2
        "01"
        "93b212909ebd2a6c3820ff61a6b373f21ab7db936375ff21c626f451b0f7d5fb",
        // Bob's public key, and the offer: ChaCha20-Poly1305
        "01"
        "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f"
        "01",
        // Alice's
        "01"
        "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a"
        "01",
    };
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(x.log[i].type, 16 + i);
        EXPECT_EQ(x.log[i].payload.toHex(), QByteArray(expected[i])) << i;
    }
    const qsizetype sizes[] = {kConfirmBytes, kConfirmBytes, kConfirm2AckBytes};
    for (int i = 3; i < 6; ++i) {
        EXPECT_EQ(x.log[i].type, 16 + i);
        EXPECT_EQ(x.log[i].payload.size(), sizes[i - 3]);
        EXPECT_EQ(x.log[i].payload[0], 1);
    }
    EXPECT_EQ(x.initiator.shortAuthString(), QStringLiteral("pg8h"));
    EXPECT_EQ(x.initiator.peerIdentity(), x.idR.publicKey());
    EXPECT_EQ(x.responder.peerIdentity(), x.idI.publicKey());
    EXPECT_EQ(x.nowMs, 0) << "nothing waited for a timer";
    expectSameKeys(x.initiator, x.responder, "fixed keys");
}

// Faults on the wire, each on a message of one role or the other.
TEST(KeyAgreement, LostRepeatedAndForgedMessagesInBothRoles) {
    const auto lose = [](Type t, int upTo) {
        return [=](Type type, int nth, const QByteArray& p) {
            return type == t && (upTo == 0 || nth <= upTo) ? std::vector<QByteArray>{} : std::vector{p};
        };
    };
    const auto repeat = [](Type type, int, const QByteArray& p) {
        (void)type;
        return std::vector{p, p, p};
    };
    // The first message of the type replaced by one of the right length and version.
    const auto forge = [](Type t) {
        return [=](Type type, int nth, const QByteArray& p) {
            QByteArray forged = p;
            for (qsizetype i = 1; i < forged.size(); ++i) {
                forged[i] = char(0x5a ^ i);
            }
            return type == t && nth == 1 ? std::vector{forged} : std::vector{p};
        };
    };
    // Stray payloads of the type before each real one: wrong version, too short, too long.
    const auto strays = [](Type t) {
        return [=](Type type, int, const QByteArray& p) {
            if (type != t) {
                return std::vector{p};
            }
            QByteArray v2 = p;
            v2[0] = 2;
            return std::vector{v2, p.left(p.size() - 1), p + 'x', QByteArray(), p};
        };
    };
    const Outcome done{true, Failure::None};
    const Outcome timedOut{false, Failure::TimedOut};
    const struct {
        const char* name;
        Fault fault;
        Outcome initiator, responder;
    } cases[] = {
        {"clean", {}, done, done},
        {"commit lost twice", lose(Type::Commit, 2), done, done},
        {"DH part 1 lost", lose(Type::DhPart1, 1), done, done},
        {"DH part 2 lost twice", lose(Type::DhPart2, 2), done, done},
        {"confirm 1 lost", lose(Type::Confirm1, 1), done, done},
        {"confirm 2 lost", lose(Type::Confirm2, 1), done, done},
        {"acknowledgement lost", lose(Type::Confirm2Ack, 1), done, done},
        {"every acknowledgement lost", lose(Type::Confirm2Ack, 0), done, done},
        {"initiator silent (every commit lost)", lose(Type::Commit, 0), timedOut, timedOut},
        {"responder silent (every DH part 1 lost)", lose(Type::DhPart1, 0), timedOut, timedOut},
        {"responder goes silent after its key", lose(Type::Confirm1, 0), timedOut, timedOut},
        {"every message arrives three times", repeat, done, done},
        {"forged commit: the real key does not match it",
         forge(Type::Commit),
         timedOut,
         {false, Failure::CommitmentMismatch}},
        {"forged DH part 2", forge(Type::DhPart2), timedOut, {false, Failure::CommitmentMismatch}},
        {"forged DH part 1: other keys", forge(Type::DhPart1), {false, Failure::BadConfirmation}, timedOut},
        {"forged confirm 1", forge(Type::Confirm1), {false, Failure::BadConfirmation}, timedOut},
        // The initiator had its confirmation already: it stays completed; the responder holds.
        {"forged confirm 2", forge(Type::Confirm2), done, {false, Failure::BadConfirmation}},
        {"forged acknowledgement: rejected, the real one follows", forge(Type::Confirm2Ack), done, done},
        {"low-order point as DH part 1",
         [](Type type, int, const QByteArray& p) {
             return type == Type::DhPart1 ? std::vector{QByteArray(1, 1) + QByteArray(32, 0) + '\x01'}
                                          : std::vector{p};
         },
         {false, Failure::WeakPublicKey},
         timedOut},
    };
    for (const auto& c : cases) {
        Exchange x(c.fault);
        x.run();
        const Outcome i = Exchange::outcome(x.initiator), r = Exchange::outcome(x.responder);
        EXPECT_EQ(i.completed, c.initiator.completed) << c.name;
        EXPECT_EQ(i.failure, c.initiator.failure) << c.name;
        EXPECT_EQ(r.completed, c.responder.completed) << c.name;
        EXPECT_EQ(r.failure, c.responder.failure) << c.name;
        if (c.initiator.completed && c.responder.completed) {
            expectSameKeys(x.initiator, x.responder, c.name);
            EXPECT_LE(x.nowMs, 5000) << c.name;
        }
    }
    for (Type t :
         {Type::Commit, Type::DhPart1, Type::DhPart2, Type::Confirm1, Type::Confirm2, Type::Confirm2Ack}) {
        Exchange x(strays(t));
        x.run();
        expectSameKeys(x.initiator, x.responder, "strays");
    }
}

TEST(KeyAgreement, MessagesOutOfPlaceAreIgnored) {
    IdentityKey id = IdentityKey::fromSeed(bytes32("03"));
    for (Role role : {Role::Initiator, Role::Responder}) {
        KeyAgreement k(role, id, {});
        const QByteArray dh = QByteArray(1, 1) + QByteArray(32, 9) + '\x01';
        EXPECT_TRUE(k.receive(quint8(Type::DhPart1), dh, 0).has(KeyAgreementEvent::Unexpected))
            << "before start";
        const KeyAgreementStep started = k.start(0);
        // The other role's messages, and types 22 to 31 that no version 1 phone sends.
        const Type foreign[] = {Type::DhPart2, Type::Confirm2};
        const Type foreignToResponder[] = {Type::DhPart1, Type::Confirm1};
        for (Type t : role == Role::Initiator ? foreign : foreignToResponder) {
            const qsizetype size = t == Type::DhPart2 || t == Type::DhPart1 ? kDhPartBytes : kConfirmBytes;
            QByteArray p(size, 7);
            p[0] = 1;
            const KeyAgreementStep s = k.receive(quint8(t), p, 1);
            EXPECT_TRUE(s.has(KeyAgreementEvent::Unexpected) && s.send.empty()) << int(t);
        }
        EXPECT_TRUE(k.receive(25, QByteArray(1, 1), 1).has(KeyAgreementEvent::Malformed));
        if (role == Role::Initiator) {
            // Its own commitment reflected back at it changes nothing.
            ASSERT_EQ(started.send.size(), 1u);
            const KeyAgreementStep s = k.receive(started.send[0].type, started.send[0].payload, 1);
            EXPECT_TRUE(s.has(KeyAgreementEvent::Unexpected));
            EXPECT_EQ(k.role(), Role::Initiator);
        }
        EXPECT_FALSE(k.completed());
        EXPECT_NE(k.state(), KeyAgreement::State::Failed);
    }
}

// AES-256-GCM only when both offer it; an offer without ChaCha20-Poly1305 is no version 1 phone's.
TEST(KeyAgreement, CipherAsBothOffer) {
    const std::uint8_t chacha = 1, both = 3;
    const struct {
        std::uint8_t offerI, offerR;
        AeadCipher expected;
    } cases[] = {
        {chacha, chacha, AeadCipher::ChaCha20Poly1305},
        {both, chacha, AeadCipher::ChaCha20Poly1305},
        {chacha, both, AeadCipher::ChaCha20Poly1305},
        {both, both, AeadCipher::Aes256Gcm},
    };
    for (const auto& c : cases) {
        Exchange x({}, std::nullopt, std::nullopt, Role::Responder, c.offerI, c.offerR);
        x.run();
        ASSERT_TRUE(x.initiator.completed());
        EXPECT_EQ(x.initiator.takeKeys()->cipher, c.expected) << int(c.offerI) << int(c.offerR);
    }
    Exchange noBaseline([](Type type, int, const QByteArray& p) {
        return type == Type::DhPart1 ? std::vector{p.left(33) + '\x02', p} : std::vector{p};
    });
    noBaseline.run();
    expectSameKeys(noBaseline.initiator, noBaseline.responder, "the offer without the baseline is ignored");
}

// Both phones think they placed the call: the larger commitment keeps the initiator's part.
TEST(KeyAgreement, TwoInitiatorsSettleWhoAnswers) {
    Exchange x({}, kAliceSecret, kBobSecret, Role::Initiator);
    x.run();
    EXPECT_NE(x.initiator.role(), x.responder.role());
    expectSameKeys(x.initiator, x.responder, "two initiators");
}

// Someone in the middle runs one agreement with each side: each side completes, but the codes
// differ, and that is what the users compare.
TEST(KeyAgreement, SomeoneInTheMiddleShowsAsDifferentCodes) {
    IdentityKey idA = IdentityKey::fromSeed(bytes32("0a")), idB = IdentityKey::fromSeed(bytes32("0b")),
                idM = IdentityKey::fromSeed(bytes32("0c"));
    KeyAgreement a(Role::Initiator, idA, {}, kAliceSecret), mToA(Role::Responder, idM, {}, bytes32("33"));
    KeyAgreement mToB(Role::Initiator, idM, {}, bytes32("44")), b(Role::Responder, idB, {}, kBobSecret);
    const auto relay = [](KeyAgreement& x, KeyAgreement& y) {
        std::deque<std::pair<KeyAgreement*, KeyMessage>> wire;
        const auto post = [&](KeyAgreement* to, const KeyAgreementStep& s) {
            for (const KeyMessage& m : s.send) {
                wire.push_back({to, m});
            }
        };
        y.start(0);
        post(&y, x.start(0));
        while (!wire.empty()) {
            auto [to, m] = wire.front();
            wire.pop_front();
            post(to == &x ? &y : &x, to->receive(m.type, m.payload, 0));
        }
    };
    relay(a, mToA);
    relay(mToB, b);
    ASSERT_TRUE(a.completed() && b.completed());
    EXPECT_NE(a.shortAuthString(), b.shortAuthString());
    EXPECT_EQ(a.peerIdentity(), idM.publicKey());
}

} // namespace
} // namespace talvora
