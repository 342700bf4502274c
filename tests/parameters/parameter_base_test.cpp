// Modulation, encoder counting, the modulator list and the shared JSON rules,
// exercised through the float kind.
#include "TestModulator.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterInt.h"
#include "platform/Osc.h"

#include <gtest/gtest.h>

#include <cmath>

using json = nlohmann::json;

TEST(ParameterModulation, AdditiveExponentialBusyAndClamps) {
    ParameterFloat p("level", ParameterFloat::Percent, NoFlags, 0.5f);
    p.output = 0.5f;
    auto m = makeTestModulator(0.25f);
    p.addModulator(m);
    EXPECT_FLOAT_EQ(p.getModulated(3, true, false), 0.75f);
    EXPECT_EQ(m->lastChannel, 3u);
    EXPECT_TRUE(m->lastTrigA);
    EXPECT_FLOAT_EQ(p.getModulated(0, false, false, 1.0f), 1.0f);  // clamped
    // while the list is busy only extra counts
    p.busy = true;
    EXPECT_FLOAT_EQ(p.getModulated(0, false, false, 0.125f), 0.625f);
    p.busy = false;
    EXPECT_TRUE(std::isfinite(p.getModulated(0, false, false, NAN)));

    ParameterFloat f("freq", ParameterFloat::Hertz, NoFlags, 440.0f);
    f.output = 440.0f;
    f.addModulator(makeTestModulator(1.0f / 11.0f));  // depth 11: one octave
    EXPECT_NEAR(f.getModulated(0, false, false), 880.0f, 0.01f);
    EXPECT_NEAR(f.getModulated(0, false, false, 1.0f / 11.0f), 1760.0f, 0.02f);

    // no range set: the modulation range is [0, 0]
    ParameterFloat plain("x", ParameterFloat::Plain, NoFlags, 3.0f);
    plain.updateBlock();
    EXPECT_FLOAT_EQ(plain.getModulated(0, false, false), 0.0f);
}

TEST(ParameterModulation, ChannelsBeyondTheModulatorAreSkipped) {
    // A modulator read from a file for a parameter without voice channels
    // has no state for channel 5: it must not be asked.
    ParameterFloat p("level", ParameterFloat::Percent, NoFlags, 0.0f);
    p.output = 0.25f;
    auto m = makeTestModulator(0.5f, 0);
    p.addModulator(m);
    EXPECT_FLOAT_EQ(p.getModulated(5, false, false), 0.25f);
    EXPECT_EQ(m->calls.load(), 0);
}

TEST(ParameterModulators, AttachDetachCapAndReset) {
    ParameterFloat p("cutoff", ParameterFloat::Percent, NoFlags, 0.2f);
    const auto* storage = p.modulators.data();
    auto a = makeTestModulator(0.0f, 8, 1);
    auto b = makeTestModulator(0.0f, 8, 2);
    testing::internal::CaptureStdout();
    p.addModulator(a);
    p.addModulator(nullptr);
    p.addModulator(b);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[Parameter][cutoff] added modulator [LFO]\n[Parameter][cutoff] added modulator [AD env]\n");
    EXPECT_EQ(p.modulatorName(1), "AD env");
    EXPECT_EQ(p.modulatorName(7), "");
    EXPECT_EQ(p.removeModulator(5), nullptr);
    EXPECT_EQ(p.removeModulator(0), a);
    ASSERT_EQ(p.modulators.size(), 1u);
    EXPECT_EQ(p.modulators[0], b);

    testing::internal::CaptureStdout();
    for (int i = 0; i < 10; ++i)
        p.addModulator(makeTestModulator(0.0f));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(p.modulators.size(), Parameter::kMaxModulators);
    EXPECT_EQ(p.modulators.data(), storage);  // never reallocated under a reader

    p.setValue(70.0f, true);
    p.resetToDefault();
    EXPECT_TRUE(p.modulators.empty());
    EXPECT_EQ(b.use_count(), 1);
    EXPECT_FALSE(p.overridden);
    EXPECT_FLOAT_EQ(p.getValue(), 0.2f);
    EXPECT_FALSE(p.busy.load());
}

