// The synthetic camera's frames at 1280x720: drawn whole with every frame (renderTestPattern)
// next to the renderer that draws the still picture once and copies each frame out of it.
// Run: build-bench/bench/video-capture/video_capture_bench --benchmark_filter=TestPattern
#include "capture/TestPattern.h"
#include "convert/BitmapInfo.h"

#include <benchmark/benchmark.h>

#include <QByteArray>

namespace {

using talvora::TestPatternSettings;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

quint32 kindOf(const benchmark::State& state) {
    const quint32 kinds[] = {talvora::kFourccYUY2, talvora::kBiRgb, talvora::kFourccMJPG};
    return kinds[state.range(0)];
}

TestPatternSettings settingsOf(const benchmark::State& state) {
    TestPatternSettings settings;
    settings.pattern = int(state.range(1));
    return settings;
}

void BM_TestPatternWhole(benchmark::State& state) {
    const quint32 kind = kindOf(state);
    const TestPatternSettings settings = settingsOf(state);
    QByteArray frame(talvora::testPatternFrameSize(kind, kWidth, kHeight), '\0');
    QByteArray scratch;
    quint64 n = 0;
    for (auto _ : state) {
        talvora::renderTestPattern(kind, kWidth, kHeight, n++, settings, scratch,
                                   reinterpret_cast<uchar*>(frame.data()), frame.size());
        benchmark::DoNotOptimize(frame.data());
    }
}

void BM_TestPatternRenderer(benchmark::State& state) {
    const quint32 kind = kindOf(state);
    const TestPatternSettings settings = settingsOf(state);
    QByteArray frame(talvora::testPatternFrameSize(kind, kWidth, kHeight), '\0');
    talvora::TestPatternRenderer renderer;
    quint64 n = 0;
    for (auto _ : state) {
        renderer.render(kind, kWidth, kHeight, n++, settings, reinterpret_cast<uchar*>(frame.data()),
                        frame.size());
        benchmark::DoNotOptimize(frame.data());
    }
}

// Arguments: layout (0 YUY2, 1 RGB, 2 MJPG), pattern (0 bars, 1 gradient, 2 checkerboard, 3 scene).
BENCHMARK(BM_TestPatternWhole)->ArgsProduct({{0, 1, 2}, {0, 1, 2, 3}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TestPatternRenderer)->ArgsProduct({{0, 1, 2}, {0, 1, 2, 3}})->Unit(benchmark::kMillisecond);

} // namespace
