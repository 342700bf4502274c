// The FM engine: sidebands of a true frequency modulation, the default pure
// sine, hold or end mode from the routes, the page and the voice's life.
#include "engines/fm/FMCommon.h"
#include "engines/fm/FMVoice.h"

#include "gui/MonoGFX.h"
#include "tests/engines/EngineMeasure.h"
#include "tests/support/engines_harness.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace enginemeasure;

namespace {

using Harness = enginetest::VoiceHarness<FMVoice>;

void holdAll(FMCommon& c) {
    for (uint32_t i = 0; i < 4; ++i) c.envHold[i].setValue(60000.0f, true);
}

TEST(FMVoice, OneToTwoGivesBesselSidebands) {
    FMCommon c;
    holdAll(c);
    c.route[0].setValue(1, true);  // "1->2 mod"
    c.ratio[1].setValue(4.0f, true);
    // Index 1: pi A / sin(pi 250 / 48000) = 1, since the input adds into the phase.
    c.volume[0].setValue(float(20.0 * std::log10(std::sin(M_PI * 250.0 / 48000.0) / M_PI)), true);
    c.end[0].setValue(1.0f, true);
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(250.0f));
    const auto x = h.renderChannel(slot, 400);
    ASSERT_TRUE(allFinite(x.data(), x.size()));
    const auto p = power(x, 8192);
    const double carrier = linePower(p, 1000.0);
    const double expected[4] = {0.0, -4.81, -16.47, -31.8};  // J_k(1) / J_0(1)
    for (int k = 1; k <= 3; ++k) {
        EXPECT_NEAR(dB(linePower(p, 1000.0 + 250.0 * k) / carrier), expected[k], 0.5) << "upper " << k;
        EXPECT_NEAR(dB(linePower(p, 1000.0 - 250.0 * k) / carrier), expected[k], 0.5) << "lower " << k;
    }
}

TEST(FMVoice, DefaultPatchIsAPureSineAtRatioTimesPitch) {
    FMCommon c;
    holdAll(c);
    c.ratio[1].setValue(4.0f, true);
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(250.0f));
    const auto x = h.renderChannel(slot, 400);
    const auto p = power(x, 8192);
    const double line = linePower(p, 1000.0);
    const long centre = std::lround(1000.0 * kFftSize / 48000.0);
    double spur = 0.0;
    for (size_t k = 4; k < p.size(); ++k)
        if (std::labs(long(k) - centre) > 16) spur = std::max(spur, p[k]);  // past the window's skirt
    EXPECT_LT(dB(spur / line), -55.0);
    EXPECT_NEAR(peakHz(x, 8192), 1000.0, 1.0);
}

TEST(FMVoice, ModulatorEndsAtItsEndLevelWhenTheRouteComesFromALoad) {
    FMCommon c;
    // Set as a project load or OSC would: no page action, no picture drawn.
    c.route[0].setValue(1, true);
    c.end[0].setValue(0.5f, true);
    c.envDecay[0].setValue(20.0f, true);
    c.envDecay[1].setValue(5000.0f, true);
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(220.0f));
    h.renderChannel(slot, 40);
    FMVoice& v = h.voice(slot);
    EXPECT_NEAR(v.envelopes[0].value, 0.5f, 1e-4f);  // rests at level x end, not 0
    EXPECT_TRUE(v.active);
    EXPECT_FALSE(v.isCarrier[0]);
    // The page shows the end too once it is refreshed.
    c.refreshEnvSlot();
    EXPECT_EQ(c.exposedParameters[14].load(), &c.end[0]);
}

TEST(FMVoice, CarrierAtTheFloorDoesNotKeepTheVoice) {
    FMCommon c;
    c.volume[1].setValue(-96.0f, true);
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(220.0f));
    h.renderBlock();
    EXPECT_FALSE(h.voice(slot).active);
}

TEST(FMVoice, SlideToANeverStartedVoiceEndsAndItsNextNoteSoundsWhole) {
    FMCommon c;
    c.polyphony.setValue(2, true);
    c.oscRetrig.setValue(0, true);
    c.envHold[1].setValue(60000.0f, true);
    c.feedback.setValue(-6.0f, true);
    c.feedbackColour.setValue(50.0f, true);
    Harness h(c);
    h.playAt(1, h.makeNote(220.0f, 1.0f, NoteType::NoteSlide));
    h.renderBlock();
    EXPECT_FALSE(h.voice(1).active);
    EXPECT_EQ(h.block.channelState[1], ChannelState::Playing);
    for (float d : h.voice(1).detuneFactor) EXPECT_EQ(d, 1.0f);  // never 0 Hz operators
    EXPECT_TRUE(std::isfinite(h.voice(1).op2.phase));

    h.playAt(1, h.makeNote(220.0f));
    const auto slid = h.renderChannel(1, 60);
    Harness fresh(c);
    fresh.playAt(1, fresh.makeNote(220.0f));
    const auto clean = fresh.renderChannel(1, 60);
    ASSERT_TRUE(allFinite(slid.data(), slid.size()));
    const size_t from = 20 * 64, n = 40 * 64;
    EXPECT_NEAR(dB(std::pow(rms(slid.data() + from, n) / rms(clean.data() + from, n), 2.0)), 0.0, 0.5);
}

