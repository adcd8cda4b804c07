#include "secure/KeyAgreement.h"

#include "secure/ShortAuthString.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>

namespace talvora {

namespace {

static_assert(crypto_scalarmult_BYTES == 32 && crypto_scalarmult_SCALARBYTES == 32);
static_assert(crypto_kdf_CONTEXTBYTES == 8 && crypto_kdf_KEYBYTES == 32);

// Labels that keep each hash and signature of this protocol apart from every other use of the
// same keys and functions.
constexpr char kCommitLabel[] = "talvora commitment 1";
constexpr char kTranscriptLabel[] = "talvora transcript 1";
constexpr char kIdentityLabel[] = "talvora identity 1";
constexpr char kKdfContext[crypto_kdf_CONTEXTBYTES + 1] = "TlvrCall";

// The KDF's subkey numbers.
enum : std::uint64_t {
    kPicturesFromInitiator = 1,
    kPicturesFromResponder = 2,
    kVoiceFromInitiator = 3,
    kVoiceFromResponder = 4,
    kConfirmInitiator = 5,
    kConfirmResponder = 6,
    kSasBytes = 7,
};

constexpr std::size_t kIdentityPlainBytes = 32 + 64;
static_assert(kConfirmBytes == 1 + kIdentityPlainBytes + crypto_aead_chacha20poly1305_IETF_ABYTES);
static_assert(kConfirm2AckBytes == 1 + crypto_aead_chacha20poly1305_IETF_ABYTES);

const std::uint8_t* bytesOf(QByteArrayView view) {
    return reinterpret_cast<const std::uint8_t*>(view.data());
}

class Hash {
public:
    Hash() { crypto_generichash_init(&m_state, nullptr, 0, 32); }
    Hash& add(QByteArrayView bytes) {
        crypto_generichash_update(&m_state, bytesOf(bytes), std::size_t(bytes.size()));
        return *this;
    }
    std::array<std::uint8_t, 32> finish() {
        std::array<std::uint8_t, 32> out{};
        crypto_generichash_final(&m_state, out.data(), out.size());
        return out;
    }

private:
    crypto_generichash_state m_state;
};

SecretKey subkey(const std::array<std::uint8_t, 32>& master, std::uint64_t id) {
    std::array<std::uint8_t, 32> bytes{};
    crypto_kdf_derive_from_key(bytes.data(), bytes.size(), id, kKdfContext, master.data());
    SecretKey key(bytes);
    wipe(bytes);
    return key;
}

QByteArray versioned(std::span<const std::uint8_t> body) {
    QByteArray out(1, char(kKeyAgreementVersion));
    out.append(reinterpret_cast<const char*>(body.data()), qsizetype(body.size()));
    return out;
}

// A DH part offers ChaCha20-Poly1305 always; one that does not is not a version 1 phone's.
bool offersBaseline(QByteArrayView dhPart) {
    return (quint8(dhPart[kDhPartBytes - 1]) & quint8(AeadCipher::ChaCha20Poly1305)) != 0;
}

qsizetype expectedBytes(KeyMessageType type) {
    switch (type) {
    case KeyMessageType::Commit:
        return kCommitBytes;
    case KeyMessageType::DhPart1:
    case KeyMessageType::DhPart2:
        return kDhPartBytes;
    case KeyMessageType::Confirm1:
    case KeyMessageType::Confirm2:
        return kConfirmBytes;
    case KeyMessageType::Confirm2Ack:
        return kConfirm2AckBytes;
    }
    return -1;
}

// The additional data of a confirmation or acknowledgement: its type and the transcript hash.
std::array<std::uint8_t, 33> confirmationData(KeyMessageType type, const std::array<std::uint8_t, 32>& hash) {
    std::array<std::uint8_t, 33> ad{};
    ad[0] = std::uint8_t(type);
    std::copy(hash.begin(), hash.end(), ad.begin() + 1);
    return ad;
}

QByteArray signedPart(KeyAgreementRole signer, const std::array<std::uint8_t, 32>& hash) {
    QByteArray out(kIdentityLabel);
    out.append(signer == KeyAgreementRole::Initiator ? 'I' : 'R');
    out.append(reinterpret_cast<const char*>(hash.data()), qsizetype(hash.size()));
    return out;
}

std::span<const std::uint8_t> spanOf(const QByteArray& bytes) {
    return {bytesOf(bytes), std::size_t(bytes.size())};
}

} // namespace

bool KeyAgreementStep::has(KeyAgreementEvent event) const {
    return std::find(events.begin(), events.end(), event) != events.end();
}

KeyAgreement::KeyAgreement(KeyAgreementRole role, const IdentityKey& identity, Timing timing,
                           std::optional<std::array<std::uint8_t, 32>> ephemeralSecret, std::uint8_t ciphers)
    : m_role(role), m_identity(identity), m_timing(timing) {
    ensureSodium();
    std::array<std::uint8_t, 32> secret{};
    if (ephemeralSecret) {
        secret = *ephemeralSecret;
        wipe(*ephemeralSecret);
    } else {
        randombytes_buf(secret.data(), secret.size());
    }
    m_ephemeralSecret = SecretKey(secret);
    wipe(secret);
    std::array<std::uint8_t, 32> ephemeralPublic{};
    crypto_scalarmult_base(ephemeralPublic.data(), m_ephemeralSecret.data());
    m_ownDhPart = versioned(ephemeralPublic);
    m_ownDhPart.append(char(ciphers | std::uint8_t(AeadCipher::ChaCha20Poly1305)));
    m_ownCommit = versioned(Hash().add(QByteArrayView(kCommitLabel)).add(m_ownDhPart).finish());
}

KeyAgreement::~KeyAgreement() = default;

std::optional<SessionKeys> KeyAgreement::takeKeys() {
    std::optional<SessionKeys> keys = std::move(m_keys);
    m_keys.reset();
    return keys;
}

KeyAgreementStep KeyAgreement::start(std::int64_t nowMs) {
    KeyAgreementStep step;
    if (m_state != State::Idle) {
        return step;
    }
    m_deadlineMs = nowMs + m_timing.timeoutMs;
    if (m_role == KeyAgreementRole::Initiator) {
        m_state = State::AwaitingDhPart1;
        sendNew(step, {quint8(KeyMessageType::Commit), m_ownCommit}, nowMs);
    } else {
        m_state = State::AwaitingCommit;
    }
    return step;
}

void KeyAgreement::sendNew(KeyAgreementStep& step, KeyMessage message, std::int64_t nowMs) {
    step.send.push_back(message);
    if (m_role == KeyAgreementRole::Initiator) {
        m_lastSent = std::move(message);
        m_nextRetransmitMs = nowMs + m_timing.retransmitMs;
    }
}

void KeyAgreement::fail(KeyAgreementStep& step, KeyAgreementFailure why) {
    m_state = State::Failed;
    m_failure = why;
    m_lastSent.reset();
    m_keys.reset();
    step.events.push_back(KeyAgreementEvent::Failed);
}

KeyAgreementStep KeyAgreement::tick(std::int64_t nowMs) {
    KeyAgreementStep step;
    if (m_state == State::Idle || m_state == State::Done || m_state == State::Failed) {
        return step;
    }
    if (nowMs >= m_deadlineMs) {
        if (m_completed) {
            // The responder has our confirmation or never will: either way nothing is left to do.
            m_state = State::Done;
            m_lastSent.reset();
        } else {
            fail(step, KeyAgreementFailure::TimedOut);
        }
        return step;
    }
    if (m_lastSent && nowMs >= m_nextRetransmitMs) {
        step.send.push_back(*m_lastSent);
        step.events.push_back(KeyAgreementEvent::Retransmitted);
        m_nextRetransmitMs = nowMs + m_timing.retransmitMs;
    }
    return step;
}

std::optional<std::int64_t> KeyAgreement::nextDeadlineMs() const {
    if (m_state == State::Idle || m_state == State::Done || m_state == State::Failed) {
        return std::nullopt;
    }
    return m_lastSent ? std::min(m_deadlineMs, m_nextRetransmitMs) : m_deadlineMs;
}

KeyAgreementStep KeyAgreement::receive(quint8 type, QByteArrayView payload, std::int64_t nowMs) {
    KeyAgreementStep step;
    const auto known = KeyMessageType(type);
    const qsizetype expected = type >= 16 && type <= 21 ? expectedBytes(known) : -1;
    if (expected < 0 || payload.size() != expected || quint8(payload[0]) != kKeyAgreementVersion) {
        step.events.push_back(KeyAgreementEvent::Malformed);
        return step;
    }
    if (m_state == State::Idle || m_state == State::Failed) {
        step.events.push_back(KeyAgreementEvent::Unexpected);
        return step;
    }
    if (m_role == KeyAgreementRole::Initiator) {
        asInitiator(known, payload, nowMs, step);
    } else {
        asResponder(known, payload, nowMs, step);
    }
    return step;
}

void KeyAgreement::repeatOf(const QByteArray& before, QByteArrayView now, const KeyMessage* answer,
                            KeyAgreementStep& step) {
    if (before != now) {
        step.events.push_back(KeyAgreementEvent::Conflicting);
        return;
    }
    step.events.push_back(KeyAgreementEvent::Repeated);
    if (answer != nullptr) {
        step.send.push_back(*answer);
    }
}

void KeyAgreement::asInitiator(KeyMessageType type, QByteArrayView payload, std::int64_t nowMs,
                               KeyAgreementStep& step) {
    switch (type) {
    case KeyMessageType::Commit:
        // Both sides began as initiator. The larger commitment keeps the role; the other side
        // answers it, with the key pair it has not shown yet. Our own commitment comes back to
        // us only when someone reflects it: equal, and ignored.
        if (m_state == State::AwaitingDhPart1 &&
            std::memcmp(payload.data() + 1, m_ownCommit.constData() + 1, 32) > 0) {
            m_role = KeyAgreementRole::Responder;
            m_lastSent.reset();
            m_state = State::AwaitingCommit;
            step.events.push_back(KeyAgreementEvent::RoleSwitched);
            asResponder(type, payload, nowMs, step);
            return;
        }
        break;
    case KeyMessageType::DhPart1:
        if (!m_dhPart1.isEmpty()) {
            repeatOf(m_dhPart1, payload, nullptr, step);
            return;
        }
        if (m_state != State::AwaitingDhPart1) {
            break;
        }
        if (!offersBaseline(payload)) {
            step.events.push_back(KeyAgreementEvent::Malformed);
            return;
        }
        m_commit = m_ownCommit;
        m_dhPart1 = payload.toByteArray();
        m_dhPart2 = m_ownDhPart;
        if (!derive(payload)) {
            fail(step, KeyAgreementFailure::WeakPublicKey);
            return;
        }
        m_state = State::AwaitingConfirm1;
        sendNew(step, {quint8(KeyMessageType::DhPart2), m_ownDhPart}, nowMs);
        return;
    case KeyMessageType::Confirm1:
        if (!m_confirm1.isEmpty()) {
            repeatOf(m_confirm1, payload, nullptr, step);
            return;
        }
        if (m_state != State::AwaitingConfirm1) {
            break;
        }
        if (!acceptConfirmation(type, payload, step)) {
            return;
        }
        m_confirm1 = payload.toByteArray();
        m_completed = true;
        m_state = State::AwaitingAck;
        step.events.push_back(KeyAgreementEvent::Completed);
        sendNew(step, {quint8(KeyMessageType::Confirm2), confirmation(KeyMessageType::Confirm2)}, nowMs);
        return;
    case KeyMessageType::Confirm2Ack: {
        if (!m_ack.isEmpty()) {
            repeatOf(m_ack, payload, nullptr, step);
            return;
        }
        if (m_state != State::AwaitingAck) {
            break;
        }
        const auto ad = confirmationData(type, m_transcriptHash);
        std::array<std::uint8_t, crypto_aead_chacha20poly1305_IETF_NPUBBYTES> nonce{};
        nonce.back() = 1;
        std::array<std::uint8_t, 1> nothing{}; // the acknowledgement seals no bytes
        if (crypto_aead_chacha20poly1305_ietf_decrypt_detached(
                nothing.data(), nullptr, nothing.data(), 0, bytesOf(payload) + 1, ad.data(), ad.size(),
                nonce.data(), m_confirmResponder.data()) != 0) {
            step.events.push_back(KeyAgreementEvent::Rejected);
            return;
        }
        m_ack = payload.toByteArray();
        m_state = State::Done;
        m_lastSent.reset();
        step.events.push_back(KeyAgreementEvent::Acknowledged);
        return;
    }
    case KeyMessageType::DhPart2:
    case KeyMessageType::Confirm2:
        break; // only a responder takes these: a reflection of our own, or a confused peer
    }
    step.events.push_back(KeyAgreementEvent::Unexpected);
}

void KeyAgreement::asResponder(KeyMessageType type, QByteArrayView payload, std::int64_t nowMs,
                               KeyAgreementStep& step) {
    switch (type) {
    case KeyMessageType::Commit:
        if (!m_commit.isEmpty()) {
            repeatOf(m_commit, payload, m_dhPart1Answer ? &*m_dhPart1Answer : nullptr, step);
            return;
        }
        m_commit = payload.toByteArray();
        m_dhPart1 = m_ownDhPart;
        m_dhPart1Answer = KeyMessage{quint8(KeyMessageType::DhPart1), m_dhPart1};
        m_state = State::AwaitingDhPart2;
        sendNew(step, *m_dhPart1Answer, nowMs);
        return;
    case KeyMessageType::DhPart2: {
        if (!m_dhPart2.isEmpty()) {
            repeatOf(m_dhPart2, payload, m_confirm1Answer ? &*m_confirm1Answer : nullptr, step);
            return;
        }
        if (m_state != State::AwaitingDhPart2) {
            break;
        }
        const auto commitment = Hash().add(QByteArrayView(kCommitLabel)).add(payload).finish();
        if (sodium_memcmp(commitment.data(), m_commit.constData() + 1, commitment.size()) != 0) {
            fail(step, KeyAgreementFailure::CommitmentMismatch);
            return;
        }
        if (!offersBaseline(payload)) {
            step.events.push_back(KeyAgreementEvent::Malformed);
            return;
        }
        m_dhPart2 = payload.toByteArray();
        if (!derive(payload)) {
            fail(step, KeyAgreementFailure::WeakPublicKey);
            return;
        }
        m_confirm1Answer =
            KeyMessage{quint8(KeyMessageType::Confirm1), confirmation(KeyMessageType::Confirm1)};
        m_state = State::AwaitingConfirm2;
        sendNew(step, *m_confirm1Answer, nowMs);
        return;
    }
    case KeyMessageType::Confirm2: {
        if (!m_confirm2.isEmpty()) {
            repeatOf(m_confirm2, payload, m_ackAnswer ? &*m_ackAnswer : nullptr, step);
            return;
        }
        if (m_state != State::AwaitingConfirm2) {
            break;
        }
        if (!acceptConfirmation(type, payload, step)) {
            return;
        }
        m_confirm2 = payload.toByteArray();
        const auto ad = confirmationData(KeyMessageType::Confirm2Ack, m_transcriptHash);
        std::array<std::uint8_t, crypto_aead_chacha20poly1305_IETF_NPUBBYTES> nonce{};
        nonce.back() = 1; // the confirmation key's second and last use
        std::array<std::uint8_t, crypto_aead_chacha20poly1305_IETF_ABYTES> tag{};
        std::array<std::uint8_t, 1> nothing{}; // the acknowledgement seals no bytes
        crypto_aead_chacha20poly1305_ietf_encrypt_detached(nothing.data(), tag.data(), nullptr,
                                                           nothing.data(), 0, ad.data(), ad.size(), nullptr,
                                                           nonce.data(), m_confirmResponder.data());
        m_ackAnswer = KeyMessage{quint8(KeyMessageType::Confirm2Ack), versioned(tag)};
        m_completed = true;
        m_state = State::Done;
        step.events.push_back(KeyAgreementEvent::Completed);
        sendNew(step, *m_ackAnswer, nowMs);
        return;
    }
    case KeyMessageType::DhPart1:
    case KeyMessageType::Confirm1:
    case KeyMessageType::Confirm2Ack:
        break; // only an initiator takes these
    }
    step.events.push_back(KeyAgreementEvent::Unexpected);
}

bool KeyAgreement::derive(QByteArrayView peerDhPart) {
    std::array<std::uint8_t, 32> shared{};
    // libsodium refuses a low-order point, whose result would not depend on our secret.
    if (crypto_scalarmult(shared.data(), m_ephemeralSecret.data(), bytesOf(peerDhPart) + 1) != 0) {
        return false;
    }
    m_ephemeralSecret = SecretKey(); // no longer needed: forget it
    m_transcriptHash =
        Hash().add(QByteArrayView(kTranscriptLabel)).add(m_commit).add(m_dhPart1).add(m_dhPart2).finish();
    std::array<std::uint8_t, 32> master = Hash().add(shared).add(m_transcriptHash).finish();
    wipe(shared);

    const bool initiator = m_role == KeyAgreementRole::Initiator;
    const auto common = quint8(m_dhPart1.back()) & quint8(m_dhPart2.back());
    m_keys = SessionKeys{
        common & quint8(AeadCipher::Aes256Gcm) ? AeadCipher::Aes256Gcm : AeadCipher::ChaCha20Poly1305,
        subkey(master, initiator ? kPicturesFromInitiator : kPicturesFromResponder),
        subkey(master, initiator ? kPicturesFromResponder : kPicturesFromInitiator),
        subkey(master, initiator ? kVoiceFromInitiator : kVoiceFromResponder),
        subkey(master, initiator ? kVoiceFromResponder : kVoiceFromInitiator),
    };
    m_confirmInitiator = subkey(master, kConfirmInitiator);
    m_confirmResponder = subkey(master, kConfirmResponder);
    const SecretKey sas = subkey(master, kSasBytes);
    m_sas = talvora::shortAuthString(sas.bytes());
    wipe(master);
    return true;
}

QByteArray KeyAgreement::confirmation(KeyMessageType type) {
    const IdentitySignature signature = m_identity.sign(spanOf(signedPart(m_role, m_transcriptHash)));
    std::array<std::uint8_t, kIdentityPlainBytes> plain{};
    std::copy(m_identity.publicKey().begin(), m_identity.publicKey().end(), plain.begin());
    std::copy(signature.begin(), signature.end(), plain.begin() + 32);
    const auto ad = confirmationData(type, m_transcriptHash);
    // Each confirmation key seals one confirmation, so a nonce of zero is used once per key.
    const std::array<std::uint8_t, crypto_aead_chacha20poly1305_IETF_NPUBBYTES> nonce{};
    const SecretKey& key = m_role == KeyAgreementRole::Initiator ? m_confirmInitiator : m_confirmResponder;
    QByteArray out(kConfirmBytes, '\0');
    out[0] = char(kKeyAgreementVersion);
    auto* sealed = reinterpret_cast<std::uint8_t*>(out.data()) + 1;
    crypto_aead_chacha20poly1305_ietf_encrypt_detached(sealed, sealed + plain.size(), nullptr, plain.data(),
                                                       plain.size(), ad.data(), ad.size(), nullptr,
                                                       nonce.data(), key.data());
    return out;
}

bool KeyAgreement::acceptConfirmation(KeyMessageType type, QByteArrayView payload, KeyAgreementStep& step) {
    const bool fromInitiator = type == KeyMessageType::Confirm2;
    const SecretKey& key = fromInitiator ? m_confirmInitiator : m_confirmResponder;
    const auto ad = confirmationData(type, m_transcriptHash);
    const std::array<std::uint8_t, crypto_aead_chacha20poly1305_IETF_NPUBBYTES> nonce{};
    std::array<std::uint8_t, kIdentityPlainBytes> plain{};
    const std::uint8_t* sealed = bytesOf(payload) + 1;
    if (crypto_aead_chacha20poly1305_ietf_decrypt_detached(plain.data(), nullptr, sealed, plain.size(),
                                                           sealed + plain.size(), ad.data(), ad.size(),
                                                           nonce.data(), key.data()) != 0) {
        fail(step, KeyAgreementFailure::BadConfirmation);
        return false;
    }
    IdentityPublicKey peer{};
    IdentitySignature signature{};
    std::copy_n(plain.begin(), 32, peer.begin());
    std::copy_n(plain.begin() + 32, 64, signature.begin());
    const KeyAgreementRole signer = fromInitiator ? KeyAgreementRole::Initiator : KeyAgreementRole::Responder;
    if (!IdentityKey::verify(peer, spanOf(signedPart(signer, m_transcriptHash)), signature)) {
        fail(step, KeyAgreementFailure::BadIdentity);
        return false;
    }
    m_peerIdentity = peer;
    return true;
}

} // namespace talvora
