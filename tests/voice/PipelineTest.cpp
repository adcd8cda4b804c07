#include "SignalAnalysis.h"
#include "voice/engine/FrameRing.h"
#include "voice/engine/PlaybackBuffer.h"
#include "voice/engine/ReceivePipeline.h"
#include "voice/engine/Resampler.h"
#include "voice/engine/SampleFifo.h"
#include "voice/engine/TransmitPipeline.h"

#include <gtest/gtest.h>

#include <opus/opus.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <numbers>
#include <random>
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
        std::copy_n(input.begin() + i * static_cast<long>(kFrameSamples), kFrameSamples, frame.begin());
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

// A tone through the jitter buffer and the receive pipeline on a simulated network, on a virtual
// clock: loss (single packets and pairs, as the impairment relay drops them), jitter, packets
// that come too late, and a playback side that stalls and then catches up, or whose speaker
// buffer grows on each underflow a stall causes, so that it asks for frames earlier from then on
// (PlaybackBuffer on the same clock). The buffer conceals, rebuilds from FEC, inserts and drops
// frames; none of it may break the waveform. A sine of
// amplitude A moves at most 2 A sin(pi f / rate) from one sample to the next; a jump to silence
// or in phase moves by up to 2 A, so three times the tone's own step is a click.
void concealmentAndPlayoutChangesMakeNoClicks(int frameMs) {
    const int frames = 20000 / frameMs; // 20 s
    const std::size_t frameSamples = samplesFor(frameMs);
    constexpr double kHz = 440, kAmplitude = 8000;
    const auto input = tone(kHz, kAmplitude, frameSamples * static_cast<std::size_t>(frames));
    TransmitPipeline tx({false, false, false}, frameMs);
    std::vector<std::vector<std::uint8_t>> packets;
    std::array<std::uint8_t, kMaxOpusPacketBytes> packet{};
    std::vector<std::int16_t> frame(frameSamples);
    for (int i = 0; i < frames; ++i) {
        std::copy_n(input.begin() + i * static_cast<long>(frameSamples), frameSamples, frame.begin());
        packets.emplace_back(packet.begin(),
                             packet.begin() + static_cast<long>(tx.process(frame, {}, 80, packet)));
    }
    const double click = 3 * 2 * kAmplitude * std::sin(std::numbers::pi * kHz / 48000);

    struct Row {
        const char* name;
        double lossRate;
        int jitterMs;                      // each packet takes 20 ms +- this
        int lateEvery;                     // every this many packets one is 100 ms late (0: none)
        int stallEvery;                    // every this many frames playback stops for 70 ms (0: never)
        bool growingSpeakerBuffer = false; // a stall longer than the speaker's buffer grows it
    };
    for (const Row& row : {Row{"5 % loss", 0.05, 0, 0, 0}, Row{"5 % loss, 20 +- 20 ms", 0.05, 20, 0, 0},
                           Row{"late packets", 0.0, 20, 97, 0}, Row{"playback stalls", 0.05, 20, 0, 150},
                           Row{"underflows grow the speaker's buffer", 0.05, 20, 0, 150, true}}) {
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> chance(0, 1);
        std::multimap<std::int64_t, int> arrivals;
        for (int i = 0, burst = 0; i < frames; ++i) {
            if (burst > 0 || chance(rng) < row.lossRate) {
                burst = burst > 0 ? burst - 1 : chance(rng) < 0.5;
                continue;
            }
            std::int64_t atMs =
                frameMs * i + 20 + std::uniform_int_distribution<int>(-row.jitterMs, row.jitterMs)(rng);
            if (row.lateEvery > 0 && i % row.lateEvery == row.lateEvery / 2) { // packets, not ms
                atMs += 100;
            }
            arrivals.emplace(atMs, i);
        }
        JitterBuffer buffer({.frameMs = frameMs});
        ReceivePipeline rx;
        std::vector<std::int16_t> out;
        auto next = arrivals.begin();
        std::int64_t stalledUntilMs = 0;
        PlaybackBuffer speaker({}, 0);
        for (int j = 0; j < frames; ++j) {
            // The server asks for each frame as much ahead of its playing as its buffer holds.
            const int aheadMs =
                row.growingSpeakerBuffer ? speaker.targetAt(frameMs * j) - speaker.limits().startMs : 0;
            std::int64_t nowMs = frameMs * j + 7 - aheadMs;
            if (row.stallEvery > 0 && (j * frameMs / 20) % row.stallEvery == row.stallEvery / 2 &&
                j * frameMs % 20 == 0) {
                stalledUntilMs = nowMs + 70;
                if (70 > speaker.targetMs()) {
                    speaker.underflow(nowMs); // the stall outlasted what the speaker held
                }
            }
            nowMs = std::max(nowMs, stalledUntilMs);
            for (; next != arrivals.end() && next->first <= nowMs; ++next) {
                buffer.put(static_cast<std::uint16_t>(next->second), packets[next->second], next->first);
            }
            rx.produce(buffer.get(nowMs, packet), packet, 80, frame);
            out.insert(out.end(), frame.begin(), frame.end());
        }
        if (row.growingSpeakerBuffer) {
            EXPECT_GE(speaker.targetMs(), 60) << row.name << ": the speaker's buffer grew";
        }
        const JitterBuffer::Stats& stats = buffer.stats();
        EXPECT_GT(stats.lost + stats.inserted + stats.dropped, 10u)
            << row.name << ": the buffer had work to do";
        std::size_t clicks = 0, firstAt = 0;
        for (std::size_t i = 24000; i < out.size(); ++i) {
            if (std::abs(out[i] - out[i - 1]) > click && clicks++ == 0) {
                firstAt = i;
            }
        }
        EXPECT_EQ(clicks, 0u) << row.name << ": first at " << double(firstAt) / 48000 << " s; lost "
                              << stats.lost << ", late " << stats.late << ", inserted " << stats.inserted
                              << ", dropped " << stats.dropped;
    }
}

