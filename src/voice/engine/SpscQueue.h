#pragma once

#include <array>
#include <atomic>
#include <cstddef>

namespace talvora::voice {

// A lock-free queue of fixed capacity between exactly one producer thread and one consumer
// thread; items are copied in and out. Neither side ever waits for the other, so a thread that
// must keep a deadline can hand work to one that may be late, or the other way round.
template <class T, std::size_t Capacity> class SpscQueue {
    static_assert((Capacity & (Capacity - 1)) == 0, "capacity must be a power of two");

public:
    // Producer side. False (and the item dropped) when the consumer has fallen behind.
    bool push(const T& item) {
        const std::size_t head = m_head.load(std::memory_order_relaxed);
        if (head - m_tail.load(std::memory_order_acquire) >= Capacity) {
            return false;
        }
        m_items[head & (Capacity - 1)] = item;
        m_head.store(head + 1, std::memory_order_release);
        return true;
    }

    // Consumer side. False when empty.
    bool pop(T& item) {
        const std::size_t tail = m_tail.load(std::memory_order_relaxed);
        if (tail == m_head.load(std::memory_order_acquire)) {
            return false;
        }
        item = m_items[tail & (Capacity - 1)];
        m_tail.store(tail + 1, std::memory_order_release);
        return true;
    }

private:
    std::array<T, Capacity> m_items{};
    std::atomic<std::size_t> m_head{0};
    std::atomic<std::size_t> m_tail{0};
};

} // namespace talvora::voice
