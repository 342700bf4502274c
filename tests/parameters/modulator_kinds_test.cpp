// The four modulator kinds measured block by block: shapes, rates, clock
// sync, envelope stages, random ranges and channel offsets, and an LFO
// sweeping a filter.
#include "dsp/Random.h"
#include "dsp/SVF.h"
#include "instrument/MainClock.h"
#include "parameters/BasicEnvelope.h"
#include "parameters/BasicLFO.h"
#include "parameters/ChannelOffset.h"
#include "parameters/RandomNumber.h"
#include "platform/Fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

namespace {
// One block as a parameter drives a modulator: its own parameters
// refreshed, one process call; the output before "amount".
float block(Modulator& m, uint32_t channel = 0, bool trigA = false, bool trigB = false) {
    m.parameterGroup.updateBlock();
    m.process(channel, trigA, trigB);
    return m.outputs[channel];
}
}  // namespace

TEST(LfoShape, PeriodMatchesTheRateToASample) {
    for (float hz : {3.0f, 11.0f, 40.0f}) {
        BasicLFO lfo(8, "cutoff", "filter");
        lfo.frequency.setValue(hz, true);
        lfo.shape.setValue(BasicLFO::Rising, true);
        // The ramp's wraps, placed between blocks where its phase crosses 1.
        std::vector<double> wraps;
        double previous = (block(lfo, 3) + 1.0) / 2.0;
        for (int k = 1; k < int(750.0f / hz * 6.5f); ++k) {
            const double p = (block(lfo, 3) + 1.0) / 2.0;
            if (p < previous)
                wraps.push_back((k - 1 + (1.0 - previous) / (p + 1.0 - previous)) * 64.0);
            previous = p;
        }
        ASSERT_GE(wraps.size(), 5u) << hz;
        EXPECT_NEAR((wraps.back() - wraps.front()) / double(wraps.size() - 1), 48000.0 / hz, 1.0) << hz;
    }
}

TEST(LfoShape, WaveformValuesAtQuarterPointsAndRanges) {
    BasicLFO lfo(8, "level", "amp");
    lfo.trig.setValue(BasicLFO::kTrigSync, true);  // the phase is the clock's beat fraction
    const std::pair<BasicLFO::Shape, std::array<float, 4>> cases[] = {
        // The unfolded sine is normalised by a truncated table read: its
        // troughs come out 2.5% deep.
        {BasicLFO::Sine, {0.0f, 1.0f, 0.0f, -1.025f}},
        {BasicLFO::Rising, {-1.0f, -0.5f, 0.0f, 0.5f}},
        {BasicLFO::Falling, {1.0f, 0.5f, 0.0f, -0.5f}},
        {BasicLFO::Square, {1.0f, 1.0f, 1.0f, -1.0f}},  // exactly 0.5 is still high
    };
    for (const auto& [shape, expected] : cases) {
        lfo.shape.setValue(shape, true);
        for (int q = 0; q < 4; ++q) {
            DSP::mainClock.tempoCounter = 1000.0 + 0.25 * q;
            for (int settle = 0; settle < 3; ++settle)  // the stepped shapes' smoother
                block(lfo);
            EXPECT_NEAR(block(lfo), expected[size_t(q)], 2e-3f) << shape << " at " << q << "/4";
        }
    }
    // Rising at 0.75: 0.5, mapped by the ranges before "amount".
    lfo.shape.setValue(BasicLFO::Rising, true);
    DSP::mainClock.tempoCounter = 0.75;
    const std::pair<BasicLFO::Range, float> ranges[] = {
        {BasicLFO::Invert, -0.5f}, {BasicLFO::Positive, 0.75f}, {BasicLFO::Negative, -0.25f}};
    for (auto [range, expected] : ranges) {
        lfo.range.setValue(range, true);
        for (int settle = 0; settle < 3; ++settle)
            block(lfo);
        EXPECT_NEAR(block(lfo), expected, 1e-3f) << range;
    }
}

