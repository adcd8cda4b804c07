// CPU per 20 ms frame of each stage of the voice engine, and the delay a sample takes from the
// microphone of one engine to the speaker of another over loopback.
//   voice_bench --benchmark_filter=Frame     processing cost
//   voice_bench --benchmark_filter=Delay     delay (runs in real time, about 25 s)
#include "ImpairmentRelay.h"
#include "TestPhone.h"
#include "voice/engine/ReceivePipeline.h"
#include "voice/engine/TransmitPipeline.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <mutex>
#include <numbers>
#include <thread>
#include <vector>

using namespace talvora::voice;

namespace {

// Speech-like input: a few harmonics under a slow envelope, plus a little noise.
std::vector<std::int16_t> speechLike(std::size_t samples) {
    std::vector<std::int16_t> out(samples);
    std::uint32_t noise = 12345;
    for (std::size_t i = 0; i < samples; ++i) {
        const double t = double(i) / kSampleRateHz;
        const double envelope = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 3 * t);
        double v = 0;
        for (int h = 1; h <= 5; ++h) {
            v += std::sin(2 * std::numbers::pi * 140 * h * t) / h;
        }
        noise = noise * 1664525u + 1013904223u;
        out[i] = static_cast<std::int16_t>(4000 * envelope * v +
                                           double(static_cast<std::int32_t>(noise >> 20) - 2048));
    }
    return out;
}

const std::vector<std::int16_t>& input() {
    static const auto signal = speechLike(kSampleRateHz * 10);
    return signal;
}

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// The benchmark's CPU time per frame as a share of the frame's 20 ms: the load on one core.
// (Wall time on a shared machine says more about the neighbours than about us.)
struct CoreShare {
    double start = threadCpuSeconds();
    void report(benchmark::State& state) const {
        const double perFrame =
            (threadCpuSeconds() - start) / double(std::max<benchmark::IterationCount>(1, state.iterations()));
        state.counters["cpu_us_per_frame"] = perFrame * 1e6;
        state.counters["core_percent"] = perFrame / 0.020 * 100;
    }
};

void runTransmit(benchmark::State& state, VoiceProcessing options) {
    TransmitPipeline tx(options);
    std::array<std::int16_t, kFrameSamples> frame{};
    std::array<std::int16_t, kFrameSamples> played{};
    std::array<std::uint8_t, 1275> packet{};
    const auto& in = input();
    std::size_t at = 0;
    const CoreShare share;
    for (auto _ : state) {
        std::copy_n(in.begin() + static_cast<long>(at), kFrameSamples, frame.begin());
        std::copy_n(in.begin() + static_cast<long>((at + 48000) % (in.size() - kFrameSamples)), kFrameSamples,
                    played.begin());
        benchmark::DoNotOptimize(tx.process(frame, played, 80, packet));
        at = (at + kFrameSamples) % (in.size() - kFrameSamples);
    }
    share.report(state);
}

void BM_Frame_EncodeOnly(benchmark::State& state) {
    runTransmit(state, {false, false, false});
}
void BM_Frame_TransmitFull(benchmark::State& state) {
    runTransmit(state, {true, true, true});
}

void BM_Frame_Receive(benchmark::State& state) {
    TransmitPipeline tx({false, false, false});
    std::vector<std::vector<std::uint8_t>> packets;
    std::array<std::int16_t, kFrameSamples> frame{};
    std::array<std::uint8_t, 1275> packet{};
    const auto& in = input();
    for (std::size_t at = 0; at + kFrameSamples <= in.size(); at += kFrameSamples) {
        std::copy_n(in.begin() + static_cast<long>(at), kFrameSamples, frame.begin());
        const std::size_t n = tx.process(frame, {}, 80, packet);
        packets.emplace_back(packet.begin(), packet.begin() + static_cast<long>(n));
    }
    ReceivePipeline rx;
    std::size_t i = 0;
    const CoreShare share;
    for (auto _ : state) {
        const auto& p = packets[i++ % packets.size()];
        rx.produce({JitterBuffer::FrameKind::Packet, p.size()}, p, 80, frame);
        benchmark::DoNotOptimize(frame.data());
    }
    share.report(state);
}

