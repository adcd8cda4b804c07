#include "transport/PictureBudget.h"

#include "transport/DatagramSink.h"
#include "transport/JpegCodec.h"

#include <algorithm>
#include <cmath>

namespace talvora {

bool PicturePlan::limited() const {
    return ceilingBytes < kMaxDatagramBytes || picturesPerSecond > 0;
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

PicturePlan PictureBudget::plan(qint64 nowMs, double cameraPicturesPerSecond,
                                const JpegSizeModel& sizes) const {
    const PicturePlan unlimited{kMaxDatagramBytes, 0};
    const double loss = effectiveLoss(nowMs);
    if (loss <= 0)
        return unlimited;
    const double rate = std::clamp(cameraPicturesPerSecond, 1.0, 120.0);
    const qsizetype ceiling = pictureCeiling(loss, rate, m_limits);
    if (ceiling >= kMaxDatagramBytes)
        return unlimited;
    if (!sizes.known() || sizes.qualityFor(qsizetype(ceiling * kAim)) >= kQualityFloor)
        return {ceiling, 0};
    // Even the floor's quality is too large at this rate: fewer pictures, each allowed more.
    const qsizetype floorBytes = qsizetype(double(sizes.bytesAt(kQualityFloor)) / kAim);
    const double slower =
        std::clamp(pictureRateLimit(loss, floorBytes, m_limits), kMinPicturesPerSecond, rate);
    if (slower >= rate)
        return {ceiling, 0};
    return {std::max(ceiling, pictureCeiling(loss, slower, m_limits)), slower};
}

int PictureBudget::qualityFor(const PicturePlan& plan, const JpegSizeModel& sizes, int maxQuality) {
    maxQuality = std::clamp(maxQuality, kMinJpegQuality, kMaxJpegQuality);
    if (!plan.limited() || !sizes.known())
        return maxQuality;
    return std::min(maxQuality, sizes.qualityFor(qsizetype(double(plan.ceilingBytes) * kAim)));
}

} // namespace talvora
