#include "voice/engine/PlaybackBuffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace talvora::voice {
namespace {

// Underflows the server reports and moments the writer looks, on a fake clock, with the target
// expected after each.
struct Event {
    enum Kind { Underflow, Look } kind;
    std::int64_t atMs;
    int targetMs;
};
Event underflow(std::int64_t atMs, int targetMs) {
    return {Event::Underflow, atMs, targetMs};
}
Event look(std::int64_t atMs, int targetMs) {
    return {Event::Look, atMs, targetMs};
}

TEST(PlaybackBuffer, GrowsOnUnderflowAndShrinksAfterQuiet) {
    struct Row {
        const char* name;
        PlaybackBuffer::Limits limits;
        std::vector<Event> events;
    };
    const Row rows[] = {
        {"grows by 10 ms (less than doubling) up to 80",
         {},
         {look(0, 20), underflow(1000, 30), underflow(1100, 40), underflow(1200, 50), underflow(1300, 60),
          underflow(1400, 70), underflow(1500, 80), underflow(1600, 80), look(1700, 80)}},
        {"from a small start doubling is less",
         {.startMs = 5},
         {underflow(0, 10), underflow(10, 20), underflow(20, 30), look(30, 30)}},
        {"shrinks by 5 ms after each 20 s without one, not below the start",
         {},
         {underflow(0, 30), look(19999, 30), look(20000, 25), look(39999, 25), look(40000, 20),
          look(100000, 20)}},
        {"an underflow starts the quiet again",
         {},
         {underflow(0, 30), look(15000, 30), underflow(15000, 40), look(34999, 40), look(35000, 35),
          look(54999, 35), look(55000, 30)}},
        {"a long quiet earns every step it spans",
         {},
         {underflow(0, 30), underflow(0, 40), underflow(0, 50), look(60000, 35), look(79999, 35),
          look(80000, 30)}},
        {"quiet before the first underflow earns nothing afterwards",
         {},
         {look(0, 20), look(500000, 20), underflow(500000, 30), look(519999, 30), look(520000, 25)}},
        {"a ceiling below the start is the start",
         {.startMs = 30, .maxMs = 20},
         {look(0, 30), underflow(5, 30), look(30000, 30)}},
    };
    for (const Row& row : rows) {
        PlaybackBuffer buffer(row.limits, 0);
        for (const Event& e : row.events) {
            const int target =
                e.kind == Event::Underflow ? buffer.underflow(e.atMs) : buffer.targetAt(e.atMs);
            EXPECT_EQ(target, e.targetMs) << row.name << ", at " << e.atMs << " ms";
            EXPECT_EQ(buffer.targetMs(), target) << row.name;
        }
    }
}

} // namespace
} // namespace talvora::voice
