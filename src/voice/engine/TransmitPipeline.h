#pragma once

#include "voice/engine/AudioFormat.h"
#include "voice/engine/Levels.h"
#include "voice/engine/OpusCodec.h"

#include <cstdint>
#include <span>

struct SpeexEchoState_;
struct SpeexPreprocessState_;

namespace talvora::voice {

// What the transmit pipeline does to the microphone's sound before encoding it.
struct VoiceProcessing {
    bool echoCancellation = true;
    bool noiseSuppression = true;
};

// How much echo the canceller can model: the speaker-to-microphone path through both devices'
// buffers and the room. 160 ms covers sound servers with 20-40 ms buffers on each side.
inline constexpr int kEchoTailMs = 160;

// Microphone frame to Opus packet: echo cancellation against what the speaker played, noise
// suppression (with the canceller's residual echo suppression), the transmit level, encoding.
// Everything is allocated at construction; process() allocates nothing.
class TransmitPipeline {
public:
    explicit TransmitPipeline(VoiceProcessing options = {});
    ~TransmitPipeline();
    TransmitPipeline(const TransmitPipeline&) = delete;
    TransmitPipeline& operator=(const TransmitPipeline&) = delete;

    // `mic` (kFrameSamples) is processed in place. `played` is the frame the speaker played
    // alongside it, or empty when nothing plays. Returns the packet size, 0 when encoding failed.
    std::size_t process(std::span<std::int16_t> mic, std::span<const std::int16_t> played, int level,
                        std::span<std::uint8_t> packet);

    const VoiceProcessing& options() const { return m_options; }

private:
    VoiceProcessing m_options;
    SpeexEchoState_* m_echo = nullptr;
    SpeexPreprocessState_* m_preprocess = nullptr;
    GainStage m_gain;
    OpusVoiceEncoder m_encoder;
    std::int16_t m_cleaned[kFrameSamples]{};
    std::int16_t m_silence[kFrameSamples]{};
};

} // namespace talvora::voice
