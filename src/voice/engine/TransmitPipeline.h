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
    bool gainControl = true;
};

// Automatic gain control: speech is brought towards about -19 dBFS RMS (against a full-scale
// sine), raised by at most 20 dB (a quiet talker) and lowered quickly when it gets loud, so that
// the user's microphone level, applied after it, starts from a steady speech level instead of the
// microphone's, with 10 dB of headroom left for the level's top. The speexdsp target is in its own
// loudness units: 8000 gives about -29 dBFS, and the output follows it linearly.
inline constexpr float kGainControlTarget = 24000.0f;
inline constexpr int kGainControlMaxGainDb = 20;
// The gain control may rise by this much a second, and only while the speaker is quiet: with the
// far end talking, what reaches it after the canceller is mostly residual echo, which it must not
// raise towards speech level. It may still fall at any time.
inline constexpr int kGainControlRiseDbPerSecond = 12;
// A played frame at or above this RMS (about -50 dBFS) means the far end is talking.
inline constexpr double kFarEndActiveRms = 100.0;

// How much echo the canceller can model: the speaker-to-microphone path through both devices'
// buffers and the room. 160 ms covers sound servers with 20-40 ms buffers on each side.
inline constexpr int kEchoTailMs = 160;

// Microphone frame to Opus packet: echo cancellation against what the speaker played, noise
// suppression (with the canceller's residual echo suppression), automatic gain control, the
// transmit level, encoding. Every stage works on the packet's frame, of `frameMs` (10 or 20).
// Everything is allocated at construction; process() allocates nothing.
class TransmitPipeline {
public:
    explicit TransmitPipeline(VoiceProcessing options = {}, int frameMs = kFrameDurationMs);
    ~TransmitPipeline();
    TransmitPipeline(const TransmitPipeline&) = delete;
    TransmitPipeline& operator=(const TransmitPipeline&) = delete;

    // `mic` (frameSamples()) is processed in place. `played` is the frame the speaker played
    // alongside it, or empty when nothing plays. Returns the packet size, 0 when encoding failed.
    std::size_t process(std::span<std::int16_t> mic, std::span<const std::int16_t> played, int level,
                        std::span<std::uint8_t> packet);

    const VoiceProcessing& options() const { return m_options; }
    std::size_t frameSamples() const { return m_frameSamples; }

    // The echo moved against its reference: what the canceller learnt no longer fits, and it
    // learns anew faster than it unlearns.
    void restartEchoCanceller();

private:
    VoiceProcessing m_options;
    std::size_t m_frameSamples;
    SpeexEchoState_* m_echo = nullptr;
    SpeexPreprocessState_* m_preprocess = nullptr;
    void holdGainWhileFarEndTalks(std::span<const std::int16_t> played);

    bool m_gainRiseHeld = false;
    GainStage m_gain;
    OpusVoiceEncoder m_encoder;
    std::int16_t m_cleaned[kMaxSentFrameSamples]{};
    std::int16_t m_silence[kMaxSentFrameSamples]{};
};

} // namespace talvora::voice
