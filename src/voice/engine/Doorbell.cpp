#include "voice/engine/Doorbell.h"

#include <climits>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace talvora::voice {

namespace {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
                  std::atomic<std::uint32_t>::is_always_lock_free,
              "the futex word is the atomic itself");

std::uint32_t* futexWord(std::atomic<std::uint32_t>& word) {
    return reinterpret_cast<std::uint32_t*>(&word);
}

} // namespace

void Doorbell::ring() {
    // Sequentially consistent, as the waiter's count: either the waiter's futex sees the new
    // value, or this side sees the waiter and wakes it.
    m_rings.fetch_add(1);
    if (m_waiters.load() > 0) {
        ::syscall(SYS_futex, futexWord(m_rings), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
    }
}

void Doorbell::wait(std::uint32_t ticket, int timeoutMs) {
    m_waiters.fetch_add(1);
    const timespec timeout{.tv_sec = timeoutMs / 1000,
                           .tv_nsec = static_cast<long>(timeoutMs % 1000) * 1000000};
    // Returns at once when a ring came after the ticket (EAGAIN).
    ::syscall(SYS_futex, futexWord(m_rings), FUTEX_WAIT_PRIVATE, ticket, &timeout, nullptr, 0);
    m_waiters.fetch_sub(1);
}

} // namespace talvora::voice
