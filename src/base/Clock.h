#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace talvora::voice {

// Monotonic time for the engine and its in-memory devices; tests and benchmarks may supply their
// own. Microseconds, counted from an arbitrary origin.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::int64_t nowUs() const = 0;
    std::int64_t nowMs() const { return nowUs() / 1000; }
};

// std::chrono::steady_clock.
class SteadyClock final : public Clock {
public:
    std::int64_t nowUs() const override;
};

// A sleep until a point on a clock that another thread can cut short. Used by the in-memory
// devices to pace themselves like a sound card.
class InterruptibleSleep {
public:
    // False when interrupted (and from then on, until reset).
    bool sleepUntil(const Clock& clock, std::int64_t wakeUs);
    void interrupt();
    void reset();
    bool interrupted() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_interrupted = false; // guarded by m_mutex
};

} // namespace talvora::voice
