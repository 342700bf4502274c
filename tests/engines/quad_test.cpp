// The quad engine: the page and its kinds, note routing to sub-engines,
// and each kind measured: kick and FM purity, snare mix and life, ratchet
// bursts, metal tone, saw stack harmonics, sample rate and layering.
#include "dsp/Random.h"
#include "engines/quad/QuadEngineCommon.h"
#include "engines/quad/QuadEngineVoice.h"

#include "gui/ListSelect.h"
#include "gui/MonoGFX.h"
#include "samples/ReleaseQueue.h"
#include "tests/engines/EngineMeasure.h"
#include "tests/support/engines_harness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace enginemeasure;

namespace {

using Harness = enginetest::VoiceHarness<QuadEngineVoice>;

// Level of the tone at hz in x[offset, offset + n), Hann-windowed.
double toneLevel(const std::vector<float>& x, size_t offset, size_t n, double hz) {
    double re = 0.0, im = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * double(i) / double(n));
        const double ph = 2.0 * M_PI * hz * double(i) / 48000.0;
        re += w * x[offset + i] * std::cos(ph);
        im += w * x[offset + i] * std::sin(ph);
    }
    return 4.0 * std::hypot(re, im) / double(n);
}

// Harmonics 2..10 against the fundamental, in dB.
double thd(const std::vector<float>& x, size_t offset, double hz) {
    const auto p = power(x, offset);
    double h = 0.0;
    for (int k = 2; k <= 10; ++k) h += linePower(p, hz * k);
    return dB(h / linePower(p, hz));
}

class Quad : public ::testing::Test {
protected:
    void SetUp() override {
        // The noise kinds draw from the shared generators: the same draws
        // whatever ran before.
        DSP::noise.seed(Noise::kSeedA, Noise::kSeedB);
        DSP::random.seed(1);
        h = std::make_unique<Harness>(common);
    }
    void TearDown() override { DSP::releaseQueue.drain(); }

    void setKind(uint32_t sub, const std::string& name) {
        common.typeParameters[sub].setFromString(name);
    }
    // A note for sub-engine `lane` (the pulse lane), in that lane's first voice.
    uint32_t play(uint32_t lane, float hz, float level = 1.0f, NoteType kind = NoteType::NoteOn) {
        NoteEvent e = h->makeNote(hz, level, kind);
        e.lane = lane;
        return h->playAt(2 * (lane & 3), e);
    }

    QuadEngineCommon common;
    std::unique_ptr<Harness> h;
};

TEST_F(Quad, FreshPageShowsTheFourDefaultKinds) {
    const char* expected[12] = {"1 volume", "2 volume", "3 volume",   "4 volume", "1 snap",   "2 tone/nse",
                                "3 ratchet", "4 color", "1 snap dec", "2 nse dec", "3 freq", "4 detune"};
    for (uint32_t i = 0; i < 12; ++i) {
        Parameter* p = common.exposedParameters[i];
        ASSERT_NE(p, nullptr) << i;
        EXPECT_EQ(p->name, expected[i]);
    }
    EXPECT_EQ(common.exposedParameters[12].load(), nullptr);
    EXPECT_EQ(common.exposedParameters[13].load(), &common.envAttack[0]);
    EXPECT_EQ(common.exposedParameters[15].load(), &common.envDecay[0]);
    EXPECT_EQ(common.parameters.name, "quad engine");
    EXPECT_EQ(common.oscRetrig.values[common.oscRetrig.activeSlot], 1);
    EXPECT_FLOAT_EQ(common.envHold[1].getValue(), 50.0f);
    EXPECT_FLOAT_EQ(common.envDecay[3].getValue(), 50.0f);
    EXPECT_EQ(common.typeParameters[3].toString(), "metal");
    // Two sub-engines keep their own parameters.
    EXPECT_NE(&common.subEngines[0].freq, &common.subEngines[2].freq);
    EXPECT_EQ(common.subEngines[2].freq.name, "3 freq");
}

