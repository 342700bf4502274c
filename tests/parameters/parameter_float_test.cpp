// The float kind: display modes, stepping, text, normalised values,
// snapshots and JSON.
#include "TestModulator.h"
#include "gui/Numpad.h"
#include "parameters/ParameterFloat.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

using json = nlohmann::json;

TEST(ParameterFloatModes, TempoAndFrequency) {
    ParameterFloat bpm("BPM", ParameterFloat::Bpm, Stored, 100.0f, 0.0f, 240.0f);
    EXPECT_EQ(bpm.toString(false), "100.0");
    EXPECT_EQ(bpm.toString(true), "1.67 Hz");
    bpm.setNormalised(0.5f);
    EXPECT_FLOAT_EQ(bpm.getValue(), 120.0f);
    EXPECT_FLOAT_EQ(bpm.getNormalised(), 0.5f);

    ParameterFloat f("freq", ParameterFloat::Hertz, NoFlags, 440.0f);
    EXPECT_NEAR(f.getValue(), 8.78136f, 1e-4f);
    EXPECT_EQ(f.toString(), "440.0 Hz");
    f.updateBlock();
    EXPECT_NEAR(f.output, 440.0f, 0.01f);
    EXPECT_TRUE(f.changeBy(1, false, false));
    EXPECT_EQ(f.toString(), "488.2 Hz");
    f.setValue(440.0f, false);
    f.changeBy(1, true, false);
    EXPECT_EQ(f.toString(), "455.5 Hz");
    const std::pair<float, const char*> texts[] = {{2000, "2.00 kHz"}, {12000, "12.0 kHz"}, {50, "50.00 Hz"}};
    for (auto [hz, text] : texts) {
        f.setValue(hz, false);
        EXPECT_EQ(f.toString(), text);
    }
    f.setValue(0.0f, false);  // log2 of 0.00001, then the 20 Hz floor
    EXPECT_NEAR(f.converted, 20.0f, 0.01f);
    f.setMin(0.0f);  // no logarithm: refused
    EXPECT_NEAR(f.modulationMin, 20.0f, 1e-4f);
    EXPECT_TRUE(std::isfinite(f.getNormalised()));
}

