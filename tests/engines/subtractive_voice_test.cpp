// The subtractive voice rendered offline through the one-track harness and
// measured: pitch, envelope timing, filtering, glide, mixing, the sample
// source, fades, and finite output whatever the settings or the pitch.
#include "engines/subtractive/SubtractiveCommon.h"
#include "engines/subtractive/SubtractiveVoice.h"

#include "dsp/Random.h"
#include "tests/engines/EngineMeasure.h"
#include "tests/support/TempDir.h"
#include "tests/support/engines_harness.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdio>
#include <memory>
#include <new>
#include <random>

namespace {

using namespace enginemeasure;
using Harness = enginetest::VoiceHarness<SubtractiveVoice>;

bool dsptestFinite(const AudioBlock& b) {
    for (float v : b.samples)
        if (!std::isfinite(v)) return false;
    return true;
}

// Long, level envelopes on all three banks.
void sustain(SubtractiveCommon& c, float holdMs = 20000.0f) {
    for (int i = 0; i < 3; ++i) {
        c.envAttack[i].setValue(0.0f, true);
        c.envHold[i].setValue(holdMs, true);
        c.envDecay[i].setValue(200.0f, true);
    }
}

// Source 2 alone, exact pitch, both lanes in phase.
void plainSaw(SubtractiveCommon& c) {
    sustain(c);
    c.mix.setValue(100.0f, true);
    c.detune.setValue(0.0f, true);
    c.oscRetrig.setValue(1, true);
}

TEST(SubtractiveVoice, SawNotePitchMatchesTheNote) {
    for (float hz : {110.0f, 261.63f, 1000.0f}) {
        SubtractiveCommon c;
        plainSaw(c);
        Harness h(c);
        const uint32_t slot = h.play(h.makeNote(hz, 0.8f));
        auto out = h.renderChannel(slot, 300);
        ASSERT_TRUE(allFinite(out));
        EXPECT_NEAR(peakHz(out, 2048), hz, hz * 0.005) << hz;
    }
}

TEST(SubtractiveVoice, SecondRatioAndDetuneMoveTheLanes) {
    SubtractiveCommon c;
    plainSaw(c);
    c.ratio2.setValue(2.0f, true);
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(200.0f, 0.8f));
    auto out = h.renderChannel(slot, 300);
    EXPECT_NEAR(peakHz(out, 2048), 400.0, 2.0);

    // With "detune" 0 the ring pair sits at ratio x F + h and F - h exactly.
    SubtractiveCommon c2;
    plainSaw(c2);
    c2.ratio1.setValue(3.0f, true);
    c2.offset1.setValue(10.0f, true);
    Harness h2(c2);
    const uint32_t s2 = h2.play(h2.makeNote(300.0f));
    h2.renderBlock();
    auto laneHz = [&](int lane) {
        return std::asin(h2.voice(s2).coefficient[lane] * 0.5) * 48000.0 / M_PI;
    };
    EXPECT_NEAR(laneHz(0), 905.0, 0.05);
    EXPECT_NEAR(laneHz(1), 295.0, 0.05);
    EXPECT_NEAR(laneHz(2), 300.0, 0.05);

    // Full detune spreads the added lanes up to 20 %, the ring pair a tenth of that.
    SubtractiveCommon c3;
    plainSaw(c3);
    c3.detune.setValue(100.0f, true);
    Harness h3(c3);
    double ringSpread = 0.0, addedSpread = 0.0;
    for (int n = 0; n < 20; ++n) {
        const uint32_t s = h3.play(h3.makeNote(1000.0f));
        h3.renderBlock();
        const auto& v = h3.voice(s);
        ringSpread = std::max(ringSpread, std::fabs(std::asin(v.coefficient[1] * 0.5) * 48000.0 / M_PI - 999.75));
        addedSpread = std::max(addedSpread, std::fabs(std::asin(v.coefficient[2] * 0.5) * 48000.0 / M_PI - 1000.0));
    }
    EXPECT_GT(addedSpread, 40.0);
    EXPECT_LE(addedSpread, 201.0);
    EXPECT_LE(ringSpread, 20.1);
}

