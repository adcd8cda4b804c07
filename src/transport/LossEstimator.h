#pragma once

#include <QtGlobal>

namespace talvora {

// The share of IP packets lost on the path to the peer, from what the caller learns once in a
// while: the peer's voice (RTP packets expected and lost, which are never fragmented), or what
// the peer says it received of our pictures. Every input is a plain count over one interval, so
// that any source can feed it. Older evidence fades with a time constant of kMemoryMs, and a
// prior of kPriorPackets lossless packets keeps the first few samples from swinging it: one
// voice packet lost in the first second is not yet 2 % loss. Time is the caller's, in ms.
// Not thread-safe: feed it and read it on one thread.
class LossEstimator {
public:
    static constexpr double kMemoryMs = 10000;
    static constexpr double kPriorPackets = 100;

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
    double fade(qint64 nowMs) const;

    double m_packets = 0;
    double m_lost = 0;
    qint64 m_lastMs = 0;
    bool m_started = false;
};

} // namespace talvora