TEST(ParameterFloatModes, DecibelsMillisecondsPercentSemitonesWrap) {
    ParameterFloat db("gain", ParameterFloat::Decibels, NoFlags, -96.0f);
    EXPECT_EQ(db.toString(), "-inf dB");
    EXPECT_FLOAT_EQ(db.converted, 0.0f);
    db.setValue(-36.0f, false);
    db.changeBy(1, false, false);
    EXPECT_FLOAT_EQ(db.getValue(), -35.0f);  // doubled step at and below -36 dB
    db.changeBy(1, false, false);
    EXPECT_FLOAT_EQ(db.getValue(), -34.5f);
    EXPECT_EQ(db.toString(), "-34.5 dB");

    ParameterFloat t("time", ParameterFloat::Milliseconds, NoFlags, 40.0f, 0.0f, 10000.0f);
    const struct {
        float from;
        bool fine;
        float to;
    } steps[] = {{40, false, 41}, {100, false, 105}, {100, true, 102}, {500, false, 525},
                 {500, true, 502}, {3000, false, 3100}, {3000, true, 3025}};
    for (const auto& c : steps) {
        t.setValue(c.from, false);
        t.changeBy(1, c.fine, false);
        EXPECT_FLOAT_EQ(t.getValue(), c.to) << c.from << (c.fine ? " fine" : "");
    }
    t.setValue(999.0f, false);
    EXPECT_EQ(t.toString(), "999 ms");
    t.setValue(1500.0f, false);
    EXPECT_EQ(t.toString(), "1.50 s");

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

TEST(ParameterFloatText, RoundTripsAndRefusals) {
    const struct {
        uint32_t mode;
        float value;
    } cases[] = {{ParameterFloat::Plain, 0.37f},
                 {ParameterFloat::Semitones, -7.25f},
                 {ParameterFloat::Bpm, 133.5f},
                 {ParameterFloat::Decibels, -12.5f}};
    for (const auto& c : cases) {
        ParameterFloat p("p", c.mode, NoFlags, 0.0f, -5.0f, 500.0f), q("q", c.mode, NoFlags, 0.0f, -5.0f, 500.0f);
        if (c.mode == ParameterFloat::Decibels || c.mode == ParameterFloat::Semitones)
            p.setMin(-100.0f), q.setMin(-100.0f);
        p.setValue(c.value, false);
        ASSERT_TRUE(q.setFromString(p.toString())) << p.toString();
        EXPECT_NEAR(q.getValue(), p.getValue(), 1e-4f) << c.mode;
    }

    // Never thrown, never non-finite: the value stays.
    ParameterFloat p("x", ParameterFloat::Plain, NoFlags, 2.0f, 0.0f, 10.0f);
    for (const char* text : {"abc", "", "1e39", "nan", "-inf"})
        EXPECT_FALSE(p.setFromString(text)) << text;
    p.setValue(NAN, true);
    p.setValue(INFINITY, true);
    p.setNormalised(NAN);
    json j = json::parse(R"({"value": 1e300})");
    p.fromJson(j, nullptr, FileVersion());
    EXPECT_FLOAT_EQ(p.getValue(), 2.0f);
    p.overridden = false;
    EXPECT_TRUE(p.setFromString("  3.5kg"));
    EXPECT_FLOAT_EQ(p.getValue(), 3.5f);
    EXPECT_FALSE(p.overridden);  // typed values are not user overrides
}

TEST(ParameterFloatSlots, MorphSnapshotsAndMultiSlot) {
    ParameterFloat p("x", ParameterFloat::Plain, XYMorph, 0.0f, -10.0f, 10.0f);
    setSlots<float>(p.values, {0, 0, 1, 2, 3});
    p.overridden = false;
    p.morphXY(0.5f, 0.5f);
    EXPECT_FLOAT_EQ(p.values[0], 1.5f);
    p.changeBy(1, false, false);
    const float held = p.values[0];
    p.morphXY(0.0f, 1.0f);  // overridden: left alone
    EXPECT_FLOAT_EQ(p.values[0], held);
    p.storeSnapshot(6);  // (6 & 3) + 1 = slot 3
    EXPECT_FLOAT_EQ(p.values[3], held);
    EXPECT_FALSE(p.overridden);
    p.setValue(5.0f, true);
    p.resetSnapshots();
    EXPECT_EQ(plain(p.values), (std::vector<float>{5, 5, 5, 5, 5}));

    ParameterFloat m("x", ParameterFloat::Plain, MultiSlot | XYMorph, 1.0f, 0.0f, 30.0f);
    ASSERT_EQ(m.values.size(), 25u);
    EXPECT_FALSE(m.xyMorph);
    m.selectSlot(4);
    m.setValue(7.0f, false);
    m.copySlot(4, 24);
    EXPECT_FLOAT_EQ(m.values[24], 7.0f);
    m.selectSlot(25);  // out of range: ignored
    m.copySlot(4, 99);
    EXPECT_EQ(m.activeSlot, 4u);
}

TEST(ParameterFloatJson, ClampsAndFixesOldModulatorAmounts) {
    ParameterFloat bpm("BPM", ParameterFloat::Bpm, Stored, 100.0f, 0.0f, 240.0f);
    json j = json::parse(R"({"value": 300})");
    bpm.fromJson(j, nullptr, FileVersion());
    EXPECT_FLOAT_EQ(bpm.getValue(), 240.0f);

    ParameterFloat f("freq", ParameterFloat::Hertz, Stored | PerChannel, 440.0f);
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
    json current = json::parse(R"({"value": 8.78136, "modulator": [{"modulator type": "LFO", "amount": {"value": [0.6]}}]})");
    testing::internal::CaptureStdout();
    f.fromJson(current, &manager, FileVersion::fromText("0.1.26"));
    EXPECT_EQ(testing::internal::GetCapturedStdout().find("Old firmware"), std::string::npos);
    EXPECT_NEAR(static_cast<TestModulator*>(f.modulators[0].get())->amount.values[0], 0.6f, 1e-6f);
}

TEST(ParameterFloatEditor, OpensTheNumberPadUnlessLocked) {
    Driver::numpad.close();
    ParameterFloat f("cutoff", ParameterFloat::Hertz, NoFlags, 440.0f);
    f.openEditor();
    EXPECT_EQ(Driver::numpad.mode.load(), Numpad::kNumber);
    EXPECT_EQ(Driver::numpad.title, "edit value: cutoff");
    EXPECT_EQ(Driver::numpad.text, "440");  // "%f", trailing zeros trimmed by the pad
    EXPECT_EQ(Driver::numpad.maxLength, 32u);
    EXPECT_EQ(Driver::numpad.target, &f);
    Driver::numpad.close();

    ParameterFloat locked("lock", ParameterFloat::Percent, Locked, 0.5f);
    locked.openEditor();
    EXPECT_FALSE(Driver::numpad.isOpen());
    EXPECT_FALSE(locked.changeBy(1, false, true));
}
