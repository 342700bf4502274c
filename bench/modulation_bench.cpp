// Cost of modulation per 64-frame block: a parameter read on its eight voice
// channels with 1, 4 and 8 real modulators, and one track's block update
// with eight LFO-modulated engine parameters read as the voices read them.
// For a repeatable instruction count run the *FixedBlocks benchmarks under
// callgrind twice, with CORVANE_BENCH_BLOCKS=N and =0, and divide the
// difference by N.
#include "instrument/MainClock.h"
#include "instrument/track/Track.h"
#include "parameters/BasicLFO.h"
#include "parameters/ModulationManager.h"
#include "parameters/ParameterFloat.h"
#include "platform/Audio.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

long fixedBlocks() {
    const char* env = std::getenv("CORVANE_BENCH_BLOCKS");
    return env ? std::atol(env) : 10000;
}

// A filter cutoff with n modulators of the four kinds in turn, each
// audible.
struct ModulatedCutoff {
    ModulationManager manager;
    ParameterFloat cutoff{"cutoff", ParameterFloat::Hertz, Smoothed | Stored | PerChannel, 1000.0f};
    long block = 0;

    explicit ModulatedCutoff(int n) {
        const char* kinds[] = {"LFO", "AD env", "random", "offset"};
        for (int i = 0; i < n; ++i) {
            std::shared_ptr<Modulator> m = manager.addModulatorTo(kinds[i % 4], cutoff);
            m->amount.setValue(10.0f, true);
        }
    }
    // One block: the update, then the eight channels' reads with a note on
    // one channel now and then.
    float run() {
        cutoff.updateBlock();
        float sum = 0.0f;
        for (uint32_t ch = 0; ch < 8; ++ch)
            sum += cutoff.getModulated(ch, false, (block + ch) % 50 == 0);
        ++block;
        return sum;
    }
};

void BM_GetModulatedEightChannels(benchmark::State& state) {
    Bela_setFlushToZero();
    ModulatedCutoff rig(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(rig.run());
}
BENCHMARK(BM_GetModulatedEightChannels)->Arg(1)->Arg(4)->Arg(8);

void BM_GetModulatedFixedBlocks(benchmark::State& state) {
    Bela_setFlushToZero();
    const long blocks = fixedBlocks();
    ModulatedCutoff rig(int(state.range(0)));
    for (auto _ : state)
        for (long b = 0; b < blocks; ++b)
            benchmark::DoNotOptimize(rig.run());
}
BENCHMARK(BM_GetModulatedFixedBlocks)->Arg(1)->Arg(4)->Arg(8)->Iterations(1);

// Track 1 with an LFO on each of eight of its engine's per-channel
// parameters: the track's block update, then each parameter read on eight
// voice channels.
struct LfoTrack {
    std::unique_ptr<Track> owner = std::make_unique<Track>(0, &DSP::mainClock);
    Track& track = *owner;
    std::vector<Parameter*> modulated;

    LfoTrack() {
        track.setup();
        track.synthesis.setValue(1, false);  // the subtractive engine
        track.applySynthesis();
        for (Parameter* p : track.currentEngine()->parameters.parameters) {
            if (p->channelCount == 0 || modulated.size() == 8)
                continue;
            std::shared_ptr<Modulator> m = track.modulation.addModulatorTo("LFO", *p);
            if (!m)
                continue;
            m->amount.setValue(20.0f, true);
            modulated.push_back(p);
        }
    }
    ~LfoTrack() {
        track.currentEngine()->parameters.resetToDefaults();
        track.modulation.removeUnused();
    }
    float run() {
        track.blockUpdate();
        float sum = 0.0f;
        for (Parameter* p : modulated)
            for (uint32_t ch = 0; ch < 8; ++ch)
                sum += p->getModulated(ch, false, false);
        return sum;
    }
};

void BM_TrackBlockUpdateEightLfos(benchmark::State& state) {
    Bela_setFlushToZero();
    LfoTrack rig;
    if (rig.modulated.size() != 8)
        state.SkipWithError("the engine has fewer than eight per-channel parameters");
    for (auto _ : state)
        benchmark::DoNotOptimize(rig.run());
}
BENCHMARK(BM_TrackBlockUpdateEightLfos);

void BM_TrackBlockUpdateEightLfosFixedBlocks(benchmark::State& state) {
    Bela_setFlushToZero();
    const long blocks = fixedBlocks();
    LfoTrack rig;
    for (auto _ : state)
        for (long b = 0; b < blocks; ++b)
            benchmark::DoNotOptimize(rig.run());
}
BENCHMARK(BM_TrackBlockUpdateEightLfosFixedBlocks)->Iterations(1);

}  // namespace