TEST(LfoShape, NoteRetriggersAndRandomHoldsUntilTheFirstWrap) {
    BasicLFO lfo(8, "level", "amp");
    lfo.trig.setValue(2, true);
    lfo.frequency.setValue(7.5f, true);  // 0.01 cycles a block
    lfo.phasors[0].phase = 0.6f;
    block(lfo, 0, true, false);  // a sequencer reset is not this trigger
    EXPECT_GT(lfo.phasors[0].phase, 0.6f);
    block(lfo, 0, false, true);
    EXPECT_NEAR(lfo.phasors[0].phase, 0.01f, 1e-6f);  // phase 0, then one step
    lfo.shape.setValue(BasicLFO::RandomSteps, true);
    lfo.frequency.setValue(75.0f, true);  // 0.1 cycles a block
    lfo.phasors[1].phase = 0.0f;
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(block(lfo, 1), 0.0f) << k;
    for (int k = 0; k < 12; ++k)
        block(lfo, 1);
    EXPECT_NE(lfo.heldRandom[1], 0.0f);
}

TEST(LfoSync, FollowsATempoChange) {
    testing::internal::CaptureStdout();
    DSP::mainClock.bpm.setValue(120.0f, true);
    DSP::mainClock.start(true);
    float phases[64];
    BasicLFO lfo(8, "level", "amp");
    lfo.trig.setValue(BasicLFO::kTrigSync, true);
    lfo.shape.setValue(BasicLFO::Rising, true);
    lfo.clockMult.setValue(2.0f, true);  // two cycles a beat
    // Blocks a cycle: 375 / 2 at 120 BPM, 500 / 2 at 90.
    auto cycleBlocks = [&](float bpm) {
        DSP::mainClock.bpm.setValue(bpm, true);
        std::vector<int> wraps;
        float previous = block(lfo);
        for (int k = 1; k < 2000 && wraps.size() < 4; ++k) {
            DSP::mainClock.process(phases, 64, nullptr);
            const float v = block(lfo);
            if (previous - v > 1.0f)
                wraps.push_back(k);
            previous = v;
        }
        return wraps.size() < 4 ? 0.0 : double(wraps.back() - wraps[1]) / 2.0;
    };
    EXPECT_NEAR(cycleBlocks(120.0f), 187.5, 1.0);
    EXPECT_NEAR(cycleBlocks(90.0f), 250.0, 1.0);
    lfo.clockMult.setValue(3.3f, true);  // snaps to 3.5
    block(lfo);
    EXPECT_NEAR(lfo.lastPhase[0], std::fmod(3.5 * DSP::mainClock.tempoBeats(), 1.0), 1e-5);
    DSP::mainClock.stop(true);
    testing::internal::GetCapturedStdout();
}

TEST(LfoSync, PhaseKeepsMovingAfterHoursOfClock) {
    // Nine hours at 120 BPM, 24 hours, and 2^24 beats: each block still
    // moves the phase by its share of a beat.
    for (double start : {65536.0, 172800.0, 16777216.0}) {
        const double inc = 2.0 / 750.0;
        float previous = BasicLFO::syncedPhase(16.0f, start);
        for (int k = 1; k < 50; ++k) {
            const float p = BasicLFO::syncedPhase(16.0f, start + k * inc);
            EXPECT_NEAR(std::fmod(double(p) - previous + 1.0, 1.0), 16.0 * inc, 1e-4) << start << " " << k;
            previous = p;
        }
    }
    EXPECT_EQ(BasicLFO::syncedPhase(1.0f, std::nan("")), 0.0f);
}

TEST(EnvelopeStages, AttackAndDecayLastTheirBlocks) {
    BasicEnvelope env(8, "level", "amp");
    EXPECT_EQ(block(env, 2), 0.0f);  // nothing before a trigger
    // Defaults 10 ms and 200 ms: 7 and 150 blocks.
    std::vector<float> out{block(env, 2, false, true)};
    for (int k = 1; k < 170; ++k)
        out.push_back(block(env, 2));
    for (int k = 0; k < 7; ++k)
        EXPECT_NEAR(out[size_t(k)], float(k + 1) / 7.0f, 1e-5f) << k;
    for (int k = 1; k <= 150; ++k)
        EXPECT_NEAR(out[size_t(6 + k)], 1.0f - float(k) / 150.0f, 1e-4f) << k;
    EXPECT_EQ(out[169], 0.0f);
    // Times within one block skip their segment; a sequencer reset is not
    // this trigger; "negative" turns the envelope over.
    env.attack.setValue(1.3f, true);
    env.decay.setValue(20.0f, true);  // 15 blocks
    env.range.setValue(BasicEnvelope::Negative, true);
    EXPECT_EQ(block(env, 2, true, false), 0.0f);
    EXPECT_NEAR(block(env, 2, false, true), -(1.0f - 1.0f / 15.0f), 1e-5f);
    // "pos+neg": a sign per trigger, about half of each.
    env.range.setValue(BasicEnvelope::PosNeg, true);
    int positive = 0;
    for (int k = 0; k < 200; ++k)
        positive += block(env, 0, false, true) > 0.0f;
    EXPECT_GT(positive, 60);
    EXPECT_LT(positive, 140);
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
    const auto [lo, hi] = std::minmax_element(normal.begin(), normal.end());
    EXPECT_TRUE(*lo >= -1.0f && *lo < -0.5f) << *lo;  // in range, and wandering
    EXPECT_TRUE(*hi <= 1.0f && *hi > 0.5f) << *hi;
    for (float v : run(RandomNumber::Positive))
        ASSERT_GE(v, 0.0f);
    for (float v : run(RandomNumber::Negative))
        ASSERT_LE(v, 0.0f);
}

