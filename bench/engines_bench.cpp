// Cost of the engines' voices per 64-frame block: one voice alone, and for
// the subtractive engine a track of eight voices with its per-block parameter
// update. For a repeatable instruction count run a *FixedBlocks benchmark
// under callgrind twice, with CORVANE_BENCH_BLOCKS=N and =0, and divide the
// difference by N (BM_SubtractiveFixedBlocks, BM_SubtractiveTrackFixedBlocks,
// BM_FMFixedBlocks, BM_AdditiveFixedBlocks, BM_ResonatorFixedBlocks,
// BM_ModularFixedBlocks, BM_GranularFixedBlocks, BM_QuadFixedBlocks/<kind
// choice 0..7>, BM_GrainRequestFixedBlocks/<0 unchanged, 1 changed>). CORVANE_BENCH_DECAY=1 measures the subtractive
// envelopes decaying rather than holding.
#include "connectivity/OSCV.h"
#include "engines/additive/AdditiveCommon.h"
#include "engines/additive/AdditiveVoice.h"
#include "engines/fm/FMCommon.h"
#include "engines/fm/FMVoice.h"
#include "engines/granular/GranularCommon.h"
#include "engines/granular/GranularVoice.h"
#include "engines/quad/QuadEngineCommon.h"
#include "engines/quad/QuadEngineVoice.h"
#include "instrument/voices/GrainLookup.h"
#include "samples/ReleaseQueue.h"
#include "engines/modular/ModularCommon.h"
#include "engines/modular/ModularVoice.h"
#include "engines/resonator/ResonatorCommon.h"
#include "engines/resonator/ResonatorVoice.h"
#include "engines/subtractive/SubtractiveCommon.h"
#include "engines/subtractive/SubtractiveVoice.h"
#include "platform/Audio.h"
#include "platform/AuxiliaryTask.h"

#include "tests/support/engines_harness.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

// Filter and all three envelopes running for the whole measurement: holding,
// or with CORVANE_BENCH_DECAY=1 in a long decay (a new ramp step every block).
void prepare(SubtractiveCommon& c) {
    const bool decay = std::getenv("CORVANE_BENCH_DECAY") != nullptr;
    for (int i = 0; i < 3; ++i) {
        c.envAttack[i].setValue(5.0f, true);
        c.envHold[i].setValue(decay ? 0.0f : 60000.0f, true);
        c.envDecay[i].setValue(decay ? 60000.0f : 500.0f, true);
    }
    c.filtFreq.setValue(2000.0f, true);
    c.filtReso.setValue(50.0f, true);
    c.volumeB.setValue(-12.0f, true);
}

long fixedBlocks() {
    const char* env = std::getenv("CORVANE_BENCH_BLOCKS");
    return env ? std::atol(env) : 10000;
}

void BM_SubtractiveVoice(benchmark::State& state) {
    Bela_setFlushToZero();
    SubtractiveCommon c;
    prepare(c);
    c.filtType.setValue(int32_t(state.range(0)), true);
    enginetest::VoiceHarness<SubtractiveVoice> h(c);
    const uint32_t slot = h.play(h.makeNote(220.0f, 0.9f));
    SubtractiveVoice& v = h.voice(slot);
    alignas(16) float row[64] = {};
    int64_t blocks = 0;
    for (auto _ : state) {
        v.render(row, 64);
        benchmark::DoNotOptimize(row);
        if (++blocks % 20000 == 0) h.play(h.makeNote(220.0f, 0.9f));
    }
    state.SetLabel(state.range(0) ? "24dB ladder" : "12dB SVF");
}
BENCHMARK(BM_SubtractiveVoice)->Arg(0)->Arg(1);

void BM_SubtractiveTrackOfEight(benchmark::State& state) {
    Bela_setFlushToZero();
    SubtractiveCommon c;
    prepare(c);
    enginetest::VoiceHarness<SubtractiveVoice> h(c);
    c.polyphony.setValue(8, true);
    for (uint32_t i = 0; i < 8; ++i) h.play(h.makeNote(110.0f * float(i + 1), 0.8f));
    int64_t blocks = 0;
    for (auto _ : state) {
        h.renderBlock();
        benchmark::DoNotOptimize(h.block.samples);
        if (++blocks % 20000 == 0)
            for (uint32_t i = 0; i < 8; ++i) h.play(h.makeNote(110.0f * float(i + 1), 0.8f));
    }
}
BENCHMARK(BM_SubtractiveTrackOfEight);

