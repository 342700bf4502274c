// The subtractive engine object: page places and actions, sample-list
// registration and the overview picture.
#include "engines/subtractive/SubtractiveCommon.h"

#include "gui/MonoGFX.h"
#include "tests/support/engines_harness.h"

#include <gtest/gtest.h>

namespace {

TEST(SubtractiveCommon, ConditionalPagePlacesFollowTheActions) {
    SubtractiveCommon c;
    EXPECT_EQ(c.exposedParameters[2].load(), &c.filtShape);
    EXPECT_EQ(c.exposedParameters[7].load(), nullptr);
    c.handleAction(15, 0);
    EXPECT_EQ(c.sourceB.toString(), "sample");
    EXPECT_EQ(c.exposedParameters[7].load(), &c.samples);
    c.handleAction(15, 0);
    EXPECT_EQ(c.exposedParameters[7].load(), nullptr);
    c.handleAction(10, 0);
    EXPECT_EQ(c.exposedParameters[2].load(), nullptr);
    c.handleAction(10, 0);  // wraps back to "12dB SVF"
    EXPECT_EQ(c.filtType.toString(), "12dB SVF");
    EXPECT_EQ(c.exposedParameters[2].load(), &c.filtShape);

    // A change from elsewhere shows after a refresh, which keeps the envelope slot.
    c.selectEnvSlot(2);
    c.sourceB.setValue(1, true);
    c.refreshEnvSlot();
    EXPECT_EQ(c.exposedParameters[7].load(), &c.samples);
    EXPECT_EQ(c.exposedParameters[13].load(), &c.envAttack[2]);
}

TEST(SubtractiveCommon, SampleListChoicesComeFromThePool) {
    SubtractiveCommon c;
    EXPECT_EQ(c.samples.toString(), "none");
    enginetest::TestSamplePool pool;
    pool.lists["drums"];
    c.registerSampleLists();
    ASSERT_EQ(pool.registered, std::vector<ParameterInt*>{&c.samples});
    EXPECT_EQ(c.samples.choiceName(1), "drums");
}

uint32_t brightest(const MonoGFX& g, int x0, int y0, int x1, int y1) {
    uint32_t m = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) m = std::max(m, g.pixel(x, y));
    return m;
}

TEST(SubtractiveCommon, OverviewMarksTheFilterShape) {
    SubtractiveCommon c;
    const int x = 100, y = 10;
    for (float shape : {2.5f, 2.0f}) {
        MonoGFX g;
        g.init(256, 64);
        c.filtShape.setValue(shape, true);
        c.drawOverview(g, 0, 0, x, y);
        EXPECT_EQ(brightest(g, x + 20, y, x + 44, y + 7), 8u);  // title ends at x + 44
        EXPECT_EQ(brightest(g, x + 45, y, x + 80, y + 7), 0u);
        const int marker = x + 5 + int(lroundf(shape * 9.0f));
        EXPECT_EQ(g.pixel(marker, y + 23), 15u);
        EXPECT_EQ(g.pixel(marker - 1, y + 23), 0u);
        for (int i = 0; i < 5; ++i) {
            const bool lit = i == 2 || (i == 3 && shape == 2.5f);
            EXPECT_EQ(brightest(g, x + 2 + 9 * i, y + 26, x + 9 + 9 * i, y + 32), lit ? 15u : 8u) << shape << i;
        }
    }
    MonoGFX g;
    g.init(256, 64);
    c.handleAction(10, 0);
    c.drawOverview(g, 0, 0, 0, 0);
    EXPECT_EQ(brightest(g, 0, 23, 60, 24), 12u);  // "24dB" and its icon instead of the shape line
}

}  // namespace
