// Mouth-to-ear delay of two engines over loopback on the in-memory devices: a click train goes
// into A's microphone, each click is found again in B's speaker by cross-correlation, and the
// delay from the click's read to its write to the speaker is reported as p50/p99, on a clean
// network and through the test suite's impairment relay (5 % loss, 20 +- 20 ms). Runs in real
// time: two runs of `seconds` (60 unless given).
//   voice_delay_bench [seconds]
#include "ImpairmentRelay.h"
#include "TestPhone.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <numbers>
#include <thread>
#include <vector>

using namespace talvora::voice;

namespace {

constexpr std::uint64_t kPeriod = 48000 / 2; // a click every 500 ms
constexpr std::size_t kClick = 480;          // 10 ms Hann-windowed chirp, 500 Hz to 3 kHz

const std::vector<double>& clickShape() {
    static const std::vector<double> shape = [] {
        std::vector<double> s(kClick);
        const double duration = double(kClick) / 48000;
        for (std::size_t i = 0; i < kClick; ++i) {
            const double t = double(i) / 48000;
            const double window = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(kClick - 1));
            s[i] = window * std::sin(2 * std::numbers::pi * (500 * t + 2500 / (2 * duration) * t * t));
        }
        return s;
    }();
    return shape;
}

struct Result {
    std::size_t clicks = 0;
    std::size_t found = 0;
    std::vector<double> delaysMs;
};

// The write time of output sample `i`, from the speaker's block times.
double writtenMs(const std::vector<BlockTime>& blocks, std::size_t i) {
    auto it = std::upper_bound(blocks.begin(), blocks.end(), i,
                               [](std::size_t v, const BlockTime& b) { return v < b.firstSample; });
    const BlockTime& b = *(it - 1);
    return double(b.timeUs) / 1000.0 + double(i - b.firstSample) / 48.0;
}

Result run(int seconds, test::ImpairmentRelay::Impairment impairment) {
    std::mutex readMutex;
    std::vector<BlockTime> reads;
    FakeAudioBackend::Config mic;
    mic.signal = [](std::uint64_t i) -> std::int16_t {
        const std::uint64_t phase = i % kPeriod;
        return phase < kClick ? static_cast<std::int16_t>(12000 * clickShape()[phase]) : 0;
    };
    mic.onRead = [&](const BlockTime& b) {
        std::lock_guard lock(readMutex);
        reads.push_back(b);
    };
    test::ImpairmentRelay relay(test::loopback(4), test::loopback(2), test::loopback(3), 8500, 77);
    relay.setImpairment(impairment);
    test::TestPhone a("127.0.0.2", mic);
    test::TestPhone b("127.0.0.3", {});
    a.start("127.0.0.4");
    b.start("127.0.0.4");
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    a.stop();
    b.stop();

    const auto out = b.recording().samples();
    const auto blocks = b.recording().blocks();
    Result result;
    std::lock_guard lock(readMutex);
    for (std::size_t r = 0; r < reads.size(); ++r) {
        const std::uint64_t first = reads[r].firstSample;
        const std::uint64_t end = r + 1 < reads.size() ? reads[r + 1].firstSample : first + 960;
        // Each click start in this block, after the first second (start-up is not the steady delay).
        for (std::uint64_t c = (first + kPeriod - 1) / kPeriod * kPeriod; c < end; c += kPeriod) {
            if (c < 48000) {
                continue;
            }
            const double readMs = double(reads[r].timeUs) / 1000.0 + double(c - first) / 48.0;
            // Search the output written between the read and 450 ms after it.
            const auto from =
                static_cast<std::size_t>(std::lower_bound(blocks.begin(), blocks.end(), readMs,
                                                          [](const BlockTime& blk, double ms) {
                                                              return double(blk.timeUs) / 1000.0 < ms;
                                                          }) -
                                         blocks.begin());
            if (from == 0 || from >= blocks.size()) {
                continue;
            }
            ++result.clicks;
            const std::size_t start = blocks[from - 1].firstSample;
            const std::size_t stop = std::min(out.size() - kClick, start + 48 * 450);
            double best = 0;
            std::size_t bestAt = 0;
            for (std::size_t at = start; at < stop; ++at) {
                double dot = 0, energy = 0;
                for (std::size_t k = 0; k < kClick; ++k) {
                    dot += clickShape()[k] * out[at + k];
                    energy += double(out[at + k]) * out[at + k];
                }
                const double score = energy > 0 ? dot / std::sqrt(energy) : 0;
                if (score > best) {
                    best = score;
                    bestAt = at;
                }
            }
            // Normalised: 1 is an exact copy. Opus keeps a chirp well above 0.5; a concealed frame is not.
            double norm = 0;
            for (double v : clickShape()) {
                norm += v * v;
            }
            if (best / std::sqrt(norm) < 0.5) {
                continue; // lost and concealed: not found
            }
            ++result.found;
            result.delaysMs.push_back(writtenMs(blocks, bestAt) - readMs);
        }
    }
    std::sort(result.delaysMs.begin(), result.delaysMs.end());
    return result;
}

void report(const char* name, const Result& r) {
    auto percentile = [&](double p) {
        return r.delaysMs.empty()
                   ? 0.0
                   : r.delaysMs[std::min(r.delaysMs.size() - 1, std::size_t(p * double(r.delaysMs.size())))];
    };
    std::printf("%-28s clicks %4zu found %4zu  delay p50 %6.1f ms  p99 %6.1f ms  max %6.1f ms\n", name,
                r.clicks, r.found, percentile(0.50), percentile(0.99),
                r.delaysMs.empty() ? 0.0 : r.delaysMs.back());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 60;
    report("clean", run(seconds, {}));
    report("5% loss, 20 +- 20 ms", run(seconds, {.lossRate = 0.05, .baseDelayMs = 20, .jitterMs = 20}));
    return 0;
}
