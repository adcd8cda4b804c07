#pragma once

#include "base/Clock.h"
#include "base/DatagramGuard.h"
#include "base/NetworkConfig.h"
#include "transport/DatagramSink.h"
#include "transport/JpegSizeModel.h"
#include "transport/PictureBudget.h"
#include "transport/VideoSendState.h"

#include <QImage>
#include <QString>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace talvora {

// Shown once, when the quality step-down reaches 0 (the text is the program's own, typo kept).
inline const QString kVideoFrameTooLargeText =
    QStringLiteral("Video Frame to large. Lower resolution on video camera.");

// What one frame handed to the sender came to.
enum class VideoSendOutcome {
    NotSending, // no connected call: nothing encoded or sent
    Sent,
    TooLarge,   // the picture did not fit one datagram; the quality was lowered
    Failed,     // no destination, or the socket failed; the picture is dropped
    Held,       // the picture budget lowered the rate, or a private call holds pictures: not sent
    OverBudget, // no quality tried fitted the budget's ceiling: the picture is dropped
};

// The sending half of the frame handler: every converted preview frame goes through
// sendFrame(). While a call is connected the picture (at most kMaxPeerPictureWidth wide, see
// PeerPicture.h) is compressed into the send buffer and sent as one datagram to the peer's video
// port: the wire is one JPEG per datagram, nothing more.
//
// While no loss is seen on the path, pictures are as large as the phone's JPEG quality makes
// them: it starts at 100, and a picture too large for one datagram lowers it by 5 for the next
// frames. Once setPathLoss() reports loss, the picture budget (PictureBudget.h) sets a ceiling on
// the size and, when it must, on the rate: the quality of each picture is predicted from the
// last one's size so that it usually costs one encode, and a picture that overshoots is encoded
// again lower, at most kMaxEncodes times in all.
//
// Threads: sendFrame() runs on one thread (the capture thread in the phone) and never blocks on
// another or shows anything; the "too large" notice is handed to a callback for the caller to
// show. setPathLoss() and the counters may be used from any thread.
class VideoSender {
public:
    // Qualities step down by this much per picture that did not fit.
    static constexpr int kQualityStep = 5;
    // The staging buffer every picture is compressed into.
    static constexpr qsizetype kSendBufferBytes = 1024 * 1024;
    static constexpr int kMaxEncodes = 3;
    // The camera's rate until frames have shown their own.
    static constexpr double kAssumedCameraRate = 30;

    // Receives kVideoFrameTooLargeText, once, on the thread of sendFrame(); the caller shows it
    // on the window thread.
    using Notice = std::function<void(const QString& text)>;

    // `clock` times the frames for the budget (a steady clock when null; it must outlive the
    // sender).
    VideoSender(VideoSendState& state, DatagramSink& sink, Notice notice = {},
                const voice::Clock* clock = nullptr, quint16 port = kVideoPort);
    ~VideoSender();

    VideoSendOutcome sendFrame(const QImage& picture);

    // The packet loss on the path to the peer (0..1), as a LossEstimator has it; any thread.
    // The estimate of the last call stands until it is replaced: start each call's at 0.
    void setPathLoss(double loss) { m_pathLoss.store(loss, std::memory_order_relaxed); }

    // Seals every picture of a private call, or holds it (null: pictures go as they are); any
    // thread. The sender keeps the guard while it sends a picture.
    void setDatagramGuard(std::shared_ptr<DatagramGuard> guard) {
        const std::lock_guard lock(m_guardLock);
        m_guard = std::move(guard);
    }

    // What the peer's reports tell of its reassembly memory (null: nothing yet, or an older
    // peer), with picturesCovered counted as picturesSent() counts; any thread. Like the loss,
    // it stands until replaced: clear it when a call starts.
    void setPeerHold(std::optional<PeerHold> hold) {
        const std::lock_guard lock(m_guardLock);
        m_peerHold = hold;
    }

    // Pictures and their IP packets sent so far (any thread): what the peer's reports are
    // compared with.
    quint64 picturesSent() const { return m_picturesSent.load(std::memory_order_relaxed); }
    quint64 packetsSent() const { return m_packetsSent.load(std::memory_order_relaxed); }

    // For diagnostics and tests, on the thread of sendFrame(): the last picture sent (bytes,
    // quality, encodes it took), the plan it was made under, and why the last send failed.
    qsizetype lastPictureBytes() const { return m_lastPictureBytes; }
    int lastQuality() const { return m_lastQuality; }
    int lastEncodes() const { return m_lastEncodes; }
    const PicturePlan& lastPlan() const { return m_lastPlan; }
    const QString& lastError() const { return m_lastError; }

private:
    VideoSendOutcome sendAsToday(const QImage& picture, const QHostAddress& to);
    VideoSendOutcome sendWithinBudget(const QImage& picture, const QHostAddress& to);
    VideoSendOutcome sendOnePacket(const QImage& picture, const QHostAddress& to);
    VideoSendOutcome transmit(qsizetype bytes, int quality, int encodes, const QHostAddress& to);
    VideoSendOutcome stepDown();
    void startCall(qint64 nowMs);
    void noteFrame(qint64 nowMs);
    double cameraRate(qint64 nowMs) const;
    bool takeTurn(qint64 nowMs);

    VideoSendState& m_state;
    DatagramSink& m_sink;
    Notice m_notice;
    std::unique_ptr<voice::Clock> m_ownClock;
    const voice::Clock& m_clock;
    quint16 m_port;
    std::vector<uchar> m_sendBuffer;
    std::vector<uchar> m_sealBuffer; // a sealed picture, made on first use

    std::mutex m_guardLock;
    std::shared_ptr<DatagramGuard> m_guard;      // guarded by m_guardLock
    std::optional<PeerHold> m_peerHold;          // guarded by m_guardLock
    std::shared_ptr<DatagramGuard> m_frameGuard; // the guard of the frame being sent
    qsizetype m_datagramLimit = kMaxDatagramBytes;

    std::atomic<double> m_pathLoss{0};
    std::atomic<quint64> m_picturesSent{0};
    std::atomic<quint64> m_packetsSent{0};

    bool m_inCall = false;
    // While only pictures of one packet may go: how many times the last one was halved.
    static constexpr int kMaxOnePacketHalvings = 4;
    static constexpr int kOnePacketLowQuality = 10;
    int m_onePacketHalvings = 0;
    quint64 m_picturesAtCallStart = 0; // picturesSent() when this call's budget began
    PictureBudget m_budget;
    JpegSizeModel m_sizes;
    PicturePlan m_lastPlan{kMaxDatagramBytes, 0};
    // Frames of the last second, for the camera's rate.
    std::deque<qint64> m_frameTimes;
    qint64 m_callStartMs = 0;
    qint64 m_lastFrameMs = 0;
    // Pictures the rate allows now (a bucket of at most one).
    double m_credit = 1;
    qint64 m_lastTurnMs = -1;

    qsizetype m_lastPictureBytes = 0;
    int m_lastQuality = 0;
    int m_lastEncodes = 0;
    QString m_lastError;
};

} // namespace talvora
