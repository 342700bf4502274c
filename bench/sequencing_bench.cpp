// Per-block sequencer work of the five tracks: clocking and the four pulse
// lanes, in the worst case of every lane pulsing a chord on every block.
#include "engines/SynthVoiceCommon.h"
#include "sequencing/Corvane.h"
#include "sequencing/NoteManager.h"
#include "sequencing/PitchScale.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

namespace {

struct Engine : SynthVoiceCommon {
    void drawOverview(MonoGFX&, uint32_t, uint32_t, int, int) override {}
    uint32_t envSlots() const override { return 0; }
};

struct SinkScheduler : NoteScheduler {
    uint64_t count = 0;
    bool scheduleNote(NoteEvent e) override {
        count += e.unisonIndex + 1;
        return true;
    }
};

struct Tracks {
    NoteManager notes;
    PitchScaleManager scales;
    SinkScheduler sink;
    ParameterFloat tempo{"BPM", ParameterFloat::Bpm, Stored, 120.0f, 0.0f, 240.0f};
    Corvane seq[5];
    Engine engine;
    float phase[64];
    uint64_t frame = 0;

    Tracks(int noteSel, bool everyBlock) {
        NoteList list;
        for (int i = 0; i < 16; ++i) {
            NoteStep step;
            for (int k = 0; k < 3; ++k)
                step.add(Note{NoteType::NoteOn, (i + 4 * k) % 12, k - 1, -6.0f, 10});
            list.steps.push_back(step);
        }
        list.rebuildTransitions();
        notes.setList(0, list);
        engine.polyphony.setValue(8, false);
        engine.unison.setValue(2, false);
        for (Corvane& s : seq) {
            s.setLinks({&sink, &tempo, &notes, &scales});
            s.clockMult.setValue(everyBlock ? 1 : 8, false);
            for (PulseLane& l : s.lanes) {
                l.enabled.setValue(1, false);
                l.interval.setValue(1, false);
                l.noteSel.setValue(noteSel, false);
                l.swing.setValue(30.0f, false);
                l.randTime.setValue(5.0f, false);
            }
        }
    }

    void block(bool everyBlock) {
        for (int i = 0; i < 64; ++i, ++frame) {
            // Every block holds a beat when asked to, else 120 BPM.
            const double beats = everyBlock ? double(frame) / 64.0 : double(frame) / 24000.0;
            phase[i] = float(beats - std::floor(beats));
        }
        for (Corvane& s : seq) {
            s.clockTick(phase, 64);
            s.advanceTick(s.resetDue());
            s.process(&engine);
        }
    }
};

void fiveTracksEveryLanePulsing(benchmark::State& state) {
    auto tracks = std::make_unique<Tracks>(int(state.range(0)), true);
    for (auto _ : state)
        tracks->block(true);
    benchmark::DoNotOptimize(tracks->sink.count);
    state.SetLabel(state.range(0) == 4 ? "markov" : "forward");
}
BENCHMARK(fiveTracksEveryLanePulsing)->Arg(0)->Arg(4);

void fiveTracksAt120Bpm(benchmark::State& state) {
    auto tracks = std::make_unique<Tracks>(0, false);
    for (auto _ : state)
        tracks->block(false);
    benchmark::DoNotOptimize(tracks->sink.count);
}
BENCHMARK(fiveTracksAt120Bpm);

}  // namespace
