#include "transport/LossEstimator.h"

#include <algorithm>
#include <cmath>

namespace talvora {

double LossEstimator::fade(qint64 nowMs, double memoryMs) const {
    if (!m_started || nowMs <= m_lastMs)
        return 1;
    return std::exp(-double(nowMs - m_lastMs) / memoryMs);
}

void LossEstimator::add(qint64 nowMs, double packets, double lost) {
    const double kept = fade(nowMs, kMemoryMs);
    m_packets = m_packets * kept + packets;
    m_lost = m_lost * kept + lost;
    const double fastKept = fade(nowMs, kFastMemoryMs);
    m_fastPackets = m_fastPackets * fastKept + packets;
    m_fastLost = m_fastLost * fastKept + lost;
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
    const double kept = fade(nowMs, kMemoryMs);
    const double fastKept = fade(nowMs, kFastMemoryMs);
    const double slow = m_lost * kept / (m_packets * kept + kPriorPackets);
    const double fast = m_fastLost * fastKept / (m_fastPackets * fastKept + kFastPriorPackets);
    return std::clamp(std::max(slow, fast), 0.0, 1.0);
}

double LossEstimator::weight(qint64 nowMs) const {
    return m_packets * fade(nowMs, kMemoryMs);
}

double assumedLoss(double atStart, qint64 sinceStartMs) {
    return atStart * std::exp2(-double(std::max<qint64>(sinceStartMs, 0)) / kAssumedLossHalfLifeMs);
}

} // namespace talvora
