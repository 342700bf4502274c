// The resonator engine: loop tuning by autocorrelation, odd harmonics of the
// negative loop, decay per pass, the lowest note, saturation at full bit
// depth, the voice's life and the engine object.
#include "dsp/Random.h"
#include "engines/resonator/ResonatorCommon.h"
#include "engines/resonator/ResonatorVoice.h"
#include "parameters/Modulator.h"

#include "tests/engines/EngineMeasure.h"
#include "tests/support/engines_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace enginemeasure;

namespace {

using Harness = enginetest::VoiceHarness<ResonatorVoice>;

double cents(double hz, double reference) { return 1200.0 * std::log2(hz / reference); }

TEST(ResonatorVoice, BothLoopsSoundTheNotesPitch) {
    for (float posNeg : {0.0f, 100.0f}) {
        ResonatorCommon c;
        c.posNeg.setValue(posNeg, true);
        Harness h(c);
        const uint32_t slot = h.play(h.makeNote(220.0f));
        const auto x = h.renderChannel(slot, 600);
        ASSERT_TRUE(allFinite(x.data(), x.size()));
        const double period = periodByAutocorrelation(x, 7200, 24000, 200, 240);
        EXPECT_NEAR(cents(48000.0 / period, 220.0), 0.0, 3.0) << "pos/neg " << posNeg;
        if (posNeg > 0.0f) {  // half a period with negative feedback: odd harmonics only
            const auto p = power(x, 7200);
            const double fundamental = linePower(p, 220.0);
            EXPECT_GT(dB(linePower(p, 660.0) / fundamental), -30.0);
            for (double even : {440.0, 880.0, 1320.0}) EXPECT_LT(dB(linePower(p, even) / fundamental), -30.0) << even;
        }
    }
}

TEST(ResonatorVoice, PosDecayGivesItsLossPerPass) {
    ResonatorCommon c;  // "pos decay" 0.8: 0.8^0.1 per pass, -0.194 dB
    // The loop is struck with noise: the same strike whatever ran before.
    DSP::noise.seed(Noise::kSeedA, Noise::kSeedB);
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(220.0f));
    const auto x = h.renderChannel(slot, 1000);
    const size_t window = 4800;
    const double early = rms(x.data() + 14400, window), late = rms(x.data() + 43200, window);
    const double dbPerSecond = 20.0 * std::log10(early / late) / 0.6;
    EXPECT_NEAR(60.0 / dbPerSecond, 1.41, 0.141);
}

TEST(ResonatorVoice, LowestNoteIsTenHertz) {
    ResonatorCommon c;
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(5.0f));
    h.renderBlock();
    EXPECT_EQ(h.voice(slot).note.frequency, 10.0f);
    EXPECT_NEAR(h.voice(slot).line1.delay, 4800.0f, 1.0f);
    EXPECT_TRUE(allFinite(h.block.channel(slot), 64));
}

TEST(ResonatorVoice, FullBitDepthClipsTheLoopWithoutFlippingItsSign) {
    enginetest::TestSamplePool pool;
    pool.addResource("dc.wav", {std::vector<float>(96000, 1.0f)}, 48000.0f);
    pool.addEntry("loud", "dc.wav", 96000, 48000.0f);
    ResonatorCommon c;
    c.registerSampleLists();
    c.samples.setValue(1, true);
    c.sampleVolume.setValue(18.0f, true);
    c.noiseVolume.setValue(-96.0f, true);
    c.envHold[1].setValue(1000.0f, true);
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(220.0f));
    h.renderChannel(slot, 40);
    const ResonatorVoice& v = h.voice(slot);
    float lowest = 1.0f, highest = -1.0f;
    for (float s : v.line1.line.buffer) lowest = std::min(lowest, s), highest = std::max(highest, s);
    EXPECT_GT(lowest, -1e-3f);  // a positive excitation in a positive loop: no -0.5 from a flip
    EXPECT_EQ(highest, 0.5f);  // 2^31 / 2^32: clipped, not wrapped
    for (float s : v.line2.line.buffer) EXPECT_LE(std::fabs(s), 0.5f);
}

TEST(ResonatorVoice, SlideToANeverStartedVoiceEndsAndAFadeOfZeroStopsAtOnce) {
    ResonatorCommon c;
    c.polyphony.setValue(2, true);
    Harness h(c);
    h.playAt(1, h.makeNote(220.0f, 1.0f, NoteType::NoteSlide));
    h.renderBlock();
    EXPECT_FALSE(h.voice(1).active);

    h.playAt(0, h.makeNote(220.0f));
    h.renderChannel(0, 10);
    ASSERT_TRUE(h.voice(0).active);
    h.fadeOut(0, 0);
    h.renderBlock();
    EXPECT_FALSE(h.voice(0).active);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(h.block.channel(0)[i], 0.0f);
}

