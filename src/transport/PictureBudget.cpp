#include "transport/PictureBudget.h"

#include "transport/DatagramSink.h"
#include "transport/JpegCodec.h"

#include <algorithm>
#include <cmath>

namespace talvora {

bool PicturePlan::limited() const {
    return ceilingBytes < kMaxDatagramBytes || picturesPerSecond > 0;
}

bool PicturePlan::onePacket() const {
    return ceilingBytes <= payloadOf(1);
}

void PictureBudget::setLoss(qint64 nowMs, double loss) {
    const double estimate = std::isfinite(loss) ? std::clamp(loss, 0.0, 1.0) : 0.0;
    m_loss = std::max(estimate, effectiveLoss(nowMs));
    m_lossMs = std::max(nowMs, m_lossMs);
}

double PictureBudget::effectiveLoss(qint64 nowMs) const {
    if (m_loss <= 0 || nowMs <= m_lossMs)
        return m_loss;
    return m_loss * std::exp2(-double(nowMs - m_lossMs) / kClimbHalfLifeMs);
}

void PictureBudget::noteSent(qint64 nowMs, qsizetype bytes) {
    expire(nowMs);
    const int fragments = std::min(fragmentsOf(bytes, m_limits), int(m_sentByFragments.size()) - 1);
    m_sent.push_back({nowMs, fragments, m_noted++});
    ++m_sentByFragments[std::size_t(fragments)];
}

void PictureBudget::expire(qint64 nowMs) {
    const qint64 oldest = nowMs - qint64(m_limits.holdSeconds * 1000);
    while (!m_sent.empty() && m_sent.front().atMs <= oldest) {
        --m_sentByFragments[std::size_t(m_sent.front().fragments)];
        m_sent.pop_front();
    }
}

double PictureBudget::committedBytes(qint64 nowMs) {
    expire(nowMs);
    const double loss = effectiveLoss(nowMs);
    double bytes = 0;
    if (m_peerHold) {
        bytes = std::max(0.0, m_peerHold->bytes);
        for (auto it = m_sent.rbegin(); it != m_sent.rend() && it->number >= m_peerHold->picturesCovered;
             ++it)
            bytes += strandedBytes(loss, it->fragments, m_limits);
        return bytes;
    }
    for (std::size_t n = 2; n < m_sentByFragments.size(); ++n) {
        if (m_sentByFragments[n] > 0)
            bytes += m_sentByFragments[n] * strandedBytes(loss, int(n), m_limits);
    }
    return bytes;
}

qsizetype PictureBudget::ceilingAt(double loss, double rate, double committed) const {
    return std::min(pictureCeiling(loss, rate, m_limits.memoryBytes, m_limits),
                    pictureCeiling(loss, rate, m_limits.thresholdBytes - committed, m_limits));
}

PicturePlan PictureBudget::plan(qint64 nowMs, double cameraPicturesPerSecond, const JpegSizeModel& sizes) {
    const PicturePlan unlimited{kMaxDatagramBytes, 0};
    const double loss = effectiveLoss(nowMs);
    if (loss <= 0)
        return unlimited;
    const double committed = committedBytes(nowMs);
    if (committed >= m_limits.thresholdBytes) {
        // The peer's kernel refuses every fragment now, so nothing of more than one packet
        // arrives until old pictures expire; a picture of one packet needs no reassembly and
        // arrives as voice does. The sender makes pictures that small (PicturePlan::onePacket).
        return {payloadOf(1, m_limits), 0};
    }
    const double rate = std::clamp(cameraPicturesPerSecond, 1.0, 120.0);
    const qsizetype ceiling = ceilingAt(loss, rate, committed);
    if (ceiling >= kMaxDatagramBytes)
        return unlimited;
    if (!sizes.known() || sizes.qualityFor(qsizetype(double(ceiling) * kAim)) >= kQualityFloor)
        return {ceiling, 0};
    // Even the floor's quality is too large at this rate: fewer pictures, each allowed more.
    const qsizetype floorBytes = qsizetype(double(sizes.bytesAt(kQualityFloor)) / kAim);
    const double slower = std::clamp(
        std::min(pictureRateLimit(loss, floorBytes, m_limits.memoryBytes, m_limits),
                 pictureRateLimit(loss, floorBytes, m_limits.thresholdBytes - committed, m_limits)),
        kMinPicturesPerSecond, rate);
    if (slower >= rate)
        return {ceiling, 0};
    qsizetype slowerCeiling = std::max(ceiling, ceilingAt(loss, slower, committed));
    if (slower <= kMinPicturesPerSecond) {
        // At the slowest rate the smallest picture goes out whatever it costs: a few packets
        // twice a second hold little, and a picture that never leaves shows nothing.
        slowerCeiling =
            std::max(slowerCeiling, qsizetype(std::ceil(double(sizes.bytesAt(kMinJpegQuality)) / kAim)));
    }
    return {std::min(slowerCeiling, kMaxDatagramBytes), slower};
}

int PictureBudget::qualityFor(const PicturePlan& plan, const JpegSizeModel& sizes, int maxQuality) {
    maxQuality = std::clamp(maxQuality, kMinJpegQuality, kMaxJpegQuality);
    if (!plan.limited() || !sizes.known())
        return maxQuality;
    return std::min(maxQuality, sizes.qualityFor(qsizetype(double(plan.ceilingBytes) * kAim)));
}

} // namespace talvora
