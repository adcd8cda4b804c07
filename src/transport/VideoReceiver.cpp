#include "transport/VideoReceiver.h"

#include "base/Error.h"
#include "transport/JpegCodec.h"

#include <QMetaObject>
#include <QVariant>

namespace talvora {

VideoReceiver::VideoReceiver(NetworkConfig config, quint16 port, QObject* parent)
    : QObject(parent), m_config(std::move(config)), m_port(port) {
    connect(&m_socket, &QUdpSocket::readyRead, this, &VideoReceiver::readPending);
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
        }
    }
    m_peerKnown = false;
}

void VideoReceiver::close() {
    m_socket.close();
}

int VideoReceiver::socketReceiveBufferBytes() {
    return m_socket.socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
}

void VideoReceiver::readPending() {
    if (m_reading.active()) {
        return;
    }
    m_moreQueued = false;
    {
        const ReentrancyGuard::Entry entry(m_reading);
        readRound();
    }
    // Datagrams left for the next round get their turn after other events, even if the socket
    // does not signal again.
    if (isOpen() && m_socket.hasPendingDatagrams() && !m_moreQueued) {
        m_moreQueued = true;
        QMetaObject::invokeMethod(this, &VideoReceiver::readPending, Qt::QueuedConnection);
    }
}

// Reads what is waiting (up to kMaxDatagramsPerRound) and decodes the newest picture.
void VideoReceiver::readRound() {
    qsizetype newestSize = 0;
    QHostAddress newestSender;
    int round = 0;
    while (round < kMaxDatagramsPerRound && m_socket.hasPendingDatagrams()) {
        QHostAddress sender;
        const qint64 size = m_socket.readDatagram(m_buffer.data(), qint64(m_buffer.size()), &sender);
        ++round;
        if (size <= 0) {
            continue; // empty datagrams are not pictures; errors leave nothing to read
        }
        ++m_counters.datagrams;
        if (newestSize > 0) {
            ++m_counters.superseded;
        }
        newestSize = size;
        newestSender = sender;
        if (!m_peerKnown) {
            m_peerKnown = true;
            emit firstPeer(sender.toString());
        }
        // The buffer is reused: the next datagram read overwrites this one, which is how older
        // pictures give way to newer ones.
    }

    if (newestSize > 0) {
        QString reason;
        QImage picture = decodeJpeg(reinterpret_cast<const uchar*>(m_buffer.data()), newestSize, &reason);
        if (picture.isNull()) {
            ++m_counters.rejected;
            m_lastRejection = reason;
        } else {
            ++m_counters.pictures;
            emit pictureReceived(picture, newestSender);
        }
    }
}

} // namespace talvora
