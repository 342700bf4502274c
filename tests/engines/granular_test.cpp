// The granular engine: grain reads stay inside the sample whatever the rate,
// grain pitch by FFT, the window's bend, the grain clock and its look-ups,
// silence without hits, slides onto unstarted voices and the page.
#include "engines/granular/Grain.h"
#include "engines/granular/GranularCommon.h"
#include "engines/granular/GranularVoice.h"
#include "engines/SynthEngineType.h"

#include "gui/MonoGFX.h"
#include "samples/ReleaseQueue.h"
#include "tests/instrument/GrainPool.h"
#include "tests/engines/EngineMeasure.h"
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"
#include "tests/support/engines_harness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace enginemeasure;

namespace {

using Harness = enginetest::VoiceHarness<GranularVoice>;

// Answers every draw with the same hit and records what was asked.
class FixedGrains : public GrainSource {
public:
    void requestGrains(std::string_view list, std::span<const float> point, uint32_t voice, float radius) override {
        requests.push_back({std::string(list), point[0], point[1], radius, voice, *block});
    }
    FeatureHit randomGrainEntry(uint32_t voice) override {
        draws.push_back(*block);
        (void)voice;
        return hit;
    }
    struct Request {
        std::string list;
        float a, b, radius;
        uint32_t voice;
        int block;
    };
    FeatureHit hit{};
    std::vector<Request> requests;
    std::vector<int> draws;
    const int* block = nullptr;
};

std::vector<float> sine(double hz, double rate, size_t n, float level = 0.5f) {
    std::vector<float> x(n);
    for (size_t i = 0; i < n; ++i) x[i] = level * float(std::sin(2.0 * M_PI * hz * double(i) / rate));
    return x;
}

TEST(Grain, ReadsStayInsideTheSampleAtAnyRateAndReleaseAtOnce) {
    enginetest::TestSamplePool pool;
    // Exactly 1000 frames: a read past them is a heap overflow under ASan.
    pool.addResource("short.wav", {sine(300.0, 48000.0, 1000)}, 48000.0f);
    // The entry claims far more frames than the file has, as after a replacement.
    auto entry = pool.addEntry("l", "short.wav", 200000, 48000.0f, 100.0f);
    entry->pitchTracking = true;
    Grain g;
    float out[64];
    const float rates[] = {1.0f, -2.0f, NAN, 256.0f};
    const float offsets[] = {0.0f, -1e6f, 1e6f, 3.5f};
    uint32_t longest = 0;
    for (int k = 0; k < 10000; ++k) {
        entry->rate.store(rates[k % 4]);
        g.setEnvelope(0.0f, 10.0f, 0.0f, float(k % 3) * 0.5f);
        g.schedule(FeatureHit{entry, 24, 0}, offsets[k / 4 % 4], 0.5f, true);
        uint32_t sounding = 0;
        for (int b = 0; b < 4; ++b) {
            for (float& s : out) s = 0.0f;
            if (g.render(out, 4000.0f, 48.0f)) ++sounding;
            ASSERT_TRUE(allFinite(out, 64)) << k;
        }
        longest = std::max(longest, sounding);
    }
    EXPECT_LE(longest, 2u);  // released at the first block: nothing is left to read
    DSP::releaseQueue.drain();
}

TEST(Grain, WithoutFramesOrHitItStaysSilent) {
    enginetest::TestSamplePool pool;
    pool.addResource("empty.wav", {std::vector<float>()}, 48000.0f);
    auto entry = pool.addEntry("l", "empty.wav", 0, 48000.0f);
    Grain g;
    float out[64] = {};
    testing::internal::CaptureStdout();
    g.schedule(FeatureHit{entry, 0, 0}, 0.0f, 0.5f, true);
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(said, Grain::kInvalidResource);
    EXPECT_FALSE(g.render(out, 440.0f, 1.0f));
    g.schedule(FeatureHit{}, 0.0f, 0.5f, true);
    EXPECT_FALSE(g.render(out, 440.0f, 1.0f));
    for (float s : out) EXPECT_EQ(s, 0.0f);
}

TEST(Grain, EndReleaseFromALengthenedAttackSaysNothing) {
    enginetest::TestSamplePool pool;
    pool.addResource("dc.wav", {std::vector<float>(100000, 1.0f)}, 48000.0f);
    auto entry = pool.addEntry("l", "dc.wav", 100000, 48000.0f);
    // Placed at 7712 and read at one frame a sample: the end comes within
    // reach in the eighth block.
    entry->endFrame = 8400;
    Grain g;
    g.setEnvelope(10.0f, 10.0f, 0.0f, 0.0f);  // an attack of seven blocks
    g.schedule(FeatureHit{entry, 0, 0}, 0.0f, 0.5f, true);
    float out[64] = {};
    for (int b = 0; b < 7; ++b) {
        g.setEnvelope(10.0f, 10.0f, 0.0f, 0.0f);
        g.render(out, 440.0f, 1.0f);
    }
    ASSERT_GT(g.window.value, 1.0f);  // summed a rounding step past the top
    testing::internal::CaptureStdout();
    g.setEnvelope(20.0f, 10.0f, 0.0f, 0.0f);  // the attack turned up there
    for (float& s : out) s = 0.0f;
    EXPECT_TRUE(g.render(out, 440.0f, 1.0f));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(g.window.state, AHDEnvelope::Release);
    EXPECT_FLOAT_EQ(out[0], 63.0f / 64.0f);
    EXPECT_NEAR(out[63], 0.0f, 1e-6);
    DSP::releaseQueue.drain();
}

TEST(Grain, PlacementAroundTheHop) {
    enginetest::TestSamplePool pool;
    pool.addResource("long.wav", {std::vector<float>(100000, 0.1f)}, 48000.0f);
    auto entry = pool.addEntry("l", "long.wav", 100000, 48000.0f);
    Grain g;
    g.setEnvelope(10.0f, 10.0f, 10.0f, 0.0f);  // 1440 samples
    g.schedule(FeatureHit{entry, 0, 0}, 100.0f, 0.5f, true);
    EXPECT_DOUBLE_EQ(g.position, 8192.0 + 100.0 - 720.0);
    g.schedule(FeatureHit{entry, 0, 0}, -9000.0f, 0.5f, true);
    EXPECT_DOUBLE_EQ(g.position, 0.0);
    g.schedule(FeatureHit{entry, 20, 0}, 0.0f, 0.5f, true);
    EXPECT_DOUBLE_EQ(g.position, 100000.0 - 1440.0);
    DSP::releaseQueue.drain();
}

TEST(Grain, ShapeHalfKeepsTheWindowStraight) {
    enginetest::TestSamplePool pool;
    pool.addResource("dc.wav", {std::vector<float>(100000, 1.0f)}, 48000.0f);
    auto entry = pool.addEntry("l", "dc.wav", 100000, 48000.0f);
    for (float shape : {0.5f, 0.8f}) {
        Grain g;
        g.setEnvelope(40.0f / 3.0f, 100.0f, 100.0f, 0.0f);  // an attack of 640 samples, ten blocks
        g.schedule(FeatureHit{entry, 2, 0}, 0.0f, shape, true);
        std::vector<float> x;
        for (int b = 0; b < 10; ++b) {
            float out[64] = {};
            g.render(out, 440.0f, 1.0f);
            x.insert(x.end(), out, out + 64);
        }
        const double mid = x[319], quarter = x[159];
        if (shape == 0.5f) {
            EXPECT_NEAR(mid, 0.5, 0.01);
            EXPECT_NEAR(quarter, 0.25, 0.01);
        } else {
            EXPECT_GT(mid, 0.7);  // bent: opens fast, then near full
        }
    }
    DSP::releaseQueue.drain();
}

TEST(Grain, PitchTrackingReadsAtTheNotesRatio) {
    // A 441 Hz sine written by sox at 44.1 kHz.
    const std::string path = testsupport::tempDir() + "sine441.wav";
    testsupport::shellOutput("sox -n -r 44100 -b 16 -c 1 " + path + " synth 4 sine 441 vol 0.5 2>&1");
    enginetest::TestSamplePool pool;
    auto resource = std::make_shared<AudioResource>(path);
    ASSERT_TRUE(resource->loaded);
    ASSERT_EQ(resource->sampleRate, 44100.0f);
    pool.resources["sine441.wav"] = resource;
    auto entry = pool.addEntry("l", "sine441.wav", resource->frameCount(), 44100.0f, 440.0f);
    entry->pitchTracking = true;

    Grain g;
    g.setEnvelope(20.0f, 1000.0f, 20.0f, 0.0f);
    g.schedule(FeatureHit{entry, 0, 0}, 0.0f, 0.5f, true);
    std::vector<float> x;
    for (int b = 0; b < 700; ++b) {
        float out[64] = {};
        g.render(out, 880.0f, 1.0f);
        x.insert(x.end(), out, out + 64);
    }
    // 441 Hz read at 2 x 44100 / 48000 frames per sample: 882 Hz.
    const double period = periodByAutocorrelation(x, 2400, 40000, 50, 60);
    EXPECT_NEAR(48000.0 / period, 882.0, 0.5);
    EXPECT_NEAR(peakHz(x, 2400), 882.0, 1.0);
    DSP::releaseQueue.drain();
}

class GranularClock : public ::testing::Test {
protected:
    void SetUp() override {
        pool.addResource("dc.wav", {std::vector<float>(200000, 0.25f)}, 48000.0f);
        grains.hit = FeatureHit{pool.addEntry("pads", "dc.wav", 200000, 48000.0f), 3, 0};
        grains.block = &block;
        common.registerSampleLists();
        common.samples.setValue(1, true);
        h = std::make_unique<Harness>(common);
        for (uint32_t s = 0; s < Harness::kSlots; ++s) h->voice(s).grainSource = &grains;
    }
    void TearDown() override { DSP::releaseQueue.drain(); }

