#include "voice/engine/Levels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace talvora::voice {
namespace {

TEST(Levels, MapsTheSliderRangeOntoGain) {
    struct Row {
        int level;
        double gain;
    };
    for (const Row& row : {Row{-5, 0.0}, Row{0, 0.0}, Row{1, std::pow(10.0, -39.5 / 20)},
                           Row{60, 0.316227766}, Row{80, 1.0}, Row{100, 3.16227766}, Row{150, 3.16227766}}) {
        EXPECT_NEAR(levelToGain(row.level), row.gain, 1e-6) << "level " << row.level;
    }
}

TEST(Levels, UnityLeavesSamplesUntouched) {
    GainStage stage(80);
    std::vector<std::int16_t> samples{-32768, -1, 0, 1, 12345, 32767};
    const auto before = samples;
    stage.apply(samples, 80);
    EXPECT_EQ(samples, before);
}

TEST(Levels, ChangeTakesEffectWithinOneFrameAndSaturates) {
    GainStage stage(80);
    std::vector<std::int16_t> frame(960, 20000);
    stage.apply(frame, 100); // ramps from 1.0 up to 3.16 across this frame
    EXPECT_LT(frame.front(), 20100);
    EXPECT_EQ(frame.back(), 32767);
    std::vector<std::int16_t> next(960, -20000);
    stage.apply(next, 100);
    for (std::int16_t s : next) {
        ASSERT_EQ(s, -32768);
    }
    std::vector<std::int16_t> muted(960, 1000);
    stage.apply(muted, 0);
    EXPECT_EQ(muted.back(), 0);
    std::vector<std::int16_t> silent(960, 1000);
    stage.apply(silent, 0);
    for (std::int16_t s : silent) {
        ASSERT_EQ(s, 0);
    }
}

} // namespace
} // namespace talvora::voice