TEST_F(Quad, KindsByNameAndThePage) {
    EXPECT_EQ(miniEngineTypeFromName("FM"), MiniFM);
    EXPECT_EQ(miniEngineTypeFromName("physical"), MiniPhysical);
    EXPECT_EQ(miniEngineTypeFromName("fm"), MiniNone);
    EXPECT_EQ(offeredMiniEngineNames().size(), 8u);
    common.typeParameters[1].setValue(7, true);  // choice 7 is "FM", kind 9
    common.refreshEnvSlot();
    EXPECT_EQ(common.subEngines[1].kind(), MiniFM);
    EXPECT_EQ(common.exposedParameters[5].load(), &common.subEngines[1].ratio);
    EXPECT_EQ(common.exposedParameters[9].load(), &common.subEngines[1].fmAmount);
    common.subEngines[0].setTypeByName("nothing");
    common.mapEncoders();
    EXPECT_EQ(common.exposedParameters[0].load(), nullptr);

    ListSelect& list = Driver::listSelection;
    common.handleAction(12, 0);
    EXPECT_EQ(list.target.load(), &common.typeParameters[2]);
    EXPECT_NE(list.state(), 0u);
    list.key(3, 2);  // confirm what it shows, so the next user finds it closed
    MonoGFX g;
    g.init(256, 64);
    list.draw(g);
    ASSERT_EQ(list.state(), 0u);
    list.target = nullptr;
    common.handleAction(14, 0);
    EXPECT_EQ(list.target.load(), nullptr);
    EXPECT_EQ(list.state(), 0u);
}

TEST_F(Quad, ANoteTakesItsSubEnginesKindAtOnceAndTheLaneIsMasked) {
    setKind(1, "FM");  // no redraw, no refresh
    EXPECT_EQ(common.subEngines[1].kind(), MiniSnare);
    const uint32_t slot = play(1, 440.0f);
    EXPECT_EQ(h->voice(slot).subEngineKind, MiniFM);
    NoteEvent e = h->makeNote(440.0f);
    e.lane = 6;  // damaged: plays sub-engine 3
    h->playAt(5, e);
    EXPECT_EQ(h->voice(5).subEngine, 2u);
    EXPECT_EQ(h->voice(5).subEngineKind, MiniRatchet);
}

TEST_F(Quad, SlideOntoAnUnusedVoiceEndsAfterOneBlock) {
    for (uint32_t lane = 0; lane < 4; ++lane) {
        const uint32_t slot = play(lane, 220.0f, 1.0f, NoteType::NoteSlide);
        EXPECT_TRUE(h->voice(slot).active);
        h->renderBlock();
        EXPECT_FALSE(h->voice(slot).active) << lane;
    }
}

TEST_F(Quad, KickWithoutSnapIsAPureSineAtTheNote) {
    common.subEngines[0].snap.setValue(0.0f, true);
    common.envHold[0].setValue(2000.0f, true);
    h->settle(4);
    const uint32_t slot = play(0, 200.0f);
    const auto x = h->renderChannel(slot, 600);
    EXPECT_NEAR(peakHz(x, 4800), 200.0, 0.5);
    EXPECT_LT(thd(x, 4800, 200.0), -50.0);
    EXPECT_NEAR(rms(x.data() + 4800, 16384), std::sqrt(0.5), 0.01);
}

TEST_F(Quad, SnareMixesToneAndBandPassedNoiseAndLivesWhileTheNoiseDecays) {
    common.subEngines[1].noiseDecay.setValue(1000.0f, true);
    h->settle(4);
    const uint32_t slot = play(1, 180.0f);
    h->renderBlock();
    QuadEngineVoice& v = h->voice(slot);
    EXPECT_FLOAT_EQ(v.toneGain, 1.0f);
    EXPECT_FLOAT_EQ(v.noiseGain, 1.0f);
    // Noise only after the tone's 250 ms: its energy lies around 4 kHz.
    std::vector<float> x = h->renderChannel(slot, 400);
    EXPECT_GT(bandShare(x, 2000.0, 8000.0, 16000), 0.7);
    EXPECT_TRUE(v.active);  // the amplitude envelope ended long ago
    EXPECT_TRUE(v.amplitude.isIdle());
    int blocks = 0;
    while (v.active && blocks < 1000) h->renderBlock(), ++blocks;
    EXPECT_LT(blocks, 400);
    EXPECT_FALSE(v.active);
}

