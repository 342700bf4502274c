// The note-list page: MIDI and panel note entry with the chord window,
// cursor editing, deletes, list choice, previews and the pop-up actions.
#include "drivers/KeyDebouncer.h"
#include "gui/ListSelect.h"
#include "gui/MonoGFX.h"
#include "sequencing/Corvane.h"
#include "sequencing/NoteManager.h"
#include "sequencing/PitchScale.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <vector>

#include "tests/support/seq_engine.h"

namespace {

struct Recorder : NoteScheduler {
    std::vector<NoteEvent> events;
    bool scheduleNote(NoteEvent e) override {
        events.push_back(e);
        return true;
    }
};

MidiMessage noteOn(uint32_t note, uint32_t channel = 0) { return {uint32_t(MIDIMsgType::NoteOn), channel, note, 64}; }

class NotePage : public ::testing::Test {
protected:
    void SetUp() override {
        page.links.scheduler = &recorder;
        page.links.clockRunning = [this] { return running; };
        page.links.currentTrack = [] { return 2; };
        page.links.sequencer = [this](int) { return &seq; };
        page.links.engine = [this](int) { return &engine; };
        page.links.blockCounter = [this] { return block; };
        page.links.keyHeld = [this](int k) { return held[size_t(k)]; };
        page.links.scales = &scales;
        page.notify = [this](int, const std::string& text) { notices.push_back(text); };
        engine.set(8, 3);
        page.setList(0, NoteList{});
        page.open();
        page.serviceRequests();
    }
    void midi(uint32_t note) {
        EXPECT_TRUE(page.midiNoteIn(noteOn(note)));
        page.serviceRequests();
    }
    void key(int k, int event = KeyDebouncer::kKeyDown) {
        page.button(k, event);
        page.serviceRequests();
    }
    // Steps of a parameter, one encoder tick at a time.
    void turn(int encoder, int steps, bool pushed = false) {
        for (int i = 0; i < std::abs(steps) * int(page.item.ticksPerStep); ++i)
            page.encoder(encoder, steps > 0 ? 1 : -1, pushed);
        page.serviceRequests();
    }
    const NoteList& list() {
        current = page.list(page.listIndex.value);
        return *current;
    }
    std::vector<std::pair<int, int>> notesOf(int step) {
        std::vector<std::pair<int, int>> out;
        for (const Note& n : list().steps[size_t(step)])
            out.emplace_back(n.symbol, n.octave);
        return out;
    }

    NoteManager page;
    PitchScaleManager scales;
    Corvane seq;
    testsupport::SequencerTestEngine engine;
    Recorder recorder;
    std::shared_ptr<const NoteList> current;
    std::vector<std::string> notices;
    std::array<bool, 60> held{};
    uint32_t block = 1000;
    bool running = false;
};

}  // namespace

TEST_F(NotePage, MidiNotesBecomeDegreesAndOctavesWithTheChordWindow) {
    midi(60);
    block += 38;
    midi(59);
    block += 38;
    midi(72);
    ASSERT_EQ(list().steps.size(), 3u);
    EXPECT_EQ(notesOf(0), (std::vector<std::pair<int, int>>{{0, 0}}));
    EXPECT_EQ(notesOf(1), (std::vector<std::pair<int, int>>{{11, -1}}));
    EXPECT_EQ(notesOf(2), (std::vector<std::pair<int, int>>{{0, 1}}));
    block += 23;
    midi(64);  // within 30 blocks: a chord note, in pitch order
    block += 29;
    midi(62);
    EXPECT_EQ(notesOf(2), (std::vector<std::pair<int, int>>{{2, 0}, {4, 0}, {0, 1}}));
    block += 500;
    held[0] = true;  // key 0: a chord however late
    midi(65);
    EXPECT_EQ(list().steps.size(), 3u);
    EXPECT_EQ(list().steps[2].size(), 4);
    // A NoteOff is taken, and nothing reaches anyone with the page shut.
    EXPECT_TRUE(page.midiNoteIn({uint32_t(MIDIMsgType::NoteOff), 0, 60, 0}));
    EXPECT_TRUE(page.close());
    EXPECT_FALSE(page.midiNoteIn(noteOn(60)));
}

TEST_F(NotePage, NineteenEdoAndTheChannelFilter) {
    NoteList l;
    l.tuning = "19 edo";
    l.stepsPerOctave = 19;
    page.setList(3, l);
    page.listIndex.setValue(3, false);
    midi(79);
    EXPECT_EQ(notesOf(0), (std::vector<std::pair<int, int>>{{0, 1}}));
    page.midiChannel.setValue(5, false);  // channel 5 only
    page.open();
    EXPECT_FALSE(page.midiNoteIn(noteOn(60, 0)));
    EXPECT_TRUE(page.midiNoteIn(noteOn(60, 4)));
}