// One run of CORVANE_BENCH_BLOCKS voice blocks (default 10000), for callgrind;
// CORVANE_BENCH_LADDER=1 measures the 24 dB filter.
void BM_SubtractiveFixedBlocks(benchmark::State& state) {
    Bela_setFlushToZero();
    const long blocks = fixedBlocks();
    SubtractiveCommon c;
    prepare(c);
    c.filtType.setValue(std::getenv("CORVANE_BENCH_LADDER") ? 1 : 0, true);
    enginetest::VoiceHarness<SubtractiveVoice> h(c);
    const uint32_t slot = h.play(h.makeNote(220.0f, 0.9f));
    SubtractiveVoice& v = h.voice(slot);
    alignas(16) float row[64] = {};
    for (auto _ : state) {
        for (long b = 0; b < blocks; ++b) {
            v.render(row, 64);
            benchmark::DoNotOptimize(row);
        }
    }
}
BENCHMARK(BM_SubtractiveFixedBlocks)->Iterations(1);

// The same for a track of eight voices with the engine's per-block update.
void BM_SubtractiveTrackFixedBlocks(benchmark::State& state) {
    Bela_setFlushToZero();
    const long blocks = fixedBlocks();
    SubtractiveCommon c;
    prepare(c);
    enginetest::VoiceHarness<SubtractiveVoice> h(c);
    c.polyphony.setValue(8, true);
    for (uint32_t i = 0; i < 8; ++i) h.play(h.makeNote(110.0f * float(i + 1), 0.8f));
    for (auto _ : state) {
        for (long b = 0; b < blocks; ++b) {
            h.renderBlock();
            benchmark::DoNotOptimize(h.block.samples);
        }
    }
}
BENCHMARK(BM_SubtractiveTrackFixedBlocks)->Iterations(1);

// The other engines, one voice each, in their most costly steady state.

// All four operators audible: a 1->2->3->4 chain with feedback on 2.
void prepareFM(FMCommon& c) {
    for (uint32_t op = 0; op < 4; ++op) {
        c.volume[op].setValue(-12.0f, true);
        c.envHold[op].setValue(60000.0f, true);
        c.end[op].setValue(1.0f, true);
        c.ratio[op].setValue(float(op + 1), true);
    }
    c.route[0].setValue(1, true);  // 1->2
    c.route[2].setValue(1, true);  // 2->3
    c.route[5].setValue(1, true);  // 3->4
    c.feedback.setValue(-12.0f, true);
    c.feedbackColour.setValue(30.0f, true);
}

// All 32 partials below the cut, the four groups holding.
void prepareAdditive(AdditiveCommon& c) {
    for (uint32_t g = 0; g < 4; ++g) c.envHold[g].setValue(60000.0f, true);
}

// The noise burst held on, both lines sounding.
void prepareResonator(ResonatorCommon& c) {
    c.envHold[0].setValue(60000.0f, true);
    for (uint32_t i = 1; i < 4; ++i) c.envHold[i].setValue(60000.0f, true);
    c.posNeg.setValue(50.0f, true);
}

// A connected expander whose client only counts: the real client's enqueue
// comes on top.
class CountingOSCV : public OSCV {
public:
    void sendNote(uint32_t, bool, float) override { ++sent; }
    void sendCvOuts(uint32_t, const int32_t (&)[kCvOuts]) override { ++sent; }
    bool isConnected() const override { return true; }
    uint64_t sent = 0;
};

void prepareModular(ModularCommon& c) {
    c.gateLength.setValue(60000.0f, true);
}

template <class Common, class Voice>
void voiceBlocks(benchmark::State& state, void (*prepare)(Common&), float hz, long blocks) {
    Bela_setFlushToZero();
    CountingOSCV oscv;
    Driver::oscv.store(&oscv);
    Common c;
    prepare(c);
    enginetest::VoiceHarness<Voice> h(c);
    const uint32_t slot = h.play(h.makeNote(hz, 0.9f));
    Voice& v = h.voice(slot);
    alignas(16) float row[64] = {};
    if (blocks > 0) {
        for (auto _ : state)
            for (long b = 0; b < blocks; ++b) {
                v.render(row, 64);
                benchmark::DoNotOptimize(row);
            }
    } else if (blocks < 0) {
        int64_t n = 0;
        for (auto _ : state) {
            v.render(row, 64);
            benchmark::DoNotOptimize(row);
            if (++n % 20000 == 0) h.play(h.makeNote(hz, 0.9f));
        }
    } else {
        for (auto _ : state) benchmark::DoNotOptimize(row);
    }
    Driver::oscv.store(nullptr);
}

