#include "secure/PrivateCall.h"

#include "link/LinkWire.h"

#include <algorithm>

namespace talvora {

QString privateCallText(const PrivateCallStatus& status) {
    switch (status.state) {
    case PrivateCallState::Negotiating:
        return QStringLiteral("Setting up encryption...");
    case PrivateCallState::Encrypted:
        if (status.keyMismatch) {
            const QString expected =
                status.knownPeer.name.isEmpty() ? status.knownPeer.address : status.knownPeer.name;
            return QStringLiteral("Warning: this is not the phone you verified as \"%1\": its key is "
                                  "different. Someone may be listening in, or another computer now has "
                                  "this address. Compare the code %2 before you say anything private.")
                .arg(expected, status.code);
        }
        if (status.verified) {
            return QStringLiteral("Encrypted \u00b7 verified");
        }
        return QStringLiteral("Encrypted \u00b7 code %1").arg(status.code);
    case PrivateCallState::Plain:
        return QStringLiteral("Not encrypted (the peer is an older phone)");
    case PrivateCallState::Failed:
        return QStringLiteral("Not encrypted: the phones could not agree on keys, so no picture or voice is "
                              "sent. End the call and try again.");
    case PrivateCallState::Refused:
        return QStringLiteral(
            "Not encrypted (the peer is an older phone), and this phone takes private calls "
            "only: the call is ended.");
    }
    return {};
}

bool privateCallWarns(const PrivateCallStatus& status) {
    return status.keyMismatch || status.state == PrivateCallState::Failed ||
           status.state == PrivateCallState::Refused;
}

PrivateCall::PrivateCall(KeyAgreementRole role, QString peerAddress, PrivateCallPolicy policy,
                         SendMessage send, const IdentityKey& identity, VerifiedPeers& verifiedPeers,
                         const voice::Clock& clock, KeyAgreement::Timing timing, QObject* parent)
    : QObject(parent), m_role(role), m_peerAddress(std::move(peerAddress)), m_policy(policy),
      m_send(std::move(send)), m_identity(identity), m_verifiedPeers(verifiedPeers), m_clock(clock),
      m_timing(timing), m_pictures(std::make_shared<MediaGuard>(SealedMedium::Picture)),
      m_voice(std::make_shared<MediaGuard>(SealedMedium::Voice)) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &PrivateCall::onTimer);
}

PrivateCall::~PrivateCall() = default;

void PrivateCall::peerIsTalvora(quint32 capabilities) {
    if ((capabilities & kLinkPrivateCalls) == 0) {
        cannotEncrypt(); // a Talvora phone from before private calls
        return;
    }
    startAgreement();
}

void PrivateCall::peerIsOlder() {
    if (!m_agreement) {
        cannotEncrypt();
    }
}

void PrivateCall::cannotEncrypt() {
    if (m_status.state != PrivateCallState::Negotiating || m_agreement) {
        return;
    }
    PrivateCallStatus status;
    if (m_policy.refusePlainCalls) {
        status.state = PrivateCallState::Refused;
    } else {
        status.state = PrivateCallState::Plain;
        m_pictures->decidePlain();
        m_voice->decidePlain();
    }
    setStatus(status);
}

void PrivateCall::startAgreement() {
    if (m_agreement || m_status.state != PrivateCallState::Negotiating) {
        return;
    }
    m_agreement = std::make_unique<KeyAgreement>(m_role, m_identity, m_timing);
    apply(m_agreement->start(m_clock.nowMs()));
}

void PrivateCall::messageReceived(quint8 type, const QByteArray& payload) {
    ++m_counters.received;
    // The link hands on these types only from a Talvora peer, whose hello may still be on its way
    // to us in the other order of events.
    startAgreement();
    if (m_agreement) {
        apply(m_agreement->receive(type, payload, m_clock.nowMs()));
    }
}

void PrivateCall::onTimer() {
    if (m_agreement) {
        apply(m_agreement->tick(m_clock.nowMs()));
    }
}

void PrivateCall::apply(const KeyAgreementStep& step) {
    for (const KeyMessage& message : step.send) {
        ++m_counters.sent;
        m_send(message.type, message.payload); // a lost message is sent again or answered again
    }
    for (const KeyAgreementEvent event : step.events) {
        switch (event) {
        case KeyAgreementEvent::Completed:
            encrypted();
            break;
        case KeyAgreementEvent::Failed: {
            PrivateCallStatus status;
            status.state = PrivateCallState::Failed;
            status.failure = m_agreement->failure();
            setStatus(status);
            break;
        }
        case KeyAgreementEvent::Retransmitted:
            ++m_counters.retransmitted;
            break;
        case KeyAgreementEvent::Repeated:
            ++m_counters.repeated;
            break;
        case KeyAgreementEvent::Malformed:
        case KeyAgreementEvent::Unexpected:
        case KeyAgreementEvent::Conflicting:
        case KeyAgreementEvent::Rejected:
            ++m_counters.ignored;
            break;
        case KeyAgreementEvent::Acknowledged:
        case KeyAgreementEvent::RoleSwitched:
            break;
        }
    }
    arm();
}

void PrivateCall::encrypted() {
    std::optional<SessionKeys> keys = m_agreement->takeKeys();
    if (!keys) {
        return;
    }
    m_pictures->decideSealed(keys->cipher, std::move(keys->pictureSend), std::move(keys->pictureReceive));
    m_voice->decideSealed(keys->cipher, std::move(keys->voiceSend), std::move(keys->voiceReceive));
    PrivateCallStatus status;
    status.state = PrivateCallState::Encrypted;
    status.code = m_agreement->shortAuthString();
    const VerifiedPeers::Lookup known = m_verifiedPeers.lookup(m_agreement->peerIdentity(), m_peerAddress);
    status.verified = known.match == VerifiedPeers::Match::Verified;
    status.keyMismatch = known.match == VerifiedPeers::Match::KeyMismatch;
    status.knownPeer = known.peer;
    setStatus(status);
}

bool PrivateCall::markPeerVerified(const QString& name, QDate today, QString* error) {
    if (m_status.state != PrivateCallState::Encrypted) {
        return false;
    }
    const VerifiedPeer peer{m_agreement->peerIdentity(), today, m_peerAddress, name};
    const bool written = m_verifiedPeers.markVerified(peer, error);
    PrivateCallStatus status = m_status;
    status.verified = true;
    status.keyMismatch = false;
    status.knownPeer = peer;
    setStatus(status);
    return written;
}

bool PrivateCall::forgetPeer(QString* error) {
    if (m_status.state != PrivateCallState::Encrypted) {
        return false;
    }
    const bool written = m_verifiedPeers.forget(m_agreement->peerIdentity(), error);
    PrivateCallStatus status = m_status;
    status.verified = false;
    status.knownPeer = {};
    setStatus(status);
    return written;
}

void PrivateCall::setStatus(PrivateCallStatus status) {
    if (status == m_status) {
        return;
    }
    m_status = std::move(status);
    emit statusChanged(m_status);
}

void PrivateCall::arm() {
    const std::optional<std::int64_t> deadline = m_agreement ? m_agreement->nextDeadlineMs() : std::nullopt;
    if (!deadline) {
        m_timer.stop();
        return;
    }
    const std::int64_t waitMs = std::max<std::int64_t>(0, *deadline - m_clock.nowMs());
    m_timer.start(int(std::min<std::int64_t>(waitMs, 60000)));
}

} // namespace talvora
