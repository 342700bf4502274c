// Cost of the subtractive voice per 64-frame block: one voice alone, and a
// track of eight voices with its per-block parameter update. For a repeatable
// instruction count run BM_SubtractiveFixedBlocks under callgrind twice, with
// CORVANE_BENCH_BLOCKS=N and =0, and divide the difference by N (likewise
// BM_SubtractiveTrackFixedBlocks for eight voices). CORVANE_BENCH_DECAY=1
// measures the envelopes decaying rather than holding.
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

}  // namespace
