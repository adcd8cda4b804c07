#pragma once

#include "voice/engine/AudioDevice.h"
#include "voice/engine/SamplePace.h"

namespace talvora::voice {

// The stand-in for a speaker that is missing or stopped working: takes frames at a device's pace
// and forgets them, so the receive direction goes on draining the jitter buffer and feeding the
// echo canceller as in a call with sound.
class SilentSink final : public AudioSink {
public:
    SilentSink(const Clock& clock, int rateHz) : m_pace(clock, rateHz) {}

    int sampleRateHz() const override { return m_pace.rateHz(); }
    bool write(std::span<const std::int16_t> samples) override;
    void interrupt() override { m_pace.interrupt(); }

private:
    SamplePace m_pace;
    std::uint64_t m_samplesWritten = 0;
};

} // namespace talvora::voice
