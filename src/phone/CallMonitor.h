#pragma once

#include "link/LinkWire.h"
#include "transport/LossEstimator.h"
#include "transport/ReassemblyBudget.h"

#include <QString>
#include <QtGlobal>

#include <deque>
#include <optional>

namespace talvora {

// What the phone makes, once a second during a call, of what arrives from the peer: the line
// under the picture when nothing arrives, or only the voice; the end of a call whose Talvora
// peer went away without a word (its hang-up lost, or the phone gone); the report of what
// arrived, for a Talvora peer; and the estimate of the path's packet loss that steers the picture
// budget. Pure logic: the phone feeds it counts and the time, and does what it says.
class CallMonitor {
public:
    // Seconds without a picture or a voice packet before the line says so.
    static constexpr int kSilenceNoticeSeconds = 10;
    // Seconds without a picture, a voice packet or a report before a call with a Talvora peer
    // ends: a Talvora phone reports every second while it is in the call.
    static constexpr int kSilenceEndSeconds = 30;
    // An older peer is heard only through its voice, whose loss shows over seconds: until it
    // has, pictures assume this much loss on the path, fading (assumedLoss(), LossEstimator.h).
    static constexpr double kOlderPeerAssumedLoss = 0.01;
    // Seconds of voice without pictures, where pictures had come or the peer says it sent
    // some, before the line says that pictures are being lost.
    static constexpr int kPicturesLostSeconds = 3;

    enum class Peer { Unknown, Talvora, Older };

    // Counts since the call began, as they stand at this second.
    struct Sample {
        qint64 nowMs = 0;
        Peer peer = Peer::Unknown;
        quint64 picturesFromPeer = 0; // whole pictures that arrived from the peer
        quint64 voiceHeard = 0;       // the peer's voice packets that arrived
        quint64 voiceExpected = 0;    // the span of sequence numbers they cover
        quint64 reportsFromPeer = 0;
        std::optional<LinkReport> lastReport; // the peer's latest report
        quint64 picturesSent = 0;             // our pictures that left for the peer
        // Ours when the latest report came, and the IP packets they made: the report counts
        // what had arrived of those, but for the few on their way.
        quint64 picturesSentAtReport = 0;
        quint64 packetsSentAtReport = 0;
    };

    struct Decision {
        // The status line: set to this text when it has a value (empty clears it).
        std::optional<QString> statusLine;
        bool endCall = false;
        // For a Talvora peer: the report to send now.
        std::optional<LinkReport> report;
        // The packet loss on the path to the peer, 0..1, for the picture budget.
        double pathLoss = 0;
        // For a Talvora peer whose reports have been compared with our pictures: what the
        // pictures it missed hold in its reassembly memory now.
        std::optional<PeerHold> peerHold;
    };

    // `peerName` is how the status line names the peer.
    explicit CallMonitor(QString peerName) : m_peerName(std::move(peerName)) {}

    Decision tick(const Sample& sample);

private:
    void estimateLoss(const Sample& now);

    QString m_peerName;
    std::optional<Sample> m_last;
    int m_silentSeconds = 0;      // nothing at all
    int m_mediaSilentSeconds = 0; // no picture, no voice
    std::optional<qint64> m_olderSinceMs;
    int m_picturelessSeconds = 0;
    bool m_picturesEverCame = false;
    bool m_peerSentPictures = false; // the peer's reports say pictures left it while none came
    QString m_shown;                 // what the status line says now ("" for nothing)
    quint32 m_reportSequence = 0;
    std::optional<LinkReport> m_reportUsed;                // the last report the estimate took in
    quint64 m_sentAtReport = 0, m_packetsAtReport = 0;     // ours when it came
    quint64 m_picturesReceived = 0;                        // the peer's count, unwrapped
    quint64 m_shortfall = 0;                               // the most pictures found missing so far
    quint64 m_voiceExpectedSeen = 0, m_voiceHeardSeen = 0; // an older peer's voice, at the last tick
    LossEstimator m_loss;
    // The pictures the peer's reports showed missing: when the peer's kernel gives each batch
    // up, and what it holds until then.
    std::deque<std::pair<qint64, double>> m_missing;
    double m_missingBytes = 0;
    std::optional<PeerHold> m_peerHold;
};

} // namespace talvora
