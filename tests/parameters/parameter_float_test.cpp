// The float kind: display modes, stepping, text, normalised values,
// snapshots and JSON.
#include "TestModulator.h"
#include "gui/Numpad.h"
#include "parameters/ParameterFloat.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

using json = nlohmann::json;

TEST(ParameterFloatModes, TempoTextNormalisedAndConversion) {
    ParameterFloat bpm("BPM", ParameterFloat::Bpm, Stored, 100.0f, 0.0f, 240.0f);
    EXPECT_EQ(bpm.toString(false), "100.0");
    EXPECT_EQ(bpm.toString(true), "1.67 Hz");
    EXPECT_FLOAT_EQ(bpm.converted, 1.6666667f);
    bpm.setNormalised(0.5f);
    EXPECT_FLOAT_EQ(bpm.getValue(), 120.0f);
    EXPECT_FLOAT_EQ(bpm.getNormalised(), 0.5f);
}

TEST(ParameterFloatModes, HertzStoresLog2AndStepsInOctaves) {
    ParameterFloat f("freq", ParameterFloat::Hertz, Smoothed, 440.0f);
    EXPECT_NEAR(f.getValue(), 8.78136f, 1e-4f);
    EXPECT_EQ(f.toString(), "440.0 Hz");
    f.smoothing = false;
    f.updateBlock();
    EXPECT_NEAR(f.output, 440.0f, 0.01f);
    EXPECT_TRUE(f.changeBy(1, false, false));
    EXPECT_EQ(f.toString(), "488.2 Hz");
    f.setValue(440.0f, false);
    f.changeBy(1, true, false);
    EXPECT_EQ(f.toString(), "455.5 Hz");
    f.setValue(2000.0f, false);
    EXPECT_EQ(f.toString(), "2.00 kHz");
    f.setValue(12000.0f, false);
    EXPECT_EQ(f.toString(), "12.0 kHz");
    f.setValue(50.0f, false);
    EXPECT_EQ(f.toString(), "50.00 Hz");
    f.setValue(0.0f, false);  // log2 of 0.00001, then the 20 Hz floor
    EXPECT_NEAR(f.converted, 20.0f, 0.01f);
    EXPECT_NEAR(f.modulationMin, 20.0f, 1e-4f);
    EXPECT_NEAR(f.modulationMax, 19000.0f, 1e-2f);
    // a bound of 0 Hz has no logarithm: refused
    f.setMin(0.0f);
    EXPECT_NEAR(f.modulationMin, 20.0f, 1e-4f);
    EXPECT_TRUE(std::isfinite(f.getNormalised()));
}

TEST(ParameterFloatModes, DecibelsFloorAndCoarserLowSteps) {
    ParameterFloat db("gain", ParameterFloat::Decibels, NoFlags, -96.0f);
    EXPECT_EQ(db.toString(), "-inf dB");
    EXPECT_FLOAT_EQ(db.converted, 0.0f);
    db.setValue(-36.0f, false);
    db.changeBy(1, false, false);
    EXPECT_FLOAT_EQ(db.getValue(), -35.0f);
    db.setValue(-30.0f, false);
    db.changeBy(1, false, false);
    EXPECT_FLOAT_EQ(db.getValue(), -29.5f);
    EXPECT_EQ(db.toString(), "-29.5 dB");
    db.setValue(6.0f, false);
    EXPECT_NEAR(db.converted, std::pow(10.0f, 0.3f), 1e-5f);
}

TEST(ParameterFloatModes, MillisecondStepsAreGraded) {
    ParameterFloat t("time", ParameterFloat::Milliseconds, NoFlags, 40.0f, 0.0f, 10000.0f);
    struct Case {
        float from;
        bool fine;
        float to;
    } cases[] = {{40, false, 41}, {100, false, 105}, {100, true, 102}, {500, false, 525},
                 {500, true, 502}, {3000, false, 3100}, {3000, true, 3025}};
    for (const Case& c : cases) {
        t.setValue(c.from, false);
        t.changeBy(1, c.fine, false);
        EXPECT_FLOAT_EQ(t.getValue(), c.to) << c.from << (c.fine ? " fine" : "");
    }
    t.setValue(999.0f, false);
    EXPECT_EQ(t.toString(), "999 ms");
    t.setValue(1500.0f, false);
    EXPECT_EQ(t.toString(), "1.50 s");
    t.setValue(0.0f, false);
    EXPECT_TRUE(std::isinf(t.converted));
}

