// Per-block control work of the five tracks of a fresh instrument, as the
// block loop runs it, without voices: the main clock at 120 BPM, each
// track's sequencer clocking and stepping, `blockUpdate` for all five and
// `engineTick` for one track in turn. For a repeatable instruction count run
// BM_FiveTracksFixedBlocks under callgrind twice, with CORVANE_BENCH_BLOCKS=N
// and =0, and divide the difference by N.
#include "instrument/MainClock.h"
#include "instrument/track/Track.h"
#include "platform/Audio.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

struct SinkScheduler : NoteScheduler {
    uint64_t count = 0;
    bool scheduleNote(NoteEvent e) override {
        count += e.unisonIndex + 1;
        return true;
    }
};

struct Instrument {
    SinkScheduler sink;
    float phase[64] = {};
    uint32_t blockCount = 0;

    Instrument() {
        for (Track& t : DSP::track) {
            t.setNoteScheduler(&sink);
            t.setup();
        }
        DSP::mainClock.bpm.setValue(120.0f, false);
        DSP::mainClock.start(true);
    }

    void block() {
        for (float& p : phase)
            p = 0.0f;
        const bool edge = DSP::mainClock.process(phase, 64, nullptr);
        const bool restart = DSP::mainClock.takeResetRequest();
        for (Track& t : DSP::track) {
            t.blockUpdate();
            bool reset = restart;
            if (edge)
                reset |= t.onClockEdge();
            t.sequencer->clockTick(phase, 64);
            reset |= t.sequencer->resetDue();
            if (reset)
                t.onSequencerReset();
            t.sequencer->advanceTick(reset);
            t.sequencer->process(t.currentEngine());
        }
        DSP::track[blockCount % Track::kTracks].engineTick();
        ++blockCount;
    }
};

long fixedBlocks() {
    const char* env = std::getenv("CORVANE_BENCH_BLOCKS");
    return env ? std::atol(env) : 10000;
}

Instrument& instrument() {
    static Instrument i;
    return i;
}

void BM_FiveTracksBlock(benchmark::State& state) {
    Bela_setFlushToZero();
    Instrument& i = instrument();
    for (auto _ : state)
        i.block();
    benchmark::DoNotOptimize(i.sink.count);
}
BENCHMARK(BM_FiveTracksBlock);

// One run of CORVANE_BENCH_BLOCKS blocks (default 10000), for callgrind.
void BM_FiveTracksFixedBlocks(benchmark::State& state) {
    Bela_setFlushToZero();
    const long blocks = fixedBlocks();
    Instrument& i = instrument();
    for (auto _ : state)
        for (long b = 0; b < blocks; ++b)
            i.block();
    benchmark::DoNotOptimize(i.sink.count);
}
BENCHMARK(BM_FiveTracksFixedBlocks)->Iterations(1);

}  // namespace
