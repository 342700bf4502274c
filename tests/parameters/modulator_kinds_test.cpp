// The four modulator kinds measured block by block: shapes, rates, clock
// sync, envelope stages, random ranges and channel offsets.
#include "dsp/Random.h"
#include "dsp/SVF.h"
#include "instrument/MainClock.h"
#include "parameters/BasicEnvelope.h"
#include "parameters/BasicLFO.h"
#include "parameters/ChannelOffset.h"
#include "parameters/ParameterFloat.h"
#include "parameters/RandomNumber.h"
#include "platform/Fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

namespace {

// One block of a modulator as a parameter drives it: its own parameters
// refreshed, then one process call; returns the output before "amount".
float block(Modulator& m, uint32_t channel = 0, bool trigA = false, bool trigB = false) {
    m.parameterGroup.updateBlock();
    m.process(channel, trigA, trigB);
    return m.outputs[channel];
}

// The main clock, which "sync" follows, running at a tempo; stepped per
// block as the block loop does.
struct RunningClock {
    float phase[64] = {};
    explicit RunningClock(float bpm) { setTempo(bpm), DSP::mainClock.start(true); }
    ~RunningClock() { DSP::mainClock.stop(true); }
    void setTempo(float bpm) { DSP::mainClock.bpm.setValue(bpm, true); }
    void block() { DSP::mainClock.process(phase, 64, nullptr); }
};

}  // namespace

TEST(LfoShape, PeriodMatchesTheRateToASample) {
    for (float hz : {3.0f, 11.0f, 40.0f}) {
        BasicLFO lfo(8, "cutoff", "filter");
        lfo.frequency.setValue(hz, true);
        lfo.shape.setValue(BasicLFO::Rising, true);
        // The ramp's wraps, placed between blocks by where its phase
        // crosses 1, in samples.
        std::vector<double> wraps;
        double previous = (block(lfo, 3) + 1.0) / 2.0;
        const int blocks = int(750.0f / hz * 6.5f);
        for (int k = 1; k < blocks; ++k) {
            const double p = (block(lfo, 3) + 1.0) / 2.0;
            if (p < previous)
                wraps.push_back((k - 1 + (1.0 - previous) / (p + 1.0 - previous)) * 64.0);
            previous = p;
        }
        ASSERT_GE(wraps.size(), 5u) << hz;
        const double period = (wraps.back() - wraps.front()) / double(wraps.size() - 1);
        EXPECT_NEAR(period, 48000.0 / hz, 1.0) << hz;
    }
}

TEST(LfoShape, WaveformValuesAtQuarterPoints) {
    BasicLFO lfo(8, "level", "amp");
    lfo.trig.setValue(BasicLFO::kTrigSync, true);  // the phase is the clock's beat fraction
    struct Case {
        BasicLFO::Shape shape;
        float expected[4];
    };
    const Case cases[] = {
        // The unfolded sine is normalised by a truncated table read: the
        // troughs come out 2.5% deep.
        {BasicLFO::Sine, {0.0f, 1.0f, 0.0f, -1.025f}},
        {BasicLFO::Rising, {-1.0f, -0.5f, 0.0f, 0.5f}},
        {BasicLFO::Falling, {1.0f, 0.5f, 0.0f, -0.5f}},
        {BasicLFO::Square, {1.0f, 1.0f, 1.0f, -1.0f}},  // exactly 0.5 is still high
    };
    for (const Case& c : cases) {
        lfo.shape.setValue(c.shape, true);
        for (int q = 0; q < 4; ++q) {
            DSP::mainClock.tempoCounter = 1000.0 + 0.25 * q;
            float v = 0.0f;
            for (int settle = 0; settle < 4; ++settle)  // the stepped shapes' smoother settles
                v = block(lfo);
            EXPECT_NEAR(v, c.expected[q], 2e-3f) << "shape " << c.shape << " at " << q << "/4";
        }
    }
    // The ranges map a full-scale output before "amount".
    lfo.shape.setValue(BasicLFO::Rising, true);
    DSP::mainClock.tempoCounter = 0.75;  // rising: 0.5
    const std::pair<BasicLFO::Range, float> ranges[] = {
        {BasicLFO::Invert, -0.5f}, {BasicLFO::Positive, 0.75f}, {BasicLFO::Negative, -0.25f}};
    for (auto [range, expected] : ranges) {
        lfo.range.setValue(range, true);
        for (int settle = 0; settle < 3; ++settle)
            block(lfo);
        EXPECT_NEAR(block(lfo), expected, 1e-3f) << range;
    }
}

