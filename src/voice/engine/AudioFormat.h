#pragma once

#include <cstddef>

namespace talvora::voice {

// The engine's one internal format: 48 kHz mono 16-bit, in frames of 20 ms. Devices that run at
// another rate are resampled at the edge.
inline constexpr int kSampleRateHz = 48000;
inline constexpr int kFrameDurationMs = 20;
inline constexpr std::size_t kFrameSamples = kSampleRateHz / 1000 * kFrameDurationMs; // 960

// Samples in one 20 ms block at `rateHz` (rounded down; our FIFOs absorb the remainder).
inline constexpr std::size_t frameSamplesAt(int rateHz) {
    return static_cast<std::size_t>(rateHz) * kFrameDurationMs / 1000;
}

} // namespace talvora::voice
