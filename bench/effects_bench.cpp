// Cost per block of the limiter and the stereo pan on a full block (eight
// sounding channels), and of a chain's own walk. For a repeatable instruction
// count run BM_LimiterFixedBlocks (or BM_StereoPanFixedBlocks) under callgrind
// twice, with CORVANE_BENCH_BLOCKS=N and =0, and divide the difference by N;
// the figure includes the block copy that BM_BlockCopyFixedBlocks measures.
#include "effects/AmplitudeModFX.h"
#include "effects/BandSplitFX.h"
#include "effects/CirclePanFX.h"
#include "effects/CompressorFX.h"
#include "effects/DegradeFX.h"
#include "effects/DelayFX.h"
#include "effects/EffectChain.h"
#include "effects/EqualizerFX.h"
#include "effects/FadeDelayFX.h"
#include "effects/LimiterFX.h"
#include "effects/MonoSumFX.h"
#include "effects/ReRouteFX.h"
#include "effects/ReverbFX.h"
#include "effects/SaturationFX.h"
#include "effects/StateVariableFilterFX.h"
#include "effects/StereoPanFX.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>

namespace {

AudioBlock fullBlock() {
    AudioBlock block;
    for (uint32_t c = 0; c < AudioBlock::kChannels; ++c) {
        block.channelState[c] = ChannelState::Playing;
        for (uint32_t i = 0; i < AudioBlock::kFrames; ++i)
            block.channel(c)[i] = 1.5f * std::sin(0.07f * float(i) + float(c));
    }
    return block;
}

// A track at its default polyphony: one sounding channel, the rest vacant.
AudioBlock oneChannelBlock() {
    AudioBlock block;
    block.channelState[0] = ChannelState::Playing;
    for (uint32_t i = 0; i < AudioBlock::kFrames; ++i)
        block.channel(0)[i] = 1.5f * std::sin(0.07f * float(i));
    return block;
}

// Anything with process(AudioBlock&), on a full block unless told otherwise.
template <typename Effect, AudioBlock (*makeBlock)() = fullBlock>
void effectOnBlock(benchmark::State& state) {
    Effect fx;
    const AudioBlock source = makeBlock();
    AudioBlock block;
    for (auto _ : state) {
        block = source;
        fx.process(block);
        benchmark::DoNotOptimize(block.samples[0]);
    }
}

void BM_LimiterFullBlock(benchmark::State& state) { effectOnBlock<LimiterFX>(state); }
void BM_StereoPanFullBlock(benchmark::State& state) { effectOnBlock<StereoPanFX>(state); }

// A chain's own walk: the state words, nothing to run.
void BM_EmptyChain(benchmark::State& state) { effectOnBlock<EffectChain>(state); }

// The copy of the block that every case above pays for.
void BM_BlockCopyOnly(benchmark::State& state) {
    const AudioBlock source = fullBlock();
    AudioBlock block;
    for (auto _ : state) {
        block = source;
        benchmark::DoNotOptimize(block.samples[0]);
    }
}

long fixedBlocks() {
    const char* env = std::getenv("CORVANE_BENCH_BLOCKS");
    return env ? std::atol(env) : 10000;
}

// One run of CORVANE_BENCH_BLOCKS blocks (default 10000), for callgrind.
template <typename Effect, AudioBlock (*makeBlock)() = fullBlock>
void effectFixedBlocks(benchmark::State& state) {
    const long blocks = fixedBlocks();
    Effect fx;
    const AudioBlock source = makeBlock();
    AudioBlock block;
    for (auto _ : state) {
        for (long b = 0; b < blocks; ++b) {
            block = source;
            fx.process(block);
            benchmark::DoNotOptimize(block.samples[0]);
        }
    }
}

void BM_LimiterFixedBlocks(benchmark::State& state) { effectFixedBlocks<LimiterFX>(state); }
void BM_StereoPanFixedBlocks(benchmark::State& state) { effectFixedBlocks<StereoPanFX>(state); }

void BM_BlockCopyFixedBlocks(benchmark::State& state) {
    const long blocks = fixedBlocks();
    const AudioBlock source = fullBlock();
    AudioBlock block;
    for (auto _ : state) {
        for (long b = 0; b < blocks; ++b) {
            block = source;
            benchmark::DoNotOptimize(block.samples[0]);
        }
    }
}

}  // namespace