TEST(SubtractiveVoice, EnvelopeAttackDecayAndEndToTheBlock) {
    SubtractiveCommon c;
    plainSaw(c);
    // 100 ms attack = 75 blocks, no hold, 200 ms decay = 150 blocks.
    c.envAttack[1].setValue(100.0f, true);
    c.envHold[1].setValue(0.0f, true);
    c.envDecay[1].setValue(200.0f, true);
    for (int i : {0, 2}) {
        c.envAttack[i].setValue(100.0f, true);
        c.envHold[i].setValue(0.0f, true);
        c.envDecay[i].setValue(200.0f, true);
    }
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(1000.0f, 1.0f));
    auto out = h.renderChannel(slot, 320);
    auto level = blockLevels(out);
    size_t peak = 0;
    for (size_t b = 0; b < level.size(); ++b)
        if (level[b] > level[peak]) peak = b;
    EXPECT_GE(peak, 73u);
    EXPECT_LE(peak, 77u);
    EXPECT_LT(level[10], level[peak] * 0.01);  // value^4: quiet early in the attack
    EXPECT_LT(level[75 + 100], level[peak] * 0.05);
    for (size_t b = 75 + 152; b < level.size(); ++b) EXPECT_LT(level[b], 1e-3) << b;
    // Idle envelopes, then the 4096-sample fade: inactive after 64 more blocks.
    EXPECT_FALSE(h.voice(slot).active);
}

TEST(SubtractiveVoice, FadeOutReleasesWithinTheGivenSamples) {
    SubtractiveCommon c;
    plainSaw(c);
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(500.0f));
    auto before = h.renderChannel(slot, 20);
    EXPECT_GT(rms(&before[before.size() - 64], 64), 0.05);
    h.fadeOut(slot, 1024);
    auto after = h.renderChannel(slot, 17);
    auto level = blockLevels(after);
    EXPECT_GT(level[0], 0.01);
    EXPECT_LT(level[15], 1e-4);
    EXPECT_FALSE(h.voice(slot).active);

    // fadeOut(0): silent from the next block on.
    const uint32_t s2 = h.play(h.makeNote(500.0f));
    h.renderChannel(s2, 5);
    h.fadeOut(s2, 0);
    auto cut = h.renderChannel(s2, 1);
    for (float v : cut) EXPECT_EQ(v, 0.0f);
}

TEST(SubtractiveVoice, LowCutoffRemovesHighFrequencies) {
    auto highShare = [](float cutoff, int type) {
        SubtractiveCommon c;
        plainSaw(c);
        c.filtType.setValue(type, true);
        c.filtFreq.setValue(cutoff, true);
        Harness h(c);
        const uint32_t slot = h.play(h.makeNote(200.0f, 0.8f));
        auto out = h.renderChannel(slot, 300);
        EXPECT_TRUE(allFinite(out));
        return bandShare(out, 3000.0, 24000.0, 2048);
    };
    const double open = highShare(19000.0f, 0);
    EXPECT_GT(open, 0.01);
    EXPECT_LT(highShare(600.0f, 0), open * 0.01);
    const double ladderOpen = highShare(19000.0f, 1);
    EXPECT_LT(highShare(600.0f, 1), ladderOpen * 0.01);
}