TEST_F(NotePage, ANinthChordNoteIsDroppedAndDeletesFollowTheCursor) {
    held[0] = true;
    for (int k = 0; k < 9; ++k)
        key(27 + k);
    ASSERT_EQ(list().steps.size(), 1u);
    EXPECT_EQ(list().steps[0].size(), 8);
    key(2);  // a chord: only the cursor note goes
    EXPECT_EQ(list().steps[0].size(), 7);
    held[0] = false;
    block += 100;
    key(40);
    ASSERT_EQ(list().steps.size(), 2u);
    EXPECT_EQ(page.item.value, 1);
    key(2);  // a single note: the step goes, the cursor moves back
    EXPECT_EQ(list().steps.size(), 1u);
    EXPECT_EQ(page.item.value, 0);
    // A cursor note past the notes: edit, delete and preview do nothing.
    page.itemSymbol.setValue(8, false);
    page.renderPreviews();
    recorder.events.clear();
    turn(28, 3);
    key(2);
    page.previewNote(0, 8);
    page.renderPreviews();
    EXPECT_EQ(list().steps[0].size(), 7);
    EXPECT_TRUE(recorder.events.empty());
    page.item.setValue(-1, false);
    key(2);
    EXPECT_EQ(list().steps.size(), 1u);
}

TEST_F(NotePage, PreviewsQueueUnisonEventsOnlyWithTheClockStopped) {
    key(27);  // degree 0 at keyboard octave -1
    page.renderPreviews();
    ASSERT_EQ(recorder.events.size(), 3u);
    for (uint32_t j = 0; j < 3; ++j) {
        EXPECT_EQ(recorder.events[j].unisonIndex, j);
        EXPECT_EQ(recorder.events[j].track, 2u);
        EXPECT_NEAR(recorder.events[j].frequency, 130.81f, 0.01f);
    }
    recorder.events.clear();
    seq.laneChoice.setValue(1, false);
    seq.lanes[1].octave.setValue(1, false);
    page.previewNote(0, 0);
    page.renderPreviews();
    ASSERT_EQ(recorder.events.size(), 3u);
    EXPECT_NEAR(recorder.events[0].frequency, 261.63f, 0.01f);
    EXPECT_EQ(recorder.events[0].lane, 1u);
    running = true;
    recorder.events.clear();
    key(30);
    page.renderPreviews();
    EXPECT_TRUE(recorder.events.empty());
}

TEST_F(NotePage, ValueEncoderEditsTheCursorNote) {
    key(27 + 11);  // degree 11, octave -1
    page.data.setValue(0, false);
    turn(28, 1);  // past the octave: degree 0 of the next
    EXPECT_EQ(notesOf(0), (std::vector<std::pair<int, int>>{{0, 0}}));
    page.data.setValue(1, false);  // "octave"
    turn(28, -2);
    EXPECT_EQ(list().steps[0][0].octave, -2);
    page.data.setValue(2, false);  // "type"
    turn(28, 4);
    EXPECT_EQ(list().steps[0][0].type, NoteType::NoteOffAll);
}

TEST_F(NotePage, AnEmptyListChosenWithKeyNineTakesTheTuning) {
    NoteList l;
    l.tuning = "7 edo";
    l.stepsPerOctave = 7;
    l.steps.resize(2);
    page.setList(0, l);
    held[9] = true;
    key(27 + 6);
    EXPECT_EQ(page.listIndex.value, 6);
    EXPECT_EQ(page.item.value, -1);
    EXPECT_EQ(list().tuning, "7 edo");
    EXPECT_EQ(list().stepsPerOctave, 7);
}

TEST_F(NotePage, MenuActionsOnAnEmptyListAreRefusedAndMovesSwapSteps) {
    MonoGFX gfx;
    gfx.init(256, 64);
    key(1);
    EXPECT_EQ(page.pageState.load(), NoteManager::StateMenu);
    Driver::listSelection.key(3, KeyDebouncer::kKeyDown);  // "copy notes"
    page.draw(gfx);
    EXPECT_EQ(page.pageState.load(), NoteManager::StateIdle);
    Driver::listSelection.key(2, KeyDebouncer::kKeyDown);
    for (int k : {27, 29}) {
        block += 100;
        key(k);
    }
    held[0] = true;
    key(26);  // key 0 + 26: the cursor step moves earlier
    page.draw(gfx);
    EXPECT_EQ(page.item.value, 0);
    EXPECT_EQ(notesOf(0), (std::vector<std::pair<int, int>>{{2, -1}}));
    EXPECT_EQ(page.pageState.load(), NoteManager::StateIdle);
}

TEST_F(NotePage, PianoRollLevelsStayWithinTheGreyScale) {
    NoteList l;
    l.steps.resize(2);
    l.steps[0].add(Note{NoteType::NoteOn, 0, 0, 6.0f, 10});  // above 0 dB, as a file may hold
    l.steps[1].add(Note{NoteType::NoteOn, 2, 0, -9.0f, 10});
    page.setList(0, l);
    page.item.setValue(1, false);
    MonoGFX gfx;
    gfx.init(256, 64);
    page.draw(gfx);
    EXPECT_EQ(gfx.pixel(94, 14), 15u);
    EXPECT_EQ(gfx.pixel(95, 20), 15u);
    EXPECT_EQ(gfx.pixel(188, 40), 4u);  // the value column's rule
}
