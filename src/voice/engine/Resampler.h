#pragma once

#include <cstdint>
#include <span>

struct SpeexResamplerState_;

namespace talvora::voice {

// speexdsp's resampler for one mono stream, between a device's rate and the engine's 48 kHz.
class Resampler {
public:
    Resampler(int inputRateHz, int outputRateHz);
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Consumes all of `in` (as long as `out` has room for in.size() * ratio + a little) and
    // returns the number of samples written to `out`.
    std::size_t process(std::span<const std::int16_t> in, std::span<std::int16_t> out);

    // Upper bound of the output for `inputSamples` samples.
    std::size_t maxOutput(std::size_t inputSamples) const;

private:
    SpeexResamplerState_* m_state = nullptr;
    int m_inputRateHz;
    int m_outputRateHz;
};

} // namespace talvora::voice
