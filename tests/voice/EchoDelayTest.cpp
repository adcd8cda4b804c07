#include "voice/engine/EchoDelay.h"

#include "voice/SignalAnalysis.h"

#include <gtest/gtest.h>

namespace talvora::voice {
namespace {

using Signal = std::vector<std::int16_t>;
constexpr std::size_t kSeconds = 5;
constexpr std::size_t kFrame = 480;

// Syllables of 120-250 ms: a pitch with its harmonics up to 4 kHz, or silence, at changing levels.
Signal speech(std::uint32_t seed) {
    Signal out;
    while (out.size() < kSeconds * 48000) {
        seed = seed * 1664525u + 1013904223u;
        const double pitch = 100 + (seed >> 8) % 150;
        const double level = (seed >> 20) % 4 * 1000.0;
        const std::size_t length = 48 * (120 + (seed >> 4) % 130);
        for (std::size_t i = 0; i < length; ++i) {
            double v = 0;
            for (int k = 1; k * pitch < 4000; ++k) {
                v += std::sin(2 * std::numbers::pi * pitch * k * double(i) / 48000) / k;
            }
            out.push_back(static_cast<std::int16_t>(level * v));
        }
    }
    out.resize(kSeconds * 48000);
    return out;
}

// What the microphone hears: `far` `lagMs` later at half its level, and `near` as it is. The last
// estimate given over the whole call, if any.
std::optional<int> lastEstimate(const Signal& far, int lagMs, const Signal& near) {
    Signal mic(far.size());
    for (std::size_t i = 0; i < mic.size(); ++i) {
        const std::ptrdiff_t from = std::ptrdiff_t(i) - lagMs * 48;
        const int echo = from >= 0 && from < std::ptrdiff_t(far.size()) ? far[std::size_t(from)] / 2 : 0;
        mic[i] = static_cast<std::int16_t>(std::clamp(echo + (near.empty() ? 0 : near[i]), -32768, 32767));
    }
    EchoDelayEstimator estimator;
    std::optional<int> last;
    for (std::size_t at = 0; at + kFrame <= mic.size(); at += kFrame) {
        if (const auto lag =
                estimator.add(std::span(mic).subspan(at, kFrame), std::span(far).subspan(at, kFrame))) {
            last = lag;
        }
    }
    return last;
}

TEST(EchoDelay, PlacesTheEchoOrSaysNothing) {
    const Signal far = speech(3);
    const Signal talker = speech(11);
    const Signal steady = test::tone(440, 6000, far.size());
    struct Case {
        const char* what;
        const Signal& far;
        int lagMs;
        Signal near;
        std::optional<int> expected;
    } const cases[] = {
        {"echo before its reference", far, -40, {}, -40},
        {"echo with its reference", far, 0, {}, 0},
        {"echo a little after", far, 7, {}, 7},
        {"echo late in the canceller's tail", far, 190, {}, 190},
        {"echo later than the range", far, 260, {}, std::nullopt},
        {"far end silent", Signal(far.size()), 20, talker, std::nullopt},
        {"near end louder than the echo", far, 20, talker, std::nullopt},
        {"a steady tone repeats every period", steady, 20, {}, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto got = lastEstimate(c.far, c.lagMs, c.near);
        EXPECT_EQ(got.has_value(), c.expected.has_value()) << c.what << ": " << got.value_or(-999);
        if (got && c.expected) {
            EXPECT_NEAR(*got, *c.expected, 1) << c.what;
        }
    }
}

} // namespace
} // namespace talvora::voice
