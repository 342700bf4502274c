// The audio thread plays note lists and looks up scales while another thread
// shuffles, transposes, replaces and loads them.
#include "platform/Audio.h"
#include "platform/Stepped.h"
#include "sequencing/Corvane.h"
#include "sequencing/NoteManager.h"
#include "sequencing/PitchScale.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "tests/support/TempDir.h"

namespace {

struct CountingScheduler : NoteScheduler {
    uint64_t queued = 0;
    bool badPitch = false;
    bool scheduleNote(NoteEvent e) override {
        ++queued;
        if (!(std::isfinite(e.frequency) && e.frequency > 0.0f))
            badPitch = true;
        return true;
    }
};

struct Rig {
    NoteManager notes;
    PitchScaleManager scales;
    CountingScheduler scheduler;
    ParameterFloat tempo{"BPM", ParameterFloat::Bpm, Stored, 240.0f, 0.0f, 240.0f};
    Corvane seq[5];
    EngineVoicing engine;
    float phase[64];
    uint64_t frame = 0;
};
Rig* gRig = nullptr;

bool rigSetup(BelaContext*, void*) { return true; }

void rigRender(BelaContext*, void*) {
    Rig& r = *gRig;
    // A fast clock so that every block ticks.
    for (int i = 0; i < 64; ++i, ++r.frame) {
        const double beats = double(r.frame) / 256.0;
        r.phase[i] = float(beats - std::floor(beats));
    }
    for (Corvane& s : r.seq) {
        s.clockTick(r.phase, 64);
        s.advanceTick(false);
        s.process(r.engine);
    }
}

NoteList chordList(int steps, const std::string& tuning) {
    NoteList list;
    list.tuning = tuning;
    for (int i = 0; i < steps; ++i) {
        NoteStep step;
        for (int k = 0; k <= i % 8; ++k)
            step.add(Note{NoteType::NoteOn, (i * 5 + k) % 12, k % 3 - 1, -6.0f, 10});
        step.selected = uint8_t(i % 3 == 0);
        list.steps.push_back(step);
    }
    list.rebuildTransitions();
    return list;
}

TEST(NoteListThreaded, ListsAndScalesReplacedWhileTheAudioThreadPlaysThem) {
    Rig rig;
    gRig = &rig;
    rig.engine.polyphony = 8;
    rig.engine.unison = 1;
    for (int t = 0; t < 5; ++t) {
        Corvane& s = rig.seq[t];
        s.setLinks({&rig.scheduler, &rig.tempo, &rig.notes, &rig.scales});
        s.clockMult.setValue(1, false);
        s.noteList.setValue(t % 2, false);
        for (int lane = 0; lane < 4; ++lane) {
            s.lanes[size_t(lane)].enabled.setValue(1, false);
            s.lanes[size_t(lane)].interval.setValue(1, false);
            s.lanes[size_t(lane)].noteSel.setValue(lane == 3 ? 4 : lane, false);
        }
    }
    rig.notes.setList(0, chordList(12, "12 edo"));
    rig.notes.setList(1, chordList(5, "live.scl"));
    ASSERT_TRUE(rig.scales.addScale("a/live.scl", {1.0, 1.2, 1.5}));

    BelaInitSettings settings;
    settings.setup = rigSetup;
    settings.render = rigRender;
    settings.mode = HostMode::Stepped;
    settings.root = testsupport::tempDir() + "notelist-threaded";
    ASSERT_EQ(Bela_initAudio(&settings, nullptr), 0);

    std::atomic<bool> done{false};
    std::thread audio([&] {
        while (!done.load())
            host::stepBlocks(1, false);
    });
    constexpr int kRounds = 3000;
    while (host::blocksRendered() < 10)
        std::this_thread::yield();
    for (int round = 0; round < kRounds; ++round) {
        switch (round % 6) {
        case 0:
            rig.notes.shuffle(0);
            break;
        case 1:
            rig.notes.transpose(1, round % 2 ? 3 : -3);
            break;
        case 2:
            rig.notes.setList(1, chordList(1 + round % 17, "live.scl"));
            break;
        case 3:
            rig.notes.copyNotes(1, 0, 2);
            break;
        case 4:
            // A load: every list emptied, refilled, tunings applied.
            rig.notes.reset();
            rig.notes.setList(0, chordList(3 + round % 9, "12 edo"));
            rig.notes.setList(1, chordList(4, "live.scl"));
            rig.notes.applyTunings(rig.scales);
            break;
        case 5:
            rig.scales.addScale("b/live.scl", {1.0, 1.1 + 0.001 * (round % 100), 1.7, 2.0});
            break;
        }
    }
    const uint64_t blocksDuring = host::blocksRendered();
    done = true;
    audio.join();
    EXPECT_GT(blocksDuring, 100u);
    Bela_cleanupAudio();
    gRig = nullptr;

    EXPECT_GT(rig.scheduler.queued, 0u);
    EXPECT_FALSE(rig.scheduler.badPitch);
    EXPECT_EQ(rig.scales.getScale("live.scl")->name, "b/live.scl");
    EXPECT_EQ(rig.notes.list(1)->steps.size(), 4u);
    EXPECT_EQ(rig.notes.list(1)->stepsPerOctave, 3);
}

}  // namespace
