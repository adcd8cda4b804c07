#pragma once

#include <cstdint>
#include <span>

namespace talvora::voice {

// Transmit and receive levels run 0..100 like the sliders that set them. 0 is silence, 80 is
// unity gain, and each step is half a decibel: 100 is +10 dB, 60 is -10 dB, 1 is -39.5 dB.
inline constexpr int kUnityLevel = 80;
inline constexpr int kMaxLevel = 100;
inline constexpr double kLevelStepDb = 0.5;

// The linear gain of a level; levels outside 0..100 are clamped.
double levelToGain(int level);

// Applies a gain to 16-bit samples, saturating. A gain change ramps linearly across the frame it
// takes effect in, so a level change is heard at once but without a click.
class GainStage {
public:
    explicit GainStage(int level = kUnityLevel);

    void apply(std::span<std::int16_t> samples, int level);

private:
    float m_gain;
};

} // namespace talvora::voice