TEST_F(Quad, RatchetGivesAHalfBurstThenTwoFullOnes) {
    common.envDecay[2].setValue(1000.0f, true);
    h->settle(4);
    const uint32_t slot = play(2, 440.0f);
    const auto x = h->renderChannel(slot, 760);
    std::vector<double> level;  // per 4 blocks
    for (size_t b = 0; b + 256 <= x.size(); b += 256) level.push_back(rms(x.data() + b, 256));
    // The two jumps where the sawtooth restarts.
    std::vector<size_t> jumps;
    for (size_t i = 1; i < level.size(); ++i)
        if (level[i] > 3.0 * level[i - 1] && level[i] > 0.2 * level[0]) jumps.push_back(i);
    ASSERT_EQ(jumps.size(), 2u);
    const double first = level[0], second = level[jumps[0]], third = level[jumps[1]];
    // Noise bursts measured over 256-sample windows: the half height shows
    // within the spread of the noise's level.
    EXPECT_NEAR(first / second, 0.5, 0.2);
    EXPECT_NEAR(third / second, 1.0, 0.25);
}

TEST_F(Quad, MetalHasNoOffsetAndItsColourSetsThePhasors) {
    common.envHold[3].setValue(1000.0f, true);
    h->settle(4);
    const uint32_t slot = play(3, 440.0f);
    const auto x = h->renderChannel(slot, 300);
    double mean = 0.0;
    for (size_t i = 4800; i < x.size(); ++i) mean += x[i];
    mean /= double(x.size() - 4800);
    EXPECT_LT(std::fabs(mean), 1e-3);
    EXPECT_GT(rms(x.data() + 4800, 4800), 0.01);
    QuadEngineVoice& v = h->voice(slot);
    EXPECT_FLOAT_EQ(v.metalPair.baseFrequency, 1119.0f);
    EXPECT_FLOAT_EQ(v.metalPair.modulatedFrequency, 7001.0f);
    common.subEngines[3].color.setValue(100.0f, true);
    h->settle(600);
    h->renderBlock();
    EXPECT_NEAR(v.metalPair.baseFrequency, 15119.0f, 0.1f);  // smoothed "color"
    EXPECT_NEAR(v.metalPair.modulatedFrequency, 13001.0f, 0.1f);
}

TEST_F(Quad, FMQuietIsAPureSineAndRatioTwoGivesDecayingOddSidebands) {
    setKind(0, "FM");
    common.envHold[0].setValue(200.0f, true);
    common.envDecay[0].setValue(2000.0f, true);
    common.subEngines[0].fmAmount.setValue(-96.0f, true);
    h->settle(600);
    uint32_t slot = play(0, 500.0f);
    auto x = h->renderChannel(slot, 300);
    EXPECT_NEAR(peakHz(x, 0), 500.0, 0.5);
    EXPECT_LT(thd(x, 0, 500.0), -50.0);

    common.subEngines[0].fmAmount.setValue(-6.0f, true);
    common.subEngines[0].ratio.setValue(2.0f, true);
    h->settle(600);
    slot = play(0, 1000.0f);
    x = h->renderChannel(slot, 1000);
    // Early: J1 and J2 sidebands at f + 2f and f + 4f.
    const double early = toneLevel(x, 0, 960, 1000.0);
    EXPECT_GT(toneLevel(x, 0, 960, 3000.0) / early, 0.2);
    EXPECT_GT(toneLevel(x, 0, 960, 5000.0) / early, 0.02);
    // The modulation rests at a tenth of the level (10^-4 after the fourth power).
    const size_t late = 60000;  // 1.25 s: the second envelope's 1100 ms decay is over
    const double carrier = toneLevel(x, late, 960, 1000.0);
    EXPECT_LT(toneLevel(x, late, 960, 3000.0) / carrier, 1e-3);
    EXPECT_TRUE(h->voice(slot).active);
}

TEST_F(Quad, SawStackWithoutDetuneIsOneSawFromFourLanes) {
    setKind(0, "sawstack");
    common.subEngines[0].detune.setValue(0.0f, true);
    common.subEngines[0].freq.setValue(19000.0f, true);  // filtered at 15 kHz
    common.envHold[0].setValue(2000.0f, true);
    h->settle(600);
    const uint32_t slot = play(0, 300.0f);
    const auto x = h->renderChannel(slot, 600);
    QuadEngineVoice& v = h->voice(slot);
    EXPECT_FLOAT_EQ(v.oscBank.cosine[0], v.oscBank.cosine[3]);  // retriggered alike
    const auto p = power(x, 4800);
    const double fundamental = linePower(p, 300.0);
    EXPECT_NEAR(peakHz(x, 4800), 300.0, 0.5);
    for (int k = 2; k <= 5; ++k) EXPECT_GT(dB(linePower(p, 300.0 * k) / fundamental), -20.0) << k;
    for (double between : {450.0, 750.0, 1050.0}) EXPECT_LT(dB(linePower(p, between) / fundamental), -60.0) << between;
}

