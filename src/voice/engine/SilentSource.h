#pragma once

#include "voice/engine/AudioDevice.h"
#include "voice/engine/SamplePace.h"

namespace talvora::voice {

// The stand-in for a microphone that is missing or stopped working: silence at a device's pace,
// so the transmit direction goes on sending (silent) packets and the peer hears the call alive.
class SilentSource final : public AudioSource {
public:
    SilentSource(const Clock& clock, int rateHz) : m_pace(clock, rateHz) {}

    int sampleRateHz() const override { return m_pace.rateHz(); }
    bool read(std::span<std::int16_t> out) override;
    void interrupt() override { m_pace.interrupt(); }

private:
    SamplePace m_pace;
    std::uint64_t m_samplesRead = 0;
};

} // namespace talvora::voice
