// Modulation, encoder counting, the modulator list and the shared JSON rules,
// exercised through the float kind.
#include "TestModulator.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterInt.h"
#include "platform/Osc.h"

#include <gtest/gtest.h>

#include <cmath>

using json = nlohmann::json;

TEST(ParameterModulation, AdditiveAddsEachModulatorAndExtraThenClamps) {
    ParameterFloat p("level", ParameterFloat::Percent, NoFlags, 0.5f);
    p.output = 0.5f;
    auto m = makeTestModulator(0.25f);
    p.addModulator(m);
    EXPECT_FLOAT_EQ(p.getModulated(3, true, false, 0.0f), 0.75f);
    EXPECT_EQ(m->lastChannel, 3u);
    EXPECT_TRUE(m->lastTrigA);
    EXPECT_FALSE(m->lastTrigB);
    EXPECT_FLOAT_EQ(p.getModulated(0, false, false, 1.0f), 1.0f);
    m->value = -2.0f;
    EXPECT_FLOAT_EQ(p.getModulated(0, false, false, 0.0f), 0.0f);
}

TEST(ParameterModulation, ExponentialMultipliesByPowersOfTwo) {
    ParameterFloat p("freq", ParameterFloat::Hertz, NoFlags, 440.0f);
    ASSERT_EQ(p.modulationMode, 1u);
    ASSERT_FLOAT_EQ(p.modulationDepth, 11.0f);
    p.output = 440.0f;
    auto m = makeTestModulator(1.0f / 11.0f);
    p.addModulator(m);
    EXPECT_NEAR(p.getModulated(0, false, false), 880.0f, 0.01f);
    // extra works the same way, on top of the modulator
    EXPECT_NEAR(p.getModulated(0, false, false, 1.0f / 11.0f), 1760.0f, 0.02f);
}

TEST(ParameterModulation, BusyListIsSkippedButExtraStillCounts) {
    ParameterFloat p("level", ParameterFloat::Percent, NoFlags, 0.0f);
    p.output = 0.25f;
    auto m = makeTestModulator(0.5f);
    p.addModulator(m);
    p.busy = true;
    EXPECT_FLOAT_EQ(p.getModulated(0, false, false, 0.25f), 0.5f);
    EXPECT_EQ(m->calls.load(), 0);
    p.busy = false;
}