BENCHMARK(BM_LimiterFullBlock);
BENCHMARK(BM_StereoPanFullBlock);
BENCHMARK(BM_EmptyChain);
BENCHMARK(BM_BlockCopyOnly);
BENCHMARK(BM_LimiterFixedBlocks)->Iterations(1);
BENCHMARK(BM_StereoPanFixedBlocks)->Iterations(1);
BENCHMARK(BM_BlockCopyFixedBlocks)->Iterations(1);

// The other effects, each at its defaults on the same full block, and the
// chain of reverb, delay, compressor and equaliser. Instructions per block:
// BM_<Name>FixedBlocks under callgrind with CORVANE_BENCH_BLOCKS=N and =0, the
// difference over N, less BM_BlockCopyFixedBlocks' own figure.
namespace {

struct ReverbDelayCompressorEqualizer {
    EffectChain chain;
    ReverbDelayCompressorEqualizer() {
        chain.insertEffect(AudioEffectType::Reverb, 0);
        chain.insertEffect(AudioEffectType::Delay, 1);
        chain.insertEffect(AudioEffectType::Compressor, 2);
        chain.insertEffect(AudioEffectType::Equalizer, 3);
    }
    void process(AudioBlock& block) { chain.process(block); }
};

#define CORVANE_EFFECT_BENCHES(Name, Type)                                                     \
    void BM_##Name##FullBlock(benchmark::State& state) { effectOnBlock<Type>(state); }           \
    void BM_##Name##FixedBlocks(benchmark::State& state) { effectFixedBlocks<Type>(state); }     \
    BENCHMARK(BM_##Name##FullBlock);                                                             \
    BENCHMARK(BM_##Name##FixedBlocks)->Iterations(1);

CORVANE_EFFECT_BENCHES(AmpMod, AmplitudeModFX)
CORVANE_EFFECT_BENCHES(Mono, MonoSumFX)
CORVANE_EFFECT_BENCHES(ReRoute, ReRouteFX)
CORVANE_EFFECT_BENCHES(Circle, CirclePanFX)
CORVANE_EFFECT_BENCHES(Delay, DelayFX)
CORVANE_EFFECT_BENCHES(FadeDelay, FadeDelayFX)
CORVANE_EFFECT_BENCHES(Reverb, ReverbFX)
CORVANE_EFFECT_BENCHES(Compressor, CompressorFX)
CORVANE_EFFECT_BENCHES(Drive, SaturationFX)
CORVANE_EFFECT_BENCHES(Degrade, DegradeFX)
CORVANE_EFFECT_BENCHES(Equalizer, EqualizerFX)
CORVANE_EFFECT_BENCHES(Multiband, BandSplitFX)
CORVANE_EFFECT_BENCHES(Filter, StateVariableFilterFX)
CORVANE_EFFECT_BENCHES(SpaceChain, ReverbDelayCompressorEqualizer)

#undef CORVANE_EFFECT_BENCHES

// The reverb with a single sounding channel (a track's default polyphony)
// spread over its eight lines; the figure includes the block copy as above.
void BM_ReverbOneChannelBlock(benchmark::State& state) { effectOnBlock<ReverbFX, oneChannelBlock>(state); }
void BM_ReverbOneChannelFixedBlocks(benchmark::State& state) {
    effectFixedBlocks<ReverbFX, oneChannelBlock>(state);
}
BENCHMARK(BM_ReverbOneChannelBlock);
BENCHMARK(BM_ReverbOneChannelFixedBlocks)->Iterations(1);

// The same with the "14-bit" colour, which keeps every frame on the
// frame-by-frame step.
struct ReverbFourteenBit : ReverbFX {
    ReverbFourteenBit() { color.setValue(3, true); }
};
void BM_ReverbOneChannel14BitFixedBlocks(benchmark::State& state) {
    effectFixedBlocks<ReverbFourteenBit, oneChannelBlock>(state);
}
BENCHMARK(BM_ReverbOneChannel14BitFixedBlocks)->Iterations(1);

}  // namespace
