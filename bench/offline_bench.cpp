// Cost of a whole offline render of the instrument (a bounce): the audio loop
// renders back to back and runs the tasks each block woke (the interface and
// I/O tasks every fourth block) before the next block, so the figure is the
// render and its tasks together. Each iteration is one run of
// CORVANE_BENCH_BLOCKS blocks (default 7500, 10 s of audio) in a fresh root,
// track 1's sequencer playing on the running clock as the panel starts it;
// the time is from the start to the last block (looked for every
// millisecond), set-up and clean-up left out, and ns_per_block is that time
// over the blocks.
#include "instrument/Entry.h"
#include "platform/Audio.h"

#include "bench/ScratchFolder.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

uint64_t runBlocks() {
    const char* env = std::getenv("CORVANE_BENCH_BLOCKS");
    return env ? std::strtoull(env, nullptr, 10) : 7500;
}

// The first pulse lane of track 1 on (key 5), then the clock started (key 24).
constexpr const char* kPanelScript = "90 key 5 down\n96 key 5 up\n100 key 24 down\n110 key 24 up\n";

void BM_OfflineRender(benchmark::State& state) {
    const std::string& scratch = bench::scratchFolder("corvane-bench");
    if (scratch.empty()) {
        state.SkipWithError("no scratch folder");
        return;
    }
    const std::string script = scratch + "/first-sound.panel";
    std::ofstream(script) << kPanelScript;
    const uint64_t blocks = runBlocks();
    double seconds = 0.0;
    int run = 0;
    for (auto _ : state) {
        BelaInitSettings settings;
        Bela_defaultSettings(&settings);
        chooseBoard(&settings);
        settings.setup = setup;
        settings.render = render;
        settings.cleanup = cleanup;
        settings.mode = HostMode::Offline;
        settings.stopAfterBlocks = blocks;
        settings.root = scratch + "/root-" + std::to_string(++run);
        settings.audioOutFile = settings.root + "/o.wav";
        settings.panelScript = script;
        if (Bela_initAudio(&settings, nullptr) != 0) {
            state.SkipWithError("the instrument did not set up");
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        Bela_startAudio();
        while (!Bela_stopRequested())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        Bela_stopAudio();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        seconds += took.count();
        Bela_cleanupAudio();
    }
    state.SetItemsProcessed(int64_t(state.iterations() * blocks));
    state.counters["ns_per_block"] = seconds * 1e9 / double(state.iterations() * blocks);
}
BENCHMARK(BM_OfflineRender)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
