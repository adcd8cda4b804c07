// The real sound path, against the private PulseAudio daemon that scripts/test.sh starts: a null
// sink "spk" (default output; its monitor records what plays) and a microphone "mic" that hears a
// 440 Hz tone (default input). Without TALVORA_TEST_PULSE these tests are skipped.
#include "FakePriority.h"
#include "PulseTestSupport.h"
#include "SignalAnalysis.h"
#include "TestPhone.h"
#include "support/EventLoop.h"
#include "voice/PulseSpeakerVolume.h"
#include "voice/VoiceEngine.h"
#include "voice/engine/PulseAudioDevices.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace talvora::voice {
namespace {

using test::dominantFrequency;
using test::recordSpeaker;
using test::rms;
using test::sine;
using test::steadyToneAmplitude;
using test::TestPhone;
using test::toneAmplitude;

class PulseAudio : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("TALVORA_TEST_PULSE")) {
            GTEST_SKIP() << "TALVORA_TEST_PULSE is not set: no private sound server";
        }
        // The program's own choice would take a desktop's PipeWire over the private daemon.
        qputenv("TALVORA_AUDIO", "pulse");
    }
};

TEST_F(PulseAudio, RealVoiceSessionPlaysThePeersToneIntoTheSpeaker) {
    QProcess::execute("pactl", {"set-sink-volume", "spk", "100%"});
    // This side: the production engine, terminal and session on the real default devices.
    NetworkConfig network;
    network.bindAddress = QHostAddress("127.0.0.2");
    VoiceEngine host(network);
    QStringList notices;
    QObject::connect(&host, &VoiceEngine::notice, [&](const QString& text) { notices << text; });
    // The peer: an engine with in-memory devices, playing 1 kHz.
    TestPhone peer("127.0.0.3", {.signal = sine(1000, 6000)});

    auto session = host.sessionFactory().create();
    session->setTransmitPort(8500);
    session->setReceivePort(8500);
    session->setRemoteAddress("127.0.0.3");
    session->start();
    peer.start("127.0.0.2");

    ASSERT_TRUE(
        talvora::test::waitUntil([&] { return peer.terminal().stats().packetsAccepted > 25; }, 10000));
    talvora::test::pumpEvents(300);
    const auto engine = host.terminal();
    const auto sentBefore = engine->stats().packetsSent;
    const auto played = recordSpeaker(1.0);
    EXPECT_GT(engine->stats().packetsSent, sentBefore + 25) << "the microphone kept the pace of a real one";
    ASSERT_FALSE(played.empty());
    EXPECT_NEAR(dominantFrequency(played), 1000, 10);
    EXPECT_NEAR(steadyToneAmplitude(played, 1000), 6000, 6000 * 0.2); // a concealed frame aside
    // And the microphone (the daemon's own, a steady 440 Hz tone) reaches the peer, through the
    // phone's processing, in every 100 ms of two seconds: a steady sound is never chopped.
    const std::size_t from = peer.recording().size();
    ASSERT_TRUE(talvora::test::waitUntil([&] { return peer.recording().size() > from + 96000; }, 10000));
    const auto all = peer.recording().samples();
    const std::span<const std::int16_t> heard(all.data() + from, 96000);
    EXPECT_NEAR(dominantFrequency(heard), 440, 10);
    for (std::size_t at = 0; at + 4800 <= heard.size(); at += 4800) {
        EXPECT_GT(toneAmplitude(heard.subspan(at, 4800), 440), 100) << double(at) / 48000 << " s in";
    }
    EXPECT_TRUE(notices.isEmpty()) << notices.join('|').toStdString();

    session->stop();
    session.reset();
    peer.stop();
}