// The whole per-frame work of one phone in a call: both directions.
void BM_Frame_BothDirections(benchmark::State& state) {
    TransmitPipeline tx({true, true});
    ReceivePipeline rx;
    std::array<std::int16_t, kFrameSamples> frame{};
    std::array<std::int16_t, kFrameSamples> played{};
    std::array<std::uint8_t, 1275> packet{};
    const auto& in = input();
    std::size_t at = 0;
    const CoreShare share;
    for (auto _ : state) {
        std::copy_n(in.begin() + static_cast<long>(at), kFrameSamples, frame.begin());
        const std::size_t n = tx.process(frame, played, 80, packet);
        rx.produce({JitterBuffer::FrameKind::Packet, n}, packet, 80, played);
        at = (at + kFrameSamples) % (in.size() - kFrameSamples);
    }
    share.report(state);
}

// Delay: A's microphone plays a 20 ms burst every 400 ms; each burst's read time is known from
// the fake microphone, and its onset in B's speaker output from the fake speaker's block times.
void runDelay(benchmark::State& state, test::ImpairmentRelay::Impairment impairment) {
    constexpr std::uint64_t kPeriod = 48000 * 400 / 1000;
    std::mutex readMutex;
    std::vector<BlockTime> reads;
    FakeAudioBackend::Config micConfig;
    micConfig.signal = [](std::uint64_t i) -> std::int16_t {
        const std::uint64_t phase = i % kPeriod;
        return phase < 960 ? static_cast<std::int16_t>(
                                 10000 * std::sin(2 * std::numbers::pi * 1000 * double(phase) / 48000))
                           : 0;
    };
    micConfig.onRead = [&](const BlockTime& b) {
        std::lock_guard lock(readMutex);
        reads.push_back(b);
    };
    std::vector<double> delaysMs;
    for (auto _ : state) {
        test::ImpairmentRelay relay(test::loopback(4), test::loopback(2), test::loopback(3), 8500, 77);
        relay.setImpairment(impairment);
        test::TestPhone a("127.0.0.2", micConfig);
        test::TestPhone b("127.0.0.3", {});
        a.start("127.0.0.4");
        b.start("127.0.0.4");
        std::this_thread::sleep_for(std::chrono::seconds(12));
        a.stop();
        b.stop();

        const auto out = b.recording().samples();
        const auto blocks = b.recording().blocks();
        std::vector<BlockTime> bursts;
        {
            std::lock_guard lock(readMutex);
            for (const BlockTime& r : reads) {
                if (r.firstSample % kPeriod == 0) {
                    bursts.push_back(r);
                }
            }
        }
        std::size_t quietRun = 0;
        std::size_t blockIndex = 0;
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (std::abs(out[i]) < 2500) {
                ++quietRun;
                continue;
            }
            if (quietRun >= 4800) {
                while (blockIndex + 1 < blocks.size() && blocks[blockIndex + 1].firstSample <= i) {
                    ++blockIndex;
                }
                const double writtenMs =
                    blocks[blockIndex].timeUs / 1000.0 + double(i - blocks[blockIndex].firstSample) / 48.0;
                // The burst this onset belongs to: the last one read before it.
                const BlockTime* source = nullptr;
                for (const BlockTime& burst : bursts) {
                    if (burst.timeUs / 1000.0 <= writtenMs) {
                        source = &burst;
                    }
                }
                if (source != nullptr && writtenMs - source->timeUs / 1000.0 < 400 &&
                    source->firstSample > 2 * kPeriod) {
                    delaysMs.push_back(writtenMs - source->timeUs / 1000.0);
                }
            }
            quietRun = 0;
        }
    }
    std::sort(delaysMs.begin(), delaysMs.end());
    if (delaysMs.empty()) {
        state.SkipWithError("no burst arrived");
        return;
    }
    auto percentile = [&](double p) {
        return delaysMs[std::min(delaysMs.size() - 1, std::size_t(p * double(delaysMs.size())))];
    };
    state.counters["bursts"] = double(delaysMs.size());
    state.counters["p50_ms"] = percentile(0.50);
    state.counters["p99_ms"] = percentile(0.99);
    state.counters["max_ms"] = delaysMs.back();
}

void BM_Delay_Clean(benchmark::State& state) {
    runDelay(state, {});
}
void BM_Delay_Jitter20(benchmark::State& state) {
    runDelay(state, {.baseDelayMs = 20, .jitterMs = 20});
}

} // namespace

BENCHMARK(BM_Frame_EncodeOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Frame_TransmitFull)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Frame_Receive)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Frame_BothDirections)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Delay_Clean)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_Delay_Jitter20)->Iterations(1)->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
