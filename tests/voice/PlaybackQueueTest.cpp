// The hand-off between our audio threads and a sound server's real-time thread: the sample ring
// and its doorbell across two threads, and the speaker queue's start level and underflow count.
#include "voice/engine/PlaybackQueue.h"
#include "voice/engine/Doorbell.h"
#include "voice/engine/SampleRing.h"

#include <gtest/gtest.h>

#include <numeric>
#include <thread>
#include <vector>

namespace talvora::voice {
namespace {

std::vector<std::int16_t> counting(std::int16_t from, std::size_t n) {
    std::vector<std::int16_t> v(n);
    std::iota(v.begin(), v.end(), from);
    return v;
}

TEST(SampleRing, RefusesTheNewestWhenFullAndKeepsOrderAcrossTheWrap) {
    SampleRing ring(1000);
    EXPECT_EQ(ring.capacity(), 1024u);
    EXPECT_EQ(ring.write(counting(0, 700)), 700u);
    std::vector<std::int16_t> out(600);
    EXPECT_EQ(ring.read(out), 600u);
    EXPECT_EQ(out, counting(0, 600));
    // 100 left; room for 924 of these 1000, which run across the end of the store.
    EXPECT_EQ(ring.write(counting(700, 1000)), 924u);
    EXPECT_EQ(ring.size(), 1024u);
    EXPECT_EQ(ring.write(counting(0, 1)), 0u);
    out.assign(2000, -1);
    EXPECT_EQ(ring.read(out), 1024u);
    EXPECT_EQ(std::vector(out.begin(), out.begin() + 1024), counting(600, 1024));
    EXPECT_EQ(ring.read(out), 0u);
}

// A producer in quanta of 240 (a sound server's cycle) and a consumer in frames of 480 that
// waits on the doorbell: every sample arrives once, in order, and the consumer never waits for
// a ring it missed (a lost wake-up would leave it to its time-out, and the run to the test's).
TEST(SampleRing, HandsEverySampleAcrossThreadsWithTheDoorbell) {
    SampleRing ring(1024);
    Doorbell bell;
    constexpr std::size_t kTotal = 480 * 2000;
    std::thread producer([&] {
        std::vector<std::int16_t> quantum(240);
        for (std::size_t sent = 0; sent < kTotal;) {
            for (std::size_t i = 0; i < quantum.size(); ++i) {
                quantum[i] = static_cast<std::int16_t>(sent + i);
            }
            std::size_t in = 0;
            while (in < quantum.size()) {
                in += ring.write(std::span(quantum).subspan(in));
                bell.ring();
                if (in < quantum.size()) {
                    std::this_thread::yield();
                }
            }
            sent += quantum.size();
        }
    });
    std::vector<std::int16_t> frame(480);
    std::size_t received = 0;
    std::size_t outOfOrder = 0;
    int longWaits = 0;
    while (received < kTotal) {
        std::size_t got = 0;
        while (got < frame.size()) {
            const std::uint32_t ticket = bell.ticket();
            got += ring.read(std::span(frame).subspan(got));
            if (got < frame.size()) {
                const auto before = std::chrono::steady_clock::now();
                bell.wait(ticket, 10000);
                longWaits += std::chrono::steady_clock::now() - before > std::chrono::seconds(9);
            }
        }
        for (std::size_t i = 0; i < frame.size(); ++i) {
            outOfOrder += frame[i] != static_cast<std::int16_t>(received + i);
        }
        received += frame.size();
    }
    producer.join();
    EXPECT_EQ(outOfOrder, 0u);
    EXPECT_EQ(longWaits, 0);
}

// The writer's offers (with the queue's limit) and the real-time side's quanta, in order, with
// what each gives: samples taken, or the quantum's played samples (counting from where the writer
// left off; -1 for silence) and the underflows so far.
struct Step {
    enum Kind { Offer, Fill } kind;
    std::size_t samples;
    std::size_t limit = 0;        // Offer
    std::size_t taken = 0;        // Offer
    std::size_t played = 0;       // Fill: how many samples before the silence
    std::uint64_t underflows = 0; // Fill
};
Step offer(std::size_t samples, std::size_t limit, std::size_t taken) {
    return {Step::Offer, samples, limit, taken};
}
Step fill(std::size_t samples, std::size_t played, std::uint64_t underflows) {
    return {Step::Fill, samples, 0, 0, played, underflows};
}

TEST(PlaybackQueue, PlaysFromTheStartLevelAndCountsEachRunDryOnce) {
    struct Row {
        const char* name;
        std::size_t startLevel;
        std::vector<Step> steps;
    };
    const Row rows[] = {
        {"silence before the start level, without an underflow",
         960,
         {fill(240, 0, 0), offer(480, 960, 480), fill(240, 0, 0), offer(480, 960, 480), fill(240, 240, 0),
          fill(240, 240, 0)}},
        {"the writer's limit keeps the queue at the target",
         960,
         {offer(480, 960, 480), offer(480, 960, 480), offer(480, 960, 0), fill(240, 240, 0),
          offer(480, 960, 240)}},
        {"a short quantum plays what there is, then silence, and counts one underflow",
         480,
         {offer(480, 960, 480), fill(240, 240, 0), fill(200, 200, 0), fill(240, 40, 1)}},
        {"after running dry it waits for the start level again, counting nothing meanwhile",
         480,
         {offer(240, 960, 240), fill(240, 0, 0), offer(240, 960, 240), fill(240, 240, 0), fill(240, 240, 0),
          fill(240, 0, 1), offer(240, 960, 240), fill(240, 0, 1), fill(240, 0, 1), offer(240, 960, 240),
          fill(240, 240, 1)}},
        {"a start level of nothing still waits for a sample",
         0,
         {fill(240, 0, 0), offer(100, 960, 100), fill(240, 100, 1)}},
    };
    for (const Row& row : rows) {
        PlaybackQueue queue(4096);
        queue.setStartLevel(row.startLevel);
        std::int16_t nextWritten = 1;
        std::int16_t nextPlayed = 1;
        for (std::size_t i = 0; i < row.steps.size(); ++i) {
            const Step& step = row.steps[i];
            const std::string where = std::string(row.name) + ", step " + std::to_string(i);
            if (step.kind == Step::Offer) {
                const std::size_t taken = queue.offer(counting(nextWritten, step.samples), step.limit);
                EXPECT_EQ(taken, step.taken) << where;
                nextWritten = static_cast<std::int16_t>(nextWritten + taken);
                continue;
            }
            std::vector<std::int16_t> out(step.samples, -1);
            queue.fill(out);
            EXPECT_EQ(std::vector(out.begin(), out.begin() + static_cast<long>(step.played)),
                      counting(nextPlayed, step.played))
                << where;
            EXPECT_EQ(std::vector(out.begin() + static_cast<long>(step.played), out.end()),
                      std::vector<std::int16_t>(step.samples - step.played, 0))
                << where;
            nextPlayed = static_cast<std::int16_t>(nextPlayed + step.played);
            EXPECT_EQ(queue.underflows(), step.underflows) << where;
        }
    }
}

} // namespace
} // namespace talvora::voice
