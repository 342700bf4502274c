// The track: construction rules, set-up, slot choices, per-block work,
// MIDI input, panel input and the parameter menu's flows.
#include "instrument/MainClock.h"
#include "instrument/track/Track.h"
#include "instrument/voices/VoicePool.h"
#include "engines/SynthEngineType.h"

#include "drivers/KeyDebouncer.h"
#include "effects/EffectFactory.h"
#include "gui/ListSelect.h"
#include "gui/MonoGFX.h"
#include "sequencing/NoteManager.h"
#include "sequencing/PitchScale.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace Driver {
extern ListSelect listSelection;
}

namespace {

struct NoteRecorder : NoteScheduler {
    std::vector<NoteEvent> notes;
    bool scheduleNote(NoteEvent e) override {
        notes.push_back(e);
        return true;
    }
};

MidiMessage noteOn(uint32_t channel, uint32_t note) { return {uint32_t(MIDIMsgType::NoteOn), channel, note, 100}; }
MidiMessage controller(uint32_t channel, uint32_t cc, uint32_t value) {
    return {uint32_t(MIDIMsgType::ControlChange), channel, cc, value};
}
float frequencyOf(int degree, int octave) { return DSP::scaleManager.getScale("12 edo")->frequency(degree, octave); }

// Holds a panel key down (or lets it go) through the key scanner's debouncer.
void holdKey(int key, bool down) {
    for (int i = 0; i < 20; ++i)
        Key::key[size_t(key)].update(down ? 0u : 1u);
}

class TrackTest : public ::testing::Test {
protected:
    void SetUp() override {
        track = std::make_unique<Track>(1, &clock);
        track->setNoteScheduler(&recorder);
        track->setup();
        window.init(256, 64);
        // A debouncer sees a press only after it has seen the key released.
        for (int k : {0, 4, 9, 14, 19})
            holdKey(k, false);
    }
    void TearDown() override {
        for (int k : {0, 4, 9, 14, 19})
            holdKey(k, false);
        Driver::listSelection.key(ListSelect::kCancelKey, 2);
        Driver::listSelection.result();
    }
    // Opens the menu of encoder i and chooses the named item.
    void chooseInMenu(int i, const std::string& item) {
        track->openParameterMenu(i);
        track->draw(window);
        pick(item);
    }
    void useSubtractive() {
        track->synthesis.setValue(1, false);
        track->applySynthesis();
    }
    void pick(const std::string& item) {
        const auto& items = Driver::listSelection.items();
        auto it = std::find(items.begin(), items.end(), item);
        ASSERT_NE(it, items.end()) << item;
        Driver::listSelection.cursor.setValue(int32_t(it - items.begin()), false);
        Driver::listSelection.key(ListSelect::kAcceptKey, 2);
        track->draw(window);
    }

