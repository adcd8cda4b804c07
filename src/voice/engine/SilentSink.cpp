#include "voice/engine/SilentSink.h"

namespace talvora::voice {

bool SilentSink::write(std::span<const std::int16_t> samples) {
    // Like a device with one block of buffer: a block is taken once the previous one has played.
    if (!m_pace.waitUntil(m_samplesWritten)) {
        return false;
    }
    m_samplesWritten += samples.size();
    return true;
}

} // namespace talvora::voice
