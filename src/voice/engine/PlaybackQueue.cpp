#include "voice/engine/PlaybackQueue.h"

#include <algorithm>

namespace talvora::voice {

std::size_t PlaybackQueue::offer(std::span<const std::int16_t> samples, std::size_t limit) {
    const std::size_t queued = m_ring.size();
    if (queued >= limit) {
        return 0;
    }
    return m_ring.write(samples.first(std::min(samples.size(), limit - queued)));
}

void PlaybackQueue::fill(std::span<std::int16_t> out) {
    if (!m_playing.load(std::memory_order_relaxed)) {
        const std::size_t start = std::max<std::size_t>(m_startLevel.load(std::memory_order_relaxed), 1);
        if (m_ring.size() < start) {
            std::fill(out.begin(), out.end(), std::int16_t{0});
            return;
        }
        m_playing.store(true, std::memory_order_relaxed);
    }
    const std::size_t n = m_ring.read(out);
    if (n < out.size()) {
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(n), out.end(), std::int16_t{0});
        m_underflows.fetch_add(1, std::memory_order_relaxed);
        m_playing.store(false, std::memory_order_relaxed);
    }
}

} // namespace talvora::voice