TEST(LfoShape, FoldRetriggerAndRandomSteps) {
    BasicLFO lfo(8, "level", "amp");
    lfo.frequency.setValue(0.001f, true);
    // Fold 0.125: the normaliser is 1 and the peak just touches 1.
    lfo.fold.setValue(12.5f, true);
    lfo.phasors[0].phase = 0.25f;
    EXPECT_NEAR(block(lfo), 1.0f, 1e-3f);
    // A note with "note" restarts at phase 0 plus one increment.
    lfo.trig.setValue(2, true);
    lfo.fold.setValue(0.0f, true);
    lfo.frequency.setValue(7.5f, true);  // 0.01 cycles a block
    lfo.phasors[0].phase = 0.6f;
    block(lfo, 0, true, false);  // a sequencer reset: not this trigger
    EXPECT_GT(lfo.phasors[0].phase, 0.6f);
    block(lfo, 0, false, true);
    EXPECT_NEAR(lfo.phasors[0].phase, 0.01f, 1e-6f);
    EXPECT_NEAR(lfo.outputs[0], std::sin(2.0 * M_PI * 0.01), 0.015);  // small angles: coarse table steps
    // "random" holds 0 until the first wrap, then a new step per cycle.
    BasicLFO steps(8, "level", "amp");
    steps.shape.setValue(BasicLFO::RandomSteps, true);
    steps.frequency.setValue(75.0f, true);  // 0.1 cycles a block
    steps.phasors[1].phase = 0.0f;
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(block(steps, 1), 0.0f) << k;
    std::vector<int> changes;
    float held = 0.0f;
    for (int k = 0; k < 62; ++k) {
        block(steps, 1);
        if (steps.heldRandom[1] != held)
            changes.push_back(k);
        held = steps.heldRandom[1];
        EXPECT_LE(std::fabs(steps.outputs[1]), 1.0f);
    }
    ASSERT_GE(changes.size(), 5u);  // one step per cycle of ten blocks
    for (size_t i = 1; i < changes.size(); ++i)
        EXPECT_EQ(changes[i] - changes[i - 1], 10);
}

TEST(LfoSync, FollowsATempoChange) {
    testing::internal::CaptureStdout();
    RunningClock clock(120.0f);
    BasicLFO lfo(8, "level", "amp");
    lfo.trig.setValue(BasicLFO::kTrigSync, true);
    lfo.shape.setValue(BasicLFO::Rising, true);
    lfo.clockMult.setValue(2.0f, true);  // two cycles a beat
    // Blocks between the ramp's wraps: 375 / 2 at 120 BPM, 500 / 2 at 90.
    auto cycleBlocks = [&](float bpm) {
        clock.setTempo(bpm);
        std::vector<int> wraps;
        float previous = block(lfo);
        for (int k = 1; k < 2000 && wraps.size() < 4; ++k) {
            clock.block();
            const float v = block(lfo);
            if (previous - v > 1.0f)
                wraps.push_back(k);
            previous = v;
        }
        return wraps.size() < 4 ? 0.0 : double(wraps.back() - wraps[1]) / 2.0;
    };
    EXPECT_NEAR(cycleBlocks(120.0f), 187.5, 1.0);
    EXPECT_NEAR(cycleBlocks(90.0f), 250.0, 1.0);
    // In step with the clock's beat: the ramp sits at twice its phase.
    clock.block();
    block(lfo);
    EXPECT_NEAR(lfo.lastPhase[0], std::fmod(2.0 * DSP::mainClock.tempoBeats(), 1.0), 1e-5);
    // Multipliers snap to the musical grid.
    lfo.clockMult.setValue(3.3f, true);  // snaps to 3.5
    block(lfo);
    EXPECT_NEAR(lfo.lastPhase[0], std::fmod(3.5 * DSP::mainClock.tempoBeats(), 1.0), 1e-5);
    testing::internal::GetCapturedStdout();
}

