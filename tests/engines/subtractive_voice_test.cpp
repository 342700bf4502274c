// The subtractive voice rendered offline through the one-track harness and
// measured: pitch, envelope timing, filtering, glide, the sample source, and
// finite output whatever the settings or the pitch.
#include "engines/subtractive/SubtractiveCommon.h"
#include "engines/subtractive/SubtractiveVoice.h"

#include "tests/engines/EngineMeasure.h"
#include "tests/support/TempDir.h"
#include "tests/support/engines_harness.h"
#include "tests/support/list_popup.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdio>
#include <random>

namespace {

using namespace enginemeasure;
using Harness = enginetest::VoiceHarness<SubtractiveVoice>;

// Source 2 alone, exact pitch, lanes in phase, held for `holdMs`.
void plainSaw(SubtractiveCommon& c, float holdMs = 20000.0f) {
    for (int i = 0; i < 3; ++i) {
        c.envAttack[i].setValue(0.0f, true);
        c.envHold[i].setValue(holdMs, true);
    }
    c.mix.setValue(100.0f, true);
    c.detune.setValue(0.0f, true);
    c.oscRetrig.setValue(1, true);
}

std::vector<float> note(SubtractiveCommon& c, float hz, int blocks, float level = 0.8f) {
    Harness h(c);
    return h.renderChannel(h.play(h.makeNote(hz, level)), blocks);
}

TEST(SubtractiveVoice, PitchFollowsTheNoteAndTheRatio) {
    for (float hz : {110.0f, 1000.0f}) {
        SubtractiveCommon c;
        plainSaw(c);
        EXPECT_NEAR(peakHz(note(c, hz, 300), 2048), hz, hz * 0.005);
        c.ratio2.setValue(2.0f, true);
        EXPECT_NEAR(peakHz(note(c, hz, 300), 2048), 2.0 * hz, hz * 0.01);
    }
}

TEST(SubtractiveVoice, EnvelopeTimesToTheBlockAndFades) {
    SubtractiveCommon c;
    plainSaw(c);
    for (int i = 0; i < 3; ++i) {  // 75 blocks of attack, 150 of decay
        c.envAttack[i].setValue(100.0f, true);
        c.envHold[i].setValue(0.0f, true);
    }
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(1000.0f, 1.0f));
    auto out = h.renderChannel(slot, 300);
    std::vector<double> level;
    for (size_t b = 0; b < 300; ++b) level.push_back(rms(&out[b * 64], 64));
    const size_t peak = size_t(std::max_element(level.begin(), level.end()) - level.begin());
    EXPECT_GE(peak, 73u);
    EXPECT_LE(peak, 77u);
    EXPECT_LT(level[175], level[peak] * 0.05);
    EXPECT_LT(*std::max_element(level.begin() + 227, level.end()), 1e-3);
    EXPECT_FALSE(h.voice(slot).active);  // idle envelopes, then the 4096-sample gain fade

    plainSaw(c);
    h.play(h.makeNote(500.0f));
    h.renderChannel(slot, 20);
    h.fadeOut(slot, 1024);
    auto faded = h.renderChannel(slot, 17);
    EXPECT_GT(rms(&faded[0], 64), 0.01);
    EXPECT_LT(rms(&faded[15 * 64], 64), 1e-4);
    EXPECT_FALSE(h.voice(slot).active);
}

TEST(SubtractiveVoice, LowCutoffRemovesHighFrequencies) {
    for (int type : {0, 1}) {
        SubtractiveCommon c;
        plainSaw(c);
        c.filtType.setValue(type, true);
        const double open = bandShare(note(c, 200.0f, 300), 3000.0, 24000.0, 2048);
        c.filtFreq.setValue(600.0f, true);
        EXPECT_GT(open, 0.01) << type;
        EXPECT_LT(bandShare(note(c, 200.0f, 300), 3000.0, 24000.0, 2048), open * 0.01) << type;
    }
}

