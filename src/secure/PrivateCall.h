#pragma once

#include "base/Clock.h"
#include "secure/KeyAgreement.h"
#include "secure/MediaGuard.h"
#include "secure/VerifiedPeers.h"

#include <QByteArray>
#include <QDate>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace talvora {

// What a call's privacy comes to.
enum class PrivateCallState {
    Negotiating, // finding out whether the peer is a Talvora phone, and agreeing on keys
    Encrypted,   // keys agreed: pictures and voice go sealed both ways
    Plain,       // the peer is an older phone: the call goes as older phones know it
    Failed,      // the peer is a Talvora phone, but the key agreement failed: nothing is sent
    Refused,     // the call cannot be encrypted and this phone takes private calls only
};

struct PrivateCallStatus {
    PrivateCallState state = PrivateCallState::Negotiating;
    QString code;             // Encrypted: the short authentication string both users compare
    bool verified = false;    // Encrypted: the peer holds the identity key of a peer the user verified
    bool keyMismatch = false; // Encrypted: a peer verified at this address had another key
    VerifiedPeer knownPeer;   // verified: its record; keyMismatch: the record of the peer expected
    KeyAgreementFailure failure = KeyAgreementFailure::None; // Failed: why
    bool operator==(const PrivateCallStatus&) const = default;
};

struct PrivateCallPolicy {
    // The phone's own setting, off by default: a call that cannot be encrypted is refused.
    bool refusePlainCalls = false;
};

// The line the window shows during the call: "Encrypted · code XXXX", "Encrypted · verified",
// "Not encrypted (the peer is an older phone)", or a plain warning.
QString privateCallText(const PrivateCallStatus& status);
// Whether that line is a warning (to be shown so that nobody misses it): a verified peer's key
// that does not match, a failed key agreement, a refused call.
bool privateCallWarns(const PrivateCallStatus& status);

// The privacy of one call, owned by the Phone from the moment the call connects until it ends.
//
// Wiring (all on the main thread):
//   PeerLink::peerIsTalvora(capabilities)  -> peerIsTalvora()
//   PeerLink::peerIsOlder()                 -> peerIsOlder()
//   PeerLink::messageReceived(type, bytes)  -> messageReceived()
//   `send`                                  -> PeerLink::send(LinkType(type), payload)
//   statusChanged()                         -> the window's line (privateCallText) and, when
//                                              mustEnd(), the End of the call
//   pictureGuard() / voiceGuard()           -> the picture sender and receiver, the voice engine
//
// The caller is the initiator of the key agreement, the callee the responder (should both
// begin as initiator, the agreement settles it). The guards are there from the start and hold
// every datagram until the call is Encrypted (then sealed) or Plain (then passed as they are);
// Failed and Refused hold them for good, so nothing of a Talvora peer's call ever goes out in
// the clear because a message was lost or forged. A peer that says it is an older phone
// (no hello, or a hello without private calls) gets plain media, as the window then says.
class PrivateCall : public QObject {
    Q_OBJECT
public:
    using SendMessage = std::function<bool(quint8 type, const QByteArray& payload)>;

    // `identity`, `verifiedPeers` and `clock` must outlive the call; `peerAddress` is the peer's
    // dotted IPv4 address, under which a verified peer is expected.
    PrivateCall(KeyAgreementRole role, QString peerAddress, PrivateCallPolicy policy, SendMessage send,
                const IdentityKey& identity, VerifiedPeers& verifiedPeers, const voice::Clock& clock,
                KeyAgreement::Timing timing = {}, QObject* parent = nullptr);
    ~PrivateCall() override;

    void peerIsTalvora(quint32 capabilities);
    void peerIsOlder();
    void messageReceived(quint8 type, const QByteArray& payload);
    // Retransmission and the time-out, at the time on the clock. The call's own timer calls it;
    // tests call it after moving their clock.
    void onTimer();

    const PrivateCallStatus& status() const { return m_status; }
    QString windowText() const { return privateCallText(m_status); }
    // The call must end: it cannot be private and this phone takes private calls only.
    bool mustEnd() const {
        return m_status.state == PrivateCallState::Refused ||
               (m_status.state == PrivateCallState::Failed && m_policy.refusePlainCalls);
    }

    // Shared with the media threads, which may keep them past the call's end.
    std::shared_ptr<MediaGuard> pictureGuard() const { return m_pictures; }
    std::shared_ptr<MediaGuard> voiceGuard() const { return m_voice; }

    // The users compared the code and found it the same (only while Encrypted): the peer is
    // remembered as verified under `name`. False with the message in `error` when the list could
    // not be written; the call counts as verified all the same.
    bool markPeerVerified(const QString& name, QDate today, QString* error = nullptr);
    // The user takes the verification back.
    bool forgetPeer(QString* error = nullptr);

    struct Counters {
        quint64 sent = 0;     // key agreement messages handed to the link
        quint64 received = 0; // key agreement messages from the link
        quint64 retransmitted = 0;
        quint64 repeated = 0;
        quint64 ignored = 0; // malformed, unexpected, conflicting or rejected
    };
    const Counters& counters() const { return m_counters; }
    const KeyAgreement* agreement() const { return m_agreement.get(); }

signals:
    void statusChanged(const PrivateCallStatus& status);

private:
    void startAgreement();
    void cannotEncrypt();
    void apply(const KeyAgreementStep& step);
    void encrypted();
    void setStatus(PrivateCallStatus status);
    void arm();

    KeyAgreementRole m_role;
    QString m_peerAddress;
    PrivateCallPolicy m_policy;
    SendMessage m_send;
    const IdentityKey& m_identity;
    VerifiedPeers& m_verifiedPeers;
    const voice::Clock& m_clock;
    KeyAgreement::Timing m_timing;

    std::unique_ptr<KeyAgreement> m_agreement; // from the peer's hello on
    std::shared_ptr<MediaGuard> m_pictures;
    std::shared_ptr<MediaGuard> m_voice;
    PrivateCallStatus m_status;
    Counters m_counters;
    QTimer m_timer; // single-shot, at the agreement's next deadline
};

} // namespace talvora
