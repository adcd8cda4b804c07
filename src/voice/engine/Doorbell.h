#pragma once

#include <atomic>
#include <cstdint>

namespace talvora::voice {

// Wakes a thread that waits for a sound server's real-time thread to have moved samples, without
// a lock the waiter could hold: ring() is an atomic increment and, only while someone waits, a
// futex wake-up, neither of which can block the ringing thread. A waiter takes a ticket, checks
// its condition, and waits only while nobody rang since the ticket (so no ring is lost between
// the check and the wait).
class Doorbell {
public:
    std::uint32_t ticket() const { return m_rings.load(); }
    // From any thread, the real-time one included.
    void ring();
    // Until a ring after `ticket`, or `timeoutMs`, or a spurious wake-up: callers check again.
    void wait(std::uint32_t ticket, int timeoutMs);

private:
    std::atomic<std::uint32_t> m_rings{0};
    std::atomic<int> m_waiters{0};
};

} // namespace talvora::voice