TEST(SubtractiveVoice, GlideMovesThePitchOverTheSlideTime) {
    SubtractiveCommon c;
    plainSaw(c);
    c.slide.setValue(50.0f, true);  // divisor 3.75 per block
    Harness h(c);
    const uint32_t s = h.play(h.makeNote(220.0f));
    h.renderBlock();
    EXPECT_FLOAT_EQ(h.voice(s).currentFrequency, 220.0f);  // a plain note jumps
    h.play(h.makeNote(440.0f, 1.0f, NoteType::NoteOnSlide));
    h.renderBlock();
    EXPECT_NEAR(h.voice(s).currentFrequency, 220.0f + 220.0f / 3.75f, 0.01f);
    auto out = h.renderChannel(s, 300);
    EXPECT_NEAR(peakHz(out, 4096), 440.0, 2.0);
    c.slide.setValue(13.0f, true);  // below 40/3 ms: no glide
    h.play(h.makeNote(330.0f, 1.0f, NoteType::NoteSlide));
    EXPECT_FLOAT_EQ(h.voice(s).glideDownDivisor, 1.0f);
}

TEST(SubtractiveVoice, SampleSourceBypassesTheFilterAndTakesTheRawDetune) {
    enginetest::TestSamplePool pool;
    std::vector<float> tone(96000);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = 0.5f * float(std::sin(2.0 * M_PI * 3000.0 * double(i) / 48000.0));
    pool.addResource("tone.wav", {tone}, 48000.0f);
    pool.addEntry("tones", "tone.wav", 96000, 48000.0f);
    SubtractiveCommon c;
    plainSaw(c);
    c.registerSampleLists();
    c.handleAction(15, 0);
    c.samples.setValue(1, true);
    c.volumeB.setValue(0.0f, true);
    c.filtFreq.setValue(100.0f, true);
    auto out = note(c, 200.0f, 300);
    EXPECT_NEAR(peakHz(out, 2048), 3000.0, 3.0);  // far above the cutoff, yet there
    EXPECT_GT(bandShare(out, 2900.0, 3100.0, 2048), 0.9);

    c.detune.setValue(100.0f, true);
    Harness h(c);
    float spread = 0.0f;
    for (int i = 0; i < 30; ++i)
        spread = std::max(spread, std::fabs(h.voice(h.play(h.makeNote(200.0f))).samplePlayer.detuneFactor - 1.0f));
    EXPECT_GT(spread, 0.05f);  // 0.2 x 1^3 at most, not 0.2 x (0.2 x 1^3)^3
}

// The list pop-up is one more way of setting a choice: the voice, the page
// slots and the overview must follow it as they follow the encoder.
TEST(SubtractiveVoice, ChoicesMadeInTheListReachTheSound) {
    SubtractiveCommon svf, ladder, listed;
    for (SubtractiveCommon* c : {&svf, &ladder, &listed}) {
        plainSaw(*c);
        c->filtFreq.setValue(600.0f, true);
    }
    ladder.filtType.setValue(1, true);
    ASSERT_TRUE(testsupport::chooseInPopup(listed.filtType, 1));  // "24dB LPF"
    const double high = bandShare(note(svf, 200.0f, 300), 3000.0, 24000.0, 2048);
    const double steep = bandShare(note(ladder, 200.0f, 300), 3000.0, 24000.0, 2048);
    ASSERT_LT(steep, high * 0.5);
    EXPECT_NEAR(bandShare(note(listed, 200.0f, 300), 3000.0, 24000.0, 2048), steep, steep * 0.01);
    listed.refreshEnvSlot();
    EXPECT_EQ(listed.exposedParameters[SubtractiveCommon::kFilterShapePlace], nullptr);

    enginetest::TestSamplePool pool;
    std::vector<float> tone(96000);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = 0.5f * float(std::sin(2.0 * M_PI * 3000.0 * double(i) / 48000.0));
    pool.addResource("tone.wav", {tone}, 48000.0f);
    pool.addEntry("tones", "tone.wav", 96000, 48000.0f);
    SubtractiveCommon c;
    plainSaw(c);
    c.registerSampleLists();
    ASSERT_TRUE(testsupport::chooseInPopup(c.sourceB, 1));  // "sample"
    c.refreshEnvSlot();
    EXPECT_EQ(c.exposedParameters[SubtractiveCommon::kSamplesPlace], &c.samples);
    ASSERT_TRUE(testsupport::chooseInPopup(c.samples, 1));  // "tones"
    c.volumeB.setValue(0.0f, true);
    EXPECT_NEAR(peakHz(note(c, 200.0f, 300), 2048), 3000.0, 3.0);

    // Retriggered lanes start every note at the same phase; free ones do not.
    SubtractiveCommon r;
    plainSaw(r);
    r.oscRetrig.setValue(0, true);
    ASSERT_TRUE(testsupport::chooseInPopup(r.oscRetrig, 1));  // "true"
    auto apart = [&] {
        const auto first = note(r, 300.0f, 2), second = note(r, 300.0f, 2);
        float d = 0.0f;
        for (size_t i = 0; i < first.size(); ++i) d = std::max(d, std::fabs(first[i] - second[i]));
        return d;
    };
    EXPECT_LT(apart(), 1e-3f);  // only source B's noise differs
    r.oscRetrig.setValue(0, true);
    EXPECT_GT(apart(), 0.1f);
}

