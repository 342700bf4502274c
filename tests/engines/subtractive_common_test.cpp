// The subtractive engine object: its parameters, page places, actions,
// sample-list registration, stored form and overview picture.
#include "engines/subtractive/SubtractiveCommon.h"

#include "gui/MonoGFX.h"
#include "tests/support/TempDir.h"
#include "tests/support/engines_harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace {

TEST(SubtractiveCommon, OwnParametersFollowTheSharedOnesInGroupOrder) {
    SubtractiveCommon c;
    EXPECT_EQ(c.engineType, 4u);
    EXPECT_EQ(c.parameters.name, "subtractive");
    EXPECT_EQ(c.settingsGroup.name, "subtractive");
    const std::vector<std::string> own = {"A",          "filt type",  "B",         "1/2 mix",   "1 shape",
                                          "2 saw/sqr",  "1 offset",   "1 ratio",   "2 ratio",   "filt shape",
                                          "filt freq",  "filt reso",  "filt env",  "B vol",     "samples"};
    ASSERT_EQ(c.parameters.parameters.size(), 19u + own.size());
    for (size_t i = 0; i < own.size(); ++i) EXPECT_EQ(c.parameters.parameters[19 + i]->name, own[i]);
    // Only the first ratio is smoothed.
    EXPECT_TRUE(c.ratio1.smoothing);
    EXPECT_FALSE(c.ratio2.smoothing);
    EXPECT_TRUE(c.ratio2.xyMorph && c.ratio2.stored && c.ratio2.channelCount == 8);
    EXPECT_TRUE(c.filtFreq.xyMorph && c.filtFreq.stored && c.filtFreq.smoothing && c.filtFreq.channelCount == 8);
    EXPECT_FALSE(c.filtType.xyMorph);
    EXPECT_EQ(c.envSlotNames, (std::vector<std::string>{"env 1", "env 2", "env 3"}));
    EXPECT_EQ(c.envSlots(), 3u);
}

TEST(SubtractiveCommon, DefaultsAndRangesAsTheVoiceReadsThem) {
    SubtractiveCommon c;
    EXPECT_FLOAT_EQ(c.detune.getValue(), 0.1f);
    const float banks[4][3] = {{0, 100, 200}, {0, 100, 200}, {0, 0, 200}, {0, 0, 200}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(c.envAttack[i].getValue(), banks[i][0]);
        EXPECT_FLOAT_EQ(c.envHold[i].getValue(), banks[i][1]);
        EXPECT_FLOAT_EQ(c.envDecay[i].getValue(), banks[i][2]);
    }
    EXPECT_EQ(c.a.toString(), "quad RM");
    EXPECT_EQ(c.filtType.toString(), "12dB SVF");
    EXPECT_EQ(c.sourceB.toString(), "noise");
    for (int i = 0; i < 600; ++i) c.updateBlock();
    EXPECT_NEAR(c.filtFreq.getModulated(0, false, false), 19000.0f, 1.0f);
    EXPECT_NEAR(c.offset1.getModulated(0, false, false), 0.5f, 1e-4f);
    EXPECT_LT(c.volumeB.getModulated(0, false, false), 2e-5f);  // -96 dB: silence
    EXPECT_NEAR(c.mix.getModulated(3, false, false), 0.5f, 1e-5f);
    EXPECT_NEAR(c.filtReso.getModulated(0, false, false), 0.3f, 1e-5f);
    // Ranges from the display modes and the ratio kind.
    c.filtFreq.setValue(50000.0f, true);
    EXPECT_NEAR(std::exp2(c.filtFreq.getValue()), 19000.0f, 1.0f);
    c.filtFreq.setValue(1.0f, true);
    EXPECT_NEAR(std::exp2(c.filtFreq.getValue()), 10.0f, 0.01f);
    c.offset1.setValue(100.0f, true);
    EXPECT_NEAR(std::exp2(c.offset1.getValue()), 20.0f, 0.01f);
    c.ratio1.setValue(100.0f, true);
    EXPECT_FLOAT_EQ(c.ratio1.getValue(), 48.0f);
    c.volumeB.setValue(20.0f, true);
    EXPECT_FLOAT_EQ(c.volumeB.getValue(), 6.0f);
    c.filtEnv.setValue(-100.0f, true);
    EXPECT_FLOAT_EQ(c.filtEnv.getValue(), -1.0f);
}