TEST(ParameterModulators, RecursionReachesModulatorGroupsUnlessBusy) {
    ParameterFloat p("level", ParameterFloat::Percent, XYMorph, 0.0f);
    auto m = makeTestModulator(0.0f);
    p.addModulator(m);
    m->amount.setValue(40.0f, true);
    p.updateBlock();
    EXPECT_FLOAT_EQ(m->amount.output, 0.4f);
    p.storeSnapshot(1);
    EXPECT_FALSE(m->amount.overridden);
    EXPECT_FLOAT_EQ(m->amount.values[2], 0.4f);
    m->amount.overridden = true;
    p.clearOverride();
    EXPECT_FALSE(m->amount.overridden);
    m->amount.setValue(90.0f, false);
    p.busy = true;
    p.updateBlock();
    EXPECT_FLOAT_EQ(m->amount.output, 0.4f);
    p.busy = false;
}

TEST(ParameterTicks, StepsOnlyWhenTheCountMatchesExactly) {
    ParameterInt p("count", 0, NoFlags, 0);
    p.ticksPerStep = 3;
    EXPECT_FALSE(p.changeBy(1, false, false));
    EXPECT_FALSE(p.changeBy(1, false, false));
    EXPECT_TRUE(p.changeBy(1, false, false));
    // a change of direction starts counting anew
    EXPECT_FALSE(p.changeBy(1, false, false));
    EXPECT_FALSE(p.changeBy(-1, false, false));
    EXPECT_FALSE(p.changeBy(1, false, false));
    EXPECT_EQ(int(p.value), 1);
    p.ticksPerStep = 1;
    EXPECT_FALSE(p.changeBy(2, false, false));
    EXPECT_TRUE(p.changeBy(2, false, true));
    EXPECT_EQ(int(p.value), 3);
}

TEST(ParameterSmoothing, ReachesItsTargetAndGlidesFromZero) {
    ParameterFloat p("level", ParameterFloat::Percent, Smoothed, 0.5f);
    for (int i = 0; i < 25; ++i)
        p.updateBlock();
    // about 1 - 1/e of the jump after 25 blocks
    EXPECT_NEAR(p.output, 0.5f * (1.0f - std::pow(24.0f / 25.0f, 25.0f)), 1e-4f);
    for (int i = 0; i < 500; ++i)
        p.updateBlock();
    EXPECT_NEAR(p.output, 0.5f, 1e-4f);
    p.fallDivisor = 2.0f;
    p.setValue(0.0f, false);
    p.updateBlock();
    EXPECT_NEAR(p.output, 0.25f, 1e-3f);
}

TEST(ParameterJson, OverridePartialArraysAndLibraryErrors) {
    ParameterFloat p("level", ParameterFloat::Plain, XYMorph, 0.0f, -10.0f, 10.0f);
    setSlots<float>(p.values, {9, 9, 9, 9, 9});
    json j = json::parse(R"({"value": [1, 2, true]})");
    p.fromJson(j, nullptr, FileVersion());
    EXPECT_EQ(plain(p.values), (std::vector<float>{1, 2, 1, 9, 9}));
    EXPECT_TRUE(p.overridden);
    j = json::parse(R"({"value": 4, "override": false})");
    p.fromJson(j, nullptr, FileVersion());
    EXPECT_EQ(plain(p.values), (std::vector<float>{4, 4, 4, 4, 4}));
    EXPECT_FALSE(p.overridden);

    for (const char* bad : {"{}", R"({"value": 1, "override": 3})", R"({"value": "x"})",
                            R"({"value": 1, "modulator": [{"amount": {}}]})"}) {
        json b = json::parse(bad);
        TestManager manager;
        EXPECT_THROW(p.fromJson(b, &manager, FileVersion()), json::type_error) << bad;
        EXPECT_FALSE(p.busy.load());
    }
}