void BM_FMVoice(benchmark::State& s) { voiceBlocks<FMCommon, FMVoice>(s, prepareFM, 220.0f, -1); }
void BM_AdditiveVoice(benchmark::State& s) { voiceBlocks<AdditiveCommon, AdditiveVoice>(s, prepareAdditive, 110.0f, -1); }
void BM_ResonatorVoice(benchmark::State& s) { voiceBlocks<ResonatorCommon, ResonatorVoice>(s, prepareResonator, 220.0f, -1); }
void BM_ModularVoice(benchmark::State& s) { voiceBlocks<ModularCommon, ModularVoice>(s, prepareModular, 220.0f, -1); }
BENCHMARK(BM_FMVoice);
BENCHMARK(BM_AdditiveVoice);
BENCHMARK(BM_ResonatorVoice);
BENCHMARK(BM_ModularVoice);

void BM_FMFixedBlocks(benchmark::State& s) { voiceBlocks<FMCommon, FMVoice>(s, prepareFM, 220.0f, fixedBlocks()); }
void BM_AdditiveFixedBlocks(benchmark::State& s) {
    voiceBlocks<AdditiveCommon, AdditiveVoice>(s, prepareAdditive, 110.0f, fixedBlocks());
}
void BM_ResonatorFixedBlocks(benchmark::State& s) {
    voiceBlocks<ResonatorCommon, ResonatorVoice>(s, prepareResonator, 220.0f, fixedBlocks());
}
void BM_ModularFixedBlocks(benchmark::State& s) {
    voiceBlocks<ModularCommon, ModularVoice>(s, prepareModular, 220.0f, fixedBlocks());
}
BENCHMARK(BM_FMFixedBlocks)->Iterations(1);
BENCHMARK(BM_AdditiveFixedBlocks)->Iterations(1);
BENCHMARK(BM_ResonatorFixedBlocks)->Iterations(1);
BENCHMARK(BM_ModularFixedBlocks)->Iterations(1);

// Blocks of one voice: `blocks` of them once (callgrind), or until the
// benchmark has its time when negative.
// The note is played again every 20000 blocks so its envelope never ends.
template <class Voice, class Replay>
void renderBlocks(benchmark::State& state, Voice& v, long blocks, Replay&& replay) {
    alignas(16) float row[64] = {};
    if (blocks >= 0) {
        for (auto _ : state)
            for (long b = 0; b < blocks; ++b) {
                v.render(row, 64);
                benchmark::DoNotOptimize(row);
            }
    } else {
        int64_t n = 0;
        for (auto _ : state) {
            v.render(row, 64);
            benchmark::DoNotOptimize(row);
            if (++n % 20000 == 0) replay();
        }
    }
}

// Ten seconds of noise in a list "pads" and a looping list "loop": grains
// and samples never run out. One pool for the whole run.
enginetest::TestSamplePool& benchPool() {
    static enginetest::TestSamplePool pool;
    if (pool.resources.empty()) {
        std::vector<float> x(480000);
        uint32_t r = 1;
        for (float& s : x) s = float(int32_t(r = r * 1664525u + 1013904223u)) * 1e-10f;
        pool.addResource("noise.wav", {x}, 48000.0f);
        pool.addEntry("pads", "noise.wav", 480000, 48000.0f)->pitchTracking = true;
        pool.addEntry("loop", "noise.wav", 480000, 48000.0f)->looping = true;
    }
    return pool;
}

// Questions go to the real look-up (never answered here); every draw gets
// the same hit.
class BenchGrains : public GrainSource {
public:
    void requestGrains(std::string_view list, std::span<const float> point, uint32_t voice, float radius) override {
        lookup.requestGrains(list, point, voice, radius);
    }
    FeatureHit randomGrainEntry(uint32_t) override { return hit; }
    GrainLookup lookup;
    FeatureHit hit{};
};

