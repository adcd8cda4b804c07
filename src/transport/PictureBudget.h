#pragma once

#include "transport/JpegSizeModel.h"
#include "transport/ReassemblyBudget.h"

#include <QtGlobal>

#include <array>
#include <deque>
#include <optional>

namespace talvora {

// What the next pictures may cost.
struct PicturePlan {
    // No picture larger than this; one datagram's limit while no loss is seen.
    qsizetype ceilingBytes;
    // At most this many pictures a second; 0: every camera frame.
    double picturesPerSecond = 0;

    bool limited() const;
    // Only a picture of one IP packet may go: the peer's reassembly memory is full.
    bool onePacket() const;
    bool operator==(const PicturePlan&) const = default;
};

// The picture budget: from the estimated packet loss on the path to the peer, how large and how
// frequent pictures may be so that the incomplete ones never fill the peer's reassembly memory
// (see ReassemblyBudget.h). While no loss is seen there is no budget, and pictures are as large
// as the JPEG quality makes them.
//
// As loss rises the ceiling falls at once, to the size whose incomplete copies hold half the
// kernel's 4 MB in the long run. The pictures already sent count too: what they hold now, with
// what the next holdSeconds of pictures would hold, must stay within the whole 4 MB, so that the
// large pictures sent before the loss was known are paid for by smaller ones until they expire
// (in the long run the two rules agree). What they hold is known where the peer reports the
// pictures it missed (setPeerHold); only those it has not yet accounted for are judged by the
// loss. Without reports every picture of the last holdSeconds is judged by the loss known now,
// which overstates what pictures sent before the loss began hold, on the safe side.
//
// The quality follows the ceiling down to kQualityFloor; below that the picture rate falls
// instead (to kMinPicturesPerSecond, and only then the quality further, though never below what
// quality 1 makes: at that rate the smallest picture goes out). Once the peer's memory is full
// only pictures of one packet can arrive, and only those go, at the camera's rate. When the loss
// stops the budget climbs back slowly: the loss it counts with halves every kClimbHalfLifeMs at
// the fastest, so that a burst of loss that comes back finds the pictures still small. Pure:
// time is the caller's, in ms.
class PictureBudget {
public:
    static constexpr int kQualityFloor = 30;
    static constexpr double kMinPicturesPerSecond = 2;
    static constexpr double kClimbHalfLifeMs = 5000;
    // Predictions aim this far below the ceiling, so that most pictures fit at the first encode.
    static constexpr double kAim = 0.9;

    explicit PictureBudget(ReassemblyLimits limits = {}) : m_limits(limits) {}

    // The latest estimate of the packet loss (0..1).
    void setLoss(qint64 nowMs, double loss);
    // The loss the budget counts with: the latest estimate, or the last higher one fading.
    double effectiveLoss(qint64 nowMs) const;

    // A picture of `bytes` left at `nowMs`.
    void noteSent(qint64 nowMs, qsizetype bytes);
    // What the peer reports: picturesCovered counts the pictures noted since this budget began.
    void setPeerHold(std::optional<PeerHold> hold) { m_peerHold = hold; }
    // The peer's reassembly memory that the pictures of the last holdSeconds hold now, at the
    // loss the budget counts with.
    double committedBytes(qint64 nowMs);

    // The plan for pictures from a camera that gives `cameraPicturesPerSecond`, whose pictures'
    // sizes `sizes` predicts.
    PicturePlan plan(qint64 nowMs, double cameraPicturesPerSecond, const JpegSizeModel& sizes);
    // The quality to try first for a picture under `plan`, at most `maxQuality`.
    static int qualityFor(const PicturePlan& plan, const JpegSizeModel& sizes, int maxQuality);

    const ReassemblyLimits& limits() const { return m_limits; }

private:
    void expire(qint64 nowMs);
    qsizetype ceilingAt(double loss, double rate, double committed) const;

    ReassemblyLimits m_limits;
    double m_loss = 0;
    qint64 m_lossMs = 0;
    struct Sent {
        qint64 atMs;
        int fragments;
        quint64 number; // counted from 0, the first picture noted
    };
    // Pictures sent within holdSeconds; and how many of each count of packets.
    std::deque<Sent> m_sent;
    std::array<int, 64> m_sentByFragments{};
    quint64 m_noted = 0;
    std::optional<PeerHold> m_peerHold;
};

} // namespace talvora
