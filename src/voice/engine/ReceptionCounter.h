#pragma once

#include <cstdint>

namespace talvora::voice {

// What the network did to the peer's RTP stream, counted as RTCP receiver reports count it
// (RFC 3550, appendices A.1 and A.3): packets heard, packets expected from the range of extended
// sequence numbers seen, and lost as their difference. Duplicates count as heard, so a range
// never reports fewer than 0 lost.
//
// A packet more than kMaxDropout ahead of the highest so far, or more than kMaxMisorder behind
// it, is a stray until the packet after it follows: then the sender has restarted its sequence,
// and a new range begins with that second packet. A new source begins a new range too. The
// counts are totals over every range of the call.
class ReceptionCounter {
public:
    static constexpr std::uint16_t kMaxDropout = 3000;
    static constexpr std::uint16_t kMaxMisorder = 100;

    void heard(std::uint16_t sequence);
    // The peer came back with another synchronisation source.
    void newSource();
    void reset() { *this = ReceptionCounter(); }

    std::uint64_t packetsHeard() const { return m_heardBefore + m_heard; }
    std::uint64_t packetsExpected() const { return m_expectedBefore + expectedInRange(); }
    std::uint64_t packetsLost() const { return m_lostBefore + lostInRange(); }

private:
    void startRange(std::uint16_t sequence);
    void closeRange();
    std::uint64_t expectedInRange() const {
        return m_started ? m_cycles + m_maxSequence - m_baseSequence + 1 : 0;
    }
    std::uint64_t lostInRange() const {
        const std::uint64_t expected = expectedInRange();
        return expected > m_heard ? expected - m_heard : 0;
    }

    bool m_started = false;
    std::uint16_t m_baseSequence = 0;
    std::uint16_t m_maxSequence = 0;
    std::uint64_t m_cycles = 0; // 65536 for each wrap of the sequence number
    std::uint64_t m_heard = 0;  // in this range
    bool m_haveStray = false;
    std::uint16_t m_afterStray = 0; // the sequence that would confirm a restart
    // What the ranges before this one counted.
    std::uint64_t m_heardBefore = 0;
    std::uint64_t m_expectedBefore = 0;
    std::uint64_t m_lostBefore = 0;
};

} // namespace talvora::voice
