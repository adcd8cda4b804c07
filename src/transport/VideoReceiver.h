#pragma once

#include "base/DatagramGuard.h"
#include "base/LatestValue.h"
#include "base/NetworkConfig.h"
#include "base/WorkerThread.h"

#include <QHostAddress>
#include <QImage>
#include <QObject>
#include <QString>

#include <atomic>
#include <mutex>
#include <utility>

namespace talvora {

// The video receiver: one JPEG picture per datagram on the video port, read and decoded on a
// thread of its own, the picture thread, so that the window's thread only paints. Datagrams come
// from anyone on the network, so each one is checked before a pixel buffer is allocated (see
// decodeJpeg) and a bad one is dropped without stopping the receiver. All datagrams waiting in
// the socket are read into one reused buffer and only the newest is decoded; and only the newest
// decoded picture crosses to the window's thread: when either side falls behind, older pictures
// are dropped rather than queued.
class VideoReceiver : public QObject {
    Q_OBJECT
public:
    // The largest datagram read; anything the socket holds beyond it is cut off and dropped.
    static constexpr qsizetype kReceiveBufferBytes = 1024 * 1024;
    // Datagrams read in one go before the newest is decoded and the picture thread's event loop
    // gets a turn; what is left is read on its next turn, whether or not the socket signals.
    static constexpr int kMaxDatagramsPerRound = 64;
    // While the socket holds datagrams and nothing read them for this long, the receiver reads
    // them itself: a wake-up the socket never delivers costs at most a frame.
    static constexpr int kStallCheckMs = 33;

    explicit VideoReceiver(NetworkConfig config, quint16 port = kVideoPort, QObject* parent = nullptr);
    ~VideoReceiver() override;

    // Binds the video port on the configured address (every local address by default), raises
    // the socket's receive buffer towards 1 MiB and forgets the peer, so that the next datagram
    // reports its sender through firstPeer(). Opening an open receiver only forgets the peer.
    // Throws talvora::Error with the socket's text when the port cannot be bound.
    void open();
    void close();
    bool isOpen() const { return m_open.load(); }

    // Set by the first datagram after open().
    bool peerKnown() const { return m_peerKnown.load(); }

    // During a call only the peer's pictures count: datagrams from any other address are
    // dropped unread, so a stranger's flood costs no decoding. A null address accepts anyone.
    void acceptOnlyFrom(const QHostAddress& peer);
    // No call: every datagram is dropped unread, and names no peer.
    void acceptNobody();

    // What arrived since the receiver was made, for diagnostics and tests; any thread.
    struct Counters {
        quint64 datagrams = 0;    // non-empty datagrams read
        quint64 pictures = 0;     // pictures decoded and delivered
        quint64 rejected = 0;     // datagrams that held no acceptable picture
        quint64 superseded = 0;   // pictures dropped unread because a newer one was waiting
        quint64 strangers = 0;    // datagrams from others than the call's peer, dropped unread
        quint64 stallsMended = 0; // times datagrams sat unread until the stall check read them
        quint64 unopened = 0;     // in a private call: held, forged, replayed or not sealed
    };
    Counters counters() const;
    QString lastRejection() const;
    // Opens the peer's sealed pictures in a private call, or holds them (null: pictures come as
    // they are); any thread.
    void setDatagramGuard(std::shared_ptr<DatagramGuard> guard);
    // The receive buffer size the kernel granted (it may cap the request).
    int socketReceiveBufferBytes();
    // The picture thread, for tests that check where the work happens.
    QThread& pictureThread() { return m_thread.thread(); }

signals:
    // The first datagram after open(): its sender as dotted text (the main window puts it into
    // the address box).
    void firstPeer(const QString& peerIp);
    // A decoded picture (QImage::Format_RGB32) and its sender, on the window's thread.
    void pictureReceived(const QImage& picture, const QHostAddress& sender);

private:
    class Reader;
    friend class Reader;

    bool accepted(const QHostAddress& sender) const;
    std::shared_ptr<DatagramGuard> guard() const;

    struct Counts {
        std::atomic<quint64> datagrams{0}, pictures{0}, rejected{0}, superseded{0}, strangers{0},
            stallsMended{0}, unopened{0};
    };
    enum class Accept { Anyone, Peer, Nobody };

    NetworkConfig m_config;
    quint16 m_port;
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_peerKnown{false};
    Counts m_counts;
    mutable std::mutex m_lock;
    // Guarded by m_lock: whose pictures count, and why the last datagram was rejected.
    Accept m_accept = Accept::Anyone;
    QHostAddress m_acceptedPeer;
    QString m_lastRejection;
    std::shared_ptr<DatagramGuard> m_guard;

    // Declared after what the reader uses and before it: the pictures outlive the reader that
    // posts them, and the thread ends before either goes.
    LatestValue<std::pair<QImage, QHostAddress>> m_pictures;
    WorkerThread m_thread;
    Reader* m_reader = nullptr; // lives on m_thread, deleted there
};

} // namespace talvora
