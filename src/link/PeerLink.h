#pragma once

#include "base/NetworkConfig.h"
#include "link/LinkWire.h"

#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>

namespace talvora {

// The phone's end of the link between two Talvora phones on UDP 6768, for one call at a time.
// When a call begins, both sides send hellos until each has heard the other's (or the hello
// time runs out): a peer that said hello in time is a Talvora phone, one that did not is an
// older phone, and the call goes on as older phones know it. Only the call's peer is heard;
// everything else on the port (strangers, malformed or foreign-tagged messages, anything before
// or after the call) is dropped and counted. Runs on the main thread.
class PeerLink : public QObject {
    Q_OBJECT
public:
    enum class PeerKind { Unknown, Talvora, Older };

    struct Timing {
        int helloIntervalMs = 250;
        // How long a peer has to say hello before it counts as an older phone. A private call
        // holds its media until then, so a call with an older phone starts this much later; six
        // hellos all lost on a LAN are rare enough (1e-12 at 1 % loss).
        int helloTimeoutMs = 1500;
    };

    // Datagrams read in one go before the event loop gets a turn; the rest are read on the
    // next turn, whether or not the socket signals again.
    static constexpr int kMaxDatagramsPerWakeup = 64;

    PeerLink(NetworkConfig network, quint32 capabilities, Timing timing, QObject* parent = nullptr);
    PeerLink(NetworkConfig network, quint32 capabilities, QObject* parent = nullptr)
        : PeerLink(network, capabilities, Timing{}, parent) {}
    ~PeerLink() override;

    // Binds UDP 6768 on the configured address. False when the port is taken (another program,
    // or a second phone on the same address): the phone then calls as an older phone would.
    bool open();
    bool isOpen() const { return m_socket.state() == QAbstractSocket::BoundState; }

    // A call with `peer` begins (or the peer of the call changed): a fresh tag, and hellos until
    // the peer answers or the hello time runs out. Messages leave from `source` when it is set
    // (the local address the peer reached us on).
    void beginCall(const QHostAddress& peer, const QHostAddress& source = {});
    // The call is over: the peer is forgotten, and whatever it still sends is dropped.
    void endCall();

    bool inCall() const { return !m_peer.isNull(); }
    QHostAddress peer() const { return m_peer; }
    PeerKind peerKind() const { return m_kind; }
    // This call's tags (0 outside a call, or before the peer's first hello), for diagnostics.
    quint64 ownTag() const { return m_ownTag; }
    quint64 peerTag() const { return m_peerTag; }
    // What the peer said it can do; 0 unless it is a Talvora phone.
    quint32 peerCapabilities() const { return m_peerCapabilities; }

    // Sends one message to a peer that is a Talvora phone; false (nothing sent) otherwise.
    bool send(LinkType type, QByteArrayView payload = {});

    struct Counters {
        quint64 datagrams = 0; // read from the port
        quint64 accepted = 0;  // the peer's messages handed on (hellos included)
        quint64 strangers = 0; // from anyone but the call's peer, or outside a call
        quint64 malformed = 0; // not a link message of this version, or a payload of the wrong size
        quint64 wrongTag = 0;  // the peer's address with tags of another call
        quint64 unknownType = 0;
    };
    const Counters& counters() const { return m_counters; }

signals:
    // The peer said hello in time: a Talvora phone with these capabilities.
    void peerIsTalvora(quint32 capabilities);
    // The hello time ran out without a hello: an older phone.
    void peerIsOlder();
    void reportReceived(const LinkReport& report);
    void hangUpReceived();
    // Any other message type the phone knows of, from the peer, tags checked (key agreement).
    void messageReceived(quint8 type, const QByteArray& payload);

private:
    void readPending();
    void handle(const QByteArray& datagram, const QHostAddress& sender);
    void handleHello(const LinkMessage& message);
    void sendHello();
    void helloTick();
    bool sendRaw(const QByteArray& datagram);

    NetworkConfig m_network;
    quint32 m_capabilities;
    Timing m_timing;
    QUdpSocket m_socket;
    QTimer m_helloTimer;
    QTimer m_drainAgain; // single-shot: the rest of a flood on the next turn of the event loop

    QHostAddress m_peer;
    QHostAddress m_source;
    PeerKind m_kind = PeerKind::Unknown;
    quint64 m_ownTag = 0;
    quint64 m_peerTag = 0;
    quint32 m_peerCapabilities = 0;
    bool m_peerHeardUs = false; // the peer's hello carried our tag: no more hellos needed
    int m_helloElapsedMs = 0;
    Counters m_counters;
};

} // namespace talvora
