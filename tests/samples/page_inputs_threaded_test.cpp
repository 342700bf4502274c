// The note-list page, the sample-lists page and the file browser take
// encoder turns and MIDI notes from the audio thread and keys from the
// interface task at once; every one of them arrives.
#include "connectivity/MidiMessage.h"
#include "gui/FileBrowser.h"
#include "platform/Paths.h"
#include "samples/AudioResourcePool.h"
#include "sequencing/NoteManager.h"

#include <gtest/gtest.h>

#include "tests/support/realtime_stepped.h"

#include <atomic>
#include <fstream>
#include <thread>

namespace {

constexpr int kRounds = 300;
constexpr int kNotes = 100;  // per round and thread
constexpr int kTurns = 50;   // per round and thread; the pool's rings hold 64; whole steps of 5
constexpr int kEntries = 100;

NoteManager* gNotes = nullptr;
AudioResourcePool* gPool = nullptr;
FileBrowser* gBrowser = nullptr;
std::atomic<int> gNotesToSend{0};
std::atomic<int> gTurnsToSend{0};
std::atomic<int> gTurn{1};
std::atomic<uint32_t> gBlock{0};

// The audio side: MIDI notes to the note-list page, encoder 12 to the pool's page.
void render(BelaContext*, void*) {
    if (gBrowser) {
        for (int i = 0; i < 8 && gTurnsToSend.load() > 0; ++i) {
            gBrowser->encoder(12, gTurn.load(), false);
            gTurnsToSend.fetch_sub(1);
        }
        return;
    }
    for (int i = 0; i < 8; ++i) {
        if (gNotesToSend.load() > 0) {
            gNotes->midiNoteIn(MidiMessage{uint32_t(MIDIMsgType::NoteOn), 0, uint32_t(48 + i), 100});
            gNotesToSend.fetch_sub(1);
        }
        if (gTurnsToSend.load() > 0) {
            gPool->encoder(12, gTurn.load(), false);
            gTurnsToSend.fetch_sub(1);
        }
    }
}

TEST(PageInputs, KeysAndTurnsFromTwoThreadsAllArrive) {
    NoteManager notes;
    notes.notePreview.setValue(0, false);
    notes.links.keyHeld = [](int) { return false; };
    // Every request a step of its own: far apart in blocks, no chords.
    notes.links.blockCounter = [] { return gBlock.fetch_add(100); };
    AudioResourcePool pool;
    ASSERT_TRUE(pool.setup(false));
    AudioSampleGroup* list = pool.getGroup("l", true);
    ASSERT_NE(list, nullptr);
    for (int i = 0; i < kEntries; ++i)
        list->insert("/home/corvane/s" + std::to_string(i) + ".wav", 48000, uint32_t(i), 48000.0f, 0.0f);
    pool.updateListParameters();
    gNotes = &notes;
    gPool = &pool;

    notes.open();
    notes.serviceRequests();
    pool.open();
    pool.update();
    pool.button(3, 2);  // the list's editor
    pool.update();
    ASSERT_EQ(pool.viewState(), 2u);
    uint32_t presses = 0;

    ASSERT_TRUE(testsupport::startStepped(render, "page-inputs"));
    testsupport::SteppingAudio audio;
    int lost = 0;
    for (int round = 0; round < kRounds; ++round) {
        notes.setList(0, NoteList{});
        gTurn.store(round % 2 ? -1 : 1);
        gNotesToSend.store(kNotes);
        gTurnsToSend.store(kTurns);
        // The interface task: keys in, and the pages applying what came.
        for (int i = 0; i < kNotes; ++i) {
            notes.button(27 + i % 25, 2);
            if (i < kTurns) {
                pool.button(0, 2);
                ++presses;
            }
            if (i % 10 == 9) {
                notes.serviceRequests();
                pool.update();
            }
        }
        while (gNotesToSend.load() > 0 || gTurnsToSend.load() > 0)
            std::this_thread::yield();
        notes.serviceRequests();
        pool.update();
        const size_t steps = notes.list(0)->steps.size();
        lost += int(2 * kNotes) - int(steps);
        EXPECT_EQ(steps, size_t(2 * kNotes)) << "round " << round;
        // Ticks count as on every list: a step per ticksPerStep ticks of one way.
        EXPECT_EQ(pool.sample.value.load(), round % 2 ? 0 : kTurns / pool.sample.ticksPerStep) << "round " << round;
        // Each key 0 flips the mark of one entry: the marked count keeps the
        // parity of the presses taken.
        uint32_t marked = 0;
        for (const auto& entry : *list->entries.get())
            marked += entry->selected.load() ? 1 : 0;
        EXPECT_EQ(marked % 2, presses % 2) << "round " << round;
        if (steps != size_t(2 * kNotes))
            break;
    }
    audio.stop();
    Bela_cleanupAudio();
    EXPECT_EQ(lost, 0);
    gNotes = nullptr;
    gPool = nullptr;
}

TEST(PageInputs, BrowserCursorTurnsAndTrackKeysFromTwoThreadsAllArrive) {
    ASSERT_TRUE(testsupport::startStepped(render, "browser-inputs"));
    // Five turns to a cursor step: 50 turns move the cursor by 10 rows.
    for (int i = 0; i < 12; ++i)
        std::ofstream(host::hostPath("/home/corvane/f" + std::to_string(10 + i) + ".txt")) << "x";
    FileBrowser browser;
    browser.open();
    browser.update();
    ASSERT_EQ(browser.files.size(), 12u);
    browser.cursor.setValue(1, false);
    gBrowser = &browser;
    testsupport::SteppingAudio audio;
    constexpr int kBrowserTurns = 50, kPresses = 49;
    for (int round = 0; round < kRounds; ++round) {
        gTurn.store(round % 2 ? -1 : 1);
        gTurnsToSend.store(kBrowserTurns);
        for (int i = 0; i < kPresses; ++i) {
            browser.button(7, 2);  // "track 1"
            if (i % 10 == 9)
                browser.update();
        }
        while (gTurnsToSend.load() > 0)
            std::this_thread::yield();
        browser.update();
        ASSERT_EQ(browser.cursor.value.load(), round % 2 ? 1 : 11) << "round " << round;
        ASSERT_EQ(browser.trackChosen(0), round % 2 == 1) << "round " << round;
    }
    audio.stop();
    Bela_cleanupAudio();
    gBrowser = nullptr;
}

}  // namespace
