#include "voice/engine/PlaybackBuffer.h"

#include <algorithm>

namespace talvora::voice {

PlaybackBuffer::PlaybackBuffer(Limits limits, std::int64_t nowMs)
    : m_limits(limits), m_targetMs(limits.startMs), m_quietSinceMs(nowMs) {
    m_limits.maxMs = std::max(m_limits.maxMs, m_limits.startMs);
}

int PlaybackBuffer::underflow(std::int64_t nowMs) {
    m_targetMs = std::min({m_targetMs * 2, m_targetMs + m_limits.growMs, m_limits.maxMs});
    m_quietSinceMs = nowMs;
    return m_targetMs;
}

int PlaybackBuffer::targetAt(std::int64_t nowMs) {
    while (m_targetMs > m_limits.startMs && nowMs - m_quietSinceMs >= m_limits.quietMs) {
        m_targetMs = std::max(m_limits.startMs, m_targetMs - m_limits.shrinkMs);
        m_quietSinceMs += m_limits.quietMs;
    }
    return m_targetMs;
}

} // namespace talvora::voice
