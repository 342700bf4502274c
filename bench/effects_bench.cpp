// Cost per block of the limiter and the stereo pan on a full block (eight
// sounding channels), and of a chain's own walk.
#include "effects/EffectChain.h"
#include "effects/LimiterFX.h"
#include "effects/StereoPanFX.h"

#include <benchmark/benchmark.h>

#include <cmath>

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

// Anything with process(AudioBlock&).
template <typename Effect>
void effectOnFullBlock(benchmark::State& state) {
    Effect fx;
    const AudioBlock source = fullBlock();
    AudioBlock block;
    for (auto _ : state) {
        block = source;
        fx.process(block);
        benchmark::DoNotOptimize(block.samples[0]);
    }
}

void BM_LimiterFullBlock(benchmark::State& state) { effectOnFullBlock<LimiterFX>(state); }
void BM_StereoPanFullBlock(benchmark::State& state) { effectOnFullBlock<StereoPanFX>(state); }

// A chain's own walk: the state words, nothing to run.
void BM_EmptyChain(benchmark::State& state) { effectOnFullBlock<EffectChain>(state); }

// The copy of the block that every case above pays for.
void BM_BlockCopyOnly(benchmark::State& state) {
    const AudioBlock source = fullBlock();
    AudioBlock block;
    for (auto _ : state) {
        block = source;
        benchmark::DoNotOptimize(block.samples[0]);
    }
}

}  // namespace

BENCHMARK(BM_LimiterFullBlock);
BENCHMARK(BM_StereoPanFullBlock);
BENCHMARK(BM_EmptyChain);
BENCHMARK(BM_BlockCopyOnly);
