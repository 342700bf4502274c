// The motion slots, the note-list page and the sequencer pictures while an
// audio thread steps blocks: each side waits for the other's progress.
#include "drivers/KeyDebouncer.h"
#include "gui/MonoGFX.h"
#include "sequencing/Corvane.h"
#include "sequencing/MorphController.h"
#include "sequencing/MotionRecorder.h"
#include "sequencing/NoteManager.h"
#include "sequencing/PitchScale.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "tests/support/realtime_stepped.h"
#include "tests/support/seq_engine.h"

using json = nlohmann::json;

namespace {

Touchpad::Touch touchedPad(uint32_t) { return {0.6f, 0.4f, 9}; }

std::function<void()>* gAudio = nullptr;
void render(BelaContext*, void*) {
    if (gAudio)
        (*gAudio)();
}

// Runs `audio` as the render of a stepped run on its own thread (so the
// block fence waits for it) until `gui` has run `rounds` times; the GUI side
// waits for a block between its rounds, so both make progress.
template <typename A, typename G>
void alongside(const char* name, int rounds, A&& audio, G&& gui) {
    std::function<void()> body = audio;
    gAudio = &body;
    ASSERT_TRUE(testsupport::startStepped(render, name));
    {
        testsupport::SteppingAudio stepping;
        for (int r = 0; r < rounds; ++r) {
            const uint64_t seen = host::blocksRendered();
            gui(r);
            while (host::blocksRendered() < seen + 2)
                std::this_thread::yield();
        }
    }
    Bela_cleanupAudio();
    gAudio = nullptr;
}

struct CountingScheduler : NoteScheduler {
    std::atomic<uint64_t> count{0};
    bool scheduleNote(NoteEvent) override {
        count.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
};

}  // namespace

TEST(MotionThreaded, OverdubWhileTheSlotIsDeletedLoadedAndCleared) {
    const auto reader = MotionRecorder::touchReader.load();
    MotionRecorder::touchReader = &touchedPad;
    MorphController motion;
    MotionRecorder recorder(2, motion);
    recorder.motion.setValue(4, false);
    for (uint32_t f = 0; f < 300; ++f)
        writePoint(*motion.recording(4), f, {0.1f, 0.1f, 1});
    for (uint32_t level : {1u, 0u})  // released, then held: a keydown edge
        for (int i = 0; i < 20; ++i)
            Key::key[MotionRecorder::kRecordKey].update(level);
    recorder.start();
    ASSERT_EQ(recorder.state(), MotionRecorder::Overdub);
    const json element = {{"x", {0.2, 0.3, 0.4}}, {"y", {0.5, 0.5, 0.5}}, {"t", {1, 1, 1}}};
    MonoGFX gfx;
    gfx.init(256, 64);
    alongside(
        "motion-threaded", 600, [&] { motion.process(nullptr); },
        [&](int r) {
            switch (r % 4) {
            case 0: motion.requestDelete(4); break;
            case 1: motion.fromJson(4, element); break;
            case 2: motion.clear(); break;
            default: (void)motion.toJson(4); break;
            }
            recorder.draw(gfx, 0, 0);
        });
    motion.fromJson(4, element);
    motion.process(nullptr);
    EXPECT_EQ(motion.recording(4)->size(), 3u);
    EXPECT_FLOAT_EQ(motion.recording(4)->at((recorder.frame() - 1) / 15 % 3).x, 0.6f);
    EXPECT_EQ(recorder.state(), MotionRecorder::Overdub);
    for (int i = 0; i < 20; ++i)
        Key::key[MotionRecorder::kRecordKey].update(1);
    motion.process(nullptr);
    EXPECT_EQ(motion.recordingTrack(), -1);
    MotionRecorder::touchReader = reader;
}

TEST(NotePageThreaded, MidiNotesWhileTheListIsShuffledTransposedCopiedAndPlayed) {
    NoteManager page;
    PitchScaleManager scales;
    CountingScheduler scheduler;
    testsupport::SequencerTestEngine engine;
    engine.set(8, 2);
    Corvane seq;
    std::atomic<uint32_t> block{0};
    page.links.scheduler = &scheduler;
    page.links.blockCounter = [&] { return block.load(std::memory_order_relaxed); };
    page.links.keyHeld = [](int) { return false; };
    page.links.clockRunning = [] { return false; };
    page.links.currentTrack = [] { return 0; };
    page.links.engine = [&](int) { return &engine; };
    page.links.sequencer = [&](int) { return &seq; };
    page.links.scales = &scales;
    page.notify = [](int, const std::string&) {};
    NoteList source;
    source.steps.resize(3);
    for (NoteStep& s : source.steps)
        s.add(Note{});
    page.setList(1, source);
    page.open();
    page.serviceRequests();
    MonoGFX gfx;
    gfx.init(256, 64);
    uint64_t walked = 0;
    alongside(
        "note-page-threaded", 400,
        [&] {
            const uint32_t b = block.fetch_add(1, std::memory_order_relaxed);
            for (uint32_t n = 0; n < 8; ++n)
                page.midiNoteIn({uint32_t(MIDIMsgType::NoteOn), 0, 40 + (b * 8 + n) % 40, 90});
            // As the sequencer plays it: one snapshot for the block.
            if (const NoteList* l = page.rtList(0))
                for (const NoteStep& s : l->steps)
                    walked += uint64_t(s.size());
            page.renderPreviews();
        },
        [&](int r) {
            page.draw(gfx);
            if (r % 3 == 0)
                page.shuffle(0);
            else if (r % 3 == 1)
                page.transpose(0, 1);
            else
                page.copyNotes(1, 0, 0);
        });
    page.serviceRequests();
    const auto list = page.list(0);
    EXPECT_GT(list->steps.size(), 100u);  // the copies
    for (const NoteStep& s : list->steps) {
        ASSERT_LE(s.size(), NoteStep::kMaxNotes);
        for (const Note& n : s)
            ASSERT_TRUE(n.symbol >= 0 && n.symbol < 12);
    }
    EXPECT_GT(walked, 0u);
    EXPECT_GT(scheduler.count.load(), 0u);
}

TEST(SequencerPagesThreaded, PicturesDrawnWhileTheHistoriesMove) {
    Corvane seq;
    NoteManager notes;
    PitchScaleManager scales;
    CountingScheduler scheduler;
    testsupport::SequencerTestEngine engine;
    engine.set(4, 1);
    seq.setLinks({&scheduler, nullptr, &notes, &scales});
    for (PulseLane& l : seq.lanes) {
        l.enabled.setValue(1, false);
        l.interval.setValue(int32_t(seq.lanes[0].laneNumber + 1), false);
    }
    MonoGFX gfx;
    gfx.init(256, 64);
    alongside(
        "pages-threaded", 300,
        [&] {
            seq.ticked = 1;
            ++seq.tickCounter;
            seq.process(&engine);
        },
        [&](int r) {
            gfx.clear();
            seq.draw(gfx, 0, r % 16);
        });
    EXPECT_GE(seq.lanes[0].history.index(), 0);
    EXPECT_LT(seq.lanes[0].history.index(), 128);
    EXPECT_GT(scheduler.count.load(), 0u);
}
