#include "SignalAnalysis.h"
#include "voice/engine/FrameRing.h"
#include "voice/engine/ReceivePipeline.h"
#include "voice/engine/Resampler.h"
#include "voice/engine/SampleFifo.h"
#include "voice/engine/TransmitPipeline.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace talvora::voice {
namespace {

using test::dominantFrequency;
using test::rms;
using test::tone;
using test::toneAmplitude;

// Runs `seconds` of a signal through transmit and receive pipelines (no network) and returns
// what the receiver would play.
std::vector<std::int16_t> roundTrip(const std::vector<std::int16_t>& input, VoiceProcessing options,
                                    int txLevel, int rxLevel) {
    TransmitPipeline tx(options);
    ReceivePipeline rx;
    std::vector<std::int16_t> output;
    std::array<std::uint8_t, kMaxOpusPacketBytes> packet{};
    std::array<std::int16_t, kFrameSamples> frame{};
    for (std::size_t at = 0; at + kFrameSamples <= input.size(); at += kFrameSamples) {
        std::copy_n(input.begin() + static_cast<long>(at), kFrameSamples, frame.begin());
        const std::size_t bytes = tx.process(frame, {}, txLevel, packet);
        EXPECT_GT(bytes, 0u);
        EXPECT_LE(bytes, 200u) << "about 32 kbit/s is 80 bytes a frame";
        JitterBuffer::Frame f{JitterBuffer::FrameKind::Packet, bytes};
        rx.produce(f, packet, rxLevel, frame);
        output.insert(output.end(), frame.begin(), frame.end());
    }
    return output;
}

TEST(Pipeline, ToneKeepsFrequencyAndLevelAtUnity) {
    const auto input = tone(440, 8000, 48000);
    const auto output = roundTrip(input, {false, false, false}, 80, 80);
    const std::span<const std::int16_t> steady(output.data() + 9600, 38400);
    EXPECT_NEAR(dominantFrequency(steady), 440, 10);
    EXPECT_NEAR(toneAmplitude(steady, 440), 8000, 8000 * 0.12); // within about 1 dB
}

TEST(Pipeline, LevelsScaleTheToneBothWays) {
    const auto input = tone(1000, 4000, 48000);
    struct Row {
        int tx, rx;
        double expected;
    };
    for (const Row& row : {Row{100, 80, 4000 * 3.162}, Row{80, 100, 4000 * 3.162}, Row{60, 80, 4000 * 0.3162},
                           Row{0, 80, 0}, Row{80, 0, 0}}) {
        const auto output = roundTrip(input, {false, false, false}, row.tx, row.rx);
        const std::span<const std::int16_t> steady(output.data() + 9600, 38400);
        EXPECT_NEAR(toneAmplitude(steady, 1000), row.expected, row.expected * 0.15 + 20)
            << "tx " << row.tx << " rx " << row.rx;
    }
}

TEST(Pipeline, ConcealsLostFramesAndRefusesGarbage) {
    TransmitPipeline tx({false, false, false});
    ReceivePipeline rx;
    const auto input = tone(440, 8000, 48000);
    std::array<std::uint8_t, kMaxOpusPacketBytes> packet{};
    std::array<std::int16_t, kFrameSamples> frame{};
    for (int i = 0; i < 50; ++i) {
        std::copy_n(input.begin() + i * 960, 960, frame.begin());
        const std::size_t bytes = tx.process(frame, {}, 80, packet);
        if (i % 10 == 5) {
            rx.produce({JitterBuffer::FrameKind::Conceal, 0}, packet, 80, frame);
            EXPECT_GT(rms(frame), 1000) << "the lost frame is filled in, not silent";
            continue;
        }
        rx.produce({JitterBuffer::FrameKind::Packet, bytes}, packet, 80, frame);
    }
    // A packet of another duration (60 ms, code 0 of config 3) and random bytes are not played.
    std::array<std::uint8_t, 3> sixtyMs{0x18, 0xFF, 0xFF};
    frame.fill(1234);
    rx.produce({JitterBuffer::FrameKind::Packet, sixtyMs.size()}, sixtyMs, 80, frame);
    EXPECT_EQ(rx.decodeErrors(), 1u);
    for (std::int16_t s : frame) {
        ASSERT_NE(s, 1234);
    }
    rx.produce({JitterBuffer::FrameKind::Silence, 0}, packet, 80, frame);
    EXPECT_EQ(rms(frame), 0);
}

// The microphone hears the speaker 30 ms late at half the level and nothing else: once the
// canceller has converged, far less of it goes out.
TEST(Pipeline, EchoCancellerRemovesWhatTheSpeakerPlayed) {
    TransmitPipeline tx({true, false, false});
    std::vector<std::int16_t> far(48000 * 6);
    std::uint32_t noise = 1;
    for (auto& s : far) {
        noise = noise * 1664525u + 1013904223u; // speech-like enough: broadband
        s = static_cast<std::int16_t>(static_cast<std::int32_t>(noise >> 16) % 6000);
    }
    const std::size_t delay = 48 * 30;
    std::array<std::uint8_t, kMaxOpusPacketBytes> packet{};
    std::array<std::int16_t, kFrameSamples> mic{};
    double echoIn = 0, echoOut = 0;
    for (std::size_t at = 0; at + kFrameSamples <= far.size(); at += kFrameSamples) {
        for (std::size_t i = 0; i < kFrameSamples; ++i) {
            mic[i] = at + i >= delay ? static_cast<std::int16_t>(far[at + i - delay] / 2) : 0;
        }
        const double before = rms(mic);
        tx.process(mic, std::span<const std::int16_t>(far.data() + at, kFrameSamples), 80, packet);
        if (at >= 48000 * 4) {
            echoIn += before;
            echoOut += rms(mic);
        }
    }
    EXPECT_LT(echoOut, echoIn * 0.1) << "at least 20 dB of echo removed";
}

TEST(Pipeline, ResamplerKeepsFrequencyAcrossRates) {
    Resampler up(44100, 48000);
    const auto input = tone(1000, 8000, 44100, 44100);
    std::vector<std::int16_t> out(up.maxOutput(input.size()));
    out.resize(up.process(input, out));
    EXPECT_NEAR(double(out.size()), 48000, 100);
    const std::span<const std::int16_t> steady(out.data() + 4800, 38400);
    EXPECT_NEAR(dominantFrequency(steady), 1000, 10);
    EXPECT_NEAR(toneAmplitude(steady, 1000), 8000, 400);
}

TEST(Pipeline, FifoCutsBlocksIntoFramesAndDropsTheOldest) {
    SampleFifo fifo(8);
    std::vector<std::int16_t> in{1, 2, 3, 4, 5};
    fifo.push(in);
    std::array<std::int16_t, 3> out{};
    EXPECT_TRUE(fifo.pop(out));
    EXPECT_EQ(out, (std::array<std::int16_t, 3>{1, 2, 3}));
    fifo.push(std::vector<std::int16_t>{6, 7, 8, 9, 10, 11, 12});
    EXPECT_EQ(fifo.size(), 8u); // 4 was dropped
    EXPECT_TRUE(fifo.pop(out));
    EXPECT_EQ(out, (std::array<std::int16_t, 3>{5, 6, 7}));
    std::array<std::int16_t, 6> tooMany{};
    EXPECT_FALSE(fifo.pop(tooMany));
    EXPECT_EQ(fifo.size(), 5u);
}

TEST(Pipeline, FrameRingPassesFramesInOrderAndRefusesWhenFull) {
    FrameRing<4, 2> ring;
    const std::array<std::int16_t, 4> a{1, 1, 1, 1}, b{2, 2, 2, 2}, c{3, 3, 3, 3};
    EXPECT_TRUE(ring.push(a));
    EXPECT_TRUE(ring.push(b));
    EXPECT_FALSE(ring.push(c));
    std::array<std::int16_t, 4> out{};
    EXPECT_TRUE(ring.pop(out));
    EXPECT_EQ(out, a);
    EXPECT_TRUE(ring.pop(out));
    EXPECT_EQ(out, b);
    EXPECT_FALSE(ring.pop(out));
    EXPECT_FALSE(ring.push(std::array<std::int16_t, 3>{}));
}

} // namespace
} // namespace talvora::voice
