#pragma once

#include "voice/engine/JitterBuffer.h"
#include "voice/engine/Levels.h"
#include "voice/engine/OpusCodec.h"

#include <cstdint>
#include <span>

namespace talvora::voice {

// Jitter buffer frame to speaker samples: decode, rebuild a lost frame from the next packet's
// FEC data or conceal it, apply the receive level. Allocates nothing after construction.
class ReceivePipeline {
public:
    // Fills `out` (the length of the jitter buffer's frames, a whole number of 10 ms) for
    // `frame`, whose packet bytes (if any) are in `packet`.
    void produce(const JitterBuffer::Frame& frame, std::span<const std::uint8_t> packet, int level,
                 std::span<std::int16_t> out);

    std::uint64_t decodeErrors() const { return m_decodeErrors; }

private:
    OpusVoiceDecoder m_decoder;
    GainStage m_gain;
    bool m_wasSilent = true;
    std::uint64_t m_decodeErrors = 0;
};

} // namespace talvora::voice
