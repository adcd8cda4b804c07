#pragma once

#include <QtGlobal>

namespace talvora {

// The share of IP packets lost on the path to the peer, from what the caller learns once in a
// while: the peer's voice (RTP packets expected and lost, which are never fragmented), or what
// the peer says it received of our pictures. Every input is a plain count over one interval, so
// that any source can feed it. Older evidence fades with a time constant of kMemoryMs, and a
// prior of kPriorPackets lossless packets keeps the first few samples from swinging it: one
// voice packet lost in the first second is not yet 2 % loss. Loss that begins on a path that was
// clean for long would take that memory to show, while pictures of full size strand memory at
// the peer all the while; so a second, short memory (kFastMemoryMs, with a prior of
// kFastPriorPackets) runs beside it, and the estimate is the higher of the two. On pictures'
// evidence (hundreds of packets a second) the short one sees 1 % loss within two seconds; on
// voice alone it is held down by its prior. Time is the caller's, in ms.
// Not thread-safe: feed it and read it on one thread.
class LossEstimator {
public:
    static constexpr double kMemoryMs = 10000;
    static constexpr double kPriorPackets = 100;
    static constexpr double kFastMemoryMs = 2000;
    static constexpr double kFastPriorPackets = 300;

    // Over an interval, `expected` packets should have arrived and `lost` did not (the deltas
    // of an RTP receiver's counters). Counters that went backwards (a restarted stream) and
    // duplicates that make the loss negative count as no loss.
    void addPackets(qint64 nowMs, double expected, double lost);

    // Over an interval, `sent` pictures left, of `packetsPerPicture` IP packets each on
    // average, and the peer received `received` of them. A picture is lost when any of its
    // packets is, so the packet loss is the picture loss's n-th root.
    void addPictures(qint64 nowMs, double sent, double received, double packetsPerPicture);

    // The estimated packet loss, 0..1.
    double loss(qint64 nowMs) const;

    // Packets' worth of evidence behind the estimate now (for diagnostics and tests).
    double weight(qint64 nowMs) const;

    void reset() { *this = LossEstimator(); }

private:
    void add(qint64 nowMs, double packets, double lost);
    double fade(qint64 nowMs, double memoryMs) const;

    double m_packets = 0;
    double m_lost = 0;
    double m_fastPackets = 0;
    double m_fastLost = 0;
    qint64 m_lastMs = 0;
    bool m_started = false;
};

// A loss assumed where the path's own can only be learnt slowly (from an older peer's voice,
// whose loss shows over seconds): `atStart` when the call began, halving every
// kAssumedLossHalfLifeMs, so that the first pictures cannot fill the peer's reassembly memory
// on a lossy link and still reach their full size within half a minute on a clean one.
inline constexpr double kAssumedLossHalfLifeMs = 8000;
double assumedLoss(double atStart, qint64 sinceStartMs);

} // namespace talvora
