#include "SignalAnalysis.h"
#include "voice/engine/ReceivePipeline.h"
#include "voice/engine/TransmitPipeline.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

namespace talvora::voice {
namespace {

using test::rms;

constexpr std::size_t kSecond = 48000;

double dB(double ratio) {
    return 20 * std::log10(ratio);
}

// Voiced speech at `pitchHz`: five harmonics under a 3 Hz syllable envelope with a little
// breath noise, scaled to `rmsLevel`.
std::vector<std::int16_t> speechLike(std::size_t samples, double pitchHz, double rmsLevel,
                                     std::uint32_t seed) {
    std::vector<double> raw(samples);
    std::uint32_t noise = seed;
    double sum = 0;
    for (std::size_t i = 0; i < samples; ++i) {
        const double t = double(i) / kSampleRateHz;
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
double fromDbfs(double dbfs) {
    return 23170.0 * std::pow(10.0, dbfs / 20);
}

// Runs `mic` through a transmit pipeline frame by frame, with `played` as what the speaker
// played alongside (or nothing), and returns what would be encoded.
std::vector<std::int16_t> transmit(VoiceProcessing options, const std::vector<std::int16_t>& mic,
                                   const std::vector<std::int16_t>* played, int level = kUnityLevel) {
    TransmitPipeline tx(options);
    std::array<std::uint8_t, kMaxOpusPacketBytes> packet{};
    std::array<std::int16_t, kFrameSamples> frame{};
    std::vector<std::int16_t> out;
    out.reserve(mic.size());
    for (std::size_t at = 0; at + kFrameSamples <= mic.size(); at += kFrameSamples) {
        std::copy_n(mic.begin() + static_cast<long>(at), kFrameSamples, frame.begin());
        std::span<const std::int16_t> reference;
        if (played != nullptr) {
            reference = std::span<const std::int16_t>(played->data() + at, kFrameSamples);
        }
        tx.process(frame, reference, level, packet);
        out.insert(out.end(), frame.begin(), frame.end());
    }
    return out;
}

std::span<const std::int16_t> window(const std::vector<std::int16_t>& s, double from, double to) {
    const auto a = static_cast<std::size_t>(from * kSecond);
    const auto b = static_cast<std::size_t>(to * kSecond);
    return std::span<const std::int16_t>(s.data() + a, b - a);
}

double rmsDifference(std::span<const std::int16_t> a, std::span<const std::int16_t> b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = double(a[i]) - b[i];
        sum += d * d;
    }
    return std::sqrt(sum / double(a.size()));
}

// A room: the microphone hears the speaker 30 ms late at half the level. The near end talks
// alone first (0-3 s, at -24 dBFS, so that the gain control settles on it), then the far end
// alone (3-8 s), then both (8-12 s).
struct EchoRoomMeasurement {
    double nearEndGainDb;    // what the pipeline does to the near end talking alone
    double singleTalkErleDb; // echo at the microphone against what goes out, far end alone
    double doubleTalkErleDb; // the same with both talking, the near end's own output taken out
    double nearEndChangeDb;  // the near end's level in double talk against the near end alone
};

EchoRoomMeasurement measureEchoRoom(VoiceProcessing options) {
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
    const auto out = transmit(options, mic, &far);
    const std::vector<std::int16_t> quiet(n, 0);
    const auto nearOut = transmit(options, nearOnly, &quiet);
    const auto dt = window(out, 9, 12);
    const auto dtNear = window(nearOut, 9, 12);
    return {dB(rms(window(nearOut, 2, 3)) / rms(window(nearOnly, 2, 3))),
            dB(rms(window(echo, 5, 8)) / std::max(1.0, rms(window(out, 5, 8)))),
            dB(rms(window(echo, 9, 12)) / std::max(1.0, rmsDifference(dt, dtNear))),
            dB(std::max(1.0, rms(dt)) / std::max(1.0, rms(dtNear)))};
}

// The canceller keeps its floor whether or not the gain control follows it. The gain control
// raises whatever passes the canceller alike, the near end and the residual echo, so the echo that
// matters, against the near end's speech, is the return loss enhancement plus the near end's gain;
// and the gain control must not raise the residual echo further while the far end talks alone.
TEST(GainControl, EchoRoomKeepsItsEchoReturnLossEnhancement) {
    struct Row {
        const char* name;
        VoiceProcessing options;
    };
    for (const Row& row :
         {Row{"canceller", {true, false, false}}, Row{"canceller, gain", {true, false, true}},
          Row{"canceller, denoise", {true, true, false}},
          Row{"canceller, denoise, gain", {true, true, true}}}) {
        const auto m = measureEchoRoom(row.options);
        std::printf("%-26s near end %+5.1f dB; ERLE single talk %5.1f dB, double talk %5.1f dB; near end in "
                    "double talk %+5.1f dB\n",
                    row.name, m.nearEndGainDb, m.singleTalkErleDb, m.doubleTalkErleDb, m.nearEndChangeDb);
        RecordProperty(std::string(row.name) + " erle_single", std::to_string(m.singleTalkErleDb));
        RecordProperty(std::string(row.name) + " erle_double", std::to_string(m.doubleTalkErleDb));
        EXPECT_GT(m.singleTalkErleDb, 14) << row.name;
        EXPECT_GT(m.singleTalkErleDb + m.nearEndGainDb, 20) << row.name << ": echo against the near end";
        EXPECT_GT(m.doubleTalkErleDb + m.nearEndGainDb, 10) << row.name;
        EXPECT_GT(m.nearEndChangeDb, -6) << row.name << ": the near end is not suppressed in double talk";
    }
}

// A quiet talker (-30 dBFS) goes out louder with the gain control than without, and the
// microphone level, applied after it, still scales what goes out by its 0.5 dB steps.
TEST(GainControl, RaisesAQuietTalkerAndTheLevelStillScalesIt) {
    const auto quiet = speechLike(8 * kSecond, 180, fromDbfs(-30), 5);
    const double without = rms(window(transmit({false, false, false}, quiet, nullptr), 5, 8));
    const double with = rms(window(transmit({false, false, true}, quiet, nullptr), 5, 8));
    std::printf("-30 dBFS talker: %.1f dB without gain control, %.1f dB with\n", dB(without / 23170),
                dB(with / 23170));
    EXPECT_NEAR(dB(without / fromDbfs(-30)), 0, 0.5) << "without it the level is as spoken";
    EXPECT_GT(dB(with / without), 6) << "raised by at least 6 dB";
    EXPECT_LT(dB(with / 23170), -6) << "and not to the clipping point";

    struct Row {
        int level;
        double expectedDb; // against unity
    };
    for (const Row& row : {Row{100, 10}, Row{90, 5}, Row{80, 0}, Row{70, -5}, Row{40, -20}, Row{1, -39.5}}) {
        const double out = rms(window(transmit({false, false, true}, quiet, nullptr, row.level), 5, 8));
        EXPECT_NEAR(dB(std::max(out, 1e-3) / with), row.expectedDb, 1.0) << "level " << row.level;
    }
    EXPECT_EQ(rms(window(transmit({false, false, true}, quiet, nullptr, 0), 5, 8)), 0) << "0 is silence";
}

// A loud talker is not pushed into clipping: the gain control lowers it rather than raising it.
TEST(GainControl, DoesNotClipALoudTalker) {
    const auto loud = speechLike(8 * kSecond, 150, fromDbfs(-6), 6);
    const auto out = transmit({false, false, true}, loud, nullptr);
    std::size_t clipped = 0;
    for (std::int16_t s : window(out, 4, 8)) {
        clipped += (s == 32767 || s == -32768) ? 1 : 0;
    }
    std::printf("-6 dBFS talker: %.1f dB out, %zu clipped samples\n", dB(rms(window(out, 4, 8)) / 23170),
                clipped);
    EXPECT_LE(dB(rms(window(out, 4, 8)) / fromDbfs(-6)), 0.5);
    EXPECT_EQ(clipped, 0u);
}

} // namespace
} // namespace talvora::voice
