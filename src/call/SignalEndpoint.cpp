#include "call/SignalEndpoint.h"

#include "base/Error.h"
#include "base/HostResolver.h"
#include "base/MessageService.h"
#include "call/SignalWire.h"

#include "base/SocketOptions.h"

#include <QHostAddress>
#include <QNetworkDatagram>

#include <cerrno>
#include <cstring>

namespace talvora {

SignalEndpoint::SignalEndpoint(NetworkConfig network, MessageService& messages, QObject* parent)
    : QObject(parent), m_network(network), m_messages(messages) {
    connect(&m_receiver, &QUdpSocket::readyRead, this, &SignalEndpoint::readPending);
    m_stallCheck.setInterval(kStallCheckMs);
    connect(&m_stallCheck, &QTimer::timeout, this, &SignalEndpoint::checkForStall);
}

void SignalEndpoint::open() {
    if (isOpen()) {
        return;
    }
    // DontShareAddress: without it Qt sets SO_REUSEADDR, and a second copy of the phone would
    // quietly share the port instead of being told it is taken.
    if (!m_receiver.bind(m_network.bindAddress, kSignalPort, QAbstractSocket::DontShareAddress)) {
        throw Error(QStringLiteral("Could not bind socket. Address and port are already in use."));
    }
    m_stallCheck.start();
}

void SignalEndpoint::send(const QString& host, const QByteArray& payload) {
    // Replies and requests go to addresses, never to names: nothing here waits for a resolver.
    const std::optional<QHostAddress> literal = literalIPv4(host);
    if (!literal) {
        throw Error(QStringLiteral("Host not found"));
    }
    const QHostAddress address = *literal;
    if (m_sender.state() != QAbstractSocket::BoundState) {
        const QHostAddress from =
            m_network.isBound() ? m_network.bindAddress : QHostAddress(QHostAddress::AnyIPv4);
        if (!m_sender.bind(from, 0)) {
            throw Error(m_sender.errorString());
        }
        disableBroadcast(m_sender);
    }
    // A reply leaves from the local address the peer's datagram came to: a peer with several
    // addresses, or one that reached us on another of ours, takes answers only from the
    // address it dialled.
    if (!m_network.isBound()) {
        if (const auto local = m_arrivedOn.constFind(address.toIPv4Address()); local != m_arrivedOn.cend()) {
            if (sendDatagramFrom(m_sender, payload, address, kSignalPort, *local) != payload.size()) {
                throw Error(QString::fromLocal8Bit(std::strerror(errno)));
            }
            return;
        }
    }
    if (m_sender.writeDatagram(payload, address, kSignalPort) != payload.size()) {
        throw Error(m_sender.errorString());
    }
}

void SignalEndpoint::readPending() {
    // Qt does not signal readyRead again while this slot runs, so what arrives meanwhile (also
    // during nested event loops of a handler) is read here, one at a time. A flood is read in
    // batches: after kMaxDatagramsPerWakeup the event loop gets its turn, and the socket, read
    // last by us, signals again; should it not, the stall check reads on.
    if (m_reading.active()) {
        return;
    }
    const ReentrancyGuard::Entry entry(m_reading);
    ++m_reads;
    for (int read = 0; read < kMaxDatagramsPerWakeup && m_receiver.hasPendingDatagrams(); ++read) {
        const qint64 size = m_receiver.pendingDatagramSize();
        if (size <= 0 || size > kMaxDatagramBytes) {
            m_receiver.readDatagram(nullptr, 0); // drop it
            continue;
        }
        const QNetworkDatagram datagram = m_receiver.receiveDatagram(size);
        if (!datagram.isValid() || datagram.data().isEmpty()) {
            continue;
        }
        const QHostAddress from = datagram.senderAddress();
        bool ok = false;
        const quint32 fromV4 = from.toIPv4Address(&ok);
        if (ok) {
            rememberArrival(fromV4, datagram.destinationAddress());
        }
        dispatch(datagram.data(), ok ? QHostAddress(fromV4).toString() : from.toString());
    }
}

void SignalEndpoint::checkForStall() {
    const bool idle = m_reads == m_readsAtLastCheck;
    m_readsAtLastCheck = m_reads;
    if (idle && isOpen() && m_receiver.hasPendingDatagrams()) {
        readPending();
    }
}

QHostAddress SignalEndpoint::localAddressFor(const QHostAddress& peer) const {
    bool ok = false;
    const quint32 v4 = peer.toIPv4Address(&ok);
    return ok && !m_network.isBound() ? m_arrivedOn.value(v4) : QHostAddress();
}

void SignalEndpoint::rememberArrival(quint32 peer, const QHostAddress& local) {
    bool ok = false;
    const quint32 localV4 = local.toIPv4Address(&ok);
    if (!ok || localV4 == 0) {
        return;
    }
    // Strangers can send from any number of addresses: keep the table small.
    if (m_arrivedOn.size() >= kMaxRememberedPeers && !m_arrivedOn.contains(peer)) {
        m_arrivedOn.clear();
    }
    m_arrivedOn.insert(peer, QHostAddress(localV4));
}

void SignalEndpoint::dispatch(const QByteArray& payload, const QString& sender) {
    if (m_handler == nullptr) {
        return;
    }
    // An error in a reaction is reported and receiving goes on with the next datagram.
    runGuarded(m_messages, [&] {
        const Signal signal = classifySignal(payload);
        switch (signal.kind) {
        case SignalKind::CallRequest:
            m_handler->callRequestReceived(signal.callerId, sender);
            break;
        case SignalKind::Accept:
            m_handler->acceptReceived(sender);
            break;
        case SignalKind::Cancel:
            m_handler->cancelReceived(sender);
            break;
        case SignalKind::StatusText:
            m_handler->statusTextReceived(signal.text);
            break;
        }
    });
}

} // namespace talvora
