#pragma once

#include "base/NetworkConfig.h"
#include "base/ReentrancyGuard.h"

#include <QHostAddress>
#include <QImage>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>

#include <vector>

namespace talvora {

// The video receiver: one JPEG picture per datagram on the video port. Datagrams come from
// anyone on the network, so each one is checked before a pixel buffer is allocated (see
// decodeJpeg) and a bad one is dropped without stopping the receiver. All datagrams waiting in
// the socket are read into one reused buffer and only the newest is decoded: when decoding falls
// behind, older pictures are dropped rather than queued.
class VideoReceiver : public QObject {
    Q_OBJECT
public:
    // The largest datagram read; anything the socket holds beyond it is cut off and dropped.
    static constexpr qsizetype kReceiveBufferBytes = 1024 * 1024;
    // Datagrams read in one go before the newest is decoded and the event loop gets a turn; what
    // is left is read on the next turn of the event loop, whether or not the socket signals.
    static constexpr int kMaxDatagramsPerRound = 64;
    // While the socket holds datagrams and nothing read them for this long, the receiver reads
    // them itself: a wake-up the socket never delivers costs at most a frame.
    static constexpr int kStallCheckMs = 33;

    explicit VideoReceiver(NetworkConfig config, quint16 port = kVideoPort, QObject* parent = nullptr);

    // Binds the video port on the configured address (every local address by default), raises
    // the socket's receive buffer towards 1 MiB and forgets the peer, so that the next datagram
    // reports its sender through firstPeer(). Opening an open receiver only forgets the peer.
    // Throws talvora::Error with the socket's text when the port cannot be bound.
    void open();
    void close();
    bool isOpen() const { return m_socket.state() == QAbstractSocket::BoundState; }

    // Set by the first datagram after open().
    bool peerKnown() const { return m_peerKnown; }

    // During a call only the peer's pictures count: datagrams from any other address are
    // dropped unread, so a stranger's flood costs no decoding. A null address accepts anyone.
    void acceptOnlyFrom(const QHostAddress& peer) { m_acceptedPeer = peer; }

    // What arrived since the receiver was made, for diagnostics and tests.
    struct Counters {
        quint64 datagrams = 0;    // non-empty datagrams read
        quint64 pictures = 0;     // pictures decoded and delivered
        quint64 rejected = 0;     // datagrams that held no acceptable picture
        quint64 superseded = 0;   // pictures dropped unread because a newer one was waiting
        quint64 strangers = 0;    // datagrams from others than the call's peer, dropped unread
        quint64 stallsMended = 0; // times datagrams sat unread until the stall check read them
    };
    const Counters& counters() const { return m_counters; }
    const QString& lastRejection() const { return m_lastRejection; }
    // The receive buffer size the kernel granted (it may cap the request).
    int socketReceiveBufferBytes();

signals:
    // The first datagram after open() or forgetPeer(): its sender as dotted text (the main
    // window puts it into the address box).
    void firstPeer(const QString& peerIp);
    // A decoded picture (QImage::Format_RGB888) and its sender.
    void pictureReceived(const QImage& picture, const QHostAddress& sender);

private:
    void readPending();
    QImage readRound(QHostAddress& newestSender);
    void checkForStall();
    bool accepted(const QHostAddress& sender) const;

    NetworkConfig m_config;
    quint16 m_port;
    QUdpSocket m_socket;
    // The datagram being read and the newest picture of this round: a newer picture swaps places
    // with the older one, a stranger's datagram never touches it.
    std::vector<char> m_buffer;
    std::vector<char> m_newest;
    QHostAddress m_acceptedPeer;
    QTimer m_stallCheck;
    quint64 m_readsAtLastCheck = 0;
    quint64 m_reads = 0;
    bool m_peerKnown = false;
    // A slot of ours may run a nested event loop; the outer call finishes the reading.
    ReentrancyGuard m_reading;

    Counters m_counters;
    QString m_lastRejection;
};

} // namespace talvora