TEST(ResonatorCommon, ParametersSlotsAndSampleLists) {
    ResonatorCommon c;
    const char* order[] = {"noise vol", "noise filt", "ratchet", "smp vol",  "smp filt", "samples",
                           "dampening", "pos/neg",    "pos decay", "neg decay", "bit depth"};
    ASSERT_EQ(c.parameters.parameters.size(), 7u + 12u + 11u);
    for (size_t i = 0; i < 11; ++i) EXPECT_EQ(c.parameters.parameters[19 + i]->name, order[i]);
    EXPECT_EQ(c.envSlots(), 2u);
    EXPECT_EQ(c.envSlotNames, (std::vector<std::string>{"env nse", "env smp"}));
    EXPECT_EQ(c.envHold[1].getValue(), 50.0f);
    EXPECT_EQ(c.samples.value, 0);
    EXPECT_EQ(c.samples.toString(), "none");
    c.bitDepth.setValue(40, true);
    EXPECT_EQ(c.bitDepth.value, 32);
    c.bitDepth.setValue(1, true);
    EXPECT_EQ(c.bitDepth.value, 4);
    EXPECT_EQ(c.exposedParameters[10].load(), &c.bitDepth);
    EXPECT_EQ(c.exposedParameters[15].load(), &c.envDecay[0]);
}

}  // namespace

namespace {

std::vector<float> sine(double hz, size_t n, float level) {
    std::vector<float> x(n);
    for (size_t i = 0; i < n; ++i) x[i] = level * float(std::sin(2.0 * M_PI * hz * double(i) / 48000.0));
    return x;
}

float peakOf(const std::vector<float>& x) {
    float p = 0.0f;
    for (float s : x) p = std::max(p, std::fabs(s));
    return p;
}

TEST(ResonatorVoice, CoarseBitDepthsCrushWithoutRingingUp) {
    enginetest::TestSamplePool pool;
    pool.addResource("tone.wav", {sine(220.0, 48000, 0.5f)}, 48000.0f);
    pool.addEntry("tone", "tone.wav", 48000, 48000.0f);
    for (float decay : {80.0f, 100.0f}) {  // percent
        float full = 0.0f;
        for (int bits : {32, 24, 16, 8}) {
            ResonatorCommon c;
            c.registerSampleLists();
            c.samples.setValue(1, true);
            c.posDecay.setValue(decay, true);
            c.bitDepth.setValue(bits, true);
            Harness h(c);
            const auto x = h.renderChannel(h.play(h.makeNote(220.0f)), 1500);
            ASSERT_TRUE(allFinite(x.data(), x.size()));
            const float peak = peakOf(x);
            if (bits == 32)
                full = peak;
            else
                EXPECT_LT(20.0 * std::log10(peak / full), 6.5) << "pos decay " << decay << ", " << bits << " bits";
        }
    }
}

// The same value for every channel: a modulated value apart from the set one.
class Constant : public Modulator {
public:
    explicit Constant(float v) : Modulator(8, "detune", "resonator"), value(v) {}
    float process(uint32_t, bool, bool) override { return value; }
    float value;
};

TEST(ResonatorVoice, ALoopingSampleRestartsAtTheSetDetune) {
    enginetest::TestSamplePool pool;
    pool.addResource("tone.wav", {sine(440.0, 1200, 0.5f)}, 48000.0f);
    pool.addEntry("loop", "tone.wav", 1200, 48000.0f)->looping = true;
    ResonatorCommon c;
    c.registerSampleLists();
    c.samples.setValue(1, true);
    c.detune.addModulator(std::make_shared<Constant>(1.0f));
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(220.0f));
    ASSERT_EQ(c.detune.getModulated(slot, false, false), 1.0f);
    const SamplePlayer& player = h.voice(slot).samplePlayer;
    int restarts = 0, detuned = 0;
    float last = player.position;
    for (int b = 0; b < 200; ++b) {
        h.renderBlock();
        if (player.position < last) ++restarts;
        last = player.position;
        if (player.detuneFactor != 1.0f) ++detuned;  // "detune" is 0: no spread
    }
    EXPECT_GE(restarts, 3);
    EXPECT_EQ(detuned, 0);
}

}  // namespace