TEST(LfoSync, PhaseKeepsMovingAfterHoursOfClock) {
    // About nine hours at 120 BPM, then 24 hours: the phase still moves
    // smoothly by each block's share of a beat.
    for (double start : {65536.0, 172800.0, 16777216.0}) {
        const double inc = 2.0 / 750.0;
        float previous = BasicLFO::syncedPhase(16.0f, start);
        for (int k = 1; k < 50; ++k) {
            const float p = BasicLFO::syncedPhase(16.0f, start + k * inc);
            double step = double(p) - double(previous);
            if (step < 0.0)
                step += 1.0;
            EXPECT_NEAR(step, 16.0 * inc, 1e-4) << start << " block " << k;
            previous = p;
        }
    }
    EXPECT_EQ(BasicLFO::syncedPhase(1.0f, std::nan("")), 0.0f);
    EXPECT_GE(BasicLFO::syncedPhase(1.0f, -0.25), 0.74f);
}

TEST(EnvelopeStages, AttackAndDecayLastTheirBlocks) {
    BasicEnvelope env(8, "level", "amp");
    // Without a trigger: 0.
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(block(env, 2), 0.0f);
    // Defaults 10 ms and 200 ms: 7 and 150 blocks.
    std::vector<float> out;
    out.push_back(block(env, 2, false, true));
    for (int k = 1; k < 170; ++k)
        out.push_back(block(env, 2));
    for (int k = 0; k < 7; ++k)
        EXPECT_NEAR(out[size_t(k)], float(k + 1) / 7.0f, 1e-5f) << k;
    for (int k = 1; k <= 150; ++k)
        EXPECT_NEAR(out[size_t(6 + k)], 1.0f - float(k) / 150.0f, 1e-4f) << k;
    EXPECT_EQ(out[160], 0.0f);
    EXPECT_EQ(out[169], 0.0f);

    // Times of at most one block's worth skip the segment.
    env.attack.setValue(1.3f, true);
    env.decay.setValue(20.0f, true);  // 960 samples: 15 blocks
    EXPECT_NEAR(block(env, 2, false, true), 1.0f - 1.0f / 15.0f, 1e-5f);
    // The wrong flag does not trigger; a sequencer reset does with its choice.
    for (int k = 0; k < 20; ++k)
        block(env, 2);
    EXPECT_EQ(block(env, 2, true, false), 0.0f);
    env.trig.setValue(1, true);
    EXPECT_EQ(block(env, 2, false, true), 0.0f);
    EXPECT_GT(block(env, 2, true, false), 0.9f);
    // Back to the default "-": a running envelope finishes, then stays 0.
    env.trig.resetToDefault();
    EXPECT_EQ(env.trig.value.load(), 0);
    for (int k = 0; k < 20; ++k)
        block(env, 2, true, true);
    EXPECT_EQ(block(env, 2, true, true), 0.0f);
}

