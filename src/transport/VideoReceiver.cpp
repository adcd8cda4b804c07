#include "transport/VideoReceiver.h"

#include "base/Error.h"
#include "transport/JpegCodec.h"

#include <QTimer>
#include <QUdpSocket>
#include <QVariant>

#include <vector>

namespace talvora {

// The socket and the decoding, on the picture thread.
class VideoReceiver::Reader final : public QObject {
    static constexpr qsizetype kMaxOpenedBytes = 65536;

public:
    explicit Reader(VideoReceiver& owner) : m_owner(owner) {
        connect(&m_socket, &QUdpSocket::readyRead, this, &Reader::readPending);
        m_stallCheck.setInterval(kStallCheckMs);
        connect(&m_stallCheck, &QTimer::timeout, this, &Reader::checkForStall);
    }

    void open() {
        if (m_socket.state() != QAbstractSocket::BoundState) {
            // Not shared: a second phone on the same address and port is an error, not a thief
            // of half the pictures.
            if (!m_socket.bind(m_owner.m_config.bindAddress, m_owner.m_port,
                               QAbstractSocket::DontShareAddress)) {
                const QString text = m_socket.errorString();
                m_socket.close();
                throw Error(text);
            }
            // At 30 pictures a second of up to 64 KB each, the default buffer holds a tenth of a
            // second. The kernel may grant less than asked; that is fine.
            m_socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                                     int(kReceiveBufferBytes));
            if (m_buffer.empty()) {
                m_buffer.resize(std::size_t(kReceiveBufferBytes));
                m_newest.resize(std::size_t(kReceiveBufferBytes));
            }
            m_stallCheck.start();
            m_owner.m_open = true;
        }
        m_owner.m_peerKnown = false;
    }

    void close() {
        m_stallCheck.stop();
        m_socket.close();
        m_owner.m_open = false;
    }

    int receiveBufferBytes() {
        return m_socket.socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
    }

private:
    bool isOpen() const { return m_socket.state() == QAbstractSocket::BoundState; }

    // Reads whatever is pending, a round at a time, each round's newest picture decoded and
    // handed on. Nothing here waits for the socket to signal again: Qt's notification for a
    // datagram can be used up by a read it did not expect, and then no readyRead ever comes.
    // What a flood leaves after kMaxRoundsPerWakeup rounds is read by the stall check.
    void readPending() {
        ++m_reads;
        constexpr int kMaxRoundsPerWakeup = 16;
        for (int round = 0; round < kMaxRoundsPerWakeup && isOpen() && m_socket.hasPendingDatagrams();
             ++round) {
            QHostAddress sender;
            const QImage picture = readRound(sender);
            if (!picture.isNull()) {
                m_owner.m_pictures.post({picture, sender});
            }
        }
    }

    void checkForStall() {
        const bool idle = m_reads == m_readsAtLastCheck;
        m_readsAtLastCheck = m_reads;
        if (idle && isOpen() && m_socket.hasPendingDatagrams()) {
            ++m_owner.m_counts.stallsMended;
            readPending();
        }
    }

