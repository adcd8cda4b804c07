#include "voice/engine/SilentSink.h"
#include "voice/engine/SilentSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace talvora::voice {
namespace {

// Time that moves on by a fixed step at every reading, so a device's pace shows in the clock's
// readings rather than in the machine's timing.
class SteppingClock final : public Clock {
public:
    static constexpr std::int64_t kStepUs = 5000;
    std::int64_t nowUs() const override { return m_next.fetch_add(kStepUs); }
    // The last time read.
    std::int64_t lastUs() const { return m_next.load() - kStepUs; }

private:
    mutable std::atomic<std::int64_t> m_next{0};
};

// A clock that stands still: a wait on it lasts until interrupted.
class StoppedClock final : public Clock {
public:
    std::int64_t nowUs() const override { return 0; }
};

struct PaceRow {
    int rateHz;
    std::size_t blockSamples;
};

const PaceRow kPaceRows[] = {{48000, 960}, {44100, 882}, {16000, 320}, {48000, 480}};

TEST(SilentSource, GivesSilenceAtTheDevicesPace) {
    for (const PaceRow& row : kPaceRows) {
        SteppingClock clock;
        SilentSource source(clock, row.rateHz);
        EXPECT_EQ(source.sampleRateHz(), row.rateHz);
        std::vector<std::int16_t> block(row.blockSamples, 1234);
        for (std::uint64_t k = 1; k <= 3; ++k) {
            ASSERT_TRUE(source.read(block));
            EXPECT_EQ(std::count(block.begin(), block.end(), 0), static_cast<long>(block.size()));
            // A block is there once its last sample would have been captured, and no later.
            const std::int64_t dueUs = static_cast<std::int64_t>(k * row.blockSamples * 1000000 / row.rateHz);
            EXPECT_GE(clock.lastUs(), dueUs) << row.rateHz << " Hz, block " << k;
            EXPECT_LT(clock.lastUs(), dueUs + SteppingClock::kStepUs) << row.rateHz << " Hz, block " << k;
            std::fill(block.begin(), block.end(), 1234);
        }
    }
}

TEST(SilentSink, TakesBlocksAtTheDevicesPace) {
    for (const PaceRow& row : kPaceRows) {
        SteppingClock clock;
        SilentSink sink(clock, row.rateHz);
        EXPECT_EQ(sink.sampleRateHz(), row.rateHz);
        const std::vector<std::int16_t> block(row.blockSamples, 1000);
        ASSERT_TRUE(sink.write(block)) << "the first block goes straight into the buffer";
        EXPECT_LT(clock.lastUs(), 2 * SteppingClock::kStepUs);
        for (std::uint64_t k = 1; k <= 2; ++k) {
            ASSERT_TRUE(sink.write(block));
            // The next block is taken once the ones before it have played.
            const std::int64_t dueUs = static_cast<std::int64_t>(k * row.blockSamples * 1000000 / row.rateHz);
            EXPECT_GE(clock.lastUs(), dueUs) << row.rateHz << " Hz, block " << k;
            EXPECT_LT(clock.lastUs(), dueUs + SteppingClock::kStepUs) << row.rateHz << " Hz, block " << k;
        }
    }
}

TEST(SilentDevices, InterruptEndsABlockedCallAndEveryLaterOne) {
    StoppedClock clock;
    SilentSource source(clock, 48000);
    SilentSink sink(clock, 48000);
    std::vector<std::int16_t> block(960);
    ASSERT_TRUE(sink.write(block));
    std::atomic<int> readResult{-1};
    std::atomic<int> writeResult{-1};
    std::thread reader([&] { readResult = source.read(block) ? 1 : 0; });
    std::thread writer([&] { writeResult = sink.write(block) ? 1 : 0; });
    source.interrupt();
    sink.interrupt();
    reader.join();
    writer.join();
    EXPECT_EQ(readResult, 0);
    EXPECT_EQ(writeResult, 0);
    EXPECT_FALSE(source.read(block));
    EXPECT_FALSE(sink.write(block));
}

} // namespace
} // namespace talvora::voice