TEST(SubtractiveVoice, GlideMovesThePitchOverTheSlideTime) {
    SubtractiveCommon c;
    plainSaw(c);
    c.slide.setValue(50.0f, true);  // divisor 3.75 per block
    Harness h(c);
    uint32_t slot = h.play(h.makeNote(220.0f));
    h.renderBlock();
    EXPECT_FLOAT_EQ(h.voice(slot).currentFrequency, 220.0f);  // a plain note jumps
    slot = h.play(h.makeNote(440.0f, 1.0f, NoteType::NoteOnSlide));
    EXPECT_FLOAT_EQ(h.voice(slot).glideUpDivisor, 3.75f);
    auto out = h.renderChannel(slot, 300);
    // The slide starts from the voice's present pitch: first block 220 + 220 / 3.75.
    EXPECT_NEAR(h.voice(slot).currentFrequency, 440.0f, 0.01f);
    EXPECT_NEAR(peakHz(out, 4096), 440.0, 2.0);

    Harness g(c);
    const uint32_t s = g.play(g.makeNote(220.0f));
    g.renderBlock();
    g.play(g.makeNote(440.0f, 1.0f, NoteType::NoteOnSlide));
    g.renderBlock();
    EXPECT_NEAR(g.voice(s).currentFrequency, 220.0f + 220.0f / 3.75f, 0.01f);
    for (int i = 0; i < 11; ++i) g.renderBlock();  // 220 x (1 - 1 / 3.75)^12 short of 440
    EXPECT_NEAR(g.voice(s).currentFrequency, 440.0f - 220.0f * std::pow(1.0f - 1.0f / 3.75f, 12.0f), 0.05f);

    c.slide.setValue(13.0f, true);  // below 40/3 ms: no glide
    g.play(g.makeNote(330.0f, 1.0f, NoteType::NoteOnSlide));
    EXPECT_FLOAT_EQ(g.voice(s).glideDownDivisor, 1.0f);
}

TEST(SubtractiveVoice, LegatoSlideKeepsEnvelopesPhasesAndDrive) {
    SubtractiveCommon c;
    plainSaw(c);
    c.oscRetrig.setValue(0, true);
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(300.0f, 1.0f));
    h.renderChannel(slot, 10);
    SubtractiveVoice& v = h.voice(slot);
    const uint32_t counter = v.envelope[1].counter;
    const float4 sine = v.sine;
    const uint32_t seedA = DSP::noise.seedA();
    h.play(h.makeNote(600.0f, 0.2f, NoteType::NoteSlide));
    EXPECT_EQ(DSP::noise.seedA(), seedA);  // nothing drawn
    EXPECT_EQ(v.envelope[1].counter, counter);
    EXPECT_EQ(v.sine[0], sine[0]);
    EXPECT_FLOAT_EQ(v.drive[0], 0.75f);
    EXPECT_FLOAT_EQ(v.glideUpDivisor, 3.75f);
    EXPECT_FALSE(v.started);
}

TEST(SubtractiveVoice, MixVelocityAndPhaseStart) {
    SubtractiveCommon c;
    Harness h(c);
    struct Case {
        float percent, gain1, gain2;
    };
    for (Case k : {Case{0, 1, 0}, Case{100, 0, 1}, Case{50, std::sqrt(0.5f), std::sqrt(0.5f)}}) {
        c.mix.setValue(k.percent, true);
        h.settle();
        const uint32_t s = h.play(h.makeNote(300.0f));
        // The smoothed mix approaches its end without quite reaching it.
        EXPECT_NEAR(h.voice(s).gain1, k.gain1, 2e-3f) << k.percent;
        EXPECT_NEAR(h.voice(s).gain2, k.gain2, 2e-3f) << k.percent;
    }
    uint32_t s = h.play(h.makeNote(300.0f, 1.0f));
    EXPECT_FLOAT_EQ(h.voice(s).drive[2], 0.75f);
    s = h.play(h.makeNote(300.0f, 0.5f));
    EXPECT_FLOAT_EQ(h.voice(s).drive[2], 0.26f);
    s = h.play(h.makeNote(300.0f, 0.0f));
    EXPECT_FLOAT_EQ(h.voice(s).drive[2], 0.01f);

    // Retrigger on: every lane starts at s = 1, c = 0, and nothing is drawn
    // for phases (four draws for the lane detune only).
    c.oscRetrig.setValue(1, true);
    uint64_t expected = Noise::pack(DSP::noise.seedA(), DSP::noise.seedB());
    for (int i = 0; i < 4; ++i) expected = Noise::step(expected);
    s = h.play(h.makeNote(300.0f));
    EXPECT_EQ(Noise::pack(DSP::noise.seedA(), DSP::noise.seedB()), expected);
    for (int lane = 0; lane < 4; ++lane) {
        EXPECT_EQ(h.voice(s).sine[lane], 1.0f);
        EXPECT_EQ(h.voice(s).cosine[lane], 0.0f);
    }
    // Off: eight draws, random phases.
    c.oscRetrig.setValue(0, true);
    expected = Noise::pack(DSP::noise.seedA(), DSP::noise.seedB());
    for (int i = 0; i < 8; ++i) expected = Noise::step(expected);
    s = h.play(h.makeNote(300.0f));
    EXPECT_EQ(Noise::pack(DSP::noise.seedA(), DSP::noise.seedB()), expected);
    EXPECT_NE(h.voice(s).sine[0], 1.0f);
}

