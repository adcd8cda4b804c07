#include "transport/VideoReceiver.h"

#include "base/Error.h"
#include "transport/JpegCodec.h"

#include <QVariant>

namespace talvora {

VideoReceiver::VideoReceiver(NetworkConfig config, quint16 port, QObject* parent)
    : QObject(parent), m_config(std::move(config)), m_port(port) {
    connect(&m_socket, &QUdpSocket::readyRead, this, &VideoReceiver::readPending);
    m_stallCheck.setInterval(kStallCheckMs);
    connect(&m_stallCheck, &QTimer::timeout, this, &VideoReceiver::checkForStall);
}

void VideoReceiver::open() {
    if (!isOpen()) {
        // Not shared: a second phone on the same address and port is an error, not a thief of
        // half the pictures.
        if (!m_socket.bind(m_config.bindAddress, m_port, QAbstractSocket::DontShareAddress)) {
            const QString text = m_socket.errorString();
            m_socket.close();
            throw Error(text);
        }
        // At 30 pictures a second of up to 64 KB each, the default buffer holds a tenth of a
        // second. The kernel may grant less than asked; that is fine.
        m_socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, int(kReceiveBufferBytes));
        if (m_buffer.empty()) {
            m_buffer.resize(std::size_t(kReceiveBufferBytes));
            m_newest.resize(std::size_t(kReceiveBufferBytes));
        }
        m_stallCheck.start();
    }
    m_peerKnown = false;
}

void VideoReceiver::close() {
    m_stallCheck.stop();
    m_socket.close();
}

int VideoReceiver::socketReceiveBufferBytes() {
    return m_socket.socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
}

// Reads whatever is pending, a round at a time, each round's newest picture decoded and shown.
// Nothing here waits for the socket to signal again: Qt's notification for a datagram can be
// used up by a read it did not expect, and then no readyRead ever comes. What a flood leaves
// after kMaxRoundsPerWakeup rounds is read by the stall check a frame later.
void VideoReceiver::readPending() {
    if (m_reading.active()) {
        return; // the outer call reads on when its slot returns
    }
    ++m_reads;
    constexpr int kMaxRoundsPerWakeup = 16;
    for (int round = 0; round < kMaxRoundsPerWakeup && isOpen() && m_socket.hasPendingDatagrams(); ++round) {
        // A slot of ours may run a nested event loop; datagrams arriving meanwhile are read
        // by this loop when it returns, so that pictures never arrive inside one another.
        const ReentrancyGuard::Entry entry(m_reading);
        QHostAddress sender;
        const QImage picture = readRound(sender);
        if (!picture.isNull()) {
            emit pictureReceived(picture, sender);
        }
    }
}

void VideoReceiver::checkForStall() {
    const bool idle = m_reads == m_readsAtLastCheck;
    m_readsAtLastCheck = m_reads;
    if (idle && isOpen() && !m_reading.active() && m_socket.hasPendingDatagrams()) {
        ++m_counters.stallsMended;
        readPending();
    }
}

bool VideoReceiver::accepted(const QHostAddress& sender) const {
    return m_acceptedPeer.isNull() || sender.isEqual(m_acceptedPeer, QHostAddress::TolerantConversion);
}

// Reads what is waiting (up to kMaxDatagramsPerRound) and decodes the newest picture from an
// accepted sender.
QImage VideoReceiver::readRound(QHostAddress& newestSender) {
    qsizetype newestSize = 0;
    int round = 0;
    while (round < kMaxDatagramsPerRound && m_socket.hasPendingDatagrams()) {
        QHostAddress sender;
        const qint64 size = m_socket.readDatagram(m_buffer.data(), qint64(m_buffer.size()), &sender);
        ++round;
        if (size <= 0) {
            continue; // empty datagrams are not pictures; errors leave nothing to read
        }
        ++m_counters.datagrams;
        if (!accepted(sender)) {
            ++m_counters.strangers;
            continue;
        }
        if (newestSize > 0) {
            ++m_counters.superseded;
        }
        // The newer picture takes the older one's place; the older buffer is read into next.
        m_buffer.swap(m_newest);
        newestSize = size;
        newestSender = sender;
        if (!m_peerKnown) {
            m_peerKnown = true;
            emit firstPeer(sender.toString());
        }
    }
    if (newestSize == 0) {
        return {};
    }
    QString reason;
    QImage picture = decodeJpeg(reinterpret_cast<const uchar*>(m_newest.data()), newestSize, &reason);
    if (picture.isNull()) {
        ++m_counters.rejected;
        m_lastRejection = reason;
    } else {
        ++m_counters.pictures;
    }
    return picture;
}

} // namespace talvora
