// One new picture painted into the remote picture area, at the shipped size and maximised:
// the work the main thread does after the receive path for every picture.
#include "ui/PictureView.h"

#include "transport/TestPictures.h"

#include <QApplication>
#include <QPainter>

#include <benchmark/benchmark.h>

namespace talvora {
namespace {

void BM_PaintNewPicture(benchmark::State& state) {
    PictureView view;
    view.resize(int(state.range(0)), int(state.range(1)));
    const QImage picture = test::cameraLikePicture(640, 480);
    QImage target(view.size(), QImage::Format_RGB32);
    for (auto _ : state) {
        view.setPicture(picture.copy()); // a new picture, as from the receiver
        view.render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_PaintNewPicture)->Args({800, 650})->Args({1720, 1080})->Unit(benchmark::kMillisecond);

} // namespace
} // namespace talvora

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