TEST(ParameterJson, ModulatorsAreRecreatedThroughTheManager) {
    TestManager manager;
    ParameterFloat source("level", ParameterFloat::Percent, XYMorph | PerChannel, 0.5f);
    testing::internal::CaptureStdout();
    auto m = manager.addModulator("LFO", 8, "level", "");
    source.addModulator(m);
    static_cast<TestModulator*>(m.get())->amount.setValue(30.0f, true);
    json j = source.toJson();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(j["modulator"][0]["modulator type"], "LFO");

    // Unknown kinds are skipped, known ones attached in order.
    j["modulator"].push_back(json::parse(R"({"modulator type": "wobble"})"));
    j["modulator"].push_back(json::parse(R"({"modulator type": "random", "amount": {"value": [0.7,0,0,0,0]}})"));
    ParameterFloat target("level", ParameterFloat::Percent, XYMorph | PerChannel, 0.0f);
    target.addModulator(makeTestModulator(0.0f));
    TestManager other;
    testing::internal::CaptureStdout();
    target.fromJson(j, &other, FileVersion("", 0, 1, 30));
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(target.modulators.size(), 2u);
    EXPECT_EQ(target.modulatorName(1), "random");
    EXPECT_NEAR(static_cast<TestModulator*>(target.modulators[0].get())->amount.values[0], 0.3f, 1e-6f);
    EXPECT_NEAR(static_cast<TestModulator*>(target.modulators[1].get())->amount.values[0], 0.7f, 1e-6f);
    EXPECT_NE(out.find("[ModulationManager] adding [wobble] with 8 channels to [: level]. Track had 1 modulators "
                       "before this\n"),
              std::string::npos);
    // Without a manager every modulator goes and none comes back.
    target.fromJson(j, nullptr, FileVersion());
    EXPECT_TRUE(target.modulators.empty());
}

TEST(ParameterOsc, FirstArgumentByTypeTagBigEndian) {
    ParameterFloat p("x", ParameterFloat::Plain, NoFlags, 0.0f, -1e12f, 1e12f);
    EXPECT_TRUE(p.setFromOSC(oscpkt::Message("/x").pushDouble(-0.125)));
    EXPECT_FLOAT_EQ(p.getValue(), -0.125f);
    EXPECT_TRUE(p.setFromOSC(oscpkt::Message("/x").pushInt64(int64_t(1) << 33)));
    EXPECT_FLOAT_EQ(p.getValue(), 8589934592.0f);
    EXPECT_TRUE(p.setFromOSC(oscpkt::Message("/x").pushInt32(3).pushFloat(9.0f)));  // the first only
    EXPECT_FLOAT_EQ(p.getValue(), 3.0f);
    // "/x" ",f" 42.0f as it arrives on the wire
    const uint8_t packet[] = {'/', 'x', 0, 0, ',', 'f', 0, 0, 0x42, 0x28, 0, 0};
    EXPECT_TRUE(p.setFromOSC(oscpkt::Message::decode(packet, sizeof packet)));
    EXPECT_FLOAT_EQ(p.getValue(), 42.0f);
    EXPECT_TRUE(p.overridden);

    oscpkt::Message broken("/x");
    broken.pushFloat(1.0f).setError();
    for (const oscpkt::Message& refused :
         {oscpkt::Message("/x").pushStr("4"), oscpkt::Message("/x"), broken, oscpkt::Message("/x").pushFloat(NAN),
          oscpkt::Message("/x").pushDouble(INFINITY), oscpkt::Message("/x").pushDouble(1e300)})
        EXPECT_FALSE(p.setFromOSC(refused));
    EXPECT_FLOAT_EQ(p.getValue(), 42.0f);
}