TEST(SubtractiveCommon, PagePlacesAndActions) {
    SubtractiveCommon c;
    const Parameter* expected[16] = {&c.offset1,    &c.mix,      &c.filtShape, &c.volumeB,      &c.ratio1,
                                     &c.ratio2,     &c.filtFreq, nullptr,      &c.shape1,       &c.sawSquare2,
                                     &c.filtReso,   &c.detune,   nullptr,      &c.envAttack[0], &c.envHold[0],
                                     &c.envDecay[0]};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(c.exposedParameters[size_t(i)], expected[i]) << i;

    c.handleAction(15, 0);
    EXPECT_EQ(c.sourceB.toString(), "sample");
    EXPECT_TRUE(c.sourceB.overridden);
    EXPECT_EQ(c.exposedParameters[7], &c.samples);
    c.handleAction(15, 0);
    EXPECT_EQ(c.exposedParameters[7], nullptr);

    c.handleAction(10, 0);
    EXPECT_EQ(c.filtType.toString(), "24dB LPF");
    EXPECT_EQ(c.exposedParameters[2], nullptr);
    c.handleAction(10, 0);  // wraps back
    EXPECT_EQ(c.filtType.toString(), "12dB SVF");
    EXPECT_EQ(c.exposedParameters[2], &c.filtShape);

    c.handleAction(11, 0);
    EXPECT_EQ(c.filtType.value, 0);
    EXPECT_EQ(c.sourceB.value, 0);

    // A change from elsewhere shows after the next refresh; the envelope slot stays.
    c.selectEnvSlot(2);
    c.sourceB.setValue(1, true);
    EXPECT_EQ(c.exposedParameters[7], nullptr);
    c.refreshEnvSlot();
    EXPECT_EQ(c.exposedParameters[7], &c.samples);
    EXPECT_EQ(c.exposedParameters[13], &c.envAttack[2]);
}

TEST(SubtractiveCommon, SampleListChoicesComeFromThePool) {
    SubtractiveCommon c;
    EXPECT_EQ(c.samples.toString(), "none");
    c.registerSampleLists();  // no pool: nothing happens
    enginetest::TestSamplePool pool;
    pool.lists["drums"];
    pool.lists["voices"];
    c.registerSampleLists();
    ASSERT_EQ(pool.registered.size(), 1u);
    EXPECT_EQ(pool.registered[0], &c.samples);
    EXPECT_EQ(c.samples.choiceCount(), 3u);
    EXPECT_EQ(c.samples.choiceName(2), "voices");
}

TEST(SubtractiveCommon, StoredFormKeepsUnusedParameters) {
    SubtractiveCommon c;
    c.filtEnv.setValue(-40.0f, true);
    c.envDecay[3].setValue(1234.0f, true);
    nlohmann::json j;
    c.parameters.toJson(j);
    const std::string path = testsupport::tempDir() + "subtractive.json";
    std::ofstream(path) << j.dump(1, '\t');
    const std::string query = "jq -e '(.[\"filt env\"].value[0] + 0.4 | fabs < 1e-6) and "
                              "(.[\"4 decay\"].value[0] == 1234) and has(\"samples\") and has(\"B vol\")' " +
                              path + " > /dev/null";
    EXPECT_EQ(std::system(query.c_str()), 0) << j.dump();

    SubtractiveCommon back;
    back.parameters.fromJson(j, nullptr, FileVersion{});
    EXPECT_FLOAT_EQ(back.filtEnv.getValue(), -0.4f);
    EXPECT_FLOAT_EQ(back.envDecay[3].getValue(), 1234.0f);
}

// Brightest level in a rectangle.
uint32_t brightest(const MonoGFX& g, int x0, int y0, int x1, int y1) {
    uint32_t m = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) m = std::max(m, g.pixel(x, y));
    return m;
}

TEST(SubtractiveCommon, OverviewMarksTheFilterShape) {
    SubtractiveCommon c;
    MonoGFX g;
    g.init(256, 64);
    const int x = 100, y = 10;
    c.filtShape.setValue(2.5f, true);
    c.drawOverview(g, 0, 0, x, y);
    // Title right-aligned at x + 44 in colour 8.
    EXPECT_EQ(brightest(g, x + 20, y, x + 44, y + 7), 8u);
    EXPECT_EQ(brightest(g, x + 45, y, x + 80, y + 7), 0u);
    // Marker at x + 5 + 23 above the colour-4 line.
    EXPECT_EQ(g.pixel(x + 28, y + 23), 15u);
    EXPECT_EQ(g.pixel(x + 27, y + 23), 0u);
    EXPECT_EQ(g.pixel(x + 40, y + 24), 4u);
    const uint32_t lit[5] = {8, 8, 15, 15, 8};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(brightest(g, x + 2 + 9 * i, y + 26, x + 9 + 9 * i, y + 32), lit[i]) << "icon " << i;
    // "B: noise" in colours 8 and 15.
    EXPECT_EQ(brightest(g, x + 2, y + 34, x + 10, y + 41), 8u);
    EXPECT_EQ(brightest(g, x + 14, y + 34, x + 40, y + 41), 15u);

    MonoGFX g2;
    g2.init(256, 64);
    c.filtShape.setValue(2.0f, true);
    c.drawOverview(g2, 0, 0, 0, 0);
    const uint32_t lit2[5] = {8, 8, 15, 8, 8};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(brightest(g2, 2 + 9 * i, 26, 9 + 9 * i, 32), lit2[i]) << "icon " << i;

    MonoGFX g3;
    g3.init(256, 64);
    c.handleAction(10, 0);
    c.drawOverview(g3, 0, 0, 0, 0);
    EXPECT_EQ(brightest(g3, 0, 23, 60, 24), 12u);  // icon and "24dB", no shape line
    EXPECT_EQ(g3.pixel(40, 24), 0u);
}

}  // namespace
