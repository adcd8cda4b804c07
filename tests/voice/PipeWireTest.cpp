// Native PipeWire streams against the private PipeWire instance that scripts/test.sh starts
// (scripts/testenv/pipewire.sh: a null sink "spk", the default output, and a pipe microphone
// "mic"); TALVORA_TEST_PIPEWIRE holds its socket. Without it these tests are skipped.
#include "SignalAnalysis.h"
#include "support/EventLoop.h"
#include "voice/engine/PipeWireDevices.h"
#include "voice/engine/ThreadPriority.h"

#include <gtest/gtest.h>

#include <QString>

#include <atomic>
#include <numbers>
#include <thread>

namespace talvora::voice {
namespace {

using test::cleanToneAmplitude;
using test::dominantFrequency;
using test::tone;

class PipeWire : public ::testing::Test {
protected:
    void SetUp() override {
        m_remote = qEnvironmentVariable("TALVORA_TEST_PIPEWIRE").toStdString();
        if (m_remote.empty()) {
            GTEST_SKIP() << "TALVORA_TEST_PIPEWIRE is not set: no private PipeWire";
        }
    }
    std::string m_remote;
};

// A tone played into the default sink comes back through the sink's monitor, both streams on
// the data thread; the speaker's queue starts at its target. When the writer stops, the data
// thread finds the queue dry: one underflow, which the next write turns into a longer target.
// A read waiting for samples returns at once when interrupted.
TEST_F(PipeWire, SpeakerAndMonitorMoveAToneAndAnUnderflowGrowsTheBuffer) {
    SteadyClock clock;
    PipeWireBackend backend(&clock, m_remote, {.node = "spk", .monitor = true}, {});
    AudioProblem problem = AudioProblem::None;
    auto monitor = backend.openSource(problem);
    ASSERT_TRUE(monitor) << int(problem);
    auto speaker = backend.openSink(problem);
    ASSERT_TRUE(speaker) << int(problem);
    EXPECT_EQ(speaker->sampleRateHz(), 48000);
    EXPECT_EQ(speaker->bufferMs(), kPipeWirePlaybackStartMs);

    std::atomic<bool> playing{true};
    std::atomic<bool> writesFailed{false};
    std::thread writer([&] {
        // As the engine's playback thread does: a busy machine would otherwise starve it.
        ThreadPriority(std::make_shared<SystemPriorityControl>()).raiseAudioThread();
        std::size_t offset = 0;
        while (playing) {
            if (!speaker->write(tone(1000, 6000, 480, 48000, offset))) {
                writesFailed = true;
                return;
            }
            offset += 480;
        }
    });
    // Half a second to settle, then a second of what the sink plays.
    std::vector<std::int16_t> heard(24000);
    ASSERT_TRUE(monitor->read(heard));
    heard.assign(48000, 0);
    ASSERT_TRUE(monitor->read(heard));
    const std::uint64_t beforeStop = speaker->underflows();
    playing = false;
    writer.join();
    const int bufferBefore = speaker->bufferMs();
    EXPECT_FALSE(writesFailed);
    EXPECT_NEAR(dominantFrequency(heard), 1000, 10);
    // PipeWire mixes the mono stream into the stereo sink and the sink back down to mono at
    // 0.707 a channel: the tone comes back 3 dB up (where it plays cleanly: a busy machine may
    // make the writer late, and the sink then plays a gap; on a CI machine that stalled every
    // few hundred milliseconds no 100 ms block was whole, so the blocks are 20 ms).
    EXPECT_NEAR(cleanToneAmplitude(heard, 1000, 48000, 20), 6000 * std::numbers::sqrt2, 6000 * 0.2);

    ASSERT_TRUE(talvora::test::waitUntil([&] { return speaker->underflows() > beforeStop; }, 3000))
        << "the data thread finds the queue dry once the writer stops";
    const std::uint64_t dry = speaker->underflows();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(speaker->underflows(), dry) << "one underflow for one gap, however many cycles it lasts";
    ASSERT_TRUE(speaker->write(tone(1000, 6000, 480)));
    if (bufferBefore < kPipeWirePlaybackMaxMs) {
        EXPECT_GT(speaker->bufferMs(), bufferBefore);
    }

    std::thread interrupter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        monitor->interrupt();
    });
    std::vector<std::int16_t> aMinute(48000 * 60);
    EXPECT_FALSE(monitor->read(aMinute));
    interrupter.join();
}

} // namespace
} // namespace talvora::voice
