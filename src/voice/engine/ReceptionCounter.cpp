#include "voice/engine/ReceptionCounter.h"

namespace talvora::voice {

void ReceptionCounter::startRange(std::uint16_t sequence) {
    m_started = true;
    m_baseSequence = sequence;
    m_maxSequence = sequence;
    m_cycles = 0;
    m_heard = 1;
    m_haveStray = false;
}

void ReceptionCounter::closeRange() {
    m_heardBefore += m_heard;
    m_expectedBefore += expectedInRange();
    m_lostBefore += lostInRange();
    m_started = false;
    m_heard = 0;
    m_haveStray = false;
}

void ReceptionCounter::newSource() {
    closeRange();
}

void ReceptionCounter::heard(std::uint16_t sequence) {
    if (!m_started) {
        startRange(sequence);
        return;
    }
    const auto ahead = static_cast<std::uint16_t>(sequence - m_maxSequence);
    if (ahead < kMaxDropout) {
        if (sequence < m_maxSequence) {
            m_cycles += 65536; // wrapped
        }
        m_maxSequence = sequence;
        ++m_heard;
        m_haveStray = false;
    } else if (ahead <= 65536 - kMaxMisorder) {
        if (m_haveStray && sequence == m_afterStray) {
            closeRange();
            startRange(sequence);
        } else {
            // Not counted: one stray packet must not stretch the range by thousands.
            m_haveStray = true;
            m_afterStray = static_cast<std::uint16_t>(sequence + 1);
        }
    } else {
        ++m_heard; // late or duplicated, within the reordering a network does
    }
}

} // namespace talvora::voice
