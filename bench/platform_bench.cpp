// Cost of the host driver itself: a block with a render that does nothing,
// and the real-time pipe write.
#include "platform/Audio.h"
#include "platform/Pipe.h"
#include "platform/Stepped.h"

#include "bench/ScratchFolder.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

bool emptySetup(BelaContext*, void*) { return true; }
void emptyRender(BelaContext*, void*) {}

const std::string& scratch() { return bench::scratchFolder("corvane-bench"); }

BelaInitSettings settingsFor(HostMode mode, uint64_t blocks) {
    BelaInitSettings s;
    s.setup = emptySetup;
    s.render = emptyRender;
    s.mode = mode;
    s.stopAfterBlocks = blocks;
    s.root = scratch() + "/root";
    return s;
}

// The driver's own work around render for one block, stepped on this thread.
void BM_DriverBlockStepped(benchmark::State& state) {
    BelaInitSettings s = settingsFor(HostMode::Stepped, 0);
    Bela_initAudio(&s, nullptr);
    for (auto _ : state)
        host::stepBlocks(1, false);
    Bela_cleanupAudio();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DriverBlockStepped);

// A whole offline run of one second of audio (750 blocks) on the audio thread,
// including its output capture; time per block = time / 750.
void BM_DriverOfflineSecond(benchmark::State& state) {
    for (auto _ : state) {
        BelaInitSettings s = settingsFor(HostMode::Offline, 750);
        s.audioOutFile = scratch() + "/bench.wav";
        Bela_initAudio(&s, nullptr);
        Bela_startAudio();
        while (!Bela_stopRequested()) {
        }
        Bela_stopAudio();
        Bela_cleanupAudio();
    }
    state.SetItemsProcessed(state.iterations() * 750);
}
BENCHMARK(BM_DriverOfflineSecond)->Unit(benchmark::kMillisecond);

void BM_PipeWriteRt16(benchmark::State& state) {
    Pipe pipe("bench", 1 << 20);
    char record[16] = {};
    char sink[16];
    for (auto _ : state) {
        if (pipe.writeRt(record, sizeof record) < 0) {
            state.PauseTiming();
            while (pipe.readNonRt(sink, sizeof sink) > 0) {
            }
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PipeWriteRt16);

void BM_PipeWriteRtBlock(benchmark::State& state) {
    // One interleaved block of 8 channels, as the recorder pushes it.
    Pipe pipe("bench-block", 1 << 20);
    static float block[64 * 8] = {};
    static float sink[64 * 8];
    for (auto _ : state) {
        if (pipe.writeRt(block, sizeof block) < 0) {
            state.PauseTiming();
            while (pipe.readNonRt(sink, sizeof sink) > 0) {
            }
            state.ResumeTiming();
        }
    }
    state.SetBytesProcessed(state.iterations() * int64_t(sizeof block));
}
BENCHMARK(BM_PipeWriteRtBlock);

}  // namespace