TEST(FMVoice, SlideKeepsPhaseAndDetuneRetriggerRestartsThem) {
    FMCommon c;
    c.detune.setValue(100.0f, true);
    c.envHold[1].setValue(60000.0f, true);
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(220.0f));
    FMVoice& v = h.voice(slot);
    for (float d : v.detuneFactor) {
        EXPECT_GE(d, 0.8f);
        EXPECT_LT(d, 1.2f);
    }
    h.renderChannel(slot, 3);
    const double phase = v.op2.phase;
    const float detune = v.detuneFactor[1];
    h.play(h.makeNote(330.0f, 1.0f, NoteType::NoteSlide));
    EXPECT_EQ(v.op2.phase, phase);
    EXPECT_EQ(v.detuneFactor[1], detune);
    h.play(h.makeNote(330.0f));
    EXPECT_EQ(v.op2.phase, 0.0);  // "osc retrig" is on for this engine
}

TEST(FMCommon, RouteActionsToggleSwitchesAndThePlaceOfHoldOrEnd) {
    FMCommon c;
    EXPECT_EQ(c.oscRetrig.value, 1);
    EXPECT_EQ(c.envSlots(), 4u);
    EXPECT_EQ(c.exposedParameters[14].load(), &c.envHold[0]);
    for (int id : {4, 8, 9, 10, 13, 14, 15, 16, 18}) c.handleAction(id, 0);
    EXPECT_EQ(c.routes(), FMCommon::Routes{});

    const int ids[6] = {5, 6, 11, 7, 12, 17};  // 5 i + j - 2
    for (uint32_t r = 0; r < 6; ++r) {
        c.handleAction(ids[r], 0);
        EXPECT_EQ(c.route[r].value, 1) << r;
    }
    EXPECT_EQ(c.exposedParameters[14].load(), &c.end[0]);
    for (uint32_t op = 0; op < 3; ++op) EXPECT_EQ(c.envelopeModeFlags[op], 0) << op;
    EXPECT_EQ(c.envelopeModeFlags[3], 1);

    c.end[0].setValue(0.25f, true);
    for (int i = 0; i < 600; ++i) c.updateBlock();
    std::array<EnvelopeInfo, 4> info{};
    ASSERT_EQ(c.envInfo(info), 4u);
    EXPECT_NEAR(info[0].extra, 0.25f, 1e-3f);
    EXPECT_EQ(info[0].hold, 0.0f);

    c.handleAction(5, 0);  // on steps back to off
    EXPECT_EQ(c.route[0].value, 0);
    c.selectEnvSlot(4);
    EXPECT_EQ(c.exposedParameters[13].load(), nullptr);
}

TEST(FMCommon, OverviewDrawsRouteDotsAndWires) {
    FMCommon c;
    const int x = 100, y = 10;
    MonoGFX g;
    g.init(256, 64);
    c.drawOverview(g, 0, 0, x, y);
    // Every route off: one dot in its cell, nothing around it.
    for (uint32_t r = 0; r < 6; ++r) {
        const int cx = x + 10 * int(FMCommon::kRouteFrom[r]) - 5, cy = y + 10 * int(FMCommon::kRouteTo[r]) - 5;
        EXPECT_EQ(g.pixel(cx, cy), 15u) << r;
        EXPECT_NE(g.pixel(cx - 1, cy - 1), 15u) << r;
    }
    c.handleAction(5, 0);  // "1->2 mod", now overridden
    MonoGFX h;
    h.init(256, 64);
    c.drawOverview(h, 0, 0, x, y);
    EXPECT_EQ(h.pixel(x + 4, y + 14), 15u);  // the outline around cell (1, 2)
    EXPECT_EQ(h.pixel(x + 5, y + 10), 15u);  // the wire from operator 1 down
    EXPECT_EQ(h.pixel(x + 2, y + 12), 2u);   // the override square behind it
}

}  // namespace
