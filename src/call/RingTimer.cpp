#include "call/RingTimer.h"

namespace talvora {

QtRingTimer::QtRingTimer() {
    m_timer.setSingleShot(false);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        if (m_handler) {
            m_handler();
        }
    });
}

void QtRingTimer::setInterval(int intervalMs) {
    if (intervalMs == m_intervalMs) {
        return;
    }
    m_intervalMs = intervalMs;
    restart();
}

void QtRingTimer::setEnabled(bool enabled) {
    if (enabled == m_enabled) {
        return;
    }
    m_enabled = enabled;
    restart();
}

void QtRingTimer::restart() {
    m_timer.stop();
    // A timer with no positive interval never fires (a QTimer with 0 would fire at every idle).
    if (m_enabled && m_intervalMs > 0) {
        m_timer.start(m_intervalMs);
    }
}

} // namespace talvora
