// The audio thread plays note lists and looks up scales while another thread
// shuffles, transposes, copies, loads and retunes them.
#include "platform/Audio.h"
#include "platform/Stepped.h"
#include "sequencing/Corvane.h"
#include "sequencing/NoteManager.h"
#include "sequencing/PitchScale.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "tests/support/realtime_stepped.h"
#include "tests/support/seq_engine.h"

namespace {

struct Rig : NoteScheduler {
    NoteManager notes;
    PitchScaleManager scales;
    ParameterFloat tempo{"BPM", ParameterFloat::Bpm, Stored, 240.0f, 0.0f, 240.0f};
    Corvane seq[2];
    testsupport::SequencerTestEngine engine;
    uint64_t queued = 0, frame = 0;
    bool badPitch = false;
    bool scheduleNote(NoteEvent e) override {
        ++queued;
        badPitch = badPitch || !(std::isfinite(e.frequency) && e.frequency > 0.0f);
        return true;
    }
};
Rig* gRig = nullptr;

void render(BelaContext*, void*) {
    float phase[64];
    for (float& p : phase)
        p = float(gRig->frame++ % 256) / 256.0f;  // a tick every fourth block
    for (Corvane& s : gRig->seq) {
        s.clockTick(phase, 64);
        s.advanceTick(false);
        s.process(&gRig->engine);
    }
}

NoteList chords(int steps, const char* tuning) {
    NoteList list;
    list.tuning = tuning;
    for (int i = 0; i < steps; ++i) {
        list.steps.emplace_back();
        for (int k = 0; k <= i % 8; ++k)
            list.steps.back().add(Note{NoteType::NoteOn, (i * 5 + k) % 12, k % 3 - 1, -6.0f, 10});
        list.steps.back().selected = uint8_t(i % 3 == 0);
    }
    list.rebuildTransitions();
    return list;
}

TEST(NoteListThreaded, ListsAndScalesReplacedWhileTheAudioThreadPlaysThem) {
    Rig rig;
    gRig = &rig;
    rig.engine.set(8, 1);
    for (int t = 0; t < 2; ++t) {
        rig.seq[t].setLinks({&rig, &rig.tempo, &rig.notes, &rig.scales});
        rig.seq[t].clockMult.setValue(1, false);
        rig.seq[t].noteList.setValue(t, false);
        for (int lane = 0; lane < 4; ++lane) {
            rig.seq[t].lanes[size_t(lane)].enabled.setValue(1, false);
            rig.seq[t].lanes[size_t(lane)].interval.setValue(1, false);
            rig.seq[t].lanes[size_t(lane)].noteSel.setValue(lane + 1, false);  // random and markov among them
        }
    }
    rig.notes.setList(0, chords(12, "12 edo"));
    rig.notes.setList(1, chords(5, "live.scl"));
    ASSERT_TRUE(rig.scales.addScale("a/live.scl", {1.0, 1.2, 1.5}));

    ASSERT_TRUE(testsupport::startStepped(render, "notelist-threaded"));
    testsupport::SteppingAudio audio;
    while (host::blocksRendered() < 10)
        std::this_thread::yield();
    for (int round = 0; round < 3000; ++round) {
        switch (round % 5) {
        case 0: rig.notes.shuffle(0); break;
        case 1: rig.notes.transpose(1, round % 2 ? 3 : -3); break;
        case 2: rig.notes.copyNotes(1, 0, 2); break;
        case 3:  // a note-list load
            rig.notes.reset();
            rig.notes.setList(0, chords(3 + round % 9, "12 edo"));
            rig.notes.setList(1, chords(4, "live.scl"));
            rig.notes.applyTunings(rig.scales);
            break;
        case 4: rig.scales.addScale("b/live.scl", {1.0, 1.1 + 0.001 * (round % 100), 1.7, 2.0}); break;
        }
        // The edits overlap the audio thread by waiting for its blocks, not
        // by hoping it ran meanwhile.
        if (round % 25 == 0) {
            const uint64_t seen = host::blocksRendered();
            while (host::blocksRendered() == seen)
                std::this_thread::yield();
        }
    }
    const uint64_t blocksDuring = host::blocksRendered();
    audio.stop();
    Bela_cleanupAudio();
    gRig = nullptr;

    EXPECT_GT(blocksDuring, 100u);
    EXPECT_GT(rig.queued, 0u);
    EXPECT_FALSE(rig.badPitch);
    EXPECT_EQ(rig.scales.getScale("live.scl")->name, "b/live.scl");
    EXPECT_EQ(rig.notes.list(1)->stepsPerOctave, 3);
}

}  // namespace
