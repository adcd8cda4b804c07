#pragma once

#include "voice/engine/AudioFormat.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

namespace talvora::voice {

// A lock-free queue of fixed-size audio frames between exactly one producer thread and one
// consumer thread. The playback thread hands what it plays to the capture thread's echo
// canceller through it: neither side ever waits for the other.
template <std::size_t FrameSamples, std::size_t Capacity> class FrameRing {
    static_assert((Capacity & (Capacity - 1)) == 0, "capacity must be a power of two");

public:
    // Producer side. False (and the frame dropped) when the consumer has fallen behind.
    bool push(std::span<const std::int16_t> frame) {
        const std::size_t head = m_head.load(std::memory_order_relaxed);
        const std::size_t tail = m_tail.load(std::memory_order_acquire);
        if (head - tail >= Capacity || frame.size() != FrameSamples) {
            return false;
        }
        auto& slot = m_frames[head & (Capacity - 1)];
        for (std::size_t i = 0; i < FrameSamples; ++i) {
            slot[i] = frame[i];
        }
        m_head.store(head + 1, std::memory_order_release);
        return true;
    }

    // Consumer side. False when empty.
    bool pop(std::span<std::int16_t> frame) {
        const std::size_t tail = m_tail.load(std::memory_order_relaxed);
        const std::size_t head = m_head.load(std::memory_order_acquire);
        if (head == tail || frame.size() != FrameSamples) {
            return false;
        }
        const auto& slot = m_frames[tail & (Capacity - 1)];
        for (std::size_t i = 0; i < FrameSamples; ++i) {
            frame[i] = slot[i];
        }
        m_tail.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Consumer side: frames waiting.
    std::size_t size() const {
        return m_head.load(std::memory_order_acquire) - m_tail.load(std::memory_order_relaxed);
    }

private:
    std::array<std::array<std::int16_t, FrameSamples>, Capacity> m_frames{};
    std::atomic<std::size_t> m_head{0};
    std::atomic<std::size_t> m_tail{0};
};

// What the speaker played, for the echo canceller, in 10 ms blocks (320 ms of room): the receive
// direction's playback thread produces, the transmit direction's capture thread consumes.
using EchoReference = FrameRing<kBlockSamples, 32>;

} // namespace talvora::voice
