#pragma once

// A room for measuring an echo canceller offline: the microphone hears the speaker 30 ms late at
// half the level. The near end talks alone first (0-3 s, at -24 dBFS, so that a gain control
// settles on it), then the far end alone (3-8 s), then both (8-12 s).

#include "SignalAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <span>
#include <vector>

namespace talvora::voice::test {

constexpr std::size_t kSecond = 48000;
constexpr int kRoomRateHz = 48000;

inline double dB(double ratio) {
    return 20 * std::log10(ratio);
}

// Voiced speech at `pitchHz`: five harmonics under a 3 Hz syllable envelope with a little
// breath noise, scaled to `rmsLevel`.
inline std::vector<std::int16_t> speechLike(std::size_t samples, double pitchHz, double rmsLevel,
                                            std::uint32_t seed) {
    std::vector<double> raw(samples);
    std::uint32_t noise = seed;
    double sum = 0;
    for (std::size_t i = 0; i < samples; ++i) {
        const double t = double(i) / kRoomRateHz;
        const double envelope = 0.55 + 0.45 * std::sin(2 * std::numbers::pi * 3 * t);
        double v = 0;
        for (int h = 1; h <= 5; ++h) {
            v += std::sin(2 * std::numbers::pi * pitchHz * h * t) / h;
        }
        noise = noise * 1664525u + 1013904223u;
        raw[i] = envelope * (v + 0.1 * (double(noise >> 16) / 32768.0 - 1.0));
        sum += raw[i] * raw[i];
    }
    const double scale = rmsLevel / std::sqrt(sum / double(samples));
    std::vector<std::int16_t> out(samples);
    for (std::size_t i = 0; i < samples; ++i) {
        out[i] = static_cast<std::int16_t>(std::clamp(std::lround(raw[i] * scale), -32768L, 32767L));
    }
    return out;
}

// A full-scale sine's RMS is 23170; dBFS here are against a full-scale sine.
inline double fromDbfs(double dbfs) {
    return 23170.0 * std::pow(10.0, dbfs / 20);
}

inline std::span<const std::int16_t> window(const std::vector<std::int16_t>& s, double from, double to) {
    const auto a = static_cast<std::size_t>(from * kSecond);
    const auto b = static_cast<std::size_t>(to * kSecond);
    return std::span<const std::int16_t>(s.data() + a, b - a);
}

inline double rmsDifference(std::span<const std::int16_t> a, std::span<const std::int16_t> b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = double(a[i]) - b[i];
        sum += d * d;
    }
    return std::sqrt(sum / double(a.size()));
}

struct EchoRoomMeasurement {
    double nearEndGainDb;    // what the pipeline does to the near end talking alone
    double singleTalkErleDb; // echo at the microphone against what goes out, far end alone
    double doubleTalkErleDb; // the same with both talking, the near end's own output taken out
    double nearEndChangeDb;  // the near end's level in double talk against the near end alone
};

// Processes a whole microphone signal with what the speaker played alongside; returns what goes out.
using EchoProcessor = std::function<std::vector<std::int16_t>(const std::vector<std::int16_t>& mic,
                                                              const std::vector<std::int16_t>& played)>;

// `makeProcessor` gives a fresh processor for each of the two runs (room, and near end alone).
inline EchoRoomMeasurement measureEchoRoom(const std::function<EchoProcessor()>& makeProcessor) {
    const std::size_t n = 12 * kSecond;
    auto far = speechLike(n, 120, fromDbfs(-12), 1);
    std::uint32_t noise = 3;
    for (std::size_t i = 0; i < n; ++i) { // broadband, as the far end's speech reaches the speaker
        noise = noise * 1664525u + 1013904223u;
        far[i] = i < 3 * kSecond
                     ? 0
                     : static_cast<std::int16_t>(far[i] + static_cast<std::int32_t>(noise >> 16) % 2000);
    }
    const auto near = speechLike(n, 210, fromDbfs(-24), 2);
    std::vector<std::int16_t> echo(n, 0), nearOnly(n, 0), mic(n, 0);
    for (std::size_t i = 48 * 30; i < n; ++i) {
        echo[i] = static_cast<std::int16_t>(far[i - 48 * 30] / 2);
    }
    for (std::size_t i = 0; i < n; ++i) {
        nearOnly[i] = i < 3 * kSecond || i >= 8 * kSecond ? near[i] : 0;
        mic[i] = static_cast<std::int16_t>(std::clamp(echo[i] + nearOnly[i], -32768, 32767));
    }
    const auto out = makeProcessor()(mic, far);
    const std::vector<std::int16_t> quiet(n, 0);
    const auto nearOut = makeProcessor()(nearOnly, quiet);
    const auto dt = window(out, 9, 12);
    const auto dtNear = window(nearOut, 9, 12);
    return {dB(rms(window(nearOut, 2, 3)) / rms(window(nearOnly, 2, 3))),
            dB(rms(window(echo, 5, 8)) / std::max(1.0, rms(window(out, 5, 8)))),
            dB(rms(window(echo, 9, 12)) / std::max(1.0, rmsDifference(dt, dtNear))),
            dB(std::max(1.0, rms(dt)) / std::max(1.0, rms(dtNear)))};
}

} // namespace talvora::voice::test
