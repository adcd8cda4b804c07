#pragma once

#include "base/Clock.h"

#include <cstdint>

namespace talvora::voice {

// The real-time pace of a sound card on a clock. Devices that are not sound cards (the silent
// stand-ins, the tests' in-memory devices) wait on it so that they take and give samples no
// faster than a real device would, and so pace the thread that uses them.
class SamplePace {
public:
    SamplePace(const Clock& clock, int rateHz) : m_clock(clock), m_rateHz(rateHz) {}

    int rateHz() const { return m_rateHz; }

    // Waits until `samples` samples have passed since the first wait. False when interrupted
    // (and from then on).
    bool waitUntil(std::uint64_t samples) {
        if (!m_started) {
            m_started = true;
            m_startUs = m_clock.nowUs();
        }
        return m_sleep.sleepUntil(m_clock, m_startUs + durationUs(samples));
    }

    // From any thread: cuts a wait short.
    void interrupt() { m_sleep.interrupt(); }

    std::int64_t nowUs() const { return m_clock.nowUs(); }

private:
    std::int64_t durationUs(std::uint64_t samples) const {
        return static_cast<std::int64_t>(samples * 1000000 / static_cast<std::uint64_t>(m_rateHz));
    }

    const Clock& m_clock;
    const int m_rateHz;
    InterruptibleSleep m_sleep;
    bool m_started = false;
    std::int64_t m_startUs = 0;
};

} // namespace talvora::voice
