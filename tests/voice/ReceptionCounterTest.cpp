#include "voice/engine/ReceptionCounter.h"

#include <gtest/gtest.h>

#include <vector>

namespace talvora::voice {
namespace {

// Sequence numbers as they arrive, and what the counter makes of them. kNewSource in the list
// stands for the peer coming back with another synchronisation source.
constexpr int kNewSource = -1;

TEST(ReceptionCounter, CountsHeardExpectedAndLost) {
    struct Row {
        const char* name;
        std::vector<int> arrivals;
        std::uint64_t heard, expected, lost;
    };
    const Row rows[] = {
        {"nothing yet", {}, 0, 0, 0},
        {"in order", {10, 11, 12, 13}, 4, 4, 0},
        {"gaps are lost", {10, 11, 13, 14, 17}, 5, 8, 3},
        {"a late packet fills its gap", {10, 12, 13, 11}, 4, 4, 0},
        {"duplicates are heard, not negative loss", {10, 11, 11, 11, 12}, 5, 3, 0},
        {"across the wrap of the sequence number", {65533, 65534, 0, 2}, 4, 6, 2},
        {"a lone stray far ahead is not counted", {10, 11, 9000, 12, 13}, 4, 4, 0},
        {"a lone stray far behind is not counted", {5000, 5001, 100, 5002}, 3, 3, 0},
        {"two in a row after a jump: the sender restarted", {10, 11, 15, 40000, 40001, 40003}, 5, 9, 4},
        {"a new source starts a new range, totals kept", {10, 12, kNewSource, 500, 501}, 4, 5, 1},
        {"reordering just behind is heard", {100, 101, 103, 102, 99}, 5, 4, 0},
    };
    for (const Row& row : rows) {
        ReceptionCounter counter;
        for (int arrival : row.arrivals) {
            if (arrival == kNewSource) {
                counter.newSource();
            } else {
                counter.heard(static_cast<std::uint16_t>(arrival));
            }
        }
        EXPECT_EQ(counter.packetsHeard(), row.heard) << row.name;
        EXPECT_EQ(counter.packetsExpected(), row.expected) << row.name;
        EXPECT_EQ(counter.packetsLost(), row.lost) << row.name;
    }
}

} // namespace
} // namespace talvora::voice
