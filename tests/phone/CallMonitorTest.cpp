// What the phone makes of a call second by second: the line under the picture, the end of a
// call whose Talvora peer vanished, the reports it sends and the loss that steers pictures.
// Each case is a timeline of per-second changes to the counts.
#include "phone/CallMonitor.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace talvora {
namespace {

using Peer = CallMonitor::Peer;

// Per second: what arrived from the peer in that second.
struct Second {
    int pictures = 0, voice = 0, reports = 0;
    quint32 peerSentPictures = 0; // pictures the peer's report says left it
};

struct Timeline {
    const char* name;
    Peer peer;
    int seconds;
    std::function<Second(int)> at;
    // Expected status lines by second (the line changes there to this text).
    std::map<int, QString> lines;
    int endsAt = -1; // the second the call ends, or -1 for never
};

const QString kSilent = QStringLiteral("No pictures or voice from Ann for 10 s");
const QString kEnded = QStringLiteral("The call with Ann ended: nothing arrived for 30 s");
const QString kLost = QStringLiteral("Pictures from Ann are being lost on the network");

Second all(int) {
    return {1, 50, 1, 0};
}

const Timeline kTimelines[] = {
    {"a Talvora peer that goes quiet ends the call at 30 s",
     Peer::Talvora,
     45,
     [](int s) { return s < 5 ? all(s) : Second{}; },
     {{14, kSilent}, {34, kEnded}},
     34},
    {"an older peer that goes quiet is only noticed",
     Peer::Older,
     60,
     [](int s) {
         return s < 5 ? Second{1, 50, 0} : Second{};
     },
     {{14, kSilent}},
     -1},
    {"a Talvora peer whose reports still come keeps the call",
     Peer::Talvora,
     60,
     [](int s) {
         return s < 5 ? all(s) : Second{0, 0, 1};
     },
     {{14, kSilent}},
     -1},
    {"voice without pictures, after pictures came, says they are lost; pictures back clear it",
     Peer::Talvora,
     20,
     [](int s) {
         return s < 5 || s >= 12 ? all(s) : Second{0, 50, 1};
     },
     {{7, kLost}, {12, QString()}},
     -1},
    {"an older peer without a camera is never said to lose pictures",
     Peer::Older,
     20,
     [](int) {
         return Second{0, 50, 0};
     },
     {},
     -1},
    {"a Talvora peer whose reports say it sends pictures that never come",
     Peer::Talvora,
     10,
     [](int s) {
         return Second{0, 50, 1, quint32(s * 15)};
     },
     {{3, kLost}},
     -1},
    {"a Talvora peer with its camera off sends none and nothing is said",
     Peer::Talvora,
     10,
     [](int) {
         return Second{0, 50, 1, 0};
     },
     {},
     -1},
    {"a silence notice clears when voice comes back",
     Peer::Older,
     30,
     [](int s) {
         return s < 2 || s >= 20 ? Second{0, 50, 0} : Second{};
     },
     {{11, kSilent}, {20, QString()}},
     -1},
};

TEST(CallMonitor, TimelinesOfACall) {
    for (const Timeline& t : kTimelines) {
        SCOPED_TRACE(t.name);
        CallMonitor monitor(QStringLiteral("Ann"));
        CallMonitor::Sample sample;
        sample.peer = t.peer;
        std::map<int, QString> lines;
        int endsAt = -1;
        for (int s = 0; s < t.seconds && endsAt < 0; ++s) {
            const Second got = t.at(s);
            sample.nowMs = s * 1000;
            sample.picturesFromPeer += got.pictures;
            sample.voiceHeard += got.voice;
            sample.voiceExpected += got.voice;
            sample.reportsFromPeer += got.reports;
            if (got.reports) {
                LinkReport r = sample.lastReport.value_or(LinkReport{});
                ++r.sequence;
                r.picturesSent = got.peerSentPictures;
                sample.lastReport = r;
            }
            const auto d = monitor.tick(sample);
            if (d.statusLine) {
                lines[s] = *d.statusLine;
            }
            if (d.endCall) {
                endsAt = s;
            }
            EXPECT_EQ(d.report.has_value(), t.peer == Peer::Talvora) << "second " << s;
        }
        EXPECT_EQ(lines, t.lines);
        EXPECT_EQ(endsAt, t.endsAt);
    }
}

TEST(CallMonitor, ReportsCountWhatArrivedAndNumberThemselves) {
    CallMonitor monitor(QStringLiteral("Ann"));
    CallMonitor::Sample s;
    s.peer = Peer::Talvora;
    s.picturesFromPeer = 7, s.voiceHeard = 95, s.voiceExpected = 100, s.picturesSent = 9;
    EXPECT_EQ(monitor.tick(s).report, (LinkReport{1, 7, 95, 100, 9}));
    s.nowMs = 1000, s.picturesFromPeer = 0x1'0000'0003; // counters are sent modulo 2^32
    EXPECT_EQ(monitor.tick(s).report, (LinkReport{2, 3, 95, 100, 9}));
}

// The peer's reports against what we had sent when each came: the estimate at `checkAt`.
TEST(CallMonitor, PathLossComesFromThePeersReports) {
    struct Case {
        const char* name;
        quint32 voiceStart; // where the peer's voice counters stand at the first report
        int voiceLostPerSecond;
        int picturesLostPerSecond; // of 30, from `lossFrom` on
        int packetsPerPicture;
        int lossFrom;
        int inFlight; // our pictures still on their way at each report
        int checkAt;
        double low, high;
    };
    const Case cases[] = {
        {"a clean path", 0, 0, 0, 4, 0, 0, 19, 0.0, 0.001},
        {"a picture on its way at every report is no loss", 0, 0, 0, 26, 0, 1, 19, 0.0, 0.001},
        {"5 of 100 voice packets lost", 0, 5, 0, 4, 0, 0, 19, 0.015, 0.05},
        {"counters that wrap are no loss", 0xFFFFFF00u, 0, 0, 4, 0, 0, 19, 0.0, 0.001},
        {"half the pictures lost, of 4 packets each", 0, 0, 15, 4, 0, 0, 19, 0.05, 0.2},
        {"1 % of packets lost from 10 s on shows within two reports", 0, 0, 7, 26, 10, 1, 12, 0.005, 0.015},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CallMonitor monitor(QStringLiteral("Ann"));
        CallMonitor::Sample s;
        s.peer = Peer::Talvora;
        double loss = 0;
        int missing = 0;
        for (int second = 0; second <= c.checkAt; ++second) {
            s.nowMs = second * 1000;
            s.picturesSent = s.picturesSentAtReport = quint64(second) * 30;
            s.packetsSentAtReport = s.picturesSentAtReport * quint64(c.packetsPerPicture);
            s.reportsFromPeer = second + 1;
            s.voiceHeard += 50;
            missing += second > c.lossFrom ? c.picturesLostPerSecond : 0;
            const int received = std::max(0, second * 30 - missing - c.inFlight);
            s.lastReport = LinkReport{quint32(second + 1), quint32(received),
                                      c.voiceStart + quint32(second * (100 - c.voiceLostPerSecond)),
                                      c.voiceStart + quint32(second * 100), quint32(s.picturesSent)};
            loss = monitor.tick(s).pathLoss;
        }
        EXPECT_GE(loss, c.low);
        EXPECT_LE(loss, c.high);
    }
}

TEST(CallMonitor, AnOlderPeerIsAssumedLossyAtFirstAndTheAssumptionFades) {
    CallMonitor monitor(QStringLiteral("Ann"));
    CallMonitor::Sample s;
    s.peer = Peer::Older;
    std::vector<double> loss;
    for (int second = 0; second <= 16; ++second) {
        s.nowMs = second * 1000;
        s.voiceHeard = s.voiceExpected = quint64(second) * 50; // its voice arrives whole
        const auto d = monitor.tick(s);
        loss.push_back(d.pathLoss);
        EXPECT_FALSE(d.peerHold) << "an older peer reports nothing: its memory is only guessed";
    }
    EXPECT_NEAR(loss[0], CallMonitor::kOlderPeerAssumedLoss, 1e-9);
    EXPECT_NEAR(loss[8], CallMonitor::kOlderPeerAssumedLoss / 2, 1e-3);
    EXPECT_LT(loss[16], CallMonitor::kOlderPeerAssumedLoss / 3);

    // Its voice losing 10 % overrides the fading assumption.
    CallMonitor lossy(QStringLiteral("Ann"));
    CallMonitor::Sample l;
    l.peer = Peer::Older;
    double last = 0;
    for (int second = 0; second <= 16; ++second) {
        l.nowMs = second * 1000;
        l.voiceExpected = quint64(second) * 100;
        l.voiceHeard = quint64(second) * 90;
        last = lossy.tick(l).pathLoss;
    }
    EXPECT_GT(last, 0.03);
}

// The peer's report finds 3 of our pictures of 26 packets missing each second for 10 s: each
// holds 25 fragments and a queue in its kernel for 30 s from when the report showed it.
TEST(CallMonitor, WhatThePeerMissedIsHeldThereForThirtySeconds) {
    const double each = 25 * 2304 + 200;
    const struct {
        int second;
        std::optional<PeerHold> hold;
    } expected[] = {{1, std::nullopt}, // the first report the monitor takes in is where it starts
                    {2, PeerHold{6 * each, 60}},
                    {5, PeerHold{15 * each, 150}},
                    {20, PeerHold{30 * each, 600}},
                    {35, PeerHold{15 * each, 1050}},
                    {45, PeerHold{0, 1350}}};
    CallMonitor monitor(QStringLiteral("Ann"));
    CallMonitor::Sample s;
    s.peer = Peer::Talvora;
    std::vector<std::optional<PeerHold>> holds;
    for (int second = 0; second <= 45; ++second) {
        s.nowMs = second * 1000;
        s.picturesSent = s.picturesSentAtReport = quint64(second) * 30;
        s.packetsSentAtReport = s.picturesSentAtReport * 26;
        s.reportsFromPeer = second + 1;
        // The peer has all we had sent at its report but those missing, 3 a second from 1 s on.
        const int missing = 3 * std::clamp(second, 0, 10);
        const int received = second * 30 - missing;
        s.lastReport = LinkReport{quint32(second + 1), quint32(received), 0, 0, quint32(s.picturesSent)};
        holds.push_back(monitor.tick(s).peerHold);
    }
    for (const auto& e : expected)
        EXPECT_EQ(holds[std::size_t(e.second)], e.hold) << e.second; // whole bytes add up exactly
}

} // namespace
} // namespace talvora
