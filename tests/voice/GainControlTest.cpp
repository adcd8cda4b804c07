#include "EchoRoomScenario.h"
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

using test::dB;
using test::EchoRoomMeasurement;
using test::fromDbfs;
using test::kSecond;
using test::rms;
using test::speechLike;
using test::window;

// Runs `mic` through a transmit pipeline frame by frame, with `played` as what the speaker
// played alongside (or nothing), and returns what would be encoded.
std::vector<std::int16_t> transmit(VoiceProcessing options, const std::vector<std::int16_t>& mic,
                                   const std::vector<std::int16_t>* played, int level = kUnityLevel,
                                   int frameMs = kFrameDurationMs) {
    TransmitPipeline tx(options, frameMs);
    const std::size_t frameSamples = samplesFor(frameMs);
    std::array<std::uint8_t, kMaxOpusPacketBytes> packet{};
    std::vector<std::int16_t> frame(frameSamples);
    std::vector<std::int16_t> out;
    out.reserve(mic.size());
    for (std::size_t at = 0; at + frameSamples <= mic.size(); at += frameSamples) {
        std::copy_n(mic.begin() + static_cast<long>(at), frameSamples, frame.begin());
        std::span<const std::int16_t> reference;
        if (played != nullptr) {
            reference = std::span<const std::int16_t>(played->data() + at, frameSamples);
        }
        tx.process(frame, reference, level, packet);
        out.insert(out.end(), frame.begin(), frame.end());
    }
    return out;
}

EchoRoomMeasurement measureEchoRoom(VoiceProcessing options, int frameMs = kFrameDurationMs) {
    return test::measureEchoRoom([options, frameMs] {
        return [options, frameMs](const std::vector<std::int16_t>& mic,
                                  const std::vector<std::int16_t>& played) {
            return transmit(options, mic, &played, kUnityLevel, frameMs);
        };
    });
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

// Packets of 10 ms run the canceller, the suppressor and the gain control on 10 ms frames. What
// the far end hears of its own echo, against the near end's voice (the return loss enhancement
// plus what the chain does to the near end), stays within 2 dB of what 20 ms frames give.
TEST(GainControl, EchoRoomHoldsWithTenMillisecondFrames) {
    const VoiceProcessing phone{true, true, true};
    const auto twenty = measureEchoRoom(phone, 20);
    const auto ten = measureEchoRoom(phone, 10);
    for (const auto& [name, m] : {std::pair{"20 ms frames", twenty}, std::pair{"10 ms frames", ten}}) {
        std::printf(
            "%s: near end %+5.1f dB; ERLE single talk %5.1f dB, double talk %5.1f dB; echo under the near "
            "end single talk %5.1f dB, double talk %5.1f dB\n",
            name, m.nearEndGainDb, m.singleTalkErleDb, m.doubleTalkErleDb,
            m.singleTalkErleDb + m.nearEndGainDb, m.doubleTalkErleDb + m.nearEndGainDb);
    }
    EXPECT_GT(ten.singleTalkErleDb + ten.nearEndGainDb, twenty.singleTalkErleDb + twenty.nearEndGainDb - 2);
    EXPECT_GT(ten.doubleTalkErleDb + ten.nearEndGainDb, twenty.doubleTalkErleDb + twenty.nearEndGainDb - 2);
    EXPECT_GT(ten.nearEndChangeDb, -6) << "the near end is not suppressed in double talk";
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

// A note held for ten seconds (a flute's few harmonics), music (a melody over a chord, a note
// every 400 ms) and a distant talker (-40 dBFS in a room's hiss at -60 dBFS), through the phone's
// processing: the noise suppressor may take a steady sound down (within its 15 dB ceiling, most of
// it in the first second with 10 ms frames), but no 100 ms of any of them is ever cut towards
// silence, and the distant talker comes out louder.
TEST(NoiseSuppression, SteadySoundsAreLoweredButNeverCut) {
    const std::size_t n = 10 * kSecond;
    auto harmonics = [](double hz, double t) {
        return std::sin(2 * std::numbers::pi * hz * t) + 0.4 * std::sin(2 * std::numbers::pi * 2 * hz * t) +
               0.2 * std::sin(2 * std::numbers::pi * 3 * hz * t);
    };
    std::vector<std::int16_t> note(n), music(n);
    const double melody[] = {392, 440, 494, 523, 587, 523, 494, 440};
    for (std::size_t i = 0; i < n; ++i) {
        const double t = double(i) / kSecond;
        note[i] = static_cast<std::int16_t>(fromDbfs(-20) * harmonics(440, t) / 1.1);
        const double tune = melody[(i / (kSecond * 2 / 5)) % 8];
        music[i] = static_cast<std::int16_t>(
            fromDbfs(-20) * (0.6 * harmonics(tune, t) + 0.3 * harmonics(196, t) + 0.3 * harmonics(247, t)) /
            1.2);
    }
    auto distant = speechLike(n, 160, fromDbfs(-40), 9);
    std::uint32_t hiss = 11;
    for (auto& s : distant) {
        hiss = hiss * 1664525u + 1013904223u;
        s = static_cast<std::int16_t>(s + (static_cast<std::int32_t>(hiss >> 16) - 32768) / 80);
    }
    struct Row {
        const char* name;
        const std::vector<std::int16_t>& in;
        double floorDb; // no 100 ms after the first half second falls further below what went in
        double lastDb;  // and the last second is at least this against what went in
    };
    for (const Row& row : {Row{"held note", note, -15, -15}, Row{"music", music, -6, -3},
                           Row{"distant talker", distant, -6, 6}}) {
        const auto out = transmit({true, true, true}, row.in, nullptr);
        double lowestDb = 100;
        for (double at = 0.5; at + 0.1 <= 10.0; at += 0.1) {
            lowestDb = std::min(lowestDb, dB(std::max(rms(window(out, at, at + 0.1)), 1e-3) /
                                             rms(window(row.in, at, at + 0.1))));
        }
        const double lastDb = dB(rms(window(out, 9, 10)) / rms(window(row.in, 9, 10)));
        std::printf("%-16s out against in: %+5.1f dB at 9-10 s, lowest 100 ms %+5.1f dB\n", row.name, lastDb,
                    lowestDb);
        EXPECT_GT(lowestDb, row.floorDb) << row.name;
        EXPECT_GT(lastDb, row.lastDb) << row.name;
    }
}

} // namespace
} // namespace talvora::voice
