#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <span>
#include <vector>

namespace talvora::voice::test {

inline std::vector<std::int16_t> tone(double frequencyHz, double amplitude, std::size_t samples,
                                      int rateHz = 48000, std::size_t offset = 0) {
    std::vector<std::int16_t> out(samples);
    for (std::size_t i = 0; i < samples; ++i) {
        out[i] = static_cast<std::int16_t>(std::lround(
            amplitude * std::sin(2 * std::numbers::pi * frequencyHz * double(i + offset) / rateHz)));
    }
    return out;
}

inline double rms(std::span<const std::int16_t> samples) {
    if (samples.empty()) {
        return 0;
    }
    double sum = 0;
    for (std::int16_t s : samples) {
        sum += double(s) * s;
    }
    return std::sqrt(sum / double(samples.size()));
}

// Amplitude of the component at `frequencyHz` (Goertzel), comparable to a sine's peak amplitude.
inline double toneAmplitude(std::span<const std::int16_t> samples, double frequencyHz, int rateHz = 48000) {
    const double w = 2 * std::numbers::pi * frequencyHz / rateHz;
    const double coeff = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (std::int16_t x : samples) {
        const double s0 = x + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return 2 * std::sqrt(std::max(power, 0.0)) / double(samples.size());
}

// The tone's amplitude as the median over 100 ms blocks. Over the network the jitter buffer may
// conceal, drop or insert a frame when the machine is busy; such a block breaks the tone's phase
// and lowers a whole-window measurement, but a median of blocks still reads the steady level.
inline double steadyToneAmplitude(std::span<const std::int16_t> samples, double frequencyHz,
                                  int rateHz = 48000) {
    const std::size_t block = static_cast<std::size_t>(rateHz / 10);
    std::vector<double> amplitudes;
    for (std::size_t at = 0; at + block <= samples.size(); at += block) {
        amplitudes.push_back(toneAmplitude(samples.subspan(at, block), frequencyHz, rateHz));
    }
    if (amplitudes.empty()) {
        return toneAmplitude(samples, frequencyHz, rateHz);
    }
    std::nth_element(amplitudes.begin(), amplitudes.begin() + amplitudes.size() / 2, amplitudes.end());
    return amplitudes[amplitudes.size() / 2];
}

// How loud a tone is where it plays cleanly: the third loudest of its blocks (100 ms unless
// asked). A busy machine makes the engine conceal some frames (quieter blocks, and more of them
// the busier it is); that says nothing about whether the tone arrives at its level, which the
// clean blocks do. Where the machine stalls every few hundred milliseconds, hardly a 100 ms block
// is clean, but shorter ones still are; a block should hold whole periods of the tone.
inline double cleanToneAmplitude(std::span<const std::int16_t> samples, double frequencyHz,
                                 int rateHz = 48000, int blockMs = 100) {
    const std::size_t block = static_cast<std::size_t>(rateHz * blockMs / 1000);
    std::vector<double> amplitudes;
    for (std::size_t at = 0; at + block <= samples.size(); at += block) {
        amplitudes.push_back(toneAmplitude(samples.subspan(at, block), frequencyHz, rateHz));
    }
    if (amplitudes.size() < 3) {
        return toneAmplitude(samples, frequencyHz, rateHz);
    }
    std::sort(amplitudes.begin(), amplitudes.end(), std::greater<>());
    return amplitudes[2];
}

// The strongest frequency between 100 Hz and 4 kHz, in 10 Hz steps.
inline double dominantFrequency(std::span<const std::int16_t> samples, int rateHz = 48000) {
    double best = 0, bestAmplitude = -1;
    for (double f = 100; f <= 4000; f += 10) {
        const double a = toneAmplitude(samples, f, rateHz);
        if (a > bestAmplitude) {
            bestAmplitude = a;
            best = f;
        }
    }
    return best;
}

} // namespace talvora::voice::test
