#pragma once

#include "secure/IdentityKey.h"
#include "secure/SealedDatagram.h"
#include "secure/Sodium.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace talvora {

// The key agreement of a private call, as messages on the link between Talvora phones (types
// 16 to 31 of the link's format). The caller is the initiator:
//
//   initiator                                   responder
//   Commit     hash of the DhPart2 it will send   ->
//                                               <-  DhPart1    its X25519 public key
//   DhPart2    its X25519 public key              ->   (checked against the commitment)
//              (each DH part also offers the AEADs its side can seal with)
//                                               <-  Confirm1   sealed: identity key, signature
//   Confirm2   sealed: identity key, signature    ->
//                                               <-  Confirm2Ack
//
// Both X25519 key pairs are made afresh for every call. The initiator commits to its public key
// before it sees the responder's, and the responder shows its own only after the commitment, so
// neither side can try keys until the code comes out as it wishes: someone in the middle gets
// one guess at the 20-bit code per call.
//
// Every payload starts with the version, 1. Media are sealed with AES-256-GCM when both sides
// offer it and with ChaCha20-Poly1305 otherwise; the offers are part of the transcript, so nobody
// in the middle can talk the phones down to the slower cipher unnoticed. All keys come from the X25519 result
// and the hash of the transcript (the Commit, DhPart1 and DhPart2 payloads), by BLAKE2b and libsodium's KDF:
// one key per medium and direction, one per confirmation, and the bytes of the short authentication string.
// Each confirmation carries the sender's identity key and its Ed25519 signature of the transcript hash and
// the sender's role, encrypted and authenticated (ChaCha20-Poly1305) with the sender's confirmation key: it
// proves that the peer derived the same keys, and that whoever holds that identity key took part in this
// exchange, while hiding the identity from onlookers.
//
// Lost messages: the initiator sends its last message again every retransmit interval until the
// answer comes; the responder answers a repeat of a message with the answer it gave before. Both
// give up after the time-out. The object is pure: no sockets, no timers, no clock of its own; the
// caller hands in messages and the time and sends what each step returns.
enum class KeyMessageType : quint8 {
    Commit = 16,
    DhPart1 = 17,
    DhPart2 = 18,
    Confirm1 = 19,
    Confirm2 = 20,
    Confirm2Ack = 21,
};

inline constexpr quint8 kKeyAgreementVersion = 1;
inline constexpr qsizetype kCommitBytes = 33;      // version, BLAKE2b-256 of the DhPart2 payload
inline constexpr qsizetype kDhPartBytes = 34;      // version, X25519 public key, AEADs offered (bits)
inline constexpr qsizetype kConfirmBytes = 113;    // version, sealed (identity key 32, signature 64) + tag 16
inline constexpr qsizetype kConfirm2AckBytes = 17; // version, tag 16 (of nothing)

enum class KeyAgreementRole { Initiator, Responder };

struct KeyMessage {
    quint8 type = 0; // a KeyMessageType
    QByteArray payload;
    bool operator==(const KeyMessage&) const = default;
};

enum class KeyAgreementFailure {
    None,
    TimedOut,           // the peer did not finish in time (silent, or everything lost)
    CommitmentMismatch, // the initiator's public key is not the one it committed to
    WeakPublicKey,      // a public key that gives no shared secret (a low-order point)
    BadConfirmation,    // the peer's confirmation does not open: it derived other keys
    BadIdentity,        // the confirmation opens, but its signature is not the identity key's
};

// What one step noticed, in order.
enum class KeyAgreementEvent {
    Completed,     // keys agreed and confirmed by the peer: media may be sealed
    Acknowledged,  // initiator: the responder has our confirmation; nothing more to send
    Failed,        // for good; failure() says why
    RoleSwitched,  // both began as initiator; the one with the smaller commitment now answers
    Retransmitted, // initiator: the last message went out again
    Repeated,      // a copy of a message taken before (the responder answers it again)
    Malformed,     // ignored: not a payload of its type (length, version)
    Unexpected,    // ignored: not what the agreement waits for now (order, role, after the end)
    Conflicting,   // ignored: differs from the message of that type taken before in this call
    Rejected,      // ignored: an acknowledgement that does not authenticate
};

struct KeyAgreementStep {
    std::vector<KeyMessage> send;
    std::vector<KeyAgreementEvent> events;
    bool has(KeyAgreementEvent event) const;
};

// The media keys of a call from one side's point of view, and the AEAD they are for.
struct SessionKeys {
    AeadCipher cipher = AeadCipher::ChaCha20Poly1305;
    SecretKey pictureSend, pictureReceive, voiceSend, voiceReceive;
};

