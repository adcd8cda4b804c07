#pragma once

#include <cstddef>

namespace talvora::voice {

// The engine's one internal format: 48 kHz mono 16-bit. Devices that run at another rate are
// resampled at the edge.
inline constexpr int kSampleRateHz = 48000;
inline constexpr std::size_t kSamplesPerMs = kSampleRateHz / 1000;

// Samples in `ms` milliseconds at the engine's rate.
inline constexpr std::size_t samplesFor(int ms) {
    return kSamplesPerMs * static_cast<std::size_t>(ms);
}
// Samples in `ms` milliseconds at `rateHz` (rounded down; our FIFOs absorb the remainder).
inline constexpr std::size_t samplesAt(int rateHz, int ms) {
    return static_cast<std::size_t>(rateHz) * static_cast<std::size_t>(ms) / 1000;
}

// What one packet carries of the microphone in our calls. 10 ms rather than 20 halves the wait
// for a frame to fill and the jitter buffer's step: measured mouth to ear through two sound
// servers, 45 ms rather than 66 (p50) on a clean network and 98 rather than 115 (p99) with 5 %
// loss and 20 +- 20 ms of jitter, with the same share of frames lost and rebuilt (in-band FEC
// works on 10 ms frames). It costs 100 packets a second instead of 50.
inline constexpr int kFrameDurationMs = 10;
inline constexpr std::size_t kFrameSamples = samplesFor(kFrameDurationMs);
// The packet lengths we send: 10 ms costs half the wait for a frame to fill, twice the packets.
inline constexpr int kShortestFrameMs = 10;
inline constexpr int kLongestSentFrameMs = 20;
inline constexpr bool isSendableFrameMs(int ms) {
    return ms == kShortestFrameMs || ms == kLongestSentFrameMs;
}
inline constexpr std::size_t kMaxSentFrameSamples = samplesFor(kLongestSentFrameMs);

// A peer's packets may carry one Opus frame of any whole number of 10 ms up to 60 ms.
inline constexpr int kLongestReceivedFrameMs = 60;
inline constexpr std::size_t kMaxReceivedFrameSamples = samplesFor(kLongestReceivedFrameMs);
inline constexpr bool isReceivableFrameMs(int ms) {
    return ms > 0 && ms <= kLongestReceivedFrameMs && ms % kShortestFrameMs == 0;
}

// What the speaker played crosses to the echo canceller in blocks of 10 ms, whatever either
// side's packets are.
inline constexpr int kBlockMs = 10;
inline constexpr std::size_t kBlockSamples = samplesFor(kBlockMs);

} // namespace talvora::voice