TEST(Pipeline, ConcealmentAndPlayoutChangesMakeNoClicks) {
    for (const int frameMs : {20, 10}) {
        SCOPED_TRACE(std::to_string(frameMs) + " ms packets");
        concealmentAndPlayoutChangesMakeNoClicks(frameMs);
    }
}

// A peer may send any Opus frame length: every whole number of 10 ms up to 60 is played at its
// length (and rebuilt from FEC or concealed at it); shorter frames, which our jitter buffer cannot
// time, are refused as malformed.
TEST(Pipeline, DecoderPlaysEveryFrameLengthAPeerMaySend) {
    for (const int samples : {120, 240, 480, 960, 1920, 2880}) {
        int err = 0;
        OpusEncoder* encoder = opus_encoder_create(48000, 1, OPUS_APPLICATION_AUDIO, &err);
        const auto input = tone(440, 8000, static_cast<std::size_t>(samples) * 20);
        std::array<std::uint8_t, kMaxOpusPacketBytes> packet{};
        std::vector<std::int16_t> frame(static_cast<std::size_t>(samples)), out;
        OpusVoiceDecoder decoder;
        int bytes = 0;
        for (int i = 0; i < 20; ++i) {
            bytes = opus_encode(encoder, input.data() + i * samples, samples, packet.data(), 1275);
            const int ms =
                OpusVoiceDecoder::packetMs(std::span(packet).first(static_cast<std::size_t>(bytes)));
            ASSERT_EQ(ms, samples >= 480 ? samples / 48 : 0) << samples << " samples";
            EXPECT_TRUE(ms == 0 ||
                        decoder.decode(std::span(packet).first(static_cast<std::size_t>(bytes)), frame));
            out.insert(out.end(), frame.begin(), frame.end());
        }
        opus_encoder_destroy(encoder);
        if (samples >= 480) {
            EXPECT_NEAR(toneAmplitude(std::span(out).last(out.size() / 2), 440), 8000, 8000 * 0.12)
                << samples;
            // A frame of another length than the packet's is concealed, never played as it is.
            std::vector<std::int16_t> other(samples == 480 ? 960 : 480, 1234);
            EXPECT_FALSE(decoder.decode(std::span(packet).first(static_cast<std::size_t>(bytes)), other));
            EXPECT_EQ(std::count(other.begin(), other.end(), 1234), 0);
        }
    }
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