TEST(SubtractiveVoice, SampleSourceBypassesTheFilter) {
    enginetest::TestSamplePool pool;
    std::vector<float> tone(96000);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = 0.5f * float(std::sin(2.0 * M_PI * 3000.0 * double(i) / 48000.0));
    pool.addResource("tone.wav", {tone}, 48000.0f);
    pool.addEntry("tones", "tone.wav", 96000, 48000.0f);

    SubtractiveCommon c;
    sustain(c);
    c.registerSampleLists();
    c.handleAction(15, 0);  // "sample"
    c.samples.setValue(1, true);
    EXPECT_EQ(c.samples.toString(), "tones");
    c.volumeB.setValue(0.0f, true);
    c.detune.setValue(0.0f, true);
    c.filtFreq.setValue(100.0f, true);
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(200.0f, 1.0f));
    auto out = h.renderChannel(slot, 300);
    ASSERT_TRUE(allFinite(out));
    EXPECT_NEAR(peakHz(out, 2048), 3000.0, 3.0);  // above a 100 Hz cutoff: not filtered
    EXPECT_GT(bandShare(out, 2900.0, 3100.0, 2048), 0.9);

    // No list chosen: the sample source is silent, the oscillators play on.
    c.samples.setValue(0, true);
    c.filtFreq.setValue(19000.0f, true);
    h.settle();
    const uint32_t s2 = h.play(h.makeNote(200.0f, 1.0f));
    auto plain = h.renderChannel(s2, 50);
    EXPECT_FALSE(h.voice(s2).samplePlayer.playing());
    EXPECT_GT(rms(&plain[40 * 64], 640), 0.01);
}

TEST(SubtractiveVoice, FilterSwitchKeepsTheOtherFilterState) {
    SubtractiveCommon c;
    plainSaw(c);
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(300.0f));
    h.renderChannel(slot, 10);
    const float state = h.voice(slot).svf.ic1eq;
    ASSERT_NE(state, 0.0f);
    c.handleAction(10, 0);
    h.renderBlock();
    EXPECT_EQ(h.voice(slot).filterType, 1u);
    EXPECT_EQ(h.voice(slot).svf.ic1eq, state);
    EXPECT_NE(h.voice(slot).ladder.s4, 0.0f);
}