TEST_F(Quad, PhysicalIsSilentWhileItsEnvelopeRuns) {
    setKind(0, "physical");  // not a choice: the parameter keeps "kick"
    EXPECT_EQ(common.typeParameters[0].toString(), "kick");
    // Reached only through a list that names it.
    common.typeParameters[0].setChoices({"physical"}, 0);
    const uint32_t slot = play(0, 220.0f);
    EXPECT_EQ(h->voice(slot).subEngineKind, MiniPhysical);
    int blocks = 0;
    while (h->voice(slot).active && blocks < 1000) {
        h->renderBlock();
        for (uint32_t i = 0; i < 64; ++i) ASSERT_EQ(h->block.channel(slot)[i], 0.0f);
        ++blocks;
    }
    EXPECT_NEAR(blocks, 225, 3);  // env 1: 0 + 100 + 200 ms
}

class QuadSamples : public Quad {
protected:
    void SetUp() override {
        Quad::SetUp();
        std::vector<float> a(48000), b(4800);
        for (size_t i = 0; i < a.size(); ++i) a[i] = 0.25f * float(std::sin(2.0 * M_PI * 441.0 * double(i) / 48000.0));
        for (size_t i = 0; i < b.size(); ++i) b[i] = 0.25f * float(std::sin(2.0 * M_PI * 1000.0 * double(i) / 48000.0));
        pool.addResource("long.wav", {a}, 48000.0f);
        pool.addResource("short.wav", {b}, 48000.0f);
        pool.addEntry("long", "long.wav", 48000, 48000.0f);
        pool.addEntry("short", "short.wav", 4800, 48000.0f);
        common.registerSampleLists();
        EXPECT_EQ(pool.registered.size(), 8u);
        common.envHold[0].setValue(2000.0f, true);
        h->settle(4);
    }
    enginetest::TestSamplePool pool;
};

TEST_F(QuadSamples, RateTwoDoublesThePitch) {
    setKind(0, "sample");
    common.subEngines[0].samples.setFromString("long");
    common.subEngines[0].detune.setValue(0.0f, true);  // the rate alone
    for (float rate : {1.0f, 2.0f}) {
        common.subEngines[0].rate.setValue(rate, true);
        h->settle(4);
        const uint32_t slot = play(0, 440.0f);
        const auto x = h->renderChannel(slot, 300);
        EXPECT_NEAR(peakHz(x, 0), 441.0 * rate, 1.0) << rate;
    }
}

TEST_F(QuadSamples, WhenOneSampleEndsTheOtherGoesOnAtTheSameLevel) {
    setKind(0, "2xsample");
    common.subEngines[0].samples.setFromString("short");
    common.subEngines[0].samples2.setFromString("long");
    const uint32_t slot = play(0, 440.0f);
    const auto x = h->renderChannel(slot, 300);
    EXPECT_GT(toneLevel(x, 1000, 2048, 1000.0), 0.1);  // both play
    EXPECT_LT(toneLevel(x, 8000, 2048, 1000.0), 1e-3);  // the short one has ended
    EXPECT_NEAR(toneLevel(x, 8000, 2048, 441.0) / toneLevel(x, 1000, 2048, 441.0), 1.0, 0.01);
    EXPECT_TRUE(h->voice(slot).active);
    // Both ended: the voice ends although its envelope still runs.
    const auto y = h->renderChannel(slot, 600);
    EXPECT_FALSE(h->voice(slot).active);
    EXPECT_FALSE(h->voice(slot).amplitude.isIdle());
}

}  // namespace