    // Reads what is waiting (up to kMaxDatagramsPerRound) and decodes the newest picture from
    // an accepted sender.
    QImage readRound(QHostAddress& newestSender) {
        qsizetype newestSize = 0;
        int round = 0;
        while (round < kMaxDatagramsPerRound && m_socket.hasPendingDatagrams()) {
            QHostAddress sender;
            const qint64 size = m_socket.readDatagram(m_buffer.data(), qint64(m_buffer.size()), &sender);
            ++round;
            if (size <= 0) {
                continue; // empty datagrams are not pictures; errors leave nothing to read
            }
            ++m_owner.m_counts.datagrams;
            if (!m_owner.accepted(sender)) {
                ++m_owner.m_counts.strangers;
                continue;
            }
            // Only a sender whose pictures count names the peer: a stranger cannot put its
            // address into the address box for the user's next Call.
            if (!m_owner.m_peerKnown.exchange(true)) {
                // Told on the window's thread, as the pictures are.
                QMetaObject::invokeMethod(
                    &m_owner, [owner = &m_owner, peer = sender.toString()] { emit owner->firstPeer(peer); },
                    Qt::QueuedConnection);
            }
            if (newestSize > 0) {
                ++m_owner.m_counts.superseded;
            }
            // The newer picture takes the older one's place; the older buffer is read into next.
            m_buffer.swap(m_newest);
            newestSize = size;
            newestSender = sender;
        }
        if (newestSize == 0) {
            return {};
        }
        const uchar* jpeg = reinterpret_cast<const uchar*>(m_newest.data());
        if (const std::shared_ptr<DatagramGuard> guard = m_owner.guard()) {
            // In a private call only what opens with the call's key is a picture.
            if (m_opened.empty()) {
                m_opened.resize(std::size_t(kMaxOpenedBytes)); // no UDP datagram is larger
            }
            const auto opened = guard->open(
                std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(m_newest.data()),
                                              std::size_t(newestSize)),
                m_opened);
            if (!opened) {
                ++m_owner.m_counts.unopened;
                return {};
            }
            jpeg = opened->data();
            newestSize = qsizetype(opened->size());
        }
        QString reason;
        QImage picture = decodeJpeg(jpeg, newestSize, &reason);
        if (picture.isNull()) {
            ++m_owner.m_counts.rejected;
            const std::lock_guard lock(m_owner.m_lock);
            m_owner.m_lastRejection = reason;
        } else {
            ++m_owner.m_counts.pictures;
        }
        return picture;
    }

    VideoReceiver& m_owner;
    QUdpSocket m_socket{this};
    QTimer m_stallCheck{this};
    // The datagram being read and the newest picture of this round: a newer picture swaps
    // places with the older one, a stranger's datagram never touches it.
    std::vector<char> m_buffer;
    std::vector<char> m_newest;
    std::vector<std::uint8_t> m_opened; // a sealed picture opened, made on first use
    quint64 m_reads = 0;
    quint64 m_readsAtLastCheck = 0;
};

VideoReceiver::VideoReceiver(NetworkConfig config, quint16 port, QObject* parent)
    : QObject(parent), m_config(std::move(config)), m_port(port),
      m_pictures([this](std::pair<QImage, QHostAddress> picture) {
          emit pictureReceived(picture.first, picture.second);
      }),
      m_thread(QStringLiteral("pictures")) {
    m_thread.call([this] { m_reader = new Reader(*this); });
}

VideoReceiver::~VideoReceiver() {
    m_thread.call([this] {
        delete m_reader;
        m_reader = nullptr;
    });
}

void VideoReceiver::open() {
    m_thread.call([this] { m_reader->open(); });
}

void VideoReceiver::close() {
    m_thread.call([this] { m_reader->close(); });
}

int VideoReceiver::socketReceiveBufferBytes() {
    return m_thread.call([this] { return m_reader->receiveBufferBytes(); });
}

void VideoReceiver::acceptOnlyFrom(const QHostAddress& peer) {
    const std::lock_guard lock(m_lock);
    m_accept = peer.isNull() ? Accept::Anyone : Accept::Peer;
    m_acceptedPeer = peer;
}

void VideoReceiver::acceptNobody() {
    const std::lock_guard lock(m_lock);
    m_accept = Accept::Nobody;
    m_acceptedPeer.clear();
}

bool VideoReceiver::accepted(const QHostAddress& sender) const {
    const std::lock_guard lock(m_lock);
    switch (m_accept) {
    case Accept::Anyone:
        return true;
    case Accept::Nobody:
        return false;
    case Accept::Peer:
        break;
    }
    return sender.isEqual(m_acceptedPeer, QHostAddress::TolerantConversion);
}

VideoReceiver::Counters VideoReceiver::counters() const {
    return {m_counts.datagrams.load(),  m_counts.pictures.load(),  m_counts.rejected.load(),
            m_counts.superseded.load(), m_counts.strangers.load(), m_counts.stallsMended.load(),
            m_counts.unopened.load()};
}

void VideoReceiver::setDatagramGuard(std::shared_ptr<DatagramGuard> guard) {
    const std::lock_guard lock(m_lock);
    m_guard = std::move(guard);
}

std::shared_ptr<DatagramGuard> VideoReceiver::guard() const {
    const std::lock_guard lock(m_lock);
    return m_guard;
}

QString VideoReceiver::lastRejection() const {
    const std::lock_guard lock(m_lock);
    return m_lastRejection;
}

} // namespace talvora