class KeyAgreement {
public:
    struct Timing {
        int retransmitMs = 200;
        int timeoutMs = 10000;
    };
    enum class State {
        Idle,             // not started
        AwaitingDhPart1,  // initiator: Commit sent
        AwaitingConfirm1, // initiator: DhPart2 sent
        AwaitingAck,      // initiator: completed, Confirm2 sent
        AwaitingCommit,   // responder: started
        AwaitingDhPart2,  // responder: DhPart1 sent
        AwaitingConfirm2, // responder: Confirm1 sent
        Done,             // completed (the initiator: acknowledged, or the time ran out)
        Failed,
    };

    // `ephemeralSecret` fixes the X25519 secret key (tests and fuzzing); without it a fresh one
    // is drawn. `ciphers` are the AEADs this side offers (ChaCha20-Poly1305 is always among
    // them). `identity` must outlive the agreement.
    KeyAgreement(KeyAgreementRole role, const IdentityKey& identity, Timing timing,
                 std::optional<std::array<std::uint8_t, 32>> ephemeralSecret = std::nullopt,
                 std::uint8_t ciphers = availableCiphers());
    ~KeyAgreement();
    KeyAgreement(const KeyAgreement&) = delete;
    KeyAgreement& operator=(const KeyAgreement&) = delete;

    // Starts the clock of the time-out; the initiator sends its Commit.
    KeyAgreementStep start(std::int64_t nowMs);
    // A message of the peer (type 16 to 31, from the link, tags checked).
    KeyAgreementStep receive(quint8 type, QByteArrayView payload, std::int64_t nowMs);
    // Retransmission and the time-out; call it at nextDeadlineMs() (calling early does nothing).
    KeyAgreementStep tick(std::int64_t nowMs);
    // When tick() next has something to do; empty once nothing will.
    std::optional<std::int64_t> nextDeadlineMs() const;

    KeyAgreementRole role() const { return m_role; } // after a switch, the role taken
    State state() const { return m_state; }
    bool completed() const { return m_completed; }
    KeyAgreementFailure failure() const { return m_failure; }

    // Once completed: the code both users compare, the peer's identity key, and the media keys
    // (taken once: the agreement keeps no copy).
    const QString& shortAuthString() const { return m_sas; }
    const IdentityPublicKey& peerIdentity() const { return m_peerIdentity; }
    std::optional<SessionKeys> takeKeys();

private:
    void fail(KeyAgreementStep& step, KeyAgreementFailure why);
    void sendNew(KeyAgreementStep& step, KeyMessage message, std::int64_t nowMs);
    bool derive(QByteArrayView peerDhPart);
    QByteArray confirmation(KeyMessageType type);
    bool acceptConfirmation(KeyMessageType type, QByteArrayView payload, KeyAgreementStep& step);
    void asInitiator(KeyMessageType type, QByteArrayView payload, std::int64_t nowMs, KeyAgreementStep& step);
    void asResponder(KeyMessageType type, QByteArrayView payload, std::int64_t nowMs, KeyAgreementStep& step);
    // A message of a type taken before: answered again when it is the same, ignored when not.
    void repeatOf(const QByteArray& before, QByteArrayView now, const KeyMessage* answer,
                  KeyAgreementStep& step);

    KeyAgreementRole m_role;
    const IdentityKey& m_identity;
    Timing m_timing;
    State m_state = State::Idle;
    bool m_completed = false;
    KeyAgreementFailure m_failure = KeyAgreementFailure::None;

    SecretKey m_ephemeralSecret;
    QByteArray m_ownDhPart; // version, public key, offer
    QByteArray m_ownCommit; // initiator: the Commit payload (of m_ownDhPart, its DhPart2)
    // The transcript, as both sides see it.
    QByteArray m_commit, m_dhPart1, m_dhPart2;
    QByteArray m_confirm1, m_confirm2, m_ack; // as taken, for telling repeats from conflicts
    std::array<std::uint8_t, 32> m_transcriptHash{};

    SecretKey m_confirmInitiator, m_confirmResponder;
    std::optional<SessionKeys> m_keys;
    QString m_sas;
    IdentityPublicKey m_peerIdentity{};

    // Initiator: what goes out again, and when. Responder: its answers to repeats.
    std::optional<KeyMessage> m_lastSent;
    std::int64_t m_nextRetransmitMs = 0;
    std::int64_t m_deadlineMs = 0;
    std::optional<KeyMessage> m_dhPart1Answer, m_confirm1Answer, m_ackAnswer;
};

} // namespace talvora