TEST_F(PulseAudio, SpeakerVolumeRoundTripsOnTheDefaultSink) {
    PulseSpeakerVolume volume;
    struct Row {
        quint16 left, right;
    };
    for (const Row& row : {Row{40000, 20000}, Row{0, 0}, Row{32767, 32767}, Row{65535, 65535}}) {
        ASSERT_TRUE(volume.SetSpeakerVolume(packSpeakerVolume(row.left, row.right)));
        const auto reading = volume.GetSpeakerVolume();
        ASSERT_TRUE(reading.ok);
        EXPECT_EQ(reading.left, row.left);
        EXPECT_EQ(reading.right, row.right);
        // The server itself agrees, in its own units.
        QProcess pactl;
        pactl.start("pactl", {"get-sink-volume", "spk"});
        ASSERT_TRUE(pactl.waitForFinished(10000));
        const QString out = QString::fromUtf8(pactl.readAllStandardOutput());
        EXPECT_TRUE(out.contains(QString("front-left: %1 ").arg(speakerToPulseVolume(row.left))))
            << out.toStdString();
        EXPECT_TRUE(out.contains(QString("front-right: %1 ").arg(speakerToPulseVolume(row.right))))
            << out.toStdString();
    }
}

TEST_F(PulseAudio, MissingDevicesAreReportedAsSuch) {
    PulseAudioBackend named("no-such-source", "no-such-sink");
    AudioProblem problem = AudioProblem::None;
    EXPECT_FALSE(named.openSource(problem));
    EXPECT_EQ(problem, AudioProblem::NoDevice);
    EXPECT_FALSE(named.openSink(problem));
    EXPECT_EQ(problem, AudioProblem::NoDevice);
    // The default source must be a microphone, not a monitor of the speaker.
    QProcess::execute("pactl", {"set-default-source", "spk.monitor"});
    PulseAudioBackend defaults;
    EXPECT_FALSE(defaults.openSource(problem));
    EXPECT_EQ(problem, AudioProblem::NoDevice);
    QProcess::execute("pactl", {"set-default-source", "mic"});
    auto mic = defaults.openSource(problem);
    ASSERT_TRUE(mic);
    std::vector<std::int16_t> block(960);
    ASSERT_TRUE(mic->read(block));
    // A read blocked on the device returns at once when interrupted.
    mic->interrupt();
    EXPECT_FALSE(mic->read(block));
}

// The server's own report of an underflow grows the speaker's buffer: half a second written at
// the device's pace, then nothing until the server says the stream ran dry; the next write asks
// for more, and the server confirms a longer queue. The connection's event thread asked for
// real-time scheduling when it connected.
TEST_F(PulseAudio, ForcedUnderflowGrowsThePlaybackBuffer) {
    auto control = std::make_shared<test::FakePriorityControl>(true, true);
    auto priority = std::make_shared<ThreadPriority>(control);
    PulseAudioBackend backend;
    backend.useThreadPriority(priority);
    AudioProblem problem = AudioProblem::None;
    auto sink = backend.openSink(problem);
    ASSERT_TRUE(sink);
    auto* pulse = dynamic_cast<PulseSink*>(sink.get());
    ASSERT_NE(pulse, nullptr);
    EXPECT_EQ(sink->bufferMs(), kPulsePlaybackStartMs);
    EXPECT_TRUE(talvora::test::waitUntil([&] { return control->realtimeAsks >= 1; }, 2000))
        << "the event thread asks once connected";

    std::vector<std::int16_t> frame(static_cast<std::size_t>(sink->sampleRateHz() / 50), 1000);
    for (int i = 0; i < 25; ++i) {
        ASSERT_TRUE(sink->write(frame));
    }
    const std::uint32_t queueBefore = pulse->serverQueueBytes();
    const std::uint64_t underflowsBefore = sink->underflows();
    const int before = sink->bufferMs();
    ASSERT_GT(queueBefore, 0u);
    ASSERT_TRUE(talvora::test::waitUntil([&] { return sink->underflows() > underflowsBefore; }, 3000))
        << "the server reports the stream ran dry";
    const std::uint64_t reported = sink->underflows() - underflowsBefore;
    ASSERT_TRUE(sink->write(frame));
    int expected = before;
    for (std::uint64_t i = 0; i < reported; ++i) {
        expected = std::min({expected * 2, expected + 10, kPulsePlaybackMaxMs});
    }
    EXPECT_EQ(sink->bufferMs(), expected);
    EXPECT_GT(sink->bufferMs(), before);
    EXPECT_TRUE(talvora::test::waitUntil(
        [&] {
            sink->write(frame);
            return pulse->serverQueueBytes() > queueBefore;
        },
        3000))
        << "the server's queue grew from " << queueBefore << " bytes";
}

} // namespace
} // namespace talvora::voice
