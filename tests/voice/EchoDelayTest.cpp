#include "voice/engine/EchoDelay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

namespace talvora::voice {
namespace {

constexpr int kRate = 48000;
constexpr std::size_t kFrame = 480;

// What the far end says, sample by sample, for a few seconds.
using Signal = std::vector<std::int16_t>;

// Syllables of 120-250 ms: voiced (a pitch with its harmonics) or silent, at changing levels.
Signal speech(int seconds, std::uint32_t seed) {
    Signal out;
    std::uint32_t state = seed;
    const auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    while (out.size() < std::size_t(seconds * kRate)) {
        const std::size_t length = 48 * (120 + next() % 130);
        const double pitch = 100 + next() % 150;
        const double level = (next() % 4) * 2000.0;
        for (std::size_t i = 0; i < length; ++i) {
            double v = 0;
            for (int k = 1; k * pitch < 4000; ++k) {
                v += std::sin(2 * M_PI * pitch * k * double(i) / kRate) / k;
            }
            out.push_back(static_cast<std::int16_t>(level * v / 2));
        }
    }
    out.resize(std::size_t(seconds * kRate));
    return out;
}

Signal tone(int seconds, double hz) {
    Signal out(std::size_t(seconds * kRate));
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<std::int16_t>(6000 * std::sin(2 * M_PI * hz * double(i) / kRate));
    }
    return out;
}

// The microphone: the reference `lagMs` later at half the level, plus what the near end says.
Signal heard(const Signal& reference, int lagMs, const Signal& nearEnd) {
    Signal out(reference.size());
    const auto shift = static_cast<std::ptrdiff_t>(lagMs) * 48;
    for (std::ptrdiff_t i = 0; i < std::ptrdiff_t(out.size()); ++i) {
        const std::ptrdiff_t from = i - shift;
        const int echo =
            from >= 0 && from < std::ptrdiff_t(reference.size()) ? reference[std::size_t(from)] / 2 : 0;
        const int near = nearEnd.empty() ? 0 : nearEnd[std::size_t(i)];
        out[std::size_t(i)] = static_cast<std::int16_t>(std::clamp(echo + near, -32768, 32767));
    }
    return out;
}

// The last estimate given in the whole call, if any.
std::optional<int> lastEstimate(const Signal& mic, const Signal& reference) {
    EchoDelayEstimator estimator;
    std::optional<int> last;
    for (std::size_t at = 0; at + kFrame <= mic.size(); at += kFrame) {
        if (const auto lag =
                estimator.add(std::span(mic).subspan(at, kFrame), std::span(reference).subspan(at, kFrame))) {
            last = lag;
        }
    }
    return last;
}

TEST(EchoDelay, PlacesTheEchoOrSaysNothing) {
    const Signal far = speech(5, 3);
    const Signal otherVoice = speech(5, 11);
    const Signal silence(5 * kRate);
    struct Case {
        const char* what;
        const Signal& reference;
        int lagMs;
        Signal nearEnd;
        std::optional<int> expected;
    };
    const Case cases[] = {
        {"echo before its reference", far, -40, {}, -40},
        {"echo with its reference", far, 0, {}, 0},
        {"echo a little after", far, 7, {}, 7},
        {"echo late in the tail", far, 190, {}, 190},
        {"far end silent", silence, 20, otherVoice, std::nullopt},
        {"near end louder than the echo", far, 20, heard(otherVoice, 0, {}), std::nullopt},
        {"a steady tone cannot be placed", tone(5, 440), 20, {}, std::nullopt},
        {"echo later than the range", far, 260, {}, std::nullopt},
    };
    for (const Case& c : cases) {
        Signal nearEnd = c.nearEnd;
        if (!nearEnd.empty()) {
            for (auto& s : nearEnd) {
                s = static_cast<std::int16_t>(std::clamp(2 * int(s), -32768, 32767));
            }
        }
        const auto got = lastEstimate(heard(c.reference, c.lagMs, nearEnd), c.reference);
        if (c.expected) {
            ASSERT_TRUE(got.has_value()) << c.what;
            EXPECT_NEAR(*got, *c.expected, 1) << c.what;
        } else {
            EXPECT_FALSE(got.has_value()) << c.what << ": " << got.value_or(0);
        }
    }
}

// Frames without a reference (the reserve was being built up) count as a silent far end, and a
// reset waits for a whole new history before it says anything.
TEST(EchoDelay, AResetForgetsWhatWasHeard) {
    const Signal far = speech(6, 5);
    const Signal mic = heard(far, 30, {});
    EchoDelayEstimator estimator;
    int given = 0;
    std::size_t firstAfterReset = 0;
    for (std::size_t at = 0, frame = 0; at + kFrame <= mic.size(); at += kFrame, ++frame) {
        if (frame == 300) {
            estimator.reset();
        }
        if (estimator.add(std::span(mic).subspan(at, kFrame), std::span(far).subspan(at, kFrame))) {
            ++given;
            if (frame >= 300 && firstAfterReset == 0) {
                firstAfterReset = frame;
            }
        }
    }
    EXPECT_GT(given, 0);
    // A whole history (226 frames, the first being frame 300) and a second window that agrees
    // (50 frames) after the reset.
    EXPECT_EQ(firstAfterReset, 300u + 225 + 50);
}

} // namespace
} // namespace talvora::voice
