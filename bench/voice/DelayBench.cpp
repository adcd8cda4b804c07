// Mouth-to-ear delay of two engines over loopback on the in-memory devices: a click train goes
// into A's microphone, each click is found again in B's speaker by cross-correlation, and the
// delay from the click's read to its write to the speaker is reported as p50/p99, on a clean
// network and through the test suite's impairment relay (5 % loss, 20 +- 20 ms). Runs in real
// time: two runs of `seconds` (60 unless given).
//   voice_delay_bench [seconds]
#include "ClickTrain.h"
#include "ImpairmentRelay.h"
#include "TestPhone.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

using namespace talvora::voice;

namespace {

std::vector<double> run(int seconds, test::ImpairmentRelay::Impairment impairment, std::size_t& clicks) {
    std::mutex readMutex;
    std::vector<BlockTime> reads;
    FakeAudioBackend::Config mic;
    mic.signal = bench::clickTrain;
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
    std::vector<double> delaysMs;
    clicks = 0;
    std::lock_guard lock(readMutex);
    for (std::size_t r = 0; r < reads.size(); ++r) {
        const std::uint64_t first = reads[r].firstSample;
        const std::uint64_t end = r + 1 < reads.size() ? reads[r + 1].firstSample : first + 960;
        // Each click start in this block, after the first second (start-up is not the steady delay).
        for (std::uint64_t c = (first + bench::kClickPeriod - 1) / bench::kClickPeriod * bench::kClickPeriod;
             c < end; c += bench::kClickPeriod) {
            const double readMs = double(reads[r].timeUs) / 1000.0 + double(c - first) / 48.0;
            if (c < 48000 || !bench::covers(blocks, readMs)) {
                continue;
            }
            ++clicks;
            if (const auto delayMs = bench::clickDelayMs(out, blocks, readMs)) {
                delaysMs.push_back(*delayMs);
            }
        }
    }
    return delaysMs;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 60;
    std::size_t clicks = 0;
    auto delaysMs = run(seconds, {}, clicks);
    bench::printDelays("clean", clicks, delaysMs);
    delaysMs = run(seconds, {.lossRate = 0.05, .baseDelayMs = 20, .jitterMs = 20}, clicks);
    bench::printDelays("5% loss, 20 +- 20 ms", clicks, delaysMs);
    return 0;
}
