// Converters next to libyuv on the same frames, and the whole per-frame path next to its parts.
// Run: build-bench/bench/video-convert/video_convert_bench
#include "base/MessageService.h"
#include "convert/BitmapDecode.h"
#include "convert/BitmapInfo.h"
#include "convert/FrameBuffers.h"
#include "convert/YUVConverts.h"
#include "convert/YUVKernelAvx2.h"

#include "convert/FakeCaptureFormatSource.h"
#include "support/FakeMessageService.h"

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
    const auto src = noise(talvora::yuvFrameBytes(kind, w, h));
    std::vector<uchar> dst(size_t(w) * h * 4);
    for (auto _ : state) {
        benchmark::DoNotOptimize(talvora::convertToRgb(kind, src, dst, w, h));
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
    const auto src = noise(talvora::yuvFrameBytes(talvora::FormatKind::I420, w, h));
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

// The AVX2 loops alone, as a processor without AVX-512 runs them.
void oursAvx2(benchmark::State& state, FormatKind kind) {
    const int w = int(state.range(0));
    const int h = int(state.range(1));
    if (!talvora::yuv::avx2::available()) {
        state.SkipWithError("no AVX2");
        return;
    }
    const auto src = noise(talvora::yuvFrameBytes(kind, w, h));
    std::vector<uchar> dst(size_t(w) * h * 4);
    for (auto _ : state) {
        for (int row = 0; row < h; ++row) {
            uchar* out = dst.data() + size_t(h - 1 - row) * w * 4;
            if (kind == talvora::FormatKind::YUY2) {
                talvora::yuv::avx2::packed422(src.data() + size_t(row) * w * 2, out, w, 0, 1, 3);
            } else {
                const uchar* u = src.data() + size_t(w) * h + size_t(row / 2) * (w / 2);
                talvora::yuv::avx2::halfChroma(src.data() + size_t(row) * w, u, u + size_t(w / 2) * (h / 2),
                                               out, w);
            }
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * w * h);
}

QByteArray yuvFormat(quint32 code, int w, int h) {
    QByteArray block(40, '\0');
    talvora::BitmapInfoHeader hdr;
    hdr.biWidth = w;
    hdr.biHeight = h;
    hdr.biBitCount = 16;
    hdr.biCompression = code;
    talvora::writeBitmapInfoHeader(block.data(), hdr);
    return block;
}

// The whole per-frame path: conversion into the BMP file, decoding into a new picture.
void frameToBitmap(benchmark::State& state, FormatKind kind) {
    const int w = int(state.range(0));
    const int h = int(state.range(1));
    talvora::test::FakeMessageService messages;
    talvora::test::FakeCaptureFormatSource camera;
    camera.format =
        yuvFormat(kind == talvora::FormatKind::YUY2 ? talvora::kFourccYUY2 : talvora::kFourccI420, w, h);
    talvora::FrameBuffers buffers(messages);
    buffers.initFrameBuffers(camera);
    const auto src = noise(talvora::yuvFrameBytes(kind, w, h));
    for (auto _ : state) {
        QImage picture = buffers.frameToBitmap(src.data(), qsizetype(src.size()));
        benchmark::DoNotOptimize(picture.constBits());
    }
    state.SetItemsProcessed(state.iterations() * w * h);
}

// Its parts: the conversion, then the bottom-up rows copied into a picture.
void convertThenCopy(benchmark::State& state, FormatKind kind) {
    const int w = int(state.range(0));
    const int h = int(state.range(1));
    const auto src = noise(talvora::yuvFrameBytes(kind, w, h));
    std::vector<uchar> dst(size_t(w) * h * 4);
    QImage picture(w, h, QImage::Format_RGB32);
    for (auto _ : state) {
        talvora::convertToRgb(kind, src, dst, w, h);
        libyuv::ARGBCopy(dst.data(), w * 4, picture.bits(), int(picture.bytesPerLine()), w, -h);
        benchmark::DoNotOptimize(picture.constBits());
    }
    state.SetItemsProcessed(state.iterations() * w * h);
}

} // namespace

BENCHMARK_CAPTURE(ours, YUY2, talvora::FormatKind::YUY2)->Apply(sizes);
BENCHMARK(libyuvYUY2)->Apply(sizes);
BENCHMARK_CAPTURE(ours, I420, talvora::FormatKind::I420)->Apply(sizes);
BENCHMARK(libyuvI420)->Apply(sizes);
BENCHMARK_CAPTURE(oursAvx2, YUY2, talvora::FormatKind::YUY2)->Apply(sizes);
BENCHMARK_CAPTURE(oursAvx2, I420, talvora::FormatKind::I420)->Apply(sizes);
BENCHMARK_CAPTURE(frameToBitmap, YUY2, talvora::FormatKind::YUY2)->Args({640, 480});
BENCHMARK_CAPTURE(convertThenCopy, YUY2, talvora::FormatKind::YUY2)->Args({640, 480});
BENCHMARK_CAPTURE(frameToBitmap, I420, talvora::FormatKind::I420)->Args({640, 480});
BENCHMARK_CAPTURE(convertThenCopy, I420, talvora::FormatKind::I420)->Args({640, 480});

BENCHMARK_MAIN();
