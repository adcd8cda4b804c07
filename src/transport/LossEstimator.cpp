#include "transport/LossEstimator.h"

#include <algorithm>
#include <cmath>

namespace talvora {

double LossEstimator::fade(qint64 nowMs) const {
    if (!m_started || nowMs <= m_lastMs)
        return 1;
    return std::exp(-double(nowMs - m_lastMs) / kMemoryMs);
}

void LossEstimator::add(qint64 nowMs, double packets, double lost) {
    const double kept = fade(nowMs);
    m_packets = m_packets * kept + packets;
    m_lost = m_lost * kept + lost;
    if (!m_started || nowMs > m_lastMs)
        m_lastMs = nowMs;
    m_started = true;
}

void LossEstimator::addPackets(qint64 nowMs, double expected, double lost) {
    if (!(expected > 0) || !std::isfinite(expected) || !std::isfinite(lost))
        return;
    add(nowMs, expected, std::clamp(lost, 0.0, expected));
}

void LossEstimator::addPictures(qint64 nowMs, double sent, double received, double packetsPerPicture) {
    if (!(sent > 0) || !std::isfinite(sent) || !std::isfinite(received) || !std::isfinite(packetsPerPicture))
        return;
    const double n = std::max(1.0, packetsPerPicture);
    const double arrived = std::clamp(received, 0.0, sent) / sent;
    const double packetLoss = 1 - std::pow(arrived, 1 / n);
    add(nowMs, sent * n, sent * n * packetLoss);
}

double LossEstimator::loss(qint64 nowMs) const {
    const double kept = fade(nowMs);
    return std::clamp(m_lost * kept / (m_packets * kept + kPriorPackets), 0.0, 1.0);
}

double LossEstimator::weight(qint64 nowMs) const {
    return m_packets * fade(nowMs);
}

} // namespace talvora