    MainClock clock;
    NoteRecorder recorder;
    std::unique_ptr<Track> track;
    MonoGFX window;
};

TEST(TrackConstruction, FreshInstrumentFollowsTheConstructionRules) {
    for (uint32_t t = 0; t < Track::kTracks; ++t) {
        Track& track = DSP::track[t];
        SCOPED_TRACE(t);
        EXPECT_EQ(track.index, t);
        EXPECT_EQ(track.synthesis.toString(), t == 0 ? "subtractive" : "none");
        EXPECT_EQ(track.currentEngine()->engineType, t == 0 ? 4u : 0u);
        // Tracks 1-4 spread in stereo, track 5 echoes (once the delay exists).
        const bool hasEffect = t < 4 || effectTypeAvailable(AudioEffectType(9));
        ASSERT_EQ(track.effectChain.effectCount(), hasEffect ? 1u : 0u);
        if (hasEffect) {
            EXPECT_EQ(track.effectChain.getEffect(0)->typeName, t < 4 ? "stereo" : "delay");
        }
        EXPECT_EQ(track.subtractiveCommon.parameters.ownerName, "/track/" + std::to_string(t + 1) + "/syn/");
        EXPECT_EQ(track.encoderParameters[0].load(), &DSP::mainClock.bpm);
        EXPECT_EQ(track.encoderParameters[3].load(), &track.currentEngine()->polyphony);
        EXPECT_EQ(track.focus.load(), 12u);
        EXPECT_EQ(track.sequencerImpl.trackIndex, t);
    }
    Track& third = DSP::track[2];
    EXPECT_EQ(third.sequencerImpl.resetBy.choices(),
              (std::vector<std::string>{"track 1", "track 2", "none", "track 4", "track 5"}));
    EXPECT_EQ(third.sequencerImpl.resetBy.toString(), "none");
    std::vector<std::string> names;
    for (Parameter* p : third.parameterGroup.parameters)
        names.push_back(p->name);
    EXPECT_EQ(names, (std::vector<std::string>{"MIDI note in", "MIDI in channel", "MIDI in lowest", "MIDI in highest",
                                               "MIDI in transpose", "in 1 to chan", "in 2 to chan", "in 3 to chan",
                                               "in 4 to chan"}));
    EXPECT_EQ(third.parameterGroup.name, "track");
    EXPECT_EQ(third.inputRouting[3].choiceCount(), 9u);
}

TEST_F(TrackTest, SetupNamesTheTrackAndBuildsItsPage) {
    EXPECT_EQ(track->nameParameter.toString(), "track-2");
    EXPECT_EQ(track->settingsPages.title(), "Track 2");
    EXPECT_EQ(track->midiInChannel.choiceCount(), 17u);
    EXPECT_EQ(track->midiInChannel.choiceName(16), "16");
    ASSERT_EQ(track->settingsPages.groups.size(), 4u);
    EXPECT_EQ(track->settingsPages.groups[2].name, "sequencer");
    EXPECT_EQ(track->settingsPages.extraGroup(), &track->currentEngine()->settingsGroup);
}

TEST_F(TrackTest, SavedMidiInSettingsActWithoutAnEditOnThePage) {
    auto loaded = std::make_unique<Track>(2, &clock);
    loaded->setNoteScheduler(&recorder);
    loaded->midiNoteIn.setValue(1, false);  // as read from a file before setup
    loaded->setup();
    loaded->midiIn(noteOn(0, 60));
    EXPECT_EQ(recorder.notes.size(), 1u);
    // A later load changes the range: the after-load refresh rebuilds the filter.
    loaded->midiInLowest.setValue(61, false);
    loaded->refreshSlotChoices();
    loaded->midiIn(noteOn(0, 60));
    EXPECT_EQ(recorder.notes.size(), 1u);
}

TEST_F(TrackTest, TrackNotYetSetUpAcceptsNoMidi) {
    auto fresh = std::make_unique<Track>(2, &clock);
    fresh->setNoteScheduler(&recorder);
    fresh->midiNoteIn.setValue(1, false);
    fresh->midiIn(noteOn(0, 60));
    EXPECT_EQ(recorder.notes.size(), 0u);
    EXPECT_EQ(fresh->midiInFilter.types(), 0u);
    EXPECT_EQ(fresh->midiLearnFilter.types(), 0u);
}

TEST_F(TrackTest, SlotChoicesListEnvelopesThenModulators) {
    useSubtractive();
    for (const char* kind : {"LFO", "AD env", "random"})
        track->modulation.addModulator(kind, 8, "x", "y");
    EXPECT_EQ(track->refreshSlotChoices(), 6u);
    EXPECT_EQ(track->slot.choices(),
              (std::vector<std::string>{"env 1", "env 2", "env 3", "1 LFO", "2 AD env", "3 random"}));
    // A modulator slot is not handed to the engine as an envelope slot.
    track->subtractiveCommon.selectEnvSlot(1);
    track->slot.setValue(4, false);
    track->refreshSlotChoices();
    EXPECT_EQ(track->subtractiveCommon.selectedEnvSlot, 1u);
    // Turning "slot" to an envelope selects it.
    int changes = 0;
    for (int i = 0; i < 10; ++i)
        changes += track->encoder(28, -1, false) ? 1 : 0;
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(track->slot.value, 2);
    EXPECT_EQ(track->subtractiveCommon.selectedEnvSlot, 2u);
}

TEST_F(TrackTest, ResetsKeepWhatTheyShould) {
    track->synthesis.setValue(1, false);
    track->applySynthesis();
    track->noneCommon.trackVolume.setValue(-12.0f, false);
    track->subtractiveCommon.filtReso.setValue(90.0f, false);
    track->resetSynthesis(false);
    EXPECT_EQ(track->synthesis.toString(), "subtractive");
    EXPECT_FLOAT_EQ(track->subtractiveCommon.filtReso.getValue(), 0.3f);
    EXPECT_FLOAT_EQ(track->noneCommon.trackVolume.getValue(), -12.0f);
    track->resetSynthesis(true);
    EXPECT_EQ(track->synthesis.toString(), "none");
    track->resetEffects(false);
    EXPECT_EQ(track->effectChain.effectCount(), 0u);
    track->resetEffects(true);
    EXPECT_EQ(track->effectChain.effectCount(), 1u);
    EXPECT_EQ(track->effectChain.getEffect(0)->typeName, "stereo");
}

TEST_F(TrackTest, EngineChoiceTakesEffectInTheNextBlock) {
    track->synthesis.setValue(1, false);  // from the settings page
    EXPECT_EQ(track->currentEngine(), &track->noneCommon);
    {
        // While a loader holds the track, the audio thread leaves it alone.
        Track::BusySection loading(*track);
        track->blockUpdate();
        EXPECT_EQ(track->currentEngine(), &track->noneCommon);
    }
    EXPECT_FALSE(track->isBusy());
    track->blockUpdate();
    EXPECT_EQ(track->currentEngine(), &track->subtractiveCommon);
    EXPECT_EQ(track->encoderParameters[2].load(), &track->subtractiveCommon.slide);
    EXPECT_EQ(track->encoderParameters[3].load(), &track->subtractiveCommon.polyphony);
    EXPECT_EQ(track->settingsPages.extraGroup(), &track->subtractiveCommon.settingsGroup);
    // The slot choices are rebuilt by the interface task, not in the block.
    EXPECT_NE(track->slot.choiceCount(), 3u);
    track->serviceRequests();
    EXPECT_EQ(track->slot.choiceCount(), 3u);
}

TEST_F(TrackTest, SlotSwitchingWaitsForItsMoment) {
    Sequencer& seq = track->sequencerImpl;
    seq.slotSwitching.setValue(Track::OnNextBeat, false);
    seq.resetOnSwitch.setValue(1, false);
    track->selectPattern(3, false);
    track->selectPattern(5, false);
    EXPECT_EQ(seq.pattern.value, 0);
    EXPECT_TRUE(track->onClockEdge());  // switched, and the sequencer restarts in this block
    EXPECT_EQ(seq.pattern.value, 5);
    EXPECT_EQ(seq.clockMult.activeSlot, 5u);
    EXPECT_FALSE(track->onClockEdge());
    track->selectPattern(7, true);  // the clock is stopped: at once
    EXPECT_EQ(seq.pattern.value, 7);

    seq.slotSwitching.setValue(Track::OnSeqReset, false);
    track->selectNoteList(4, false);
    EXPECT_FALSE(track->onClockEdge());
    EXPECT_EQ(seq.noteList.value, 0);
    track->panelNoteCounter = 9;
    track->onSequencerReset();
    EXPECT_EQ(seq.noteList.value, 4);
    EXPECT_EQ(track->panelNoteCounter, 0u);
}

TEST_F(TrackTest, MidiNotesPlayThroughTheNoteListAndFilter) {
    track->midiNoteIn.setValue(1, false);
    track->midiInLowest.setValue(48, false);
    track->midiInHighest.setValue(72, false);
    track->configureMidiFilter();
    track->midiIn(noteOn(3, 47));
    track->midiIn({uint32_t(MIDIMsgType::NoteOff), 3, 59, 0});
    EXPECT_TRUE(recorder.notes.empty());
    track->midiIn(noteOn(3, 59));
    track->midiIn(noteOn(3, 72));
    ASSERT_EQ(recorder.notes.size(), 2u);
    EXPECT_FLOAT_EQ(recorder.notes[0].frequency, frequencyOf(11, -1));
    EXPECT_FLOAT_EQ(recorder.notes[1].frequency, frequencyOf(0, 1));
    EXPECT_EQ(recorder.notes[1].track, 1u);
    EXPECT_EQ(recorder.notes[1].step, 1u);  // the live-note counter

    track->midiInHighest.setValue(127, false);
    track->midiInTranspose.setValue(36, false);
    track->configureMidiFilter();
    track->midiIn(noteOn(0, 120));  // limited to 127 before the degree
    EXPECT_FLOAT_EQ(recorder.notes.back().frequency, frequencyOf(7, 5));
}

TEST_F(TrackTest, BadNoteListsSkipTheNote) {
    track->midiNoteIn.setValue(1, false);
    track->configureMidiFilter();
    NoteList empty;
    empty.stepsPerOctave = 0;
    DSP::noteManager.setList(24, empty);
    track->sequencerImpl.noteList.setValue(24, false);
    track->midiIn(noteOn(0, 60));
    track->sequencerImpl.noteList.values[0] = 99;  // out of range, as a damaged file could leave it
    track->midiIn(noteOn(0, 60));
    EXPECT_TRUE(recorder.notes.empty());
    DSP::noteManager.setList(24, NoteList{});
}

TEST_F(TrackTest, MidiLearnMapsTheParameterItBeganOnAndStopsCapturingOnConfirm) {
    useSubtractive();
    Parameter* target = track->subtractiveCommon.exposedParameters[0];
    ASSERT_NE(target, nullptr);
    track->focus = 16;
    chooseInMenu(16, "add MIDI mapping");
    EXPECT_EQ(track->menuState.load(), uint32_t(Track::MenuLearn));
    track->button(3, 2, true);  // nothing captured yet: keeps waiting
    EXPECT_EQ(track->menuState.load(), uint32_t(Track::MenuLearn));
    track->midiIn(noteOn(5, 61));          // captured, plays nothing
    track->midiIn(controller(0, 7, 10));  // a later message overwrites
    // The player turns "slot" and switches engine before confirming.
    track->encoder(28, 1, false);
    track->button(3, 2, true);
    track->midiIn(controller(0, 9, 10));  // after confirming: not captured
    track->synthesis.setValue(0, false);
    track->blockUpdate();
    track->draw(window);
    EXPECT_EQ(track->menuState.load(), uint32_t(Track::MenuIdle));
    auto map = track->subtractiveCommon.parameters.midiMappings();
    ASSERT_EQ(map->size(), 1u);
    EXPECT_EQ(map->begin()->first, (MidiMappingKey{0, 7, -1}));
    EXPECT_EQ(map->begin()->second.front(), target);
    EXPECT_TRUE(recorder.notes.empty());
}

TEST_F(TrackTest, MenuOffersWhatTheParameterAllowsAndCancelEndsTheFlow) {
    track->openParameterMenu(12);  // the lane choice
    track->openParameterMenu(28);  // "slot"
    track->draw(window);
    EXPECT_EQ(track->menuState.load(), uint32_t(Track::MenuIdle));
    track->openParameterMenu(1);  // "clock mult": not per channel
    track->draw(window);
    EXPECT_EQ(Driver::listSelection.items(), (std::vector<std::string>{"edit value", "add MIDI mapping"}));
    Driver::listSelection.key(ListSelect::kCancelKey, 2);
    track->draw(window);
    EXPECT_EQ(track->menuState.load(), uint32_t(Track::MenuIdle));
}

TEST_F(TrackTest, RemovingAModulatorChecksTheListAsItIsNow) {
    useSubtractive();
    Parameter* p = track->subtractiveCommon.exposedParameters[0];
    ASSERT_GT(p->channelCount, 0u);
    for (int k = 0; k < 2; ++k) {
        ASSERT_NE(track->modulation.addModulatorTo("LFO", *p), nullptr);
    }
    track->focus = 16;
    chooseInMenu(16, "remove modulator");
    ASSERT_EQ(track->menuState.load(), uint32_t(Track::MenuRemoveModulator));
    // Meanwhile another flow leaves one modulator: choosing the second does nothing.
    track->modulation.removeModulator(p->modulators[1]);
    p->removeModulator(1);
    Driver::listSelection.cursor.setValue(1, false);
    Driver::listSelection.key(ListSelect::kAcceptKey, 2);
    track->draw(window);
    EXPECT_EQ(p->modulatorCount(), 1u);
    EXPECT_EQ(track->menuState.load(), uint32_t(Track::MenuIdle));
    chooseInMenu(16, "remove modulator");
    pick("LFO");
    EXPECT_EQ(p->modulatorCount(), 0u);
    EXPECT_EQ(track->modulation.size(), 0u);
}

TEST_F(TrackTest, ShiftedEncoderMovesAllFourLanesTogether) {
    auto& lanes = track->sequencerImpl.lanes;
    holdKey(0, true);
    const int32_t before = lanes[2].interval.value;
    int steps = 0;
    for (int i = 0; i < 10 && steps == 0; ++i)
        steps += track->encoder(8, 1, false) ? 1 : 0;
    ASSERT_EQ(steps, 1);  // the carrier stepped once
    for (auto& lane : lanes)
        EXPECT_EQ(lane.interval.value, before + 1);
    // On the subtractive engine, encoder 30 moves the four holds.
    track->synthesis.setValue(1, false);
    track->blockUpdate();
    const float hold = track->subtractiveCommon.envHold[3].getValue();
    for (int i = 0; i < 20; ++i)
        track->encoder(30, 1, false);
    EXPECT_GT(track->subtractiveCommon.envHold[3].getValue(), hold);
}

TEST_F(TrackTest, PanelKeysPlayNotesOnceAndStoreSnapshots) {
    track->button(27 + 4, 2, true);
    track->button(27 + 4, 3, true);  // a repeat plays nothing
    ASSERT_EQ(recorder.notes.size(), 1u);
    EXPECT_FLOAT_EQ(recorder.notes[0].frequency, frequencyOf(4, DSP::noteManager.keyboardOctave.value));
    holdKey(4, true);  // with a slot key held the keys choose slots, not notes
    track->button(27, 2, true);
    EXPECT_EQ(recorder.notes.size(), 1u);
    holdKey(4, false);

    ParameterFloat& cutoff = track->subtractiveCommon.filtFreq;
    track->synthesis.setValue(1, false);
    track->blockUpdate();
    cutoff.setValue(1000.0f, false);
    track->button(53, 2, true);  // snapshot 0
    cutoff.setValue(2000.0f, false);
    track->button(55, 2, true);  // snapshot 1
    cutoff.morphXY(0.0f, 0.0f);
    EXPECT_NEAR(std::exp2(cutoff.getValue()), 1000.0f, 1.0f);
    cutoff.morphXY(1.0f, 0.0f);
    EXPECT_NEAR(std::exp2(cutoff.getValue()), 2000.0f, 1.0f);
}

TEST_F(TrackTest, PageDrawsTheEnvelopesAndTheLearnBox) {
    useSubtractive();
    track->focus = 28;
    track->slot.setValue(1, false);
    track->draw(window);
    int graph = 0;
    for (int y = 0; y < 44; ++y)
        for (int x = 67; x < 255; ++x)
            graph += window.pixel(x, y) != 0;
    EXPECT_GT(graph, 100);
    EXPECT_EQ(track->window, &window);
    window.clear();
    track->focus = 16;
    chooseInMenu(16, "add MIDI mapping");
    int box = 0;
    for (int x = 60; x < 200; ++x)
        box += window.pixel(x, 32) != 0;
    EXPECT_GT(box, 0);
    track->button(2, 2, true);  // key 2 cancels learning
    EXPECT_EQ(track->menuState.load(), uint32_t(Track::MenuIdle));
}

TEST(MidiMappingText, NamesControllersAndNotes) {
    EXPECT_EQ(midiMappingToString({0, -1, 60}), "note 60 (ch 1)");
    EXPECT_EQ(midiMappingToString({0, 7, -1}), "CC 7 (ch 1)");
    EXPECT_EQ(midiMappingToString({-1, 5, -1}), "...");
}

}  // namespace

TEST(TrackConstruction, EveryBuiltEngineIsATrackEngineWithVoices) {
    Track& track = DSP::track[1];
    for (const char* name : {"FM", "additive", "resonator", "subtractive", "quad engine", "granular", "eurorack"}) {
        SCOPED_TRACE(name);
        SynthVoiceCommon* e = track.engineForName(name);
        ASSERT_NE(e, nullptr);
        EXPECT_NE(e, &track.noneCommon);
        EXPECT_EQ(e->engineType, engineTypeFromName(name));
        EXPECT_NE(makeVoicePool(e->engineType), nullptr);
        EXPECT_EQ(e->parameters.ownerName, "/track/2/syn/");
    }
}