TEST(ParameterFloatModes, PercentSemitonesPlainAndWrap) {
    ParameterFloat pc("mix", ParameterFloat::Percent, NoFlags, 0.0f);
    pc.setValue(50.0f, false);
    EXPECT_FLOAT_EQ(pc.getValue(), 0.5f);
    EXPECT_EQ(pc.toString(), "50.0 %");

    ParameterFloat st("tune", ParameterFloat::Semitones, NoFlags, 12.0f);
    EXPECT_EQ(st.toString(), "+12.00");
    EXPECT_EQ(st.toString(true), "x2.000");

    ParameterFloat w("phase", ParameterFloat::Plain, Wrap, 0.0f, 0.0f, 1.0f);
    w.setValue(1.2f, false);
    EXPECT_FLOAT_EQ(w.getValue(), 0.0f);
    w.setValue(-0.1f, false);
    EXPECT_FLOAT_EQ(w.getValue(), 1.0f);

    ParameterFloat big("big", ParameterFloat::Plain, NoFlags, 0.0f);
    big.setValue(3e38f, false);
    EXPECT_LE(big.toString().size(), 15u);
}

TEST(ParameterFloatText, RoundTripsThroughItsOwnText) {
    struct Case {
        uint32_t mode;
        float value;
        float min, max;
    } cases[] = {{ParameterFloat::Plain, 0.37f, -5, 5},       {ParameterFloat::Semitones, -7.25f, -FLT_MAX, FLT_MAX},
                 {ParameterFloat::Bpm, 133.5f, -FLT_MAX, FLT_MAX}, {ParameterFloat::Decibels, -12.5f, -FLT_MAX, FLT_MAX}};
    for (const Case& c : cases) {
        ParameterFloat p("p", c.mode, NoFlags, 0.0f, c.min, c.max);
        p.setValue(c.value, false);
        const float before = p.getValue();
        ParameterFloat q("q", c.mode, NoFlags, 0.0f, c.min, c.max);
        ASSERT_TRUE(q.setFromString(p.toString())) << p.toString();
        EXPECT_NEAR(q.getValue(), before, 1e-4f) << c.mode;
    }
}

TEST(ParameterFloatText, BadTextIsRefusedAndTheValueKept) {
    ParameterFloat p("x", ParameterFloat::Plain, NoFlags, 2.0f, 0.0f, 10.0f);
    EXPECT_FALSE(p.setFromString("abc"));
    EXPECT_FALSE(p.setFromString(""));
    EXPECT_FALSE(p.setFromString("1e39"));
    EXPECT_FALSE(p.setFromString("nan"));
    EXPECT_FALSE(p.setFromString("-inf"));
    EXPECT_FLOAT_EQ(p.getValue(), 2.0f);
    p.overridden = false;
    EXPECT_TRUE(p.setFromString("  3.5kg"));
    EXPECT_FLOAT_EQ(p.getValue(), 3.5f);
    EXPECT_FALSE(p.overridden);  // typed values are not user overrides
}

TEST(ParameterFloatText, NonFiniteValuesFromAnySetterAreRefused) {
    ParameterFloat p("x", ParameterFloat::Plain, NoFlags, 2.0f, 0.0f, 10.0f);
    p.setValue(NAN, true);
    p.setValue(INFINITY, true);
    p.setNormalised(NAN);
    EXPECT_FLOAT_EQ(p.getValue(), 2.0f);
    json j = json::parse(R"({"value": 1e300})");
    p.fromJson(j, nullptr, FileVersion());
    EXPECT_FLOAT_EQ(p.getValue(), 2.0f);
}

TEST(ParameterFloatSnapshots, MorphMidpointAndOverride) {
    ParameterFloat p("x", ParameterFloat::Plain, XYMorph, 0.0f, -10.0f, 10.0f);
    setSlots<float>(p.values, {0, 0, 1, 2, 3});
    p.overridden = false;
    p.morphXY(0.5f, 0.5f);
    EXPECT_FLOAT_EQ(p.values[0], 1.5f);
    p.morphXY(1.0f, 0.0f);
    EXPECT_FLOAT_EQ(p.values[0], 1.0f);
    p.changeBy(1, false, false);
    EXPECT_TRUE(p.overridden);
    const float held = p.values[0];
    p.morphXY(0.0f, 1.0f);
    EXPECT_FLOAT_EQ(p.values[0], held);
    p.storeSnapshot(6);  // (6 & 3) + 1 = slot 3
    EXPECT_FLOAT_EQ(p.values[3], held);
    EXPECT_FALSE(p.overridden);
    p.morphXY(0.0f, 1.0f);
    EXPECT_FLOAT_EQ(p.values[0], held);
    p.setValue(5.0f, true);
    p.resetSnapshots();
    EXPECT_EQ(plain(p.values), (std::vector<float>{5, 5, 5, 5, 5}));
}