TEST(ParameterModulation, WithoutRangeReadsZeroAndNaNNeverLeaves) {
    ParameterFloat plain("x", ParameterFloat::Plain, NoFlags, 3.0f);
    plain.updateBlock();
    EXPECT_FLOAT_EQ(plain.output, 3.0f);
    EXPECT_FLOAT_EQ(plain.getModulated(0, false, false), 0.0f);

    ParameterFloat p("level", ParameterFloat::Percent, NoFlags, 0.5f);
    p.output = 0.5f;
    float v = p.getModulated(0, false, false, NAN);
    EXPECT_TRUE(std::isfinite(v));
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

TEST(ParameterModulators, AddRemoveAndNames) {
    ParameterFloat p("cutoff", ParameterFloat::Plain, NoFlags, 0.0f);
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
    EXPECT_EQ(p.modulators.size(), 2u);
    EXPECT_EQ(p.removeModulator(0), a);
    ASSERT_EQ(p.modulators.size(), 1u);
    EXPECT_EQ(p.modulators[0], b);
    EXPECT_FALSE(p.busy.load());
}

TEST(ParameterModulators, ListIsCappedAndNeverReallocates) {
    ParameterFloat p("cutoff", ParameterFloat::Plain, NoFlags, 0.0f);
    const auto* storage = p.modulators.data();
    testing::internal::CaptureStdout();
    for (int i = 0; i < 10; ++i)
        p.addModulator(makeTestModulator(0.0f));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(p.modulators.size(), Parameter::kMaxModulators);
    EXPECT_EQ(p.modulators.data(), storage);
}

TEST(ParameterModulators, ResetToDefaultReleasesThem) {
    ParameterFloat p("level", ParameterFloat::Percent, NoFlags, 0.2f);
    auto m = makeTestModulator(0.0f);
    p.addModulator(m);
    p.setValue(70.0f, true);
    p.resetToDefault();
    EXPECT_TRUE(p.modulators.empty());
    EXPECT_EQ(m.use_count(), 1);
    EXPECT_FALSE(p.overridden);
    EXPECT_FLOAT_EQ(p.getValue(), 0.2f);
    EXPECT_FALSE(p.busy.load());
}

TEST(ParameterModulators, RecursionReachesModulatorGroups) {
    ParameterFloat p("level", ParameterFloat::Percent, XYMorph, 0.0f);
    auto m = makeTestModulator(0.0f);
    p.addModulator(m);
    // The modulator's amount is per channel, so the per-block update smooths
    // nothing but publishes it.
    m->amount.setValue(40.0f, true);
    p.updateBlock();
    EXPECT_FLOAT_EQ(m->amount.output, 0.4f);
    p.storeSnapshot(1);
    EXPECT_FALSE(m->amount.overridden);
    EXPECT_FLOAT_EQ(m->amount.values[2], 0.4f);
    m->amount.overridden = true;
    p.clearOverride();
    EXPECT_FALSE(m->amount.overridden);
    // while busy the modulators are left alone
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
    EXPECT_EQ(int(p.value), 1);
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
    p.updateBlock();
    EXPECT_NEAR(p.output, 0.5f / 25.0f, 1e-6f);
    for (int i = 0; i < 24; ++i)
        p.updateBlock();
    // after 25 blocks about 1 - 1/e of the jump
    EXPECT_NEAR(p.output, 0.5f * (1.0f - std::pow(24.0f / 25.0f, 25.0f)), 1e-4f);
    for (int i = 0; i < 500; ++i)
        p.updateBlock();
    EXPECT_NEAR(p.output, 0.5f, 1e-4f);
    p.fallDivisor = 2.0f;
    p.setValue(0.0f, false);
    p.updateBlock();
    EXPECT_NEAR(p.output, 0.25f, 1e-3f);
}

TEST(ParameterJson, OverrideAndPartialArrays) {
    ParameterFloat p("level", ParameterFloat::Plain, XYMorph, 0.0f);
    p.setMin(-10.0f);
    p.setMax(10.0f);
    json j = json::parse(R"({"value": [1, 2, 3]})");
    setSlots<float>(p.values, {9, 9, 9, 9, 9});
    p.fromJson(j, nullptr, FileVersion());
    EXPECT_EQ(plain(p.values), (std::vector<float>{1, 2, 3, 9, 9}));
    EXPECT_TRUE(p.overridden);
    j = json::parse(R"({"value": [true, false, 4.5, 6, 7], "override": false})");
    p.fromJson(j, nullptr, FileVersion());
    EXPECT_EQ(plain(p.values), (std::vector<float>{1, 0, 4.5f, 6, 7}));
    EXPECT_FALSE(p.overridden);
}

TEST(ParameterJson, LibraryErrorsPropagate) {
    ParameterFloat p("level", ParameterFloat::Plain, XYMorph, 0.0f);
    json noValue = json::object();
    EXPECT_THROW(p.fromJson(noValue, nullptr, FileVersion()), json::type_error);
    json badOverride = json::parse(R"({"value": 1, "override": 3})");
    EXPECT_THROW(p.fromJson(badOverride, nullptr, FileVersion()), json::type_error);
    json text = json::parse(R"({"value": "x", "override": true})");
    EXPECT_THROW(p.fromJson(text, nullptr, FileVersion()), json::type_error);
}

TEST(ParameterJson, ModulatorsAreRecreatedThroughTheManager) {
    TestManager manager;
    ParameterFloat source("level", ParameterFloat::Percent, XYMorph | PerChannel, 0.5f);
    auto m = manager.addModulator("LFO", 8, "level", "");
    testing::internal::CaptureStdout();
    source.addModulator(m);
    static_cast<TestModulator*>(m.get())->amount.setValue(30.0f, true);
    json j = source.toJson();
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(j["modulator"].is_array());
    EXPECT_EQ(j["modulator"][0]["modulator type"], "LFO");
    EXPECT_NEAR(j["modulator"][0]["amount"]["value"][0].get<float>(), 0.3f, 1e-6f);

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
    EXPECT_EQ(target.modulatorName(0), "LFO");
    EXPECT_EQ(target.modulatorName(1), "random");
    EXPECT_NEAR(static_cast<TestModulator*>(target.modulators[0].get())->amount.values[0], 0.3f, 1e-6f);
    EXPECT_NEAR(static_cast<TestModulator*>(target.modulators[1].get())->amount.values[0], 0.7f, 1e-6f);
    EXPECT_EQ(other.modulators.size(), 2u);
    EXPECT_NE(out.find("[ModulationManager] adding [wobble] with 8 channels to [: level]. Track had 1 modulators "
                       "before this\n"),
              std::string::npos);

    // Without a manager every modulator goes and none comes back.
    target.fromJson(j, nullptr, FileVersion());
    EXPECT_TRUE(target.modulators.empty());
}

TEST(ParameterJson, ModulatorEntryWithoutTypeIsATypeError) {
    TestManager manager;
    ParameterFloat p("level", ParameterFloat::Percent, NoFlags, 0.0f);
    json j = json::parse(R"({"value": 0.5, "modulator": [{"amount": {}}]})");
    EXPECT_THROW(p.fromJson(j, &manager, FileVersion()), json::type_error);
    EXPECT_FALSE(p.busy.load());
}

TEST(ParameterOsc, FirstArgumentByTypeTag) {
    ParameterFloat p("x", ParameterFloat::Plain, NoFlags, 0.0f, -1e12f, 1e12f);
    oscpkt::Message m("/x");
    EXPECT_TRUE(p.setFromOSC(oscpkt::Message("/x").pushFloat(2.5f)));
    EXPECT_FLOAT_EQ(p.getValue(), 2.5f);
    EXPECT_TRUE(p.overridden);
    EXPECT_TRUE(p.setFromOSC(oscpkt::Message("/x").pushDouble(-0.125)));
    EXPECT_FLOAT_EQ(p.getValue(), -0.125f);
    EXPECT_TRUE(p.setFromOSC(oscpkt::Message("/x").pushInt32(-7)));
    EXPECT_FLOAT_EQ(p.getValue(), -7.0f);
    EXPECT_TRUE(p.setFromOSC(oscpkt::Message("/x").pushInt64(int64_t(1) << 33)));
    EXPECT_FLOAT_EQ(p.getValue(), 8589934592.0f);
    // only the first argument counts
    EXPECT_TRUE(p.setFromOSC(oscpkt::Message("/x").pushInt32(3).pushFloat(9.0f)));
    EXPECT_FLOAT_EQ(p.getValue(), 3.0f);
    EXPECT_FALSE(p.setFromOSC(oscpkt::Message("/x").pushStr("4")));
    EXPECT_FALSE(p.setFromOSC(oscpkt::Message("/x")));
    oscpkt::Message broken("/x");
    broken.pushFloat(1.0f);
    broken.setError();
    EXPECT_FALSE(p.setFromOSC(broken));
    EXPECT_FLOAT_EQ(p.getValue(), 3.0f);
}

TEST(ParameterOsc, DecodedBigEndianPacketsAndNonFiniteRefused) {
    ParameterFloat p("x", ParameterFloat::Plain, NoFlags, 1.0f, -100.0f, 100.0f);
    // "/x" ",f" 42.0f as it arrives on the wire
    const uint8_t packet[] = {'/', 'x', 0, 0, ',', 'f', 0, 0, 0x42, 0x28, 0, 0};
    oscpkt::Message decoded = oscpkt::Message::decode(packet, sizeof packet);
    ASSERT_TRUE(decoded.isOk());
    EXPECT_TRUE(p.setFromOSC(decoded));
    EXPECT_FLOAT_EQ(p.getValue(), 42.0f);
    EXPECT_FALSE(p.setFromOSC(oscpkt::Message("/x").pushFloat(NAN)));
    EXPECT_FALSE(p.setFromOSC(oscpkt::Message("/x").pushDouble(INFINITY)));
    EXPECT_FALSE(p.setFromOSC(oscpkt::Message("/x").pushDouble(1e300)));
    EXPECT_FLOAT_EQ(p.getValue(), 42.0f);
}
