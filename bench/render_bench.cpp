// Cost of one whole render of the instrument (render_bench): five tracks, each playing eight
// held subtractive voices through its default effect chain, the master
// chain, the panel scan, MIDI and the clock running. The budget of a block
// is 1333 us (64 frames at 48 kHz): the share is the time per block over it.
//
// The heavy case (BM_HeavyRender*): five tracks of eight held FM voices with
// all four operators sounding, each track through reverb, delay, compressor
// and equaliser, and the master limiter.
//
// For a repeatable instruction count run BM_RenderFixedBlocks (or
// BM_HeavyRenderFixedBlocks) under callgrind twice, with
// CORVANE_BENCH_BLOCKS=N and =0, and divide the difference by N:
//   CORVANE_BENCH_BLOCKS=2000 valgrind --tool=callgrind build/dev/bench/render_bench
//       --benchmark_filter=BM_RenderFixedBlocks
#include "engines/SynthVoiceCommon.h"
#include "engines/fm/FMCommon.h"
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

#include "bench/ScratchFolder.h"

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

enum class Load { Light, Heavy };

// Envelopes that reach their level soon and then hold.
void holdEnvelopes(SynthVoiceCommon* engine, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        engine->envAttack[i].setValue(5.0f, true);
        engine->envHold[i].setValue(60000.0f, true);
    }
}

void setLight(Track& track, int32_t subtractive, bool afresh) {
    track.synthesis.setValue(subtractive, true);
    track.applySynthesis();
    SynthVoiceCommon* engine = track.currentEngine();
    engine->polyphony.setValue(8, true);
    holdEnvelopes(engine, 3);
    if (afresh)
        track.resetEffects(true);
}

// All four operators audible: a 1->2->3->4 chain with feedback on 2.
void setHeavy(Track& track) {
    constexpr int32_t kFMChoice = 2;
    track.synthesis.setValue(kFMChoice, true);
    track.applySynthesis();
    auto* fm = static_cast<FMCommon*>(track.currentEngine());
    fm->polyphony.setValue(8, true);
    holdEnvelopes(fm, FMCommon::kOperators);
    for (uint32_t op = 0; op < FMCommon::kOperators; ++op) {
        fm->volume[op].setValue(-12.0f, true);
        fm->end[op].setValue(1.0f, true);
        fm->ratio[op].setValue(float(op + 1), true);
    }
    fm->route[0].setValue(1, true);  // 1->2
    fm->route[2].setValue(1, true);  // 2->3
    fm->route[5].setValue(1, true);  // 3->4
    fm->feedback.setValue(-12.0f, true);
    fm->feedbackColour.setValue(30.0f, true);
    track.resetEffects(false);
    track.effectChain.insertEffect(AudioEffectType::Reverb, 0);
    track.effectChain.insertEffect(AudioEffectType::Delay, 1);
    track.effectChain.insertEffect(AudioEffectType::Compressor, 2);
    track.effectChain.insertEffect(AudioEffectType::Equalizer, 3);
}

// The instrument, set up once per process in a scratch root; every track
// plays eight held voices of the load's engine. A change of load sets the
// tracks up afresh.
bool instrumentReady(Load load) {
    static int32_t subtractive = -1;
    static const bool started = [] {
        const std::string& root = bench::scratchFolder("corvane-bench");
        if (root.empty())
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
        subtractive = DSP::track[0].synthesis.value.load();
        return true;
    }();
    static bool loaded = false;
    static Load current = Load::Light;
    if (!started)
        return false;
    if (loaded && current == load)
        return true;
    for (auto& track : DSP::track) {
        if (load == Load::Heavy)
            setHeavy(track);
        else
            setLight(track, subtractive, loaded);
    }
    host::stepBlocks(100, true);
    playHeldNotes();
    loaded = true;
    current = load;
    return true;
}

void renderBlocks(benchmark::State& state, Load load) {
    if (!instrumentReady(load)) {
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

// One run of CORVANE_BENCH_BLOCKS blocks (default 10000), for callgrind.
void renderFixedBlocks(benchmark::State& state, Load load) {
    if (!instrumentReady(load)) {
        state.SkipWithError("the instrument did not set up");
        return;
    }
    const long blocks = fixedBlocks();
    for (auto _ : state)
        host::stepBlocks(uint32_t(blocks), false);
    state.counters["voices"] = double(DSP::voiceManager.activeVoiceCount());
}

void BM_Render(benchmark::State& state) { renderBlocks(state, Load::Light); }
BENCHMARK(BM_Render);
void BM_RenderFixedBlocks(benchmark::State& state) { renderFixedBlocks(state, Load::Light); }
BENCHMARK(BM_RenderFixedBlocks)->Iterations(1);
void BM_HeavyRender(benchmark::State& state) { renderBlocks(state, Load::Heavy); }
BENCHMARK(BM_HeavyRender);
void BM_HeavyRenderFixedBlocks(benchmark::State& state) { renderFixedBlocks(state, Load::Heavy); }
BENCHMARK(BM_HeavyRenderFixedBlocks)->Iterations(1);

}  // namespace
