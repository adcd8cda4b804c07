#include "base/Clock.h"

#include <chrono>

namespace talvora::voice {

std::int64_t SteadyClock::nowUs() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool InterruptibleSleep::sleepUntil(const Clock& clock, std::int64_t wakeUs) {
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_interrupted) {
            return false;
        }
        const std::int64_t now = clock.nowUs();
        if (now >= wakeUs) {
            return true;
        }
        // Re-read the clock after each wake-up: the clock may be anyone's, not the wait's own.
        m_wake.wait_for(lock, std::chrono::microseconds(wakeUs - now));
    }
}

void InterruptibleSleep::interrupt() {
    {
        std::lock_guard lock(m_mutex);
        m_interrupted = true;
    }
    m_wake.notify_all();
}

void InterruptibleSleep::reset() {
    std::lock_guard lock(m_mutex);
    m_interrupted = false;
}

bool InterruptibleSleep::interrupted() const {
    std::lock_guard lock(m_mutex);
    return m_interrupted;
}

} // namespace talvora::voice