// Two grains of 1000/1000/1000 ms sounding (the clock's first period is
// rendered before the measurement), pitch tracking on.
void granularBlocks(benchmark::State& state, long blocks) {
    Bela_setFlushToZero();
    BenchGrains grains;
    grains.hit = FeatureHit{benchPool().lists["pads"][0], 20, 0};
    GranularCommon c;
    c.samples.setChoices({"none", "pads"});
    c.samples.setValue(1, true);
    for (ParameterFloat* p : {&c.envAttack[0], &c.envHold[0], &c.envDecay[0]}) p->setValue(1000.0f, true);
    c.envHold[1].setValue(60000.0f, true);
    c.detune.setValue(50.0f, true);
    enginetest::VoiceHarness<GranularVoice> h(c);
    GranularVoice& v = h.voice(0);
    v.grainSource = &grains;
    h.playAt(0, h.makeNote(330.0f, 0.9f));
    alignas(16) float row[64] = {};
    for (int b = 0; b < 1200; ++b) v.render(row, 64);
    renderBlocks(state, v, blocks, [&] { h.playAt(0, h.makeNote(330.0f, 0.9f)); });
    state.SetLabel(v.grains[0].isPlaying() && v.grains[1].isPlaying() ? "two grains" : "NOT two grains");
    DSP::releaseQueue.drain();
}
void BM_GranularVoice(benchmark::State& s) { granularBlocks(s, -1); }
void BM_GranularFixedBlocks(benchmark::State& s) { granularBlocks(s, fixedBlocks()); }
BENCHMARK(BM_GranularVoice);
BENCHMARK(BM_GranularFixedBlocks)->Iterations(1);

// The look-up question a granular voice sends two blocks before a grain:
// the same target (dropped by the look-up) or a new one each time (written
// into the pipe). CORVANE_BENCH_BLOCKS questions.
void BM_GrainRequestFixedBlocks(benchmark::State& state) {
    const long n = fixedBlocks();
    GrainLookup lookup;
    const bool changed = state.range(0) != 0;
    // The look-up task only runs when asked to (never here).
    host::tasksSetThreaded(false, false);
    if (changed && !lookup.setup()) state.SkipWithError("no grain look-up pipe");
    float point[2] = {0.5f, 0.5f};
    for (auto _ : state)
        for (long i = 0; i < n; ++i) {
            if (changed) point[0] = float(i & 1023) * (1.0f / 1024.0f);
            lookup.requestGrains("pads", point, uint32_t(i % 40), 0.1f);
        }
    state.SetLabel(std::to_string(lookup.requestsSent()) + " sent");
}
BENCHMARK(BM_GrainRequestFixedBlocks)->Arg(0)->Arg(1)->Iterations(1);

// One quad voice of each kind (the argument is the kind's choice index),
// its envelope holding; the sample kinds play looping noise.
void quadBlocks(benchmark::State& state, long blocks) {
    Bela_setFlushToZero();
    benchPool();
    QuadEngineCommon c;
    c.registerSampleLists();
    MiniEngine& s = c.subEngines[0];
    c.typeParameters[0].setValue(int32_t(state.range(0)), true);
    s.samples.setFromString("loop");
    s.samples2.setFromString("loop");
    s.freq.setValue(4000.0f, true);
    s.fmAmount.setValue(-6.0f, true);
    s.ratio.setValue(2.0f, true);
    c.envHold[0].setValue(60000.0f, true);
    enginetest::VoiceHarness<QuadEngineVoice> h(c);
    QuadEngineVoice& v = h.voice(0);
    h.playAt(0, h.makeNote(110.0f, 0.9f));
    renderBlocks(state, v, blocks, [&] { h.playAt(0, h.makeNote(110.0f, 0.9f)); });
    state.SetLabel(c.typeParameters[0].toString() + (v.active ? "" : " (ended)"));
    DSP::releaseQueue.drain();
}
void BM_QuadVoice(benchmark::State& s) { quadBlocks(s, -1); }
void BM_QuadFixedBlocks(benchmark::State& s) { quadBlocks(s, fixedBlocks()); }
BENCHMARK(BM_QuadVoice)->DenseRange(0, 7);
BENCHMARK(BM_QuadFixedBlocks)->DenseRange(0, 7)->Iterations(1);

}  // namespace
