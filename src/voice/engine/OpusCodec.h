#pragma once

#include "voice/engine/AudioFormat.h"

#include <cstdint>
#include <span>

struct OpusEncoder;
struct OpusDecoder;

namespace talvora::voice {

// Opus for speech: VOIP mode, 48 kHz mono, 20 ms frames, about 32 kbit/s, with in-band FEC so a
// lost packet can be rebuilt from the next one.
inline constexpr int kOpusBitrateBps = 32000;
// The loss rate the encoder spends FEC bits for; higher costs quality on a clean LAN.
inline constexpr int kOpusExpectedLossPercent = 10;

class OpusVoiceEncoder {
public:
    OpusVoiceEncoder();
    ~OpusVoiceEncoder();
    OpusVoiceEncoder(const OpusVoiceEncoder&) = delete;
    OpusVoiceEncoder& operator=(const OpusVoiceEncoder&) = delete;

    // Encodes one frame of kFrameSamples; returns the packet size, 0 on failure.
    std::size_t encode(std::span<const std::int16_t> frame, std::span<std::uint8_t> packet);

private:
    OpusEncoder* m_encoder = nullptr;
};

class OpusVoiceDecoder {
public:
    OpusVoiceDecoder();
    ~OpusVoiceDecoder();
    OpusVoiceDecoder(const OpusVoiceDecoder&) = delete;
    OpusVoiceDecoder& operator=(const OpusVoiceDecoder&) = delete;

    // Each call fills exactly one frame of kFrameSamples and returns false when Opus refused the
    // input (the frame is then concealed instead, never left stale).
    bool decode(std::span<const std::uint8_t> packet, std::span<std::int16_t> frame);
    // Rebuilds a lost frame from the in-band FEC data of the packet that follows it.
    bool decodeFromNext(std::span<const std::uint8_t> nextPacket, std::span<std::int16_t> frame);
    // Packet loss concealment for a frame nothing is known about.
    void conceal(std::span<std::int16_t> frame);
    void reset();

private:
    OpusDecoder* m_decoder = nullptr;
};

} // namespace talvora::voice