TEST(SubtractiveVoice, ZeroHzLanesNonFinitePitchesAndRandomSweepsStayFinite) {
    enginetest::TestSamplePool pool;
    pool.addResource("n.wav", {std::vector<float>(3000, 0.3f), std::vector<float>(10, -0.3f)}, 22050.0f);
    pool.addEntry("list", "n.wav", 50000, 22050.0f)->looping = true;
    SubtractiveCommon c;
    c.registerSampleLists();
    c.volumeB.setValue(0.0f, true);
    Harness h(c);
    // 0.25 Hz puts lane 1 (F minus half the 0.5 Hz offset) at exactly 0 Hz.
    for (float hz : {0.25f, 0.0f, -100.0f, NAN, INFINITY, 3.0e38f}) {
        auto out = h.renderChannel(h.play(h.makeNote(hz, 1.0f)), 20);
        EXPECT_TRUE(allFinite(out.data(), out.size())) << hz;
    }
    auto silent = h.renderChannel(h.play(h.makeNote(440.0f, NAN)), 5);
    EXPECT_TRUE(allFinite(silent.data(), silent.size()));

    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float pitches[] = {0.0f, 20.0f, 440.0f, 12000.0f, 23999.0f, 96000.0f};
    for (int round = 0; round < 200; ++round) {
        for (Parameter* p : c.parameters.parameters)
            if (p != &c.polyphony) p->setNormalised(unit(rng));
        c.polyphony.setValue(8, true);
        NoteEvent n = h.makeNote(pitches[rng() % 6] * (0.5f + unit(rng)), unit(rng) * 1.5f, NoteType(rng() % 3));
        n.unisonIndex = rng() % 8;
        h.play(n);
        if (rng() % 5 == 0) h.fadeOut(rng() % 8, (rng() % 4) * 256);
        for (int b = 0; b < 4; ++b) {
            h.renderBlock();
            ASSERT_TRUE(allFinite(h.block.samples, AudioBlock::kSamples)) << "round " << round;
        }
    }
}

TEST(SubtractiveVoice, MisplacedVoiceIsRefused) {
    // The check the constructor runs first; an object at a bad address would itself be undefined.
    alignas(64) static unsigned char storage[128];
    EXPECT_TRUE(SubtractiveVoice::checkPlacement(storage + 16));
    testing::internal::CaptureStderr();
    EXPECT_THROW(SubtractiveVoice::checkPlacement(storage + 8), std::bad_alloc);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "SubtractiveVoice object is improperly aligned\n");
}

TEST(SubtractiveVoice, RenderedNoteAsWavChecksOutWithSox) {
    SubtractiveCommon c;
    plainSaw(c, 600.0f);
    c.mix.setValue(50.0f, true);
    auto out = note(c, 220.0f, 750);  // one second
    const std::string path = testsupport::tempDir() + "subtractive-note.wav";
    SF_INFO info{0, 48000, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    sf_writef_float(file, out.data(), sf_count_t(out.size()));
    sf_close(file);

    FILE* pipe = popen(("sox " + path + " -n stat 2>&1").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string report;
    char line[256];
    while (fgets(line, sizeof line, pipe)) report += line;
    ASSERT_EQ(pclose(pipe), 0) << report;
    auto field = [&](const char* name) {
        const size_t at = report.find(name);
        return at == std::string::npos ? NAN : std::atof(report.c_str() + report.find(':', at) + 1);
    };
    EXPECT_NEAR(field("Length (seconds)"), 1.0, 1e-3) << report;
    EXPECT_LT(field("Maximum amplitude"), 1.0) << report;  // no clipping
    EXPECT_GT(field("Minimum amplitude"), -1.0) << report;
    EXPECT_GT(field("RMS     amplitude"), 0.02) << report;
}

}  // namespace
