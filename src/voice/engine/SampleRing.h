#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace talvora::voice {

// A lock-free queue of samples between exactly one producer thread and one consumer thread, its
// room allocated once at construction (rounded up to a power of two). Either side may be a sound
// server's real-time thread: neither ever waits, allocates or takes a lock. Unlike SampleFifo,
// a full ring refuses the newest samples, since only the consumer may move the oldest.
class SampleRing {
public:
    explicit SampleRing(std::size_t capacity) : m_data(std::bit_ceil(std::max<std::size_t>(capacity, 2))) {}

    std::size_t capacity() const { return m_data.size(); }
    // Samples waiting: exact for the consumer, a lower bound of the room for the producer.
    std::size_t size() const {
        return m_head.load(std::memory_order_acquire) - m_tail.load(std::memory_order_acquire);
    }

    // Producer side: as many of `samples` as there is room for; how many went in.
    std::size_t write(std::span<const std::int16_t> samples) {
        const std::size_t head = m_head.load(std::memory_order_relaxed);
        const std::size_t room = m_data.size() - (head - m_tail.load(std::memory_order_acquire));
        const std::size_t n = std::min(room, samples.size());
        for (std::size_t i = 0; i < n; ++i) {
            m_data[(head + i) & (m_data.size() - 1)] = samples[i];
        }
        m_head.store(head + n, std::memory_order_release);
        return n;
    }

    // Consumer side: up to out.size() samples; how many came out.
    std::size_t read(std::span<std::int16_t> out) {
        const std::size_t tail = m_tail.load(std::memory_order_relaxed);
        const std::size_t n = std::min(m_head.load(std::memory_order_acquire) - tail, out.size());
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = m_data[(tail + i) & (m_data.size() - 1)];
        }
        m_tail.store(tail + n, std::memory_order_release);
        return n;
    }

private:
    std::vector<std::int16_t> m_data;
    std::atomic<std::size_t> m_head{0}; // written by the producer only
    std::atomic<std::size_t> m_tail{0}; // written by the consumer only
};

} // namespace talvora::voice
