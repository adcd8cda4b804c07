#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace talvora::voice {

// How far behind its paired reference the speaker's echo turns up in the microphone. The echo
// canceller models the microphone as a filter over past reference only: an echo that arrives
// before the reference it is paired with cannot be removed at all, and one later than the
// canceller's tail only partly. How the two are paired depends on sound servers, devices and
// threads, none of which say when a sample is heard, so the relation is measured from the
// sound itself.
//
// Each frame's microphone and reference are reduced to a 1 ms envelope (mean magnitude), and
// every half second the last two seconds of the microphone's envelope are correlated with the
// reference's at every lag from kEarliestMs to kLatestMs. An estimate is given only when the
// far end spoke, the correlation is clear (the near end talking over it blurs it), no other lag
// correlates nearly as well (a steady tone does at each of its periods), and two windows in a
// row agree: a wrong estimate would undo a pairing that works. Whole 10 ms frames
// are fed, at 48 kHz; nothing is allocated after construction.
class EchoDelayEstimator {
public:
    static constexpr int kEarliestMs = -60; // the echo this much before its reference...
    static constexpr int kLatestMs = 200;   // ...to this much after
    static constexpr int kWindowMs = 2000;
    static constexpr int kEveryMs = 500;

    EchoDelayEstimator();

    // One frame: the microphone before any processing and the reference paired with it (empty
    // when there was none). A new estimate, in ms the echo lags its reference, when one is ready.
    std::optional<int> add(std::span<const std::int16_t> mic, std::span<const std::int16_t> reference);
    // Forgets what was heard: the pairing has changed.
    void reset();

private:
    std::optional<int> estimate();

    // Envelopes in rings of kHistoryMs entries, indexed by the count of ms so far.
    static constexpr int kHistoryMs = kWindowMs + kLatestMs - kEarliestMs;
    std::vector<float> m_mic;
    std::vector<float> m_reference;
    std::vector<float> m_micInOrder; // the rings in time order, for estimate()
    std::vector<float> m_referenceInOrder;
    std::vector<double> m_correlation; // at each lag from kEarliestMs
    std::int64_t m_ms = 0;             // envelope entries so far
    int m_sinceEstimate = 0;           // ms since the last correlation
    std::optional<int> m_previous;
};

} // namespace talvora::voice
