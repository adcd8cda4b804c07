#include "link/PeerLink.h"

#include "base/SocketOptions.h"

#include <QNetworkDatagram>
#include <QRandomGenerator>

namespace talvora {

namespace {

quint64 freshTag() {
    quint64 tag = 0;
    while (tag == 0) {
        tag = QRandomGenerator::system()->generate64();
    }
    return tag;
}

bool sameAddress(const QHostAddress& a, const QHostAddress& b) {
    return a.isEqual(b, QHostAddress::TolerantConversion);
}

} // namespace

PeerLink::PeerLink(NetworkConfig network, quint32 capabilities, Timing timing, QObject* parent)
    : QObject(parent), m_network(network), m_capabilities(capabilities), m_timing(timing) {
    connect(&m_socket, &QUdpSocket::readyRead, this, &PeerLink::readPending);
    m_helloTimer.setInterval(m_timing.helloIntervalMs);
    connect(&m_helloTimer, &QTimer::timeout, this, &PeerLink::helloTick);
    m_drainAgain.setSingleShot(true);
    m_drainAgain.setInterval(0);
    connect(&m_drainAgain, &QTimer::timeout, this, &PeerLink::readPending);
}

PeerLink::~PeerLink() = default;

bool PeerLink::open() {
    if (isOpen()) {
        return true;
    }
    if (!m_socket.bind(m_network.bindAddress, kLinkPort, QAbstractSocket::DontShareAddress)) {
        m_socket.close();
        return false;
    }
    disableBroadcast(m_socket);
    return true;
}

void PeerLink::beginCall(const QHostAddress& peer, const QHostAddress& source) {
    endCall();
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);
    if (!isV4 || v4 == 0) {
        return;
    }
    m_peer = QHostAddress(v4);
    m_source = source;
    m_ownTag = freshTag();
    m_helloElapsedMs = 0;
    if (!isOpen()) {
        // Without our port the peer cannot reach us here: as far as this call goes, we are an
        // older phone, and so is the peer.
        m_kind = PeerKind::Older;
        const quint64 tag = m_ownTag;
        QTimer::singleShot(0, this, [this, tag] {
            if (m_ownTag == tag) {
                emit peerIsOlder(); // from the event loop: beginCall's caller is not re-entered
            }
        });
        return;
    }
    sendHello();
    m_helloTimer.start();
}

void PeerLink::endCall() {
    m_helloTimer.stop();
    m_peer.clear();
    m_source.clear();
    m_kind = PeerKind::Unknown;
    m_ownTag = 0;
    m_peerTag = 0;
    m_peerCapabilities = 0;
    m_peerHeardUs = false;
}

bool PeerLink::send(LinkType type, QByteArrayView payload) {
    if (m_kind != PeerKind::Talvora) {
        return false;
    }
    return sendRaw(encodeLinkMessage(type, m_ownTag, m_peerTag, payload));
}

void PeerLink::sendHello() {
    sendRaw(encodeLinkMessage(LinkType::Hello, m_ownTag, m_peerTag, encodeHello({m_capabilities})));
}

bool PeerLink::sendRaw(const QByteArray& datagram) {
    if (!isOpen() || m_peer.isNull()) {
        return false;
    }
    if (!m_source.isNull() && !m_network.isBound()) {
        return sendDatagramFrom(m_socket, datagram, m_peer, kLinkPort, m_source) == datagram.size();
    }
    return m_socket.writeDatagram(datagram, m_peer, kLinkPort) == datagram.size();
}

void PeerLink::helloTick() {
    m_helloElapsedMs += m_timing.helloIntervalMs;
    if (m_kind == PeerKind::Talvora && m_peerHeardUs) {
        m_helloTimer.stop();
        return;
    }
    if (m_helloElapsedMs >= m_timing.helloTimeoutMs) {
        m_helloTimer.stop();
        if (m_kind == PeerKind::Unknown) {
            m_kind = PeerKind::Older;
            emit peerIsOlder();
        }
        return;
    }
    sendHello();
}