TEST(ParameterFloatSlots, MultiSlotSelectsAndCopiesWithChecks) {
    ParameterFloat p("x", ParameterFloat::Plain, MultiSlot | XYMorph, 1.0f, 0.0f, 30.0f);
    ASSERT_EQ(p.values.size(), 25u);
    EXPECT_FALSE(p.xyMorph);
    p.selectSlot(4);
    p.setValue(7.0f, false);
    p.copySlot(4, 24);
    EXPECT_FLOAT_EQ(p.values[24], 7.0f);
    p.selectSlot(25);  // out of range: ignored
    p.copySlot(4, 99);
    EXPECT_EQ(p.activeSlot, 4u);
    p.selectSlot(0);
    EXPECT_FLOAT_EQ(p.getValue(), 1.0f);
}

TEST(ParameterFloatJson, ClampsAndFixesOldModulatorAmounts) {
    ParameterFloat bpm("BPM", ParameterFloat::Bpm, Stored, 100.0f, 0.0f, 240.0f);
    json j = json::parse(R"({"value": 300})");
    bpm.fromJson(j, nullptr, FileVersion());
    EXPECT_FLOAT_EQ(bpm.getValue(), 240.0f);

    ParameterFloat f("freq", ParameterFloat::Hertz, Stored | PerChannel, 440.0f);
    EXPECT_NEAR(f.toJson()["value"].get<float>(), 8.78136f, 1e-4f);
    TestManager manager;
    json old = json::parse(R"({"value": 8.78136, "modulator": [{"modulator type": "LFO", "amount": {"value": [1.1]}},
                                                             {"modulator type": "LFO"}]})");
    testing::internal::CaptureStdout();
    f.fromJson(old, &manager, FileVersion::fromText("0.1.20"));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[Old firmware fix] reduced mod amount to freq par [freq]\n"), std::string::npos);
    EXPECT_NE(out.find("[Old firmware fix] can't reduce mod amount freq [freq]\n"), std::string::npos);
    ASSERT_EQ(f.modulators.size(), 2u);
    EXPECT_NEAR(static_cast<TestModulator*>(f.modulators[0].get())->amount.values[0], 0.3f, 1e-6f);

    // From 0.1.26 on the amounts are read as they are.
    json current = json::parse(R"({"value": 8.78136, "modulator": [{"modulator type": "LFO", "amount": {"value": [0.6]}}]})");
    testing::internal::CaptureStdout();
    f.fromJson(current, &manager, FileVersion::fromText("0.1.26"));
    EXPECT_EQ(testing::internal::GetCapturedStdout().find("Old firmware"), std::string::npos);
    EXPECT_NEAR(static_cast<TestModulator*>(f.modulators[0].get())->amount.values[0], 0.6f, 1e-6f);
}

TEST(ParameterFloatEditor, OpensTheNumberPadWithSixDecimals) {
    Driver::numpad.close();
    ParameterFloat f("cutoff", ParameterFloat::Hertz, NoFlags, 440.0f);
    f.openEditor();
    EXPECT_EQ(Driver::numpad.mode.load(), Numpad::kNumber);
    EXPECT_EQ(Driver::numpad.title, "edit value: cutoff");
    EXPECT_EQ(Driver::numpad.text, "440");
    EXPECT_EQ(Driver::numpad.maxLength, 32u);
    EXPECT_EQ(Driver::numpad.target, &f);
    Driver::numpad.close();

    ParameterFloat locked("lock", ParameterFloat::Percent, Locked, 0.5f);
    Driver::numpad.target = nullptr;
    locked.openEditor();
    EXPECT_FALSE(Driver::numpad.isOpen());
    EXPECT_FALSE(locked.changeBy(1, false, true));
    EXPECT_EQ(Driver::numpad.target, nullptr);

    ParameterFloat pc("mix", ParameterFloat::Percent, NoFlags, 0.25f);
    pc.openEditor();
    EXPECT_EQ(Driver::numpad.text, "25");
    Driver::numpad.close();
}
