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

EchoRoomMeasurement measureEchoRoom(VoiceProcessing options) {
    return test::measureEchoRoom([options] {
        return [options](const std::vector<std::int16_t>& mic, const std::vector<std::int16_t>& played) {
            return transmit(options, mic, &played);
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