TEST(SubtractiveVoice, ZeroHzLanesAndNonFinitePitchesStayFinite) {
    SubtractiveCommon c;
    plainSaw(c);
    c.mix.setValue(50.0f, true);
    c.volumeB.setValue(0.0f, true);
    Harness h(c);
    // 0.25 Hz puts lane 1 (F - half the 0.5 Hz offset) at exactly 0 Hz.
    for (float hz : {0.25f, 0.0f, -100.0f, NAN, INFINITY, -INFINITY, 3.0e38f, 1.0e-30f}) {
        const uint32_t s = h.play(h.makeNote(hz, 1.0f));
        auto out = h.renderChannel(s, 20);
        EXPECT_TRUE(allFinite(out)) << hz;
        EXPECT_TRUE(std::isfinite(h.voice(s).currentFrequency)) << hz;
    }
    // A non-finite level is played as silence, not NaN.
    const uint32_t s = h.play(h.makeNote(440.0f, NAN));
    EXPECT_TRUE(allFinite(h.renderChannel(s, 5)));
}

TEST(SubtractiveVoice, RandomSweepsNeverProduceNaNOrInfinity) {
    enginetest::TestSamplePool pool;
    pool.addResource("n.wav", {std::vector<float>(3000, 0.3f), std::vector<float>(10, -0.3f)}, 22050.0f);
    auto e = pool.addEntry("list", "n.wav", 50000, 22050.0f);
    e->looping = true;
    SubtractiveCommon c;
    c.registerSampleLists();
    Harness h(c);
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float pitches[] = {0.0f, 0.25f, 20.0f, 440.0f, 12000.0f, 23999.0f, 96000.0f};
    for (int round = 0; round < 200; ++round) {
        for (Parameter* p : c.parameters.parameters)
            if (p != &c.polyphony) p->setNormalised(unit(rng));
        c.polyphony.setValue(8, true);
        if (round % 7 == 0) h.settle(3);
        NoteEvent n = h.makeNote(pitches[rng() % 7] * (0.5f + unit(rng)), unit(rng) * 1.5f, NoteType(rng() % 3));
        n.unisonIndex = rng() % 8;
        n.step = rng() % 100;
        h.play(n);
        if (rng() % 5 == 0) h.fadeOut(rng() % 8, (rng() % 4) * 256);
        for (int b = 0; b < 4; ++b) {
            h.renderBlock();
            ASSERT_TRUE(dsptestFinite(h.block)) << "round " << round;
        }
    }
}

TEST(SubtractiveVoice, MisplacedVoiceIsRefused) {
    // The check the constructor runs first (building an object at a bad
    // address would itself be undefined).
    alignas(64) static unsigned char storage[128];
    EXPECT_TRUE(SubtractiveVoice::checkPlacement(storage + 16));
    testing::internal::CaptureStderr();
    EXPECT_THROW(SubtractiveVoice::checkPlacement(storage + 8), std::bad_alloc);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "SubtractiveVoice object is improperly aligned\n");
}

TEST(SubtractiveVoice, RenderedNoteAsWavChecksOutWithSox) {
    SubtractiveCommon c;
    sustain(c, 600.0f);
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(220.0f, 0.8f));
    auto out = h.renderChannel(slot, 750);  // one second
    const std::string path = testsupport::tempDir() + "subtractive-note.wav";
    SF_INFO info{0, 48000, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    sf_writef_float(file, out.data(), sf_count_t(out.size()));
    sf_close(file);

    const std::string command = "sox " + path + " -n stat 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string report;
    char line[256];
    while (fgets(line, sizeof line, pipe)) report += line;
    ASSERT_EQ(pclose(pipe), 0) << report;
    auto field = [&](const std::string& name) {
        const size_t at = report.find(name);
        EXPECT_NE(at, std::string::npos) << report;
        return at == std::string::npos ? -1.0 : std::atof(report.c_str() + report.find(':', at) + 1);
    };
    EXPECT_NEAR(field("Length (seconds)"), 1.0, 1e-3);
    EXPECT_LT(field("Maximum amplitude"), 1.0);   // no clipping
    EXPECT_GT(field("Minimum amplitude"), -1.0);
    EXPECT_GT(field("RMS     amplitude"), 0.02);  // clearly sounding
}

}  // namespace