namespace {

// The brightest pixel of row i's name.
uint32_t rowColour(const MonoGFX& g, int x, int y, int i) {
    uint32_t c = 0;
    for (int yy = y + 1 + 11 * i; yy < y + 10 + 11 * i; ++yy)
        for (int xx = x + 11; xx < x + 50; ++xx) c = std::max(c, g.pixel(xx, yy));
    return c;
}

TEST(QuadEngineCommon, OverviewAppliesChangedKindsAndHighlightsTheColumn) {
    QuadEngineCommon c;
    c.typeParameters[1].setValue(7, true);  // "FM", not yet applied
    MonoGFX g;
    g.init(256, 64);
    const int x = 40, y = 0;
    c.drawOverview(g, 0, 6, x, y);  // index 6: column 2
    EXPECT_EQ(c.subEngines[1].kind(), MiniFM);
    EXPECT_EQ(c.exposedParameters[5].load(), &c.subEngines[1].ratio);
    EXPECT_EQ(c.appliedTypes[1].load(), 7);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(rowColour(g, x, y, i), i == 2 ? 15u : 8u) << i;
    c.selectEnvSlot(3);
    g.clear();
    c.drawOverview(g, 0, 30, x, y);  // past the encoders: the envelope slot's column
    for (int i = 0; i < 4; ++i) EXPECT_EQ(rowColour(g, x, y, i), i == 3 ? 15u : 8u) << i;
}

}  // namespace

namespace {

double cents(double hz, double reference) { return 1200.0 * std::log2(hz / reference); }

TEST_F(QuadSamples, SampleDetuneSpreadsAsElsewhereAndTwoLayersStayAtTheirPitch) {
    MiniEngine& s = common.subEngines[0];
    s.detune.setValue(100.0f, true);  // percent
    s.samples.setFromString("long");
    s.samples2.setFromString("long");
    h->settle(4);
    setKind(0, "sample");
    double widest = 0.0;
    for (int n = 0; n < 8; ++n) {
        const auto x = h->renderChannel(play(0, 440.0f), 260);
        widest = std::max(widest, std::fabs(cents(peakHz(x, 0), 441.0)));
    }
    EXPECT_GT(widest, 50.0);  // a pitch factor of 1 +- 0.2 at full detune, not a few cents
    setKind(0, "2xsample");
    for (int n = 0; n < 8; ++n) {
        const uint32_t slot = play(0, 440.0f);
        const auto x = h->renderChannel(slot, 260);
        EXPECT_NEAR(cents(peakHz(x, 0), 441.0), 0.0, 0.5) << n;
        EXPECT_EQ(h->voice(slot).samplePlayers[0].detuneFactor, 1.0f);
        EXPECT_EQ(h->voice(slot).samplePlayers[1].detuneFactor, 1.0f);
    }
}

TEST_F(Quad, FadeOutSilencesTheSnareNoiseToo) {
    common.subEngines[1].noiseDecay.setValue(2000.0f, true);
    h->settle(4);
    const uint32_t slot = play(1, 180.0f);
    const auto before = h->renderChannel(slot, 250);  // the tone has ended, the noise goes on
    ASSERT_TRUE(h->voice(slot).amplitude.isIdle());
    ASSERT_GT(rms(before.data() + before.size() - 640, 640), 1e-3);
    h->fadeOut(slot, 256);
    h->renderChannel(slot, 5);
    EXPECT_FALSE(h->voice(slot).active);
    const auto after = h->renderChannel(slot, 10);
    EXPECT_EQ(rms(after.data(), after.size()), 0.0);
}

TEST_F(Quad, OscRetrigIsOnAfterAResetAndTwoSawNotesStartAlike) {
    common.parameters.resetToDefaults();
    EXPECT_EQ(common.oscRetrig.values[common.oscRetrig.activeSlot], 1);
    setKind(2, "sawstack");
    common.subEngines[2].detune.setValue(0.0f, true);
    h->settle(4);
    NoteEvent e = h->makeNote(220.0f);
    e.lane = 2;
    h->playAt(4, e);
    h->playAt(5, e);
    double difference = 0.0, level = 0.0;
    for (int b = 0; b < 8; ++b) {
        h->renderBlock();
        for (uint32_t i = 0; i < 64; ++i) {
            difference += std::fabs(h->block.channel(4)[i] - h->block.channel(5)[i]);
            level += std::fabs(h->block.channel(4)[i]);
        }
    }
    EXPECT_GT(level, 1.0);
    EXPECT_EQ(difference, 0.0);
}

}  // namespace