    enginetest::TestSamplePool pool;
    FixedGrains grains;
    GranularCommon common;
    std::unique_ptr<Harness> h;
    int block = 0;
};

TEST_F(GranularClock, HalfGrainPeriodAlternatingSlotsAndLookupsTwoBlocksAhead) {
    common.envHold[GranularCommon::kAmplitude].setValue(5000.0f, true);
    h->settle(4);
    const uint32_t slot = h->play(h->makeNote(440.0f));
    GranularVoice& v = h->voice(slot);
    std::vector<int> onsets[2];
    bool was[2] = {false, false};
    for (block = 0; block < 400; ++block) {
        h->renderBlock();
        for (int k = 0; k < 2; ++k) {
            // Started: its window triggered and in the attack.
            const AHDEnvelope& w = v.grains[size_t(k)].window;
            const bool now = !w.isIdle() && w.state == AHDEnvelope::Attack;
            if (now && !was[k]) onsets[k].push_back(block);
            was[k] = now;
        }
    }
    EXPECT_EQ(v.period, 56u);  // 150 ms x 0.375
    EXPECT_EQ(grains.draws, (std::vector<int>{0, 56, 112, 168, 224, 280, 336, 392}));
    // Starts follow the draws: the first at once, the others at the end of the
    // block that found the slot idle (heard from the next), or after the 256
    // samples' release of a grain still sounding in the slot (a 150 ms grain
    // is 112.5 blocks, just over two periods).
    EXPECT_EQ(onsets[1], (std::vector<int>{0, 112, 228, 340}));
    EXPECT_EQ(onsets[0], (std::vector<int>{56, 172, 284, 396}));
    ASSERT_EQ(grains.requests.size(), 7u);
    for (size_t i = 0; i < grains.requests.size(); ++i) {
        EXPECT_EQ(grains.requests[i].block, 54 + 56 * int(i));
        EXPECT_EQ(grains.requests[i].list, "pads");
        EXPECT_EQ(grains.requests[i].a, 0.5f);
        EXPECT_EQ(grains.requests[i].voice, slot);
    }
    const auto x = h->renderChannel(slot, 4);
    EXPECT_GT(rms(x.data(), x.size()), 0.05);
}

TEST_F(GranularClock, WithoutHitsSilentWhileTheEnvelopeRuns) {
    grains.hit = FeatureHit{};
    const uint32_t slot = h->play(h->makeNote(440.0f));
    GranularVoice& v = h->voice(slot);
    int last = -1;
    for (block = 0; block < 900; ++block) {
        h->renderBlock();
        for (uint32_t i = 0; i < 64; ++i) ASSERT_EQ(h->block.channel(slot)[i], 0.0f);
        if (v.active) last = block;
    }
    // 10 + 250 + 750 ms: 757.5 blocks.
    EXPECT_GE(last, 755);
    EXPECT_LE(last, 760);
}

TEST_F(GranularClock, SlideOntoAnUnstartedVoiceEndsAfterOneBlockAndKeepsTheClockOtherwise) {
    h->playAt(3, h->makeNote(440.0f, 1.0f, NoteType::NoteSlide));
    EXPECT_TRUE(h->voice(3).active);
    h->renderBlock();
    EXPECT_FALSE(h->voice(3).active);

    const uint32_t slot = h->playAt(0, h->makeNote(440.0f));
    for (block = 0; block < 30; ++block) h->renderBlock();
    const uint32_t counter = h->voice(slot).counter;
    h->playAt(slot, h->makeNote(660.0f, 1.0f, NoteType::NoteSlide));
    h->renderBlock();
    EXPECT_EQ(h->voice(slot).counter, counter + 1);  // the clock runs on
    EXPECT_EQ(grains.draws.size(), 1u);
    h->voice(slot).fadeOut(64);
    for (int b = 0; b < 3; ++b) h->renderBlock();
    EXPECT_FALSE(h->voice(slot).active);
}

TEST_F(GranularClock, AMissingSampleIsReportedOncePerVoice) {
    grains.hit = FeatureHit{pool.addEntry("pads", "missing.wav", 200000, 48000.0f), 3, 0};
    common.envHold[GranularCommon::kAmplitude].setValue(5000.0f, true);
    h->settle(4);
    testing::internal::CaptureStdout();
    h->playAt(0, h->makeNote(440.0f));
    h->playAt(1, h->makeNote(330.0f));
    for (block = 0; block < 400; ++block) h->renderBlock();
    h->playAt(0, h->makeNote(440.0f));
    for (int b = 0; b < 100; ++b) h->renderBlock();
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_GE(grains.draws.size(), 16u);  // every grain start failed
    size_t lines = 0;
    for (size_t at = said.find(Grain::kInvalidResource); at != std::string::npos;
         at = said.find(Grain::kInvalidResource, at + 1))
        ++lines;
    EXPECT_EQ(lines, 2u);
    EXPECT_EQ(rms(h->block.channel(0), 64), 0.0);
}

TEST(GranularCommon, FreshPageAndLimits) {
    GranularCommon c;
    EXPECT_EQ(c.engineType, uint32_t(EngineGranular));
    EXPECT_EQ(c.parameters.name, "granular");
    EXPECT_FLOAT_EQ(c.loudness.getValue(), 0.5f);
    EXPECT_FLOAT_EQ(c.brightness.getValue(), 0.5f);
    EXPECT_FLOAT_EQ(c.variation.getValue(), 0.0f);
    const float times[2][3] = {{50, 50, 50}, {10, 250, 750}};
    for (uint32_t k = 0; k < 2; ++k) {
        EXPECT_FLOAT_EQ(c.envAttack[k].getValue(), times[k][0]);
        EXPECT_FLOAT_EQ(c.envHold[k].getValue(), times[k][1]);
        EXPECT_FLOAT_EQ(c.envDecay[k].getValue(), times[k][2]);
    }
    c.envHold[0].setValue(1.0f, true);
    EXPECT_FLOAT_EQ(c.envHold[0].getValue(), 10.0f);
    c.envAttack[0].setValue(5000.0f, true);
    EXPECT_FLOAT_EQ(c.envAttack[0].getValue(), 1000.0f);
    EXPECT_EQ(c.envSlotNames, (std::vector<std::string>{"grain", "env amp"}));
    EXPECT_EQ(c.exposedParameters[0].load(), &c.loudness);
    EXPECT_EQ(c.exposedParameters[9].load(), &c.samples);
    EXPECT_EQ(c.exposedParameters[11].load(), &c.detune);
    EXPECT_EQ(c.exposedParameters[15].load(), &c.envDecay[0]);
    EXPECT_EQ(c.exposedParameters[2].load(), nullptr);
    EXPECT_FLOAT_EQ(GranularCommon::previewBend(0.25f, 0.5f), 0.25f);
    EXPECT_FLOAT_EQ(GranularCommon::previewBend(0.5f, 1.0f), 1.0f + (0.5f - 1.0f) * 0.05f / 0.95f);
}

}  // namespace

