#pragma once

#include "voice/engine/SampleRing.h"

#include <atomic>
#include <cstdint>
#include <span>

namespace talvora::voice {

// The speaker's queue between our playback thread and a sound server's real-time thread, which
// asks for one quantum at a time: it plays once the queue has reached its start level (the
// playback buffer's target), and when a quantum finds less than its length queued it plays what
// there is and silence after it, counts one underflow, and waits for the start level again (one
// clean gap rather than a stutter of short ones while the writer catches up).
class PlaybackQueue {
public:
    explicit PlaybackQueue(std::size_t capacity) : m_ring(capacity) {}

    // Writer side.
    void setStartLevel(std::size_t samples) { m_startLevel.store(samples, std::memory_order_relaxed); }
    // As many of `samples` as keep at most `limit` queued; how many went in.
    std::size_t offer(std::span<const std::int16_t> samples, std::size_t limit);
    std::size_t queued() const { return m_ring.size(); }

    // Real-time side: fills `out`, one quantum.
    void fill(std::span<std::int16_t> out);

    // From any thread.
    std::uint64_t underflows() const { return m_underflows.load(std::memory_order_relaxed); }
    bool playing() const { return m_playing.load(std::memory_order_relaxed); }

private:
    SampleRing m_ring;
    std::atomic<std::size_t> m_startLevel{0};
    std::atomic<bool> m_playing{false};         // changed by the real-time side only
    std::atomic<std::uint64_t> m_underflows{0}; // counted by the real-time side only
};

} // namespace talvora::voice