TEST(EnvelopeStages, PolarityByRange) {
    BasicEnvelope env(8, "level", "amp");
    env.attack.setValue(0.0f, true);
    env.range.setValue(BasicEnvelope::Negative, true);
    EXPECT_LT(block(env, 0, false, true), -0.9f);
    env.range.setValue(BasicEnvelope::PosNeg, true);
    int positive = 0;
    for (int k = 0; k < 200; ++k) {
        const float v = block(env, 0, false, true);
        EXPECT_NEAR(std::fabs(v), env.outputs[0] > 0 ? v : -v, 0.0f);
        positive += v > 0.0f;
        EXPECT_NEAR(std::fabs(v), 1.0f - 1.0f / 150.0f, 1e-5f);
    }
    EXPECT_GT(positive, 60);
    EXPECT_LT(positive, 140);
    env.range.setValue(BasicEnvelope::RandomFactor, true);
    block(env, 0, false, true);
    const float factor = env.polarity[0];
    EXPECT_GE(factor, -1.0f);
    EXPECT_LT(factor, 1.0f);
    EXPECT_NEAR(block(env, 0), factor * (1.0f - 2.0f / 150.0f), 1e-5f);
}

TEST(RandomSource, StaysInRangeAndRepeatsFromASeed) {
    auto run = [](int32_t range) {
        DSP::noise.seed(0x1234567u, 0x89abcdefu);
        RandomNumber r(8, "level", "amp");
        r.walking.setValue(100.0f, true);
        r.range.setValue(range, true);
        std::vector<float> out;
        for (int k = 0; k < 3000; ++k)
            for (uint32_t ch = 0; ch < 8; ++ch)
                out.push_back(block(r, ch, false, k % 7 == 0));
        return out;
    };
    const std::vector<float> normal = run(RandomNumber::Normal);
    EXPECT_EQ(normal, run(RandomNumber::Normal));
    float lo = 1.0f, hi = -1.0f;
    for (float v : normal) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    EXPECT_GE(lo, -1.0f);
    EXPECT_LE(hi, 1.0f);
    EXPECT_LT(lo, -0.5f);  // the values really wander
    EXPECT_GT(hi, 0.5f);
    for (float v : run(RandomNumber::Positive))
        ASSERT_GE(v, 0.0f);
    for (float v : run(RandomNumber::Negative))
        ASSERT_LE(v, 0.0f);
}

TEST(RandomSource, JumpsWrapAndTheWalkFollowsWalking) {
    DSP::noise.seed(42u, 4242u);
    RandomNumber r(8, "level", "amp");
    // Walking 0: a step of nothing every 20 blocks; only triggers move it.
    const float start = r.randomValues[0];
    for (int k = 0; k < 40; ++k)
        block(r, 0);
    EXPECT_EQ(r.randomValues[0], start);
    // The next noise value, read from a copy of the generator.
    Noise probe;
    probe.seeds.store(DSP::noise.seeds.load());
    const float n = probe.next();
    r.randomValues[0] = n > 0.0f ? 1.0f - n / 2.0f : -1.0f - n / 2.0f;  // lands beyond the edge
    const float expected = r.randomValues[0] + n + (n > 0.0f ? -2.0f : 2.0f);
    block(r, 0, false, true);
    EXPECT_NEAR(r.randomValues[0], expected, 1e-6f);
    // Walking 1: a step of 0.06 to 0.1 every block, clamped at the edges.
    r.walking.setValue(100.0f, true);
    for (int k = 0; k < 200; ++k) {
        const float before = r.randomValues[0];
        block(r, 0);
        const float step = std::fabs(r.randomValues[0] - before);
        if (std::fabs(r.randomValues[0]) < 1.0f) {
            EXPECT_TRUE(step > 0.055f && step <= 0.1001f) << step;
        }
    }
    // A smoother at 0.001 Hz hardly moves.
    r.smoothing.setValue(0.001f, true);
    const float held = block(r, 0);
    for (int k = 0; k < 100; ++k)
        EXPECT_NEAR(block(r, 0), held, 0.01f);
}

