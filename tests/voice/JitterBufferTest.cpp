#include "voice/engine/JitterBuffer.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <sstream>
#include <vector>

namespace talvora::voice {
namespace {

using Put = JitterBuffer::PutResult;
using Kind = JitterBuffer::FrameKind;

// One row of a scenario: a packet arriving, or the playback side asking for a frame.
struct Row {
    enum Op { PutPacket, GetFrame } op;
    std::int64_t timeMs;
    std::uint16_t sequence; // the packet put, or the packet expected from a get
    Put put = Put::Stored;
    Kind kind = Kind::Silence;
};

Row put(std::int64_t t, std::uint16_t seq, Put expected = Put::Stored) {
    return {Row::PutPacket, t, seq, expected, Kind::Silence};
}
Row get(std::int64_t t, Kind kind, std::uint16_t seq = 0) {
    return {Row::GetFrame, t, seq, Put::Stored, kind};
}

// Each payload carries its own sequence number, so a get shows which packet came out.
std::array<std::uint8_t, 2> payloadOf(std::uint16_t seq) {
    return {static_cast<std::uint8_t>(seq >> 8), static_cast<std::uint8_t>(seq)};
}

void run(JitterBuffer& buffer, const std::vector<Row>& rows) {
    std::array<std::uint8_t, kMaxOpusPacketBytes> out{};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        std::ostringstream where;
        where << "row " << i << " at t=" << row.timeMs;
        if (row.op == Row::PutPacket) {
            const auto payload = payloadOf(row.sequence);
            EXPECT_EQ(buffer.put(row.sequence, payload, row.timeMs), row.put) << where.str();
            continue;
        }
        const JitterBuffer::Frame frame = buffer.get(row.timeMs, out);
        EXPECT_EQ(frame.kind, row.kind) << where.str();
        if (row.kind == Kind::Packet || row.kind == Kind::ConcealWithNext) {
            ASSERT_EQ(frame.bytes, 2u) << where.str();
            EXPECT_EQ((out[0] << 8) | out[1], row.sequence) << where.str();
        }
    }
}

struct Scenario {
    const char* name;
    std::vector<Row> rows;
};

class JitterBufferScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(JitterBufferScenario, Plays) {
    JitterBuffer buffer;
    run(buffer, GetParam().rows);
}

INSTANTIATE_TEST_SUITE_P(
    Table, JitterBufferScenario,
    ::testing::Values(
        Scenario{"NothingYieldsSilence", {get(0, Kind::Silence), get(20, Kind::Silence)}},
        Scenario{"InOrder",
                 {put(0, 100), get(10, Kind::Packet, 100), put(20, 101), get(30, Kind::Packet, 101),
                  put(40, 102), get(50, Kind::Packet, 102)}},
        Scenario{"WaitsForTheFirstPacketsDueTime",
                 // Target is the 10 ms margin: at t=-1 the packet is 11 ms early, so not yet.
                 {put(0, 7), get(-1, Kind::Silence), get(0, Kind::Packet, 7)}},
        Scenario{
            "Duplicates",
            {put(0, 100), put(5, 100, Put::Duplicate), get(10, Kind::Packet, 100), put(12, 100, Put::Late)}},
        Scenario{"ReorderedBeforePlayout",
                 {put(0, 101), put(1, 100), get(15, Kind::Packet, 100), get(35, Kind::Packet, 101)}},
        Scenario{"ReorderedDuringPlayout",
                 {put(0, 100), get(10, Kind::Packet, 100), put(20, 101), get(30, Kind::Packet, 101),
                  put(45, 103), put(46, 102), get(50, Kind::Packet, 102), get(70, Kind::Packet, 103)}},
        Scenario{"LostThenLateAndTheNextStillPlays",
                 {put(0, 100), get(10, Kind::Packet, 100), get(30, Kind::Conceal), put(35, 101, Put::Late),
                  put(40, 102), get(50, Kind::Packet, 102)}},
        Scenario{"LostWithTheNextAtHandForFec",
                 // 102 came early, 101 never: the frame of 101 is rebuilt from 102.
                 {put(0, 100), put(5, 102), get(10, Kind::Packet, 100), get(30, Kind::ConcealWithNext, 102),
                  get(50, Kind::Packet, 102)}},
        Scenario{"WaitsForAPacketNotYetDue",
                 // With a 25 ms spread, 102 is due at t=65: at t=50 the buffer waits rather than
                 // declaring it lost, and it plays when it comes.
                 {put(0, 100), get(10, Kind::Packet, 100), put(45, 101), get(46, Kind::Packet, 101),
                  get(50, Kind::Conceal), put(56, 102), get(66, Kind::Packet, 102)}},
        Scenario{"BurstAfterAStallGrowsTheDelay",
                 // Four packets are held up 80 ms and arrive in a burst with the fifth: they are
                 // late, but they show the spread, and the buffer waits longer from then on.
                 {put(0, 100), get(10, Kind::Packet, 100), get(30, Kind::Conceal), get(50, Kind::Conceal),
                  get(70, Kind::Conceal), get(90, Kind::Conceal), put(100, 101, Put::Late),
                  put(100, 102, Put::Late), put(100, 103, Put::Late), put(100, 104, Put::Late), put(100, 105),
                  get(110, Kind::Conceal), get(130, Kind::Conceal), get(150, Kind::Conceal),
                  get(170, Kind::Packet, 105)}},
        Scenario{"SequenceWrapsAround",
                 {put(0, 65534), get(10, Kind::Packet, 65534), put(20, 65535), get(30, Kind::Packet, 65535),
                  put(40, 0), get(50, Kind::Packet, 0), put(60, 1), get(70, Kind::Packet, 1)}},
        Scenario{"StrayFarPacketChangesNothing",
                 {put(0, 100), get(10, Kind::Packet, 100), put(15, 40000, Put::OutOfRange), put(20, 101),
                  get(30, Kind::Packet, 101)}},
        Scenario{"SenderRestartsItsSequence",
                 {put(0, 100), get(10, Kind::Packet, 100), put(20, 101), get(30, Kind::Packet, 101),
                  put(40, 5000, Put::OutOfRange), put(60, 5001, Put::Restarted), get(70, Kind::Packet, 5001),
                  put(80, 5002), get(90, Kind::Packet, 5002)}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JitterBuffer, RejectsEmptyAndOversizedPayloads) {
    JitterBuffer buffer;
    std::vector<std::uint8_t> big(kMaxOpusPacketBytes + 1);
    EXPECT_EQ(buffer.put(1, {}, 0), Put::Rejected);
    EXPECT_EQ(buffer.put(1, big, 0), Put::Rejected);
    std::array<std::uint8_t, kMaxOpusPacketBytes> out{};
    EXPECT_EQ(buffer.get(100, out).kind, Kind::Silence);
}

TEST(JitterBuffer, GoesIdleWhenTheStreamStopsAndAnchorsTheNextOne) {
    JitterBuffer buffer;
    std::vector<Row> rows{put(0, 10), get(10, Kind::Packet, 10)};
    for (int i = 1; i <= 25; ++i) {
        rows.push_back(get(10 + 20 * i, Kind::Conceal));
    }
    rows.push_back(get(530, Kind::Silence));
    // A new stream, anywhere in sequence space, starts afresh.
    rows.push_back(put(1000, 30000));
    rows.push_back(get(1010, Kind::Packet, 30000));
    run(buffer, rows);
    EXPECT_EQ(buffer.stats().lost, 25u);
}

TEST(JitterBuffer, SenderRestartingBehindIsFollowedAfterARunOfLatePackets) {
    JitterBuffer buffer;
    std::array<std::uint8_t, kMaxOpusPacketBytes> out{};
    std::int64_t t = 0;
    for (std::uint16_t seq = 1000; seq < 1010; ++seq, t += 20) {
        buffer.put(seq, payloadOf(seq), t);
        buffer.get(t + 10, out);
    }
    // The sender restarts 30 frames back: those packets look late at first.
    std::uint16_t seq = 980;
    Put last = Put::Stored;
    int late = 0;
    for (int i = 0; i < buffer.lateRunRestart() + 2 && last != Put::Restarted; ++i, ++seq, t += 20) {
        last = buffer.put(seq, payloadOf(seq), t);
        late += last == Put::Late;
        buffer.get(t + 10, out);
    }
    EXPECT_EQ(last, Put::Restarted);
    EXPECT_EQ(late, buffer.lateRunRestart() - 1);
    buffer.put(seq, payloadOf(seq), t);
    const auto frame = buffer.get(t + 10, out);
    EXPECT_EQ(frame.kind, Kind::Packet);
}
// A sound server that holds a sender's microphone back lets the held packets go at once: of a
// stream of 10 ms packets, a bunch from index 100 (20 in a short window) comes late, the first by
// 10 ms for each packet in the bunch, each next one 10 ms less. The target leaves the slowest one
// in fifty late (the bunch is concealed, the rest plays sooner), and waits for all of them in a
// short window or when told to leave none late.
TEST(JitterBuffer, TargetLeavesTheSlowestFewLate) {
    const struct {
        const char* name;
        int packets, bunch, latePerMille, expectedTargetMs;
    } cases[] = {
        {"all on time: the margin", 200, 0, 20, 10},
        {"a bunch of four of two hundred is left late", 200, 4, 20, 10},
        {"of a bunch of six, the fifth slowest is waited for", 200, 6, 20, 30},
        {"none left late when told", 200, 4, 0, 50},
        {"a window under fifty waits for all", 40, 4, 20, 50},
        {"fifty leave one late", 50, 4, 20, 40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        JitterBuffer buffer({.frameMs = 10, .latePerMille = c.latePerMille});
        std::array<std::uint8_t, kMaxOpusPacketBytes> out{};
        const int first = c.packets >= 100 ? 100 : 20;
        for (int i = 0; i < c.packets; ++i) {
            const int inBunch = i - first;
            const int lateMs = inBunch >= 0 && inBunch < c.bunch ? (c.bunch - inBunch) * 10 : 0;
            const auto seq = static_cast<std::uint16_t>(1000 + i);
            // Put at its arrival; the playback side asks every 10 ms meanwhile (the fake clock
            // is the packets' own times).
            buffer.put(seq, payloadOf(seq), std::int64_t{i} * 10 + lateMs);
            buffer.get(std::int64_t{i} * 10 + 5, out);
        }
        EXPECT_EQ(buffer.targetDelayMs(), c.expectedTargetMs);
    }
}

void adaptsToJitterAndSettles(int frameMs);

// A long run with a seeded random network: jitter, loss in bursts, duplicates. Then the network
// calms down and the delay must come back down. The same for packets of 20 and of 10 ms.
TEST(JitterBuffer, AdaptsToJitterAndSettlesAfterwards) {
    for (const int frameMs : {20, 10}) {
        SCOPED_TRACE(std::to_string(frameMs) + " ms packets");
        adaptsToJitterAndSettles(frameMs);
    }
}

void adaptsToJitterAndSettles(int frameMs) {
    JitterBuffer buffer({.frameMs = frameMs});
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> jitter(0, 40);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::array<std::uint8_t, kMaxOpusPacketBytes> out{};

    struct Arrival {
        std::int64_t t;
        std::uint16_t seq;
    };
    std::vector<Arrival> arrivals;
    const int impairedFrames = 10000 / frameMs; // 10 s
    const int calmFrames = 10000 / frameMs;     // 10 s
    for (int i = 0; i < impairedFrames + calmFrames; ++i) {
        const std::int64_t sent = i * frameMs;
        const auto seq = static_cast<std::uint16_t>(60000 + i); // wraps on the way
        if (i < impairedFrames) {
            if (chance(rng) < 0.05) {
                ++i; // a burst of two lost
                continue;
            }
            const std::int64_t at = sent + jitter(rng);
            arrivals.push_back({at, seq});
            if (chance(rng) < 0.05) {
                arrivals.push_back({at + 3, seq});
            }
        } else {
            arrivals.push_back({sent + 2, seq});
        }
    }
    std::stable_sort(arrivals.begin(), arrivals.end(),
                     [](const Arrival& a, const Arrival& b) { return a.t < b.t; });

    std::size_t next = 0;
    int impairedMaxTarget = 0;
    int silentFrames = 0;
    std::vector<int> calmDelays;
    for (std::int64_t now = 5; now < (impairedFrames + calmFrames) * frameMs; now += frameMs) {
        while (next < arrivals.size() && arrivals[next].t <= now) {
            buffer.put(arrivals[next].seq, payloadOf(arrivals[next].seq), arrivals[next].t);
            ++next;
        }
        const auto frame = buffer.get(now, out);
        if (now > 200 && frame.kind == Kind::Silence) {
            ++silentFrames;
        }
        if (now < impairedFrames * frameMs) {
            impairedMaxTarget = std::max(impairedMaxTarget, buffer.targetDelayMs());
        } else if (now > impairedFrames * frameMs + 4000 && frame.kind == Kind::Packet) {
            calmDelays.push_back(buffer.lastPlayoutDelayMs());
        }
    }
    const auto& s = buffer.stats();
    EXPECT_EQ(silentFrames, 0) << "playout never stops while packets flow";
    EXPECT_GE(impairedMaxTarget, 35) << "the target follows a 40 ms spread";
    EXPECT_LE(impairedMaxTarget, 60);
    // Nearly everything that arrived played: late packets are a small share.
    EXPECT_LT(s.late, s.stored / 50) << "late " << s.late << " of " << s.stored;
    EXPECT_GT(s.duplicates, 0u);
    EXPECT_GT(s.dropped, 0u) << "the delay came down by dropping frames";
    ASSERT_FALSE(calmDelays.empty());
    for (int d : calmDelays) {
        ASSERT_LE(d, 30) << "settled back near the margin";
    }
    EXPECT_LE(buffer.targetDelayMs(), 15);
}

} // namespace
} // namespace talvora::voice
