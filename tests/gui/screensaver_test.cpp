#include "gui/MonoGFX.h"
#include "gui/Screensaver.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(Screensaver, ShownOnlyAfterTheChosenIdleTime) {
    Screensaver s;
    EXPECT_EQ(s.screensaver.toString(), "1 min");
    EXPECT_EQ(s.text.toString(), "Touch/press anything to wake up");
    ASSERT_TRUE(s.screensaver.setFromString("10 sec"));
    s.screensaver.constrain();
    EXPECT_EQ(s.seconds(), 10);
    EXPECT_FALSE(s.isDue(7500, false));
    EXPECT_TRUE(s.isDue(7501, false));
    EXPECT_FALSE(s.isDue(7501, true));  // the clock runs
    ASSERT_TRUE(s.screensaver.setFromString("disabled"));
    s.screensaver.constrain();
    EXPECT_FALSE(s.isDue(UINT32_MAX, false));
}

TEST(Screensaver, FirstFrameAndBounces) {
    Screensaver s;
    MonoGFX w;
    w.init(256, 64);
    s.draw(w);
    for (const auto& p : s.particles) {
        // From (-1, -1) to (-1, 0): restarted at the right edge, moving left, still falling.
        EXPECT_EQ(p.x, 255.0f);
        EXPECT_GE(p.y, 0.0f);
        EXPECT_LT(p.y, 64.0f);
        EXPECT_LE(p.vx, 0.0f);
        EXPECT_GE(p.vx, -3.2f);
        EXPECT_EQ(p.vy, 1.0f);
    }
    EXPECT_EQ(s.textX, 91u);
    EXPECT_EQ(s.textY, 11u);

    // Wider than the screen: both horizontal bounces in one frame.
    ASSERT_TRUE(s.text.setFromString(std::string(80, 'W')));
    const int32_t before = s.stepX;
    s.draw(w);
    EXPECT_EQ(s.stepX, before);
    for (const auto& p : s.particles) {
        EXPECT_GE(p.vx, 0.0f);  // sent right by the last bounce
        EXPECT_EQ(p.vy, 0.0f);
        EXPECT_FALSE(std::isnan(p.x) || std::isnan(p.y));
    }
}

}  // namespace
