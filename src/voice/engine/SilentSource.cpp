#include "voice/engine/SilentSource.h"

#include <algorithm>

namespace talvora::voice {

bool SilentSource::read(std::span<std::int16_t> out) {
    // A block is complete once its last sample has been "captured".
    if (!m_pace.waitUntil(m_samplesRead + out.size())) {
        return false;
    }
    std::fill(out.begin(), out.end(), std::int16_t{0});
    m_samplesRead += out.size();
    return true;
}

} // namespace talvora::voice
