// A call whose devices stop and come back, on in-memory devices.
#include "SignalAnalysis.h"
#include "TestPhone.h"
#include "support/EventLoop.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace talvora::voice {
namespace {

using test::sine;
using test::TestPhone;
using test::toneAmplitude;

// The loudest tone of `frequencyHz` in 100 ms windows of `samples`.
double loudestTone(std::span<const std::int16_t> samples, double frequencyHz) {
    double loudest = 0;
    for (std::size_t at = 0; at + 4800 <= samples.size(); at += 4800) {
        loudest = std::max(loudest, toneAmplitude(samples.subspan(at, 4800), frequencyHz));
    }
    return loudest;
}

// Like a sound server that restarts, or a headset unplugged and plugged in again: each device of
// a stops after half a second and can be opened again. The call takes them up again with one
// notice for each.
TEST(MediaTerminal, DevicesThatComeBackAreTakenUpAgain) {
    TestPhone a("127.0.0.2", {.signal = sine(440, 5000),
                              .sourceFailsAfterSamples = 24000,
                              .sinkFailsAfterSamples = 24000,
                              .failedDevicesReturn = true});
    TestPhone b("127.0.0.3", {.signal = sine(1000, 5000)});
    a.start("127.0.0.3");
    b.start("127.0.0.2");
    ASSERT_TRUE(talvora::test::waitUntil([&] { return a.audio().sourceOpens() >= 2; }, 10000));
    const std::size_t fromB = b.recording().size();
    ASSERT_TRUE(talvora::test::waitUntil(
        [&] { return a.audio().sourceOpens() >= 3 && a.audio().sinkOpens() >= 3; }, 10000));
    talvora::test::pumpEvents(100);
    EXPECT_EQ(a.notices().size(), 2) << a.notices().join('|').toStdString();
    // a's microphone was heard again after it came back, and a played on its reopened speakers.
    const auto atB = b.recording().samples();
    ASSERT_GT(atB.size(), fromB);
    EXPECT_GT(loudestTone(std::span(atB).subspan(fromB), 440), 2500);
    const auto atA = a.recording().samples();
    ASSERT_GT(atA.size(), 48000u);
    EXPECT_GT(loudestTone(std::span(atA).subspan(24000), 1000), 2500);
    a.stop();
    b.stop();
}

} // namespace
} // namespace talvora::voice
