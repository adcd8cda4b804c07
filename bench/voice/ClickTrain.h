#pragma once

// The click train of the delay measurements, and how a click is found again: a 10 ms
// Hann-windowed chirp (500 Hz to 3 kHz) every 503 ms goes into one microphone, and each click is
// located in the other side's speaker by normalised cross-correlation. 503 ms is no multiple of
// any frame or device block, so the clicks fall at every phase of them in turn and the
// percentiles are those of the call, not of one lucky or unlucky phase. Times come from timelines
// of blocks (BlockTime: the first sample of a block and when it passed), however the measurement
// takes them.
#include "FakeAudio.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <optional>
#include <span>
#include <vector>

namespace talvora::voice::bench {

inline constexpr std::uint64_t kClickPeriod = 48 * 503; // a click every 503 ms
inline constexpr std::size_t kClickSamples = 480;       // 10 ms
// A delay longer than this is not looked for (the next click comes 500 ms after).
inline constexpr double kClickSearchMs = 450;
// The search starts this long before the click went in: times read from a sound server's clock
// are good to a few milliseconds, not to the sample, and may put the click a little early.
inline constexpr double kClickEarlyMs = 20;

inline const std::vector<double>& clickShape() {
    static const std::vector<double> shape = [] {
        std::vector<double> s(kClickSamples);
        const double duration = double(kClickSamples) / 48000;
        for (std::size_t i = 0; i < kClickSamples; ++i) {
            const double t = double(i) / 48000;
            const double window =
                0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(kClickSamples - 1));
            s[i] = window * std::sin(2 * std::numbers::pi * (500 * t + 2500 / (2 * duration) * t * t));
        }
        return s;
    }();
    return shape;
}

// The train's sample `i`: a click at the start of each period, silence between.
inline std::int16_t clickTrain(std::uint64_t i) {
    const std::uint64_t phase = i % kClickPeriod;
    return phase < kClickSamples ? static_cast<std::int16_t>(12000 * clickShape()[phase]) : 0;
}

// When sample `i` passed, on a timeline of blocks in order (i at or after the first block).
inline double sampleTimeMs(const std::vector<BlockTime>& blocks, std::uint64_t i) {
    auto it = std::upper_bound(blocks.begin(), blocks.end(), i,
                               [](std::uint64_t v, const BlockTime& b) { return v < b.firstSample; });
    const BlockTime& b = *(it - 1);
    return double(b.timeUs) / 1000.0 + double(i - b.firstSample) / 48.0;
}

// Whether the timeline covers the search for a click sent at `ms`.
inline bool covers(const std::vector<BlockTime>& blocks, double ms) {
    return !blocks.empty() && double(blocks.front().timeUs) / 1000.0 < ms - kClickEarlyMs &&
           double(blocks.back().timeUs) / 1000.0 > ms;
}

// The delay from `sentMs` to the click in `out` (timeline `blocks`), searched from the block that
// passed last before `sentMs - kClickEarlyMs` on for kClickSearchMs. Nothing when the best match is below
// half of an exact copy: Opus keeps a chirp well above that, a concealed frame does not.
inline std::optional<double> clickDelayMs(std::span<const std::int16_t> out,
                                          const std::vector<BlockTime>& blocks, double sentMs) {
    const auto after =
        std::lower_bound(blocks.begin(), blocks.end(), sentMs - kClickEarlyMs,
                         [](const BlockTime& b, double ms) { return double(b.timeUs) / 1000.0 < ms; });
    if (after == blocks.begin() || out.size() < kClickSamples) {
        return std::nullopt;
    }
    const auto start = static_cast<std::size_t>((after - 1)->firstSample);
    const std::size_t stop =
        std::min(out.size() - kClickSamples, start + static_cast<std::size_t>(48 * kClickSearchMs));
    const std::vector<double>& shape = clickShape();
    double best = 0;
    std::size_t bestAt = 0;
    for (std::size_t at = start; at < stop; ++at) {
        double dot = 0, energy = 0;
        for (std::size_t k = 0; k < kClickSamples; ++k) {
            dot += shape[k] * out[at + k];
            energy += double(out[at + k]) * out[at + k];
        }
        const double score = energy > 0 ? dot / std::sqrt(energy) : 0;
        if (score > best) {
            best = score;
            bestAt = at;
        }
    }
    double norm = 0;
    for (double v : shape) {
        norm += v * v;
    }
    if (best / std::sqrt(norm) < 0.5) {
        return std::nullopt;
    }
    return sampleTimeMs(blocks, bestAt) - sentMs;
}

// The `p` quantile (0..1) of sorted values; 0 for none.
inline double percentile(const std::vector<double>& sorted, double p) {
    return sorted.empty()
               ? 0.0
               : sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(p * double(sorted.size())))];
}

// One line: how many clicks were looked for and found, and the delays' p50, p99 and maximum.
inline void printDelays(const char* name, std::size_t clicks, std::vector<double> delaysMs) {
    std::sort(delaysMs.begin(), delaysMs.end());
    std::printf("%-28s clicks %4zu found %4zu  delay p50 %6.1f ms  p99 %6.1f ms  max %6.1f ms\n", name,
                clicks, delaysMs.size(), percentile(delaysMs, 0.50), percentile(delaysMs, 0.99),
                delaysMs.empty() ? 0.0 : delaysMs.back());
    std::fflush(stdout);
}

} // namespace talvora::voice::bench
