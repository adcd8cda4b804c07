#pragma once

#include "base/NetworkConfig.h"
#include "base/ReentrancyGuard.h"
#include "call/SignalSender.h"

#include <QHash>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>

namespace talvora {

class MessageService;

// The signalling endpoints of the main window: `UDPServer` receives on port 6767, `UDPClient`
// sends to port 6767 of a peer. Datagrams are handled one at a time on the main thread.
class SignalEndpoint : public QObject, public SignalSender {
    Q_OBJECT
public:
    // Larger datagrams carry no call-control meaning and are dropped, like empty ones.
    static constexpr qint64 kMaxDatagramBytes = 8192;
    // Datagrams read in one go before the event loop gets a turn (a flood must not starve it).
    static constexpr int kMaxDatagramsPerWakeup = 256;
    // A socket holding datagrams that nobody read for this long is read anyway.
    static constexpr int kStallCheckMs = 100;

    SignalEndpoint(NetworkConfig network, MessageService& messages, QObject* parent = nullptr);

    // Where received datagrams go after classification; may be set once before open().
    void setHandler(SignalHandler* handler) { m_handler = handler; }

    // Starts receiving on port 6767 (every local address, or the bound one). Opening an open
    // receiver does nothing. Raises Error("Could not bind socket. Address and port are already
    // in use.") when the port is taken.
    void open();
    bool isOpen() const { return m_receiver.state() == QAbstractSocket::BoundState; }

    // Resolves `host` anew and sends `payload` to its port 6767. With a bind address the
    // datagram leaves from that address, so the peer's reply comes back to it.
    void send(const QString& host, const QByteArray& payload) override;
    QHostAddress localAddressFor(const QHostAddress& peer) const override;

private:
    void readPending();
    void rememberArrival(quint32 peer, const QHostAddress& local);
    void checkForStall();
    void dispatch(const QByteArray& payload, const QString& sender);

    NetworkConfig m_network;
    MessageService& m_messages;
    SignalHandler* m_handler = nullptr;
    QUdpSocket m_receiver;
    QUdpSocket m_sender;
    ReentrancyGuard m_reading;
    QTimer m_stallCheck;
    quint64 m_reads = 0;
    quint64 m_readsAtLastCheck = 0;
    // The local address each recent peer's datagrams arrived on (IPv4, host byte order).
    static constexpr qsizetype kMaxRememberedPeers = 64;
    QHash<quint32, QHostAddress> m_arrivedOn;
};

} // namespace talvora