namespace {

// Lists with analysed hops that the overview can find by name.
class DrawPool : public voicetest::GrainPool {
public:
    const AudioSampleGroup* findGroup(std::string_view list) const override {
        auto it = groups.find(std::string(list));
        return it == groups.end() ? nullptr : it->second.get();
    }
};

int countColour(const MonoGFX& g, int x0, int y0, int x1, int y1, uint32_t colour) {
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) n += g.pixel(x, y) == colour ? 1 : 0;
    return n;
}

TEST(GranularCommon, OverviewShowsTargetRadiusPointsAndWindow) {
    DrawPool pool;
    pool.makeList("pads", 3);
    GranularCommon c;
    c.samples.setChoices({"none", "pads"});
    c.variation.setValue(25.0f, true);
    const int x = 60, y = 10;
    MonoGFX g;
    g.init(256, 64);
    c.drawOverview(g, 0, 0, x, y);
    EXPECT_EQ(g.pixel(x + 28, y), 8u);          // the crosshair's vertical line at loudness 0.5
    EXPECT_EQ(g.pixel(x + 13, y + 15), 8u);     // and its horizontal one at brightness 0.5
    EXPECT_EQ(g.pixel(x + 28 + 5, y + 15 + 3), 2u);  // inside the radius circle (7 pixels)
    EXPECT_EQ(countColour(g, x + 14, y + 1, x + 42, y + 29, 15), 0);  // "none": no points
    // The straight part of the window preview reaches ten rows up.
    EXPECT_EQ(g.pixel(x + 28, y + 32), 4u);

    c.samples.setValue(1, true);
    g.clear();
    c.drawOverview(g, 0, 0, x, y);
    EXPECT_GT(countColour(g, x + 14, y + 1, x + 42, y + 29, 15), 0);
    DSP::releaseQueue.drain();
}

}  // namespace
