// A webcam's Motion JPEG frame to the displayed bitmap (the back end's decode into the 24-bit
// bitmap, then the frame buffers), next to libjpeg-turbo's own decode of the same frame to BGRA.
// Run: build-bench/bench/video-capture/video_capture_bench
#include "base/MessageService.h"
#include "capture/V4L2Formats.h"
#include "convert/CaptureFormatSource.h"
#include "convert/FrameBuffers.h"
#include "transport/JpegCodec.h"

#include "convert/FakeCaptureFormatSource.h"
#include "support/FakeMessageService.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QImage>

#include <linux/videodev2.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace {

// A camera-like picture: smooth shading with some detail, as a webcam sees a room.
QByteArray cameraFrame(int width, int height) {
    QImage picture(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        uchar* row = picture.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const double shade = 0.5 + 0.5 * std::sin(x * 0.01) * std::cos(y * 0.013);
            const int detail = ((x / 7 + y / 5) % 3) * 12;
            row[3 * x] = uchar(40 + 150 * shade + detail);
            row[3 * x + 1] = uchar(60 + 120 * (1 - shade) + detail);
            row[3 * x + 2] = uchar(90 + 80 * shade);
        }
    }
    return talvora::encodeJpeg(picture, 80);
}

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

void frameToDisplayedBitmap(benchmark::State& state) {
    const QByteArray jpeg = cameraFrame(kWidth, kHeight);
    const talvora::V4L2FrameGeometry geometry{V4L2_PIX_FMT_MJPEG, kWidth, kHeight, 0, quint32(jpeg.size())};
    QByteArray laidOut(talvora::deliveredFrameSize(geometry), '\0');
    talvora::test::FakeMessageService messages;
    talvora::FrameBuffers frames(messages);
    talvora::test::FakeCaptureFormatSource source;
    source.format = talvora::formatBlockFor(geometry);
    frames.readCaptureFormat(source);
    for (auto _ : state) {
        const bool ok =
            talvora::layoutFrame(geometry, reinterpret_cast<const uchar*>(jpeg.constData()), jpeg.size(),
                                 reinterpret_cast<uchar*>(laidOut.data()), laidOut.size());
        QImage picture =
            frames.frameToBitmap(reinterpret_cast<const uchar*>(laidOut.constData()), laidOut.size());
        if (!ok || picture.isNull())
            state.SkipWithError("frame dropped");
        benchmark::DoNotOptimize(picture.constBits());
    }
}

struct Failure {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void onError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<Failure*>(cinfo->err)->jump, 1);
}

// libjpeg-turbo's decode with its defaults, straight into a BGRA buffer. No C++ object lives in
// this function: a library error longjmps out of it.
bool decodeToBgra(const QByteArray& jpeg, uchar* out, int stride) {
    jpeg_decompress_struct cinfo;
    Failure err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    if (setjmp(err.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(jpeg.constData()),
                 (unsigned long)jpeg.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&cinfo);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out + std::size_t(cinfo.output_scanline) * std::size_t(stride);
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

void libjpegTurboToBgra(benchmark::State& state) {
    const QByteArray jpeg = cameraFrame(kWidth, kHeight);
    std::vector<uchar> bgra(std::size_t(kWidth) * kHeight * 4);
    for (auto _ : state) {
        if (!decodeToBgra(jpeg, bgra.data(), kWidth * 4))
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(bgra.data());
    }
}

} // namespace

BENCHMARK(frameToDisplayedBitmap)->Unit(benchmark::kMillisecond);
BENCHMARK(libjpegTurboToBgra)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
