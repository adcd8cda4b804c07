// The picture budget's parts as tables: the reassembly memory model against what the kernel was
// measured to do, the loss estimator, the size model, and loss -> ceiling -> quality and rate.
#include "transport/PictureBudget.h"
#include "transport/LossEstimator.h"
#include "transport/ReassemblyBudget.h"

#include "transport/DatagramSink.h"

#include <gtest/gtest.h>

#include <cmath>

namespace talvora {
namespace {

constexpr double kFourMegabytes = 4.0 * 1024 * 1024;

// Fragments of a datagram, and the memory model against 30 datagrams a second measured through
// nftables drop on a veth pair: 45,000-byte pictures filled 4 MB at 0.3 % (after about 25 s) and
// at 1 %; 15,000-byte ones stayed steady at 1 %.
TEST(ReassemblyBudgetTest, FragmentsAndWhatCollapsedAndWhatDidNot) {
    const struct {
        qsizetype payload;
        int fragments;
    } sizes[] = {{0, 1}, {1472, 1}, {1473, 2}, {2952, 2}, {2953, 3}, {15000, 11}, {45000, 31}, {65507, 45}};
    for (const auto& c : sizes) {
        EXPECT_EQ(fragmentsOf(c.payload), c.fragments) << c.payload;
        EXPECT_EQ(fragmentsOf(payloadOf(c.fragments)), c.fragments) << c.payload;
    }
    EXPECT_DOUBLE_EQ(incompleteChance(0.01, 31), 1 - std::pow(0.99, 31));
    const struct {
        double loss;
        qsizetype payload;
        bool fillsFourMegabytes;
    } runs[] = {{0.003, 45000, true}, {0.01, 45000, true}, {0.01, 15000, false}, {0.001, 45000, false}};
    for (const auto& c : runs) {
        EXPECT_EQ(reassemblyBytes(c.loss, 30, c.payload) > kFourMegabytes, c.fillsFourMegabytes)
            << c.loss << " " << c.payload;
    }
    EXPECT_DOUBLE_EQ(reassemblyBytes(0.5, 30, 1472), 0) << "one packet holds no reassembly memory";
}

TEST(ReassemblyBudgetTest, CeilingByLossAndRate) {
    const struct {
        double loss;
        double rate;
        qsizetype ceiling;
    } cases[] = {
        {0, 30, 65507},
        {0.0003, 30, 65507},
        {0.001, 30, 47352},
        {0.003, 30, 28112},
        {0.01, 30, 14792},
        {0.01, 15, 22192},
        {0.01, 5, 38472},
        {0.03, 30, 8872},
        {0.1, 30, 5912},
        {0.3, 30, 2952},
        // So much is lost that few fragments arrive to be held: the memory falls again.
        {0.9, 30, 13312},
        {1, 30, 65507},
    };
    for (const auto& c : cases) {
        const qsizetype ceiling = pictureCeiling(c.loss, c.rate);
        EXPECT_EQ(ceiling, c.ceiling) << c.loss << " at " << c.rate;
        if (ceiling < kMaxDatagramBytes && ceiling > 1472) {
            EXPECT_LE(reassemblyBytes(c.loss, c.rate, ceiling), kFourMegabytes / 2);
            EXPECT_GT(reassemblyBytes(c.loss, c.rate, ceiling + 1), kFourMegabytes / 2);
        }
    }
    EXPECT_TRUE(std::isinf(pictureRateLimit(0.01, 1000, kFourMegabytes / 2)));
    EXPECT_NEAR(pictureRateLimit(0.03, 10700, kFourMegabytes / 2), 20.1, 0.1);
    EXPECT_EQ(pictureRateLimit(0.03, 10700, -1), 0);
}

// Once a second for a minute: voice (50 packets expected, some lost) or pictures (30 sent of 31
// packets each, some received), with the loss stopping after `lossySeconds`.
TEST(LossEstimatorTest, VoiceAndPictureCountsBecomeOnePacketLoss) {
    const struct {
        const char* name;
        bool pictures;
        double a, b; // expected and lost a second; or sent and received
        int lossySeconds;
        double loss;
        double tolerance;
    } cases[] = {
        {"1 % of voice", false, 50, 0.5, 60, 0.01, 0.002},
        {"27 of 30 pictures of 31 packets: 0.34 % of packets", true, 30, 27, 60, 1 - std::pow(0.9, 1.0 / 31),
         3e-4},
        {"2 % of voice that stopped 20 s ago has faded", false, 50, 1, 40, 0.02 * std::exp(-2.0), 0.003},
        {"every picture lost", true, 30, 0, 60, 1, 0.1},
        {"more pictures received than sent is no loss", true, 30, 40, 60, 0, 0},
    };
    for (const auto& c : cases) {
        LossEstimator estimator;
        for (int t = 1; t <= 60; ++t) {
            if (c.pictures)
                estimator.addPictures(t * 1000, c.a, t <= c.lossySeconds ? c.b : c.a, 31);
            else
                estimator.addPackets(t * 1000, c.a, t <= c.lossySeconds ? c.b : 0);
        }
        EXPECT_NEAR(estimator.loss(60000), c.loss, c.tolerance) << c.name;
    }
    // The prior holds a first lost packet down; counters that went backwards and NaN count as nothing.
    LossEstimator estimator;
    estimator.addPackets(1000, 50, 1);
    EXPECT_DOUBLE_EQ(estimator.loss(1000), 1.0 / 150);
    estimator.addPackets(1000, -50, 3);
    estimator.addPackets(1000, std::nan(""), 1);
    estimator.addPictures(1000, 30, 30, std::nan(""));
    estimator.addPictures(1000, 0, 0, 31);
    EXPECT_DOUBLE_EQ(estimator.loss(1000), 1.0 / 150);
}

TEST(JpegSizeModelTest, PredictsFromTheLastPictureAlongOneCurve) {
    JpegSizeModel sizes;
    EXPECT_FALSE(sizes.known());
    EXPECT_EQ(sizes.qualityFor(1000), 100) << "nothing known: the quality stands";
    EXPECT_EQ(sizes.bytesAt(50), 0);
    sizes.observe(100, 80000);
    EXPECT_EQ(sizes.bytesAt(100), 80000);
    EXPECT_NEAR(double(sizes.bytesAt(90)), 80000 * relativeJpegBytes(90), 1);
    sizes.observe(50, 10000); // the picture changed: the latest one counts
    EXPECT_EQ(sizes.bytesAt(50), 10000);
    for (qsizetype target : {500, 5000, 9000, 20000, 40000, 70000, 200000}) {
        const int q = sizes.qualityFor(target);
        EXPECT_TRUE(q == 1 || sizes.bytesAt(q) <= target) << target;
        EXPECT_TRUE(q == 100 || sizes.bytesAt(q + 1) > target) << target;
    }
    sizes.observeAbove(50, 65507); // the encoder stopped at one datagram
    EXPECT_GT(sizes.bytesAt(50), 65507);
    for (int q = 2; q <= 100; ++q)
        EXPECT_GE(relativeJpegBytes(q), relativeJpegBytes(q - 1)) << q;
    EXPECT_EQ(relativeJpegBytes(100), 1.0);
}

// The scene at 640 x 360 comes to about 75 kB at quality 100, 9.6 kB at the floor of 30.
TEST(PictureBudgetTest, LossToCeilingQualityAndRate) {
    JpegSizeModel sizes;
    sizes.observe(100, 75000);
    const struct {
        double loss;
        qsizetype ceiling;
        double rate; // 0: every camera frame
        int quality;
    } cases[] = {
        {0, kMaxDatagramBytes, 0, 100},
        {0.0003, kMaxDatagramBytes, 0, 100},
        {0.001, 47352, 0, 96},
        {0.003, 28112, 0, 89},
        {0.01, 14792, 0, 61},
        // Below the floor at 30 a second: fewer pictures, at the floor's size or a little more.
        {0.03, 11832, 20.11, 37},
        {0.1, 11832, 7.97, 37},
        {0.3, 11832, 5.81, 37},
    };
    for (const auto& c : cases) {
        PictureBudget budget;
        budget.setLoss(0, c.loss);
        const PicturePlan plan = budget.plan(0, 30, sizes);
        EXPECT_EQ(plan.ceilingBytes, c.ceiling) << c.loss;
        EXPECT_NEAR(plan.picturesPerSecond, c.rate, 0.01) << c.loss;
        const int quality = PictureBudget::qualityFor(plan, sizes, 100);
        EXPECT_EQ(quality, c.quality) << c.loss;
        EXPECT_EQ(PictureBudget::qualityFor(plan, sizes, 20), std::min(20, quality))
            << "the step-down caps it";
        if (plan.picturesPerSecond != PictureBudget::kMinPicturesPerSecond) {
            EXPECT_GE(quality, PictureBudget::kQualityFloor)
                << "the rate falls before the quality: " << c.loss;
        }
        EXPECT_EQ(plan.limited(), c.ceiling < kMaxDatagramBytes) << c.loss;
    }
}

TEST(PictureBudgetTest, FallsAtOnceAndClimbsBackOverTensOfSeconds) {
    JpegSizeModel sizes;
    sizes.observe(100, 75000);
    PictureBudget budget;
    budget.setLoss(0, 0.01);
    EXPECT_EQ(budget.plan(0, 30, sizes).ceilingBytes, 14792);
    budget.setLoss(1000, 0.03); // worse: at once
    EXPECT_EQ(budget.plan(1000, 30, sizes).picturesPerSecond > 0, true);
    // The estimate drops to nothing; the budget counts with the loss fading.
    const struct {
        qint64 atMs;
        qsizetype ceiling;
    } climb[] = {{1000, 11832},
                 {6000, 11832},
                 {11000, 17752},
                 {16000, 25152},
                 {21000, 34032},
                 {26000, 48832},
                 {31000, kMaxDatagramBytes}};
    qsizetype last = 0;
    for (const auto& step : climb) {
        budget.setLoss(step.atMs, 0);
        const qsizetype ceiling = budget.plan(step.atMs, 30, sizes).ceilingBytes;
        EXPECT_EQ(ceiling, step.ceiling) << step.atMs;
        EXPECT_GE(ceiling, last);
        last = ceiling;
    }
    EXPECT_FALSE(budget.plan(60000, 30, sizes).limited());
}

// Pictures sent before the loss was known hold the peer's memory for 30 s: until they expire,
// the next pictures are smaller than the long-run ceiling, so that both together stay within
// the 4 MB.
TEST(PictureBudgetTest, PicturesAlreadySentAreCountedUntilTheyExpire) {
    JpegSizeModel sizes;
    sizes.observe(100, 54000);
    PictureBudget budget;
    for (int i = 0; i < 45; ++i) // a second and a half at quality 100, 37 packets each
        budget.noteSent(i * 33, 54000);
    budget.setLoss(1500, 0.03);
    const double committed = budget.committedBytes(1500);
    EXPECT_NEAR(committed, 45 * strandedBytes(0.03, 37), 1);
    EXPECT_GT(committed, 1.5e6);
    const PicturePlan early = budget.plan(1500, 30, sizes);
    const double earlyRate = early.picturesPerSecond > 0 ? early.picturesPerSecond : 30;
    EXPECT_LE(committed + reassemblyBytes(0.03, earlyRate, early.ceilingBytes), kFourMegabytes);
    // 30 s later the early pictures are gone, and the long-run plan is back: larger or more often.
    for (qint64 t = 1500; t <= 31500; t += 1000)
        budget.setLoss(t, 0.03);
    EXPECT_EQ(budget.committedBytes(31500), 0);
    const PicturePlan late = budget.plan(31500, 30, sizes);
    EXPECT_EQ(late, (PicturePlan{pictureCeiling(0.03, 30), 0}));
    EXPECT_TRUE(early.picturesPerSecond > 0 || early.ceilingBytes < late.ceilingBytes);
    EXPECT_GT(reassemblyBytes(0.03, 30, late.ceilingBytes), kFourMegabytes - committed)
        << "the long-run plan would have been too much while the early pictures were kept";

    // Memory thought full: only pictures of one packet can arrive, and those hold nothing.
    for (int i = 0; i < 200; ++i)
        budget.noteSent(40000 + i, 54000);
    EXPECT_GT(budget.committedBytes(40200), kFourMegabytes);
    const PicturePlan full = budget.plan(40200, 30, sizes);
    EXPECT_EQ(full, (PicturePlan{1472, 0}));
    EXPECT_TRUE(full.onePacket());
    EXPECT_FALSE(late.onePacket());
}

// Where the peer reports what the pictures it missed hold, that replaces the guess for every
// picture it has accounted for: loss that begins after 30 s of full pictures no longer looks as
// if all of them were stranded.
TEST(PictureBudgetTest, ThePeersReportReplacesTheGuessForWhatItCovers) {
    JpegSizeModel sizes;
    sizes.observe(100, 54000);
    PictureBudget budget;
    for (int i = 0; i < 900; ++i)
        budget.noteSent(i * 33, 54000);
    budget.setLoss(30000, 0.01);
    EXPECT_TRUE(budget.plan(30000, 30, sizes).onePacket()) << "as if all of them were stranded";
    budget.setPeerHold(PeerHold{400000, 840}); // the last 60 pictures are not yet accounted for
    EXPECT_NEAR(budget.committedBytes(30000), 400000 + 60 * strandedBytes(0.01, 37), 1);
    EXPECT_EQ(budget.plan(30000, 30, sizes), (PicturePlan{pictureCeiling(0.01, 30), 0}));
    budget.setPeerHold(PeerHold{4.5e6, 900}); // full at the peer
    EXPECT_TRUE(budget.plan(30000, 30, sizes).onePacket());
}

} // namespace
} // namespace talvora
