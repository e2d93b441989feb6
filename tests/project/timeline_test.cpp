#include "project/timeline.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace kestrelle {
namespace {

TEST(TimelineTest, RoundHalfDownSendsExactHalvesDown) {
    EXPECT_EQ(roundHalfDown(0.5), 0);
    EXPECT_EQ(roundHalfDown(1.5), 1);
    EXPECT_EQ(roundHalfDown(2.5), 2);
    EXPECT_EQ(roundHalfDown(29.5), 29);
    EXPECT_EQ(roundHalfDown(1.5000001), 2);
    EXPECT_EQ(roundHalfDown(2.51), 3);
    EXPECT_EQ(roundHalfDown(29.51), 30);
    EXPECT_EQ(roundHalfDown(0.49), 0);
    EXPECT_EQ(roundHalfDown(29.97), 30);
    EXPECT_EQ(roundHalfDown(29.97 * 0.5), 15);
    EXPECT_EQ(roundHalfDown(3.0), 3);
    // Negative values are truncated.
    EXPECT_EQ(roundHalfDown(-2.7), -2);
    EXPECT_EQ(roundHalfDown(-0.5), 0);
}

TEST(TimelineTest, RoundHalfDownSaturatesOutsideIntRange) {
    EXPECT_EQ(roundHalfDown(std::nan("")), 0);
    EXPECT_EQ(roundHalfDown(std::numeric_limits<double>::infinity()), INT_MAX);
    EXPECT_EQ(roundHalfDown(-std::numeric_limits<double>::infinity()), INT_MIN);
    EXPECT_EQ(roundHalfDown(1e300), INT_MAX);
    EXPECT_EQ(roundHalfDown(static_cast<double>(INT_MAX)), INT_MAX);
    EXPECT_EQ(roundHalfDown(static_cast<double>(INT_MAX) + 0.6), INT_MAX);
    EXPECT_EQ(roundHalfDown(static_cast<double>(INT_MIN)), INT_MIN);
}

TEST(TimelineTest, FrameRateIndexesOutsideTheTableMeanNtsc) {
    EXPECT_DOUBLE_EQ(frameRateForIndex(0), 29.97);
    EXPECT_DOUBLE_EQ(frameRateForIndex(1), 25.0);
    EXPECT_DOUBLE_EQ(frameRateForIndex(2), 15.0);
    EXPECT_DOUBLE_EQ(frameRateForIndex(7), 29.97);
    EXPECT_DOUBLE_EQ(frameRateForIndex(3), 60.0);  // the MP4 codecs' rate
    EXPECT_DOUBLE_EQ(frameRateForIndex(4), 29.97);
    EXPECT_DOUBLE_EQ(frameRateForIndex(-1), 29.97);
    EXPECT_DOUBLE_EQ(frameRateForIndex(INT_MIN), 29.97);
}

TEST(TimelineTest, BudgetUsesRoundedRateAndCountsUseExactRate) {
    const double fps = frameRateForIndex(0);
    // One photo of 3.0 s with a 1.0 s transition.
    EXPECT_EQ(frameBudget(4.0, fps), 120);
    EXPECT_EQ(slideFrameCount(3.0, fps), 90);       // roundHalfDown(89.91)
    EXPECT_EQ(transitionFrameCount(1.0, fps), 30);  // roundHalfDown(29.97)
    // 20.0 s at 29.97: roundHalfDown(599.4) still frames, budget trunc(21 x 30).
    EXPECT_EQ(slideFrameCount(20.0, fps), 599);
    EXPECT_EQ(frameBudget(21.0, fps), 630);
    EXPECT_EQ(transitionFrameCount(1.0, frameRateForIndex(1)), 25);
    EXPECT_EQ(frameBudget(10.9, frameRateForIndex(2)), 163);
}

TEST(TimelineTest, HostileDurationsGiveFrameCountsWithinIntRange) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::nan("");
    for (double fps : {29.97, 25.0, 15.0}) {
        EXPECT_EQ(slideFrameCount(0.0, fps), 0);
        EXPECT_EQ(slideFrameCount(-5.0, fps), 0);
        EXPECT_EQ(slideFrameCount(nan, fps), 0);
        EXPECT_EQ(slideFrameCount(-inf, fps), 0);
        EXPECT_EQ(slideFrameCount(inf, fps), INT_MAX);
        EXPECT_EQ(slideFrameCount(1e300, fps), INT_MAX);
        EXPECT_EQ(transitionFrameCount(-1.0, fps), 0);
        EXPECT_EQ(transitionFrameCount(1e18, fps), INT_MAX);
        EXPECT_EQ(frameBudget(-4.0, fps), 0);
        EXPECT_EQ(frameBudget(nan, fps), 0);
        EXPECT_EQ(frameBudget(inf, fps), INT_MAX);
        EXPECT_EQ(frameBudget(1e12, fps), INT_MAX);
    }
    // A hostile rate is no better.
    EXPECT_EQ(frameBudget(4.0, nan), 0);
    EXPECT_EQ(frameBudget(4.0, -30.0), 0);
    EXPECT_EQ(frameBudget(inf, 0.0), 0);
    EXPECT_EQ(slideFrameCount(3.0, inf), INT_MAX);
    EXPECT_EQ(slideFrameCount(0.0, inf), 0);  // inf x 0 is NaN
}

}  // namespace
}  // namespace kestrelle
