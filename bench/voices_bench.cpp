// Cost of the voice manager's block: five tracks of eight sounding
// subtractive voices with their default effect chains (a "stereo" effect on
// tracks 1 to 4, a "delay" on track 5 where that effect is part of the
// build) and the master limiter. Arg 0 is that whole block; 1 drops the
// voices (chains and fixed work); 2 also the track chains (master chain and
// fixed work); 3 also the master chain (fixed work only).
//
// For a repeatable instruction count run BM_VoiceBlockFixedBlocks/<arg>
// under callgrind twice, with CORVANE_BENCH_BLOCKS=N and =0, and divide the
// difference by N.
#include "effects/AudioEffect.h"
#include "platform/Audio.h"

#include "tests/instrument/VoiceRig.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

namespace {

long fixedBlocks() {
    const char* env = std::getenv("CORVANE_BENCH_BLOCKS");
    return env ? std::atol(env) : 10000;
}

std::unique_ptr<voicetest::Rig> prepare(int variant) {
    auto rig = std::make_unique<voicetest::Rig>();
    rig->keepHistory = false;
    if (variant < 3) rig->vm->resetOutputFX();
    for (uint32_t t = 0; t < VoiceManager::kTracks; ++t) {
        auto& d = rig->tracks[t];
        if (variant < 2)
            d.chain.insertEffect(t == 4 ? AudioEffectType::Delay : AudioEffectType::Stereo, 0);
        SubtractiveCommon& c = d.subtractive;
        c.polyphony.setValue(8, true);
        for (int i = 0; i < 3; ++i) {
            c.envAttack[i].setValue(5.0f, true);
            c.envHold[i].setValue(60000.0f, true);
            c.envDecay[i].setValue(500.0f, true);
        }
        c.filtFreq.setValue(2000.0f, true);
        c.filtReso.setValue(50.0f, true);
        c.volumeB.setValue(-12.0f, true);
        c.trackVolume.setValue(-24.0f, true);
    }
    rig->settle();
    if (variant == 0) {
        for (uint32_t t = 0; t < VoiceManager::kTracks; ++t) {
            for (uint32_t i = 0; i < 8; ++i) rig->vm->scheduleNote(rig->note(t, 55.0f * float(t + 1) * float(i + 1)));
            rig->blocks(5);
        }
    }
    rig->blocks(10);
    return rig;
}

void run(voicetest::Rig& rig) {
    rig.vm->processBlock(&rig.context, rig.out, 64, rig.gates);
    benchmark::DoNotOptimize(rig.out.samples);
}

void BM_VoiceBlock(benchmark::State& state) {
    Bela_setFlushToZero();
    auto rig = prepare(int(state.range(0)));
    for (auto _ : state) run(*rig);
    state.counters["voices"] = double(rig->vm->activeVoiceCount());
}
BENCHMARK(BM_VoiceBlock)->DenseRange(0, 3);

void BM_VoiceBlockFixedBlocks(benchmark::State& state) {
    Bela_setFlushToZero();
    const long blocks = fixedBlocks();
    auto rig = prepare(int(state.range(0)));
    for (auto _ : state)
        for (long b = 0; b < blocks; ++b) run(*rig);
    state.counters["voices"] = double(rig->vm->activeVoiceCount());
}
BENCHMARK(BM_VoiceBlockFixedBlocks)->DenseRange(0, 3)->Iterations(1);

}  // namespace
