// Cost of the engines' voices per 64-frame block: one voice alone, and for
// the subtractive engine a track of eight voices with its per-block parameter
// update. For a repeatable instruction count run a *FixedBlocks benchmark
// under callgrind twice, with CORVANE_BENCH_BLOCKS=N and =0, and divide the
// difference by N (BM_SubtractiveFixedBlocks, BM_SubtractiveTrackFixedBlocks,
// BM_FMFixedBlocks, BM_AdditiveFixedBlocks, BM_ResonatorFixedBlocks,
// BM_ModularFixedBlocks). CORVANE_BENCH_DECAY=1 measures the subtractive
// envelopes decaying rather than holding.
#include "connectivity/OSCV.h"
#include "engines/additive/AdditiveCommon.h"
#include "engines/additive/AdditiveVoice.h"
#include "engines/fm/FMCommon.h"
#include "engines/fm/FMVoice.h"
#include "engines/modular/ModularCommon.h"
#include "engines/modular/ModularVoice.h"
#include "engines/resonator/ResonatorCommon.h"
#include "engines/resonator/ResonatorVoice.h"
#include "engines/subtractive/SubtractiveCommon.h"
#include "engines/subtractive/SubtractiveVoice.h"
#include "platform/Audio.h"

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

}  // namespace
