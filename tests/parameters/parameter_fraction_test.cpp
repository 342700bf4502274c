// The fraction kind: texts, stepping across one, the normalised mapping and
// JSON.
#include "TestModulator.h"
#include "gui/Numpad.h"
#include "parameters/ParameterFraction.h"

#include <gtest/gtest.h>

using json = nlohmann::json;

TEST(ParameterFractionText, WholeNumbersHalvesInversesAndRoundTrips) {
    ParameterFraction r("ratio", ParameterFraction::Ratio, NoFlags, 1.0f);
    const std::pair<float, const char*> texts[] = {{1.0f, "1"}, {0.25f, "1/4"}, {1.5f, "1.50"}, {0.4f, "1/2.50"}};
    for (auto [v, text] : texts) {
        r.setValue(v, false);
        EXPECT_EQ(r.toString(), text);
    }
    for (float v : {3.0f, 7.5f, 48.0f, 1.25f}) {
        r.setValue(v, false);
        ParameterFraction q("ratio", ParameterFraction::Ratio, NoFlags, 1.0f);
        ASSERT_TRUE(q.setFromString(r.toString()));
        EXPECT_FLOAT_EQ(q.getValue(), r.getValue());
    }
    EXPECT_FALSE(r.setFromString("half"));
    EXPECT_FALSE(r.setFromString("nan"));
    EXPECT_FLOAT_EQ(r.getValue(), 1.25f);
}

TEST(ParameterFractionSteps, HalvesAndIntegersCrossOneWithoutAJump) {
    ParameterFraction h("clock mult", ParameterFraction::Halves, XYMorph | Stored | PerChannel, 1.0f, 16, 16);
    std::vector<std::string> seen;
    for (int tick = 0; tick < 9; ++tick) {
        bool stepped = h.changeBy(-1, false, false);
        EXPECT_EQ(stepped, tick % 3 == 2);  // three ticks a step
        if (stepped)
            seen.push_back(h.toString());
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"1/1.5", "1/2", "1/2.5"}));
    EXPECT_FALSE(h.changeBy(1, false, true));  // force is not consulted
    h.setValue(1.0f / 1.5f, false);
    h.changeBy(1, false, false);
    h.changeBy(1, false, false);
    EXPECT_EQ(h.toString(), "1");

    ParameterFraction n("mult", ParameterFraction::Integer, NoFlags, 1.0f);
    auto step = [&](int ticks, bool alt) {
        for (int i = 0; i < 3; ++i)
            n.changeBy(ticks, alt, false);
    };
    step(-1, false);
    EXPECT_EQ(n.toString(), "1/2");
    step(1, false);
    EXPECT_EQ(n.toString(), "1");
    step(1, true);
    EXPECT_EQ(n.toString(), "5");
}

TEST(ParameterFractionRange, NormalisedMappingAndRangeOfOne) {
    ParameterFraction r("ratio", ParameterFraction::Ratio, NoFlags, 1.0f);
    const float expected[] = {1.0f / 48.0f, 1.0f / 24.5f, 1.0f, 24.5f, 48.0f};
    const float xs[] = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f};
    for (int i = 0; i < 5; ++i) {
        r.setNormalised(xs[i]);
        EXPECT_NEAR(r.getValue(), expected[i], 1e-4f) << xs[i];
        EXPECT_NEAR(r.getNormalised(), xs[i], 1e-5f) << xs[i];
    }
    r.setValue(100.0f, false);
    EXPECT_FLOAT_EQ(r.getValue(), 48.0f);
    r.setValue(-1.0f, false);
    EXPECT_FLOAT_EQ(r.getValue(), 1.0f / 48.0f);

    ParameterFraction one("fixed", ParameterFraction::Ratio, NoFlags, 1.0f, 1.0f, 1.0f);
    one.setNormalised(0.2f);
    EXPECT_FLOAT_EQ(one.getValue(), 1.0f);
    EXPECT_FLOAT_EQ(one.getNormalised(), 0.5f);
    ParameterFraction zero("zero", ParameterFraction::Ratio, NoFlags, 1.0f, 0.0f, 0.0f);
    EXPECT_TRUE(std::isfinite(zero.modulationMin));
    EXPECT_TRUE(std::isfinite(zero.getNormalised()));
}

TEST(ParameterFractionState, ResetJsonSlotsAndMorph) {
    ParameterFraction r("ratio", ParameterFraction::Ratio, MultiSlot, 1.0f);
    for (int i = 0; i < 3 * 4; ++i)
        r.changeBy(1, false, false);
    EXPECT_EQ(r.toString(), "3");
    r.resetToDefault();
    EXPECT_EQ(r.toString(), "1");
    json j = json::parse(R"({"value": 0.125})");
    r.fromJson(j, nullptr, FileVersion());
    EXPECT_EQ(r.toString(), "1/8");
    j = json::parse(R"({"value": [2, 0.5, 100]})");
    r.fromJson(j, nullptr, FileVersion());
    EXPECT_FLOAT_EQ(r.getValue(), 2.0f);
    r.selectSlot(1);
    EXPECT_EQ(r.toString(), "1/2");
    r.copySlot(0, 1);
    r.selectSlot(1);
    EXPECT_EQ(r.toString(), "2");
    EXPECT_FLOAT_EQ(r.toJson()["value"][1].get<float>(), 2.0f);

    ParameterFraction m("ratio", ParameterFraction::Ratio, XYMorph, 1.0f);
    setSlots<float>(m.values, {1, 0.5f, 0.5f, 0.25f, 0.25f});
    m.overridden = false;
    m.morphXY(0.3f, 0.5f);
    EXPECT_FLOAT_EQ(m.values[0], 0.375f);
    EXPECT_TRUE(m.inverted);
}

TEST(ParameterFractionEditor, OnlyRatiosAreTypedIn) {
    Driver::numpad.close();
    ParameterFraction h("clock mult", ParameterFraction::Halves, NoFlags, 1.0f);
    h.openEditor();
    EXPECT_FALSE(Driver::numpad.isOpen());
    EXPECT_EQ(Driver::numpad.target, &h);
    ParameterFraction r("ratio", ParameterFraction::Ratio, NoFlags, 2.0f);
    r.openEditor();
    EXPECT_EQ(Driver::numpad.text, "2");
    EXPECT_EQ(Driver::numpad.title, "edit value: ratio");
    Driver::numpad.close();
}
