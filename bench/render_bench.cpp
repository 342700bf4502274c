// Cost of one whole render of the instrument (render_bench): five tracks, each playing eight
// held subtractive voices through its default effect chain, the master
// chain, the panel scan, MIDI and the clock running. The budget of a block
// is 1333 us (64 frames at 48 kHz): the share is the time per block over it.
//
// For a repeatable instruction count run BM_RenderFixedBlocks under
// callgrind twice, with CORVANE_BENCH_BLOCKS=N and =0, and divide the
// difference by N:
//   CORVANE_BENCH_BLOCKS=2000 valgrind --tool=callgrind build/dev/bench/render_bench
//       --benchmark_filter=FixedBlocks   (one command line)
#include "engines/SynthVoiceCommon.h"
#include "engines/subtractive/SubtractiveCommon.h"
#include "instrument/Entry.h"
#include "instrument/MainClock.h"
#include "instrument/NoteEvent.h"
#include "instrument/track/Track.h"
#include "instrument/voices/VoiceManager.h"
#include "platform/Audio.h"
#include "platform/Paths.h"
#include "platform/Stepped.h"
#include "platform/devices/PanelSimulator.h"
#include "sequencing/NoteList.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

long fixedBlocks() {
    const char* env = std::getenv("CORVANE_BENCH_BLOCKS");
    return env ? std::atol(env) : 10000;
}

// Eight notes a track, one track after another, so the 32 places of the
// note queue never overflow.
void playHeldNotes() {
    for (uint32_t t = 0; t < 5; ++t) {
        Track& track = DSP::track[t];
        SynthVoiceCommon* engine = track.currentEngine();
        for (uint32_t v = 0; v < 8; ++v) {
            NoteEvent e;
            e.type = uint32_t(NoteType::NoteOn);
            e.engine = engine;
            e.track = t;
            e.frequency = 110.0f * float(1 + v) * (1.0f + 0.01f * float(t));
            e.gain = 0.2f;
            e.delay = 8 * v;
            e.flags = 0;
            DSP::voiceManager.scheduleNote(e);
        }
        host::stepBlocks(8, false);
    }
    host::stepBlocks(16, false);
}

// The instrument, set up once per process in a scratch root, with every
// track on the subtractive engine at eight voices, envelopes holding.
bool instrumentReady() {
    static const bool ready = [] {
        char root[] = "/tmp/corvane-bench-XXXXXX";
        if (!mkdtemp(root))
            return false;
        BelaInitSettings settings;
        settings.setup = setup;
        settings.render = render;
        settings.cleanup = cleanup;
        settings.mode = HostMode::Stepped;
        settings.root = root;
        if (Bela_initAudio(&settings, nullptr) != 0 || Bela_startAudio() != 0)
            return false;
        // The panel simulator is the host's, not the instrument's: leave it out.
        host::detachDigitalDevice(&host::panel());
        const int32_t subtractive = DSP::track[0].synthesis.value.load();
        for (auto& track : DSP::track) {
            track.synthesis.setValue(subtractive, true);
            track.applySynthesis();
            SynthVoiceCommon* engine = track.currentEngine();
            engine->polyphony.setValue(8, true);
            for (int i = 0; i < 3; ++i) {
                engine->envAttack[i].setValue(5.0f, true);
                engine->envHold[i].setValue(60000.0f, true);
            }
        }
        host::stepBlocks(100, true);
        playHeldNotes();
        return true;
    }();
    return ready;
}

void BM_Render(benchmark::State& state) {
    if (!instrumentReady()) {
        state.SkipWithError("the instrument did not set up");
        return;
    }
    int64_t blocks = 0;
    for (auto _ : state) {
        host::stepBlocks(1, false);
        if (++blocks % 2000 == 0)
            playHeldNotes();
    }
    state.counters["voices"] = double(DSP::voiceManager.activeVoiceCount());
}
BENCHMARK(BM_Render);

// One run of CORVANE_BENCH_BLOCKS blocks (default 10000), for callgrind.
void BM_RenderFixedBlocks(benchmark::State& state) {
    if (!instrumentReady()) {
        state.SkipWithError("the instrument did not set up");
        return;
    }
    const long blocks = fixedBlocks();
    for (auto _ : state)
        host::stepBlocks(uint32_t(blocks), false);
    state.counters["voices"] = double(DSP::voiceManager.activeVoiceCount());
}
BENCHMARK(BM_RenderFixedBlocks)->Iterations(1);

}  // namespace
