#pragma once

#include "voice/engine/AudioFormat.h"

#include <cstdint>
#include <span>

struct OpusEncoder;
struct OpusDecoder;

namespace talvora::voice {

// Opus for speech: VOIP mode, 48 kHz mono, about 32 kbit/s, with in-band FEC so a lost packet
// can be rebuilt from the next one.
inline constexpr int kOpusBitrateBps = 32000;
// The loss rate the encoder spends FEC bits for; higher costs quality on a clean LAN.
inline constexpr int kOpusExpectedLossPercent = 10;

// Encodes frames of one length (10 or 20 ms; in-band FEC needs SILK, which takes no shorter).
class OpusVoiceEncoder {
public:
    explicit OpusVoiceEncoder(int frameMs = kFrameDurationMs);
    ~OpusVoiceEncoder();
    OpusVoiceEncoder(const OpusVoiceEncoder&) = delete;
    OpusVoiceEncoder& operator=(const OpusVoiceEncoder&) = delete;

    std::size_t frameSamples() const { return m_frameSamples; }
    // Encodes one frame of frameSamples(); returns the packet size, 0 on failure.
    std::size_t encode(std::span<const std::int16_t> frame, std::span<std::uint8_t> packet);

private:
    OpusEncoder* m_encoder = nullptr;
    std::size_t m_frameSamples;
};

// Decodes whatever length a peer sends. Each call fills exactly the frame it is given, whose
// length says what is wanted: the length of the packet, or of the frame to rebuild or conceal
// (a whole number of 10 ms, at most kMaxReceivedFrameSamples).
class OpusVoiceDecoder {
public:
    OpusVoiceDecoder();
    ~OpusVoiceDecoder();
    OpusVoiceDecoder(const OpusVoiceDecoder&) = delete;
    OpusVoiceDecoder& operator=(const OpusVoiceDecoder&) = delete;

    // The milliseconds of sound in `packet` when it is one we can play (isReceivableFrameMs),
    // 0 otherwise (damaged, hostile, or a length we do not take).
    static int packetMs(std::span<const std::uint8_t> packet);

    // False when Opus refused the input or the packet is not frame.size() long: the frame is
    // then concealed instead, never left stale.
    bool decode(std::span<const std::uint8_t> packet, std::span<std::int16_t> frame);
    // Rebuilds a lost frame from the in-band FEC data of the packet that follows it.
    bool decodeFromNext(std::span<const std::uint8_t> nextPacket, std::span<std::int16_t> frame);
    // Packet loss concealment for a frame nothing is known about.
    void conceal(std::span<std::int16_t> frame);
    void reset();

private:
    OpusDecoder* m_decoder = nullptr;
};

// A frame length the decoder can fill: a whole number of 10 ms, at most 60.
inline bool isDecodableFrame(std::size_t samples) {
    return samples > 0 && samples <= kMaxReceivedFrameSamples && samples % kBlockSamples == 0;
}

} // namespace talvora::voice
