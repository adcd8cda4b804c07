#include "voice/engine/Levels.h"

#include <algorithm>
#include <cmath>

namespace talvora::voice {

double levelToGain(int level) {
    level = std::clamp(level, 0, kMaxLevel);
    if (level == 0) {
        return 0.0;
    }
    return std::pow(10.0, (level - kUnityLevel) * kLevelStepDb / 20.0);
}

GainStage::GainStage(int level) : m_gain(static_cast<float>(levelToGain(level))) {}

void GainStage::apply(std::span<std::int16_t> samples, int level) {
    const auto target = static_cast<float>(levelToGain(level));
    const float start = m_gain;
    if (start == 1.0f && target == 1.0f) {
        return;
    }
    const std::size_t n = samples.size();
    const float step = n > 0 ? (target - start) / static_cast<float>(n) : 0.0f;
    for (std::size_t i = 0; i < n; ++i) {
        const float gain = start + step * static_cast<float>(i + 1);
        const float v = std::round(static_cast<float>(samples[i]) * gain);
        samples[i] = static_cast<std::int16_t>(std::clamp(v, -32768.0f, 32767.0f));
    }
    m_gain = target;
}

} // namespace talvora::voice
