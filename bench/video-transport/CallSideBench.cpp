// What one side of a call does for every picture of a 1280x720 Motion JPEG webcam, stage by
// stage, through the phone's own classes: the back end's decode of the camera's frame into the
// bitmap and the frame buffers (camera), the preview panel's paint (preview), the JPEG for the
// peer at the quality the step-down settles on (send), the decode of the peer's picture
// (receive) and its paint into the remote picture area (show). `whole_side` runs them in turn.
// Times are the process's processor time (Qt scales large pictures on worker threads); at 30
// pictures a second, each millisecond of `whole_side` is 3 % of a core.
// Run: build-bench/bench/video-transport/bench_call_side
#include "capture/MjpegFrame.h"
#include "capture/V4L2Formats.h"
#include "convert/CaptureFormatSource.h"
#include "convert/FrameBuffers.h"
#include "transport/DatagramSink.h"
#include "transport/JpegCodec.h"
#include "transport/TestPictures.h"
#include "ui/CaptureWindow.h"
#include "ui/PictureView.h"

#include "convert/FakeCaptureFormatSource.h"
#include "support/FakeMessageService.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <linux/videodev2.h>

#include <vector>

namespace talvora {
namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

// One side's state, built once: the camera's frame as a webcam sends it (no Huffman tables),
// the windows at their shipped sizes, and the peer's picture as it arrives.
struct Side {
    const V4L2FrameGeometry geometry{V4L2_PIX_FMT_MJPEG, kWidth, kHeight, 0, 0};
    QImage scene = test::cameraLikePicture(kWidth, kHeight);
    QByteArray camera = encodeMjpegFrame(scene.constBits(), kWidth, kHeight, 80);
    QByteArray laidOut{deliveredFrameSize(geometry), '\0'};
    test::FakeMessageService messages;
    FrameBuffers frames{messages};
    test::FakeCaptureFormatSource format;
    QWidget panel;
    CaptureWindow preview{&panel};
    PictureView remote;
    QImage previewTarget{250, 188, QImage::Format_RGB32};
    QImage remoteTarget{800, 650, QImage::Format_RGB32};
    std::vector<uchar> sendBuffer = std::vector<uchar>(1024 * 1024);
    int quality = 100;
    QByteArray received;

    Side() {
        format.format = formatBlockFor(geometry);
        frames.readCaptureFormat(format);
        preview.setGeometry(0, 0, 250, 188);
        preview.setScale(true);
        remote.resize(800, 650);
        // The step-down: 5 lower for every picture that does not fit one datagram.
        const QImage picture = cameraPicture();
        for (;; quality -= 5) {
            const JpegEncodeResult r = send(picture);
            if (r.status == JpegEncodeStatus::Ok) {
                received = QByteArray(reinterpret_cast<const char*>(sendBuffer.data()), r.size);
                break;
            }
        }
    }
    QImage cameraPicture() {
        layoutFrame(geometry, reinterpret_cast<const uchar*>(camera.constData()), camera.size(),
                    reinterpret_cast<uchar*>(laidOut.data()), laidOut.size());
        return frames.frameToBitmap(reinterpret_cast<const uchar*>(laidOut.constData()), laidOut.size());
    }
    void showPreview(const QImage& picture) {
        preview.showFrame(picture);
        preview.render(&previewTarget);
    }
    JpegEncodeResult send(const QImage& picture) {
        return encodeJpeg(picture, quality, sendBuffer.data(), kMaxDatagramBytes);
    }
    QImage receive() {
        return decodeJpeg(reinterpret_cast<const uchar*>(received.constData()), received.size());
    }
    void show(const QImage& picture) {
        remote.setPicture(picture);
        remote.render(&remoteTarget);
    }
};

Side& side() {
    static Side s;
    return s;
}

void camera(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(side().cameraPicture().constBits());
}

void preview(benchmark::State& state) {
    const QImage picture = side().cameraPicture();
    for (auto _ : state)
        side().showPreview(picture);
}

void send(benchmark::State& state) {
    const QImage picture = side().cameraPicture();
    for (auto _ : state)
        benchmark::DoNotOptimize(side().send(picture).size);
    state.counters["quality"] = side().quality;
    state.counters["bytes"] = double(side().received.size());
}

void receive(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(side().receive().constBits());
}

void show(benchmark::State& state) {
    const QImage picture = side().receive();
    for (auto _ : state)
        side().show(picture);
}

void whole_side(benchmark::State& state) {
    Side& s = side();
    for (auto _ : state) {
        const QImage picture = s.cameraPicture();
        s.showPreview(picture);
        benchmark::DoNotOptimize(s.send(picture).size);
        s.show(s.receive());
    }
}

BENCHMARK(camera)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(preview)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(send)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(receive)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(show)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(whole_side)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace talvora

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