TEST(RandomSource, JumpsWrapAroundTheRange) {
    RandomNumber r(8, "level", "amp");
    Noise probe;  // the next noise value, from a copy of the generator
    probe.seeds.store(DSP::noise.seeds.load());
    const float n = probe.next();
    r.randomValues[0] = n > 0.0f ? 1.0f - n / 2.0f : -1.0f - n / 2.0f;  // lands beyond the edge
    const float expected = r.randomValues[0] + n + (n > 0.0f ? -2.0f : 2.0f);
    block(r, 0, false, true);
    EXPECT_NEAR(r.randomValues[0], expected, 1e-6f);
}

TEST(ChannelOffset, SpreadsChannelsOverTheRange) {
    ChannelOffset offset(8, "pan", "amp");
    EXPECT_EQ(block(offset, 0), 0.0f);  // starts "positive"
    EXPECT_NEAR(block(offset, 7), 1.0f, 1e-6f);
    offset.range.setValue(ChannelOffset::Normal, true);
    EXPECT_EQ(block(offset, 0, true, true), -1.0f);  // triggers play no part
    EXPECT_NEAR(block(offset, 7), 1.0f, 1e-6f);
    offset.range.setValue(ChannelOffset::Invert, true);
    EXPECT_EQ(block(offset, 0), 1.0f);
    offset.range.setValue(ChannelOffset::Negative, true);
    EXPECT_EQ(block(offset, 0), -1.0f);
    offset.amount.setValue(50.0f, true);
    offset.parameterGroup.updateBlock();
    EXPECT_NEAR(offset.process(0, false, false), -0.5f, 1e-6f);
}

TEST(ModulatedParameter, LfoOnACutoffMovesTheSpectrumPeriodically) {
    // Noise through a low-pass whose cutoff an LFO sweeps: the spectral
    // centroid rises and falls once per LFO cycle.
    ParameterFloat cutoff("cutoff", ParameterFloat::Hertz, Smoothed | PerChannel, 1500.0f);
    auto lfo = std::make_shared<BasicLFO>(8, "cutoff", "filter");
    lfo->frequency.setValue(3.0f, true);  // 250 blocks a cycle
    lfo->amount.setValue(20.0f, true);     // +-2.2 octaves
    testing::internal::CaptureStdout();
    ASSERT_TRUE(cutoff.addModulator(lfo));
    testing::internal::GetCapturedStdout();
    SVF filter(1, 1500.0f, 0.7f);
    Noise source;
    constexpr unsigned kFrame = 1024;  // 16 blocks
    Fft fft(kFrame);
    std::vector<float> frame(kFrame);
    std::vector<double> centroids;
    for (int f = 0; f < 125; ++f) {  // eight LFO cycles
        for (unsigned b = 0; b < kFrame / 64; ++b) {
            cutoff.updateBlock();
            filter.setCoefficients(1, cutoff.getModulated(0, false, false), 0.7f);
            for (unsigned i = 0; i < 64; ++i)
                frame[b * 64 + i] = filter.tick(source.next());
        }
        fft.fft(frame.data());
        double weighted = 0.0, total = 0.0;
        for (unsigned k = 1; k < kFrame / 2; ++k) {
            const double power = double(fft.fdr(k)) * fft.fdr(k) + double(fft.fdi(k)) * fft.fdi(k);
            weighted += power * k;
            total += power;
        }
        centroids.push_back(weighted / total * 48000.0 / kFrame);
    }
    const auto [lo, hi] = std::minmax_element(centroids.begin(), centroids.end());
    EXPECT_GT(*hi / *lo, 3.0);
    // The centroid track correlates best at one LFO cycle (15.6 frames) and
    // negatively at half of one.
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
