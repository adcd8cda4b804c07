// Converters next to libyuv on the same frames, and the whole per-frame path next to its parts.
// Run: build-bench/bench/video-convert/video_convert_bench
#include "video/YUVConverts.h"

#include <benchmark/benchmark.h>
#include <libyuv.h>

#include <QByteArray>

#include <random>
#include <vector>

namespace {

using talvora::FormatKind;

std::vector<uchar> noise(qint64 bytes) {
    std::vector<uchar> out(static_cast<size_t>(bytes));
    std::mt19937 rng(7);
    for (auto& b : out) {
        b = uchar(rng());
    }
    return out;
}

void ours(benchmark::State& state, FormatKind kind) {
    const int w = int(state.range(0));
    const int h = int(state.range(1));
    const auto src = noise(talvora::YUVFrameBytes(kind, w, h));
    std::vector<uchar> dst(size_t(w) * h * 4);
    for (auto _ : state) {
        benchmark::DoNotOptimize(talvora::ConvertToRGB(kind, src, dst, w, h));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * w * h);
}

void libyuvYUY2(benchmark::State& state) {
    const int w = int(state.range(0));
    const int h = int(state.range(1));
    const auto src = noise(qint64(w) * h * 2);
    std::vector<uchar> dst(size_t(w) * h * 4);
    for (auto _ : state) {
        libyuv::YUY2ToARGB(src.data(), w * 2, dst.data(), w * 4, w, h);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * w * h);
}

void libyuvI420(benchmark::State& state) {
    const int w = int(state.range(0));
    const int h = int(state.range(1));
    const auto src = noise(talvora::YUVFrameBytes(talvora::fkI420, w, h));
    std::vector<uchar> dst(size_t(w) * h * 4);
    const uchar* y = src.data();
    const uchar* u = y + w * h;
    const uchar* v = u + (w / 2) * (h / 2);
    for (auto _ : state) {
        libyuv::I420ToARGB(y, w, u, w / 2, v, w / 2, dst.data(), w * 4, w, h);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * w * h);
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Args({640, 480})->Args({1280, 720});
}

} // namespace

BENCHMARK_CAPTURE(ours, YUY2, talvora::fkYUY2)->Apply(sizes);
BENCHMARK(libyuvYUY2)->Apply(sizes);
BENCHMARK_CAPTURE(ours, I420, talvora::fkI420)->Apply(sizes);
BENCHMARK(libyuvI420)->Apply(sizes);

BENCHMARK_MAIN();
