// Send path (picture in -> datagram bytes) and receive path (datagram -> picture ready for the
// picture view), each next to the bare libjpeg calls doing the same work, and the glass-to-glass
// latency of two endpoints on loopback at 30 pictures a second.
#include "transport/DatagramSink.h"
#include "transport/JpegCodec.h"
#include "transport/UdpDatagramSink.h"
#include "transport/VideoReceiver.h"
#include "transport/VideoSender.h"

#include "base/MessageService.h"
#include "transport/ReferenceJpeg.h"
#include "transport/TestPictures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>

#include "support/FakeMessageService.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace talvora {
namespace {

class DiscardingSink : public DatagramSink {
public:
    qsizetype lastSize = 0;
    DatagramSendResult send(const uchar*, qsizetype size, const QHostAddress&, quint16) override {
        lastSize = size;
        return {DatagramSendStatus::Sent, {}};
    }
};

// The highest quality in steps of 5 from 90 at which this picture fits one datagram, which is
// where the step-down would settle.
int fittingQuality(const QImage& picture) {
    for (int q = 90; q > 0; q -= 5) {
        if (encodeJpeg(picture, q).size() <= kMaxDatagramBytes) {
            return q;
        }
    }
    return 1;
}

QImage benchPicture(const benchmark::State& state) {
    return test::cameraLikePicture(int(state.range(0)), int(state.range(1)));
}

void BM_SendPath(benchmark::State& state) {
    const QImage picture = benchPicture(state);
    VideoSendFields fields;
    fields.sending = true;
    fields.setDestination(QHostAddress("127.0.0.1"));
    fields.quality = fittingQuality(picture);
    DiscardingSink sink;
    test::FakeMessageService messages;
    VideoSender sender(fields, sink);
    for (auto _ : state) {
        if (sender.sendFrame(picture) != VideoSendOutcome::Sent) {
            state.SkipWithError("picture not sent");
            break;
        }
    }
    state.counters["quality"] = fields.quality.load();
    state.counters["bytes"] = double(sink.lastSize);
}

void BM_SendPathLibrary(benchmark::State& state) {
    const QImage picture = benchPicture(state);
    test::ReferenceEncodeOptions options;
    options.quality = fittingQuality(picture);
    std::vector<uchar> out(1024 * 1024);
    std::size_t size = 0;
    for (auto _ : state) {
        size = test::referenceEncode(picture, options, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["quality"] = options.quality;
    state.counters["bytes"] = double(size);
}

QByteArray benchDatagram(const benchmark::State& state) {
    const QImage picture = benchPicture(state);
    return encodeJpeg(picture, fittingQuality(picture));
}

void BM_ReceivePath(benchmark::State& state) {
    const QByteArray datagram = benchDatagram(state);
    for (auto _ : state) {
        QImage picture = decodeJpeg(reinterpret_cast<const uchar*>(datagram.constData()), datagram.size());
        if (picture.isNull()) {
            state.SkipWithError("picture not decoded");
            break;
        }
        benchmark::DoNotOptimize(picture.constBits());
    }
    state.counters["bytes"] = double(datagram.size());
}

void BM_ReceivePathLibrary(benchmark::State& state) {
    const QByteArray datagram = benchDatagram(state);
    std::vector<uchar> pixels;
    int w = 0;
    int h = 0;
    for (auto _ : state) {
        test::referenceDecode(reinterpret_cast<const uchar*>(datagram.constData()),
                              std::size_t(datagram.size()), pixels, &w, &h);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.counters["bytes"] = double(datagram.size());
}

#define SIZES Args({640, 480})->Args({1280, 720})->Unit(benchmark::kMillisecond)
BENCHMARK(BM_SendPath)->SIZES;
BENCHMARK(BM_SendPathLibrary)->SIZES;
BENCHMARK(BM_ReceivePath)->SIZES;
BENCHMARK(BM_ReceivePathLibrary)->SIZES;

// One picture every 33 ms from phone A (127.0.0.52) to phone B (127.0.0.53, video port): the
// time from handing the picture to A's sender until B's receiver delivers it decoded. Both run
// on this one thread, as each phone runs them on its main thread, so the figure is the sum of
// the two phones' work plus the loopback.
void BM_GlassToGlass(benchmark::State& state) {
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    std::vector<QImage> frames;
    for (int i = 0; i < 30; ++i) {
        frames.push_back(test::cameraLikePicture(width, height, i));
    }
    NetworkConfig configA{QHostAddress(QStringLiteral("127.0.0.52"))};
    NetworkConfig configB{QHostAddress(QStringLiteral("127.0.0.53"))};
    VideoSendFields fields;
    fields.sending = true;
    fields.setDestination(QHostAddress("127.0.0.53"));
    fields.quality = fittingQuality(frames[0]);
    test::FakeMessageService messages;
    UdpDatagramSink sink(configA);
    VideoSender sender(fields, sink);
    VideoReceiver receiver(configB);
    receiver.open();
    bool arrived = false;
    QObject::connect(&receiver, &VideoReceiver::pictureReceived, [&] { arrived = true; });

    std::vector<double> latenciesMs;
    QElapsedTimer clock;
    clock.start();
    qint64 nextFrameNs = clock.nsecsElapsed();
    constexpr qint64 kFrameIntervalNs = 33'333'333;
    int index = 0;
    for (auto _ : state) {
        // Wait for the camera's next frame time, like a 30 frames a second preview.
        const qint64 waitNs = nextFrameNs - clock.nsecsElapsed();
        if (waitNs > 0) {
            QThread::usleep(quint64(waitNs / 1000));
        }
        nextFrameNs += kFrameIntervalNs;
        arrived = false;
        const qint64 startNs = clock.nsecsElapsed();
        if (sender.sendFrame(frames[std::size_t(index++ % 30)]) != VideoSendOutcome::Sent) {
            state.SkipWithError("picture not sent");
            break;
        }
        QElapsedTimer guard;
        guard.start();
        while (!arrived && guard.elapsed() < 1000) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        }
        if (!arrived) {
            state.SkipWithError("picture lost on loopback");
            break;
        }
        const double ms = double(clock.nsecsElapsed() - startNs) / 1e6;
        latenciesMs.push_back(ms);
        state.SetIterationTime(ms / 1000.0);
    }
    if (!latenciesMs.empty()) {
        std::sort(latenciesMs.begin(), latenciesMs.end());
        auto at = [&](double p) {
            return latenciesMs[std::min(latenciesMs.size() - 1, std::size_t(p * latenciesMs.size()))];
        };
        state.counters["p50_ms"] = at(0.50);
        state.counters["p99_ms"] = at(0.99);
        state.counters["max_ms"] = latenciesMs.back();
        state.counters["quality"] = fields.quality.load();
    }
}
BENCHMARK(BM_GlassToGlass)->Args({640, 480})->Iterations(300)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace talvora

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