// Reads what is waiting, up to a batch; a flood's rest is read on the next turn of the event
// loop, so that no wake-up is lost when Qt's notification was used up by an earlier read.
void PeerLink::readPending() {
    int read = 0;
    for (; read < kMaxDatagramsPerWakeup && m_socket.hasPendingDatagrams(); ++read) {
        const qint64 size = m_socket.pendingDatagramSize();
        if (size <= 0 || size > kLinkMaxDatagramBytes) {
            m_socket.readDatagram(nullptr, 0);
            ++m_counters.datagrams;
            ++m_counters.malformed;
            continue;
        }
        const QNetworkDatagram datagram = m_socket.receiveDatagram(size);
        if (!datagram.isValid()) {
            continue;
        }
        ++m_counters.datagrams;
        handle(datagram.data(), datagram.senderAddress());
    }
    if (read == kMaxDatagramsPerWakeup && m_socket.hasPendingDatagrams()) {
        m_drainAgain.start();
    }
}

void PeerLink::handle(const QByteArray& datagram, const QHostAddress& sender) {
    if (m_peer.isNull() || !sameAddress(sender, m_peer)) {
        ++m_counters.strangers;
        return;
    }
    const std::optional<LinkMessage> message = decodeLinkMessage(datagram);
    if (!message) {
        ++m_counters.malformed;
        return;
    }
    if (message->header.type == quint8(LinkType::Hello)) {
        handleHello(*message);
        return;
    }
    // Anything but a hello belongs to the call only once both tags are known.
    if (m_kind != PeerKind::Talvora || message->header.fromTag != m_peerTag ||
        message->header.toTag != m_ownTag) {
        ++m_counters.wrongTag;
        return;
    }
    switch (LinkType(message->header.type)) {
    case LinkType::Report:
        if (const std::optional<LinkReport> report = decodeReport(message->payload)) {
            ++m_counters.accepted;
            emit reportReceived(*report);
        } else {
            ++m_counters.malformed;
        }
        return;
    case LinkType::HangUp:
        if (!message->payload.isEmpty()) {
            ++m_counters.malformed;
            return;
        }
        ++m_counters.accepted;
        emit hangUpReceived();
        return;
    case LinkType::Hello:
        break;
    }
    if (message->header.type >= 16 && message->header.type <= 31) {
        ++m_counters.accepted;
        emit messageReceived(message->header.type, message->payload);
        return;
    }
    ++m_counters.unknownType;
}

void PeerLink::handleHello(const LinkMessage& message) {
    const std::optional<LinkHello> hello = decodeHello(message.payload);
    if (!hello) {
        ++m_counters.malformed;
        return;
    }
    // A hello names the call by the sender's tag, and by ours once it has heard one: a hello of
    // an earlier call, or a second sender tag within this call, is not this peer's.
    const bool tagsFit = (message.header.toTag == 0 || message.header.toTag == m_ownTag) &&
                         (m_peerTag == 0 || message.header.fromTag == m_peerTag);
    if (!tagsFit || m_kind == PeerKind::Older) {
        ++m_counters.wrongTag;
        return;
    }
    ++m_counters.accepted;
    const bool firstHello = m_peerTag == 0;
    const bool wereDone = !m_helloTimer.isActive(); // we had stopped saying hello
    m_peerTag = message.header.fromTag;
    m_peerHeardUs = m_peerHeardUs || message.header.toTag == m_ownTag;
    if (firstHello) {
        m_peerCapabilities = hello->capabilities;
        m_kind = PeerKind::Talvora;
    }
    // Answer a hello that shows the peer still waits for ours: its first, one that has not heard
    // us, or one that comes after we stopped (the peer repeats itself only while it waits). A
    // hello that has heard us while we still repeat ours needs no answer now: should the peer
    // go on waiting, its next hello finds us stopped and gets one.
    if (firstHello || message.header.toTag == 0 || wereDone) {
        sendHello();
    }
    if (m_peerHeardUs) {
        m_helloTimer.stop();
    }
    if (firstHello) {
        emit peerIsTalvora(m_peerCapabilities);
    }
}

} // namespace talvora