TEST(ChannelOffset, SpreadsChannelsOverTheRange) {
    ChannelOffset offset(8, "pan", "amp");
    EXPECT_EQ(offset.range.value.load(), ChannelOffset::Positive);
    EXPECT_EQ(block(offset, 0), 0.0f);
    EXPECT_NEAR(block(offset, 7), 1.0f, 1e-6f);
    offset.range.setValue(ChannelOffset::Normal, true);
    EXPECT_EQ(block(offset, 0), -1.0f);
    EXPECT_NEAR(block(offset, 7, true, true), 1.0f, 1e-6f);  // triggers play no part
    EXPECT_NEAR(block(offset, 3), -1.0f / 7.0f, 1e-6f);
    offset.range.setValue(ChannelOffset::Invert, true);
    EXPECT_EQ(block(offset, 0), 1.0f);
    offset.range.setValue(ChannelOffset::Negative, true);
    EXPECT_EQ(block(offset, 0), -1.0f);
    EXPECT_NEAR(block(offset, 7), 0.0f, 1e-6f);
    // "amount" scales what the parameter receives.
    offset.amount.setValue(50.0f, true);
    offset.parameterGroup.updateBlock();
    EXPECT_NEAR(offset.process(0, false, false), -0.5f, 1e-6f);
}

TEST(ModulatedParameter, LfoOnACutoffMovesTheSpectrumPeriodically) {
    // White noise through a low-pass whose cutoff an LFO sweeps: the
    // spectral centroid of the rendered audio rises and falls once per LFO
    // cycle.
    ParameterFloat cutoff("cutoff", ParameterFloat::Hertz, Smoothed | PerChannel, 1500.0f);
    auto lfo = std::make_shared<BasicLFO>(8, "cutoff", "filter");
    lfo->frequency.setValue(3.0f, true);  // 250 blocks a cycle
    lfo->amount.setValue(20.0f, true);     // +-2.2 octaves
    ASSERT_TRUE(cutoff.addModulator(lfo));
    SVF filter(1, 1500.0f, 0.7f);
    Noise source;
    constexpr unsigned kFrame = 1024;  // 16 blocks
    Fft fft(kFrame);
    std::vector<float> frame(kFrame);
    std::vector<double> centroids;
    for (int f = 0; f < 125; ++f) {  // eight LFO cycles
        for (unsigned b = 0; b < kFrame / 64; ++b) {
            cutoff.updateBlock();
            const float hz = cutoff.getModulated(0, false, false);
            ASSERT_TRUE(std::isfinite(hz));
            filter.setCoefficients(1, hz, 0.7f);
            for (unsigned i = 0; i < 64; ++i)
                frame[b * 64 + i] = filter.tick(source.next());
        }
        fft.fft(frame.data());
        double weighted = 0.0, total = 0.0;
        for (unsigned k = 1; k < kFrame / 2; ++k) {
            const double power = double(fft.fdr(k)) * fft.fdr(k) + double(fft.fdi(k)) * fft.fdi(k);
            weighted += power * k * 48000.0 / kFrame;
            total += power;
        }
        centroids.push_back(weighted / total);
    }
    const auto [lo, hi] = std::minmax_element(centroids.begin(), centroids.end());
    EXPECT_GT(*hi / *lo, 3.0);
    // Autocorrelation of the centroid track peaks at one LFO cycle (15.6
    // frames) and is negative at half of one.
    const double mean = std::accumulate(centroids.begin(), centroids.end(), 0.0) / double(centroids.size());
    auto correlation = [&](size_t lag) {
        double s = 0.0, n = 0.0;
        for (size_t i = 0; i + lag < centroids.size(); ++i) {
            s += (centroids[i] - mean) * (centroids[i + lag] - mean);
            n += (centroids[i] - mean) * (centroids[i] - mean);
        }
        return s / n;
    };
    size_t best = 10;
    for (size_t lag = 10; lag <= 22; ++lag)
        if (correlation(lag) > correlation(best))
            best = lag;
    EXPECT_TRUE(best == 15 || best == 16) << best;
    EXPECT_LT(correlation(8), -0.5);
}
