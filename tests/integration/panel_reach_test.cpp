// What the player reaches from the front panel of the stepped instrument:
// motion loops, the effect chain's own menu, the smaller shortcuts and the
// block loop's routing rules, read back from the screen, the pop-ups, the
// console and the files.
#include "effects/EffectChain.h"
#include "gui/Confirm.h"
#include "gui/GuiEditor.h"
#include "gui/GuiNotify.h"
#include "gui/ListSelect.h"
#include "gui/Numpad.h"
#include "instrument/InstrumentState.h"
#include "instrument/MainClock.h"
#include "instrument/files/ProjectFolder.h"
#include "instrument/track/Track.h"
#include "instrument/voices/VoiceManager.h"
#include "platform/Paths.h"

#include "tests/support/list_popup.h"
#include "tests/support/stepped_instrument.h"
#include "tests/support/wait.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace {

using testsupport::screenShows;
using testsupport::writeText;

// The instrument in stepped mode with a root of its own. `project` writes
// the template project that set-up loads; `beforeStart` runs just before
// the first block.
class Panel : public testsupport::SteppedInstrument {
protected:
    static void boot(const std::function<void(const std::string&)>& project,
                     const std::function<void()>& beforeStart = nullptr, uint32_t settleBlocks = 100) {
        start({.root = "panel-root", .project = project, .defaultNoteList = true, .beforeStart = beforeStart,
               .settleBlocks = settleBlocks});
    }
    void SetUp() override { boot(testsupport::tempoOnlyProject); }
    // Turns leave the blocks after them to the test.
    static void turn(uint32_t encoder, int32_t detents) { turnFully(encoder, detents); }

    static std::vector<std::string> notices() {
        std::vector<std::string> texts;
        for (const GuiMessage& m : Driver::guiNotify.queue())
            texts.emplace_back(m.text);
        return texts;
    }
    static bool noticed(const std::string& text) {
        const auto all = notices();
        return std::find(all.begin(), all.end(), text) != all.end();
    }
    static int32_t motionSlot(uint32_t track) { return DSP::track[track].motionRecorder.motion.value; }
};

// ---------------------------------------------------------------- motion loops

TEST_F(Panel, MotionSlotKeyChoosesTheLoopAndShowsItsKeyboard) {
    for (int i = 0; i < 200 && !Driver::guiNotify.queue().empty(); ++i)
        step(24);  // the start-up notice has gone
    host::panel().pressKey(19);
    step(30);
    EXPECT_TRUE(screenShows(55, 18, "motion loop"));
    tap(30);  // slot 3
    host::panel().releaseKey(19);
    step(30);
    EXPECT_FALSE(screenShows(55, 18, "motion loop"));
    EXPECT_EQ(motionSlot(0), 3);
    EXPECT_EQ(motionSlot(1), 0);
    EXPECT_EQ(DSP::track[0].focus.load(), 16u);

    // Key 58 now records into slot 3 instead of refusing slot 0.
    host::panel().pressKey(58);
    step(30);
    EXPECT_NE(DSP::track[0].motionRecorder.state(), MotionRecorder::Idle);
    EXPECT_FALSE(noticed("Can't record in motion slot 0"));
    host::panel().releaseKey(58);
    step(12);
    EXPECT_EQ(DSP::track[0].motionRecorder.state(), MotionRecorder::Idle);
}

TEST_F(Panel, OscSetsATracksMotionSlot) {
    const std::string send = "oscsend 127.0.0.1 " + std::to_string(testsupport::oscPort()) + " /2/seq/motion i 7";
    ASSERT_EQ(system(send.c_str()), 0);
    EXPECT_TRUE(testsupport::waitUntil([&] { return motionSlot(1) == 7; }));
    EXPECT_EQ(motionSlot(1), 7);
}

// A project whose track 1 plays motion loop 3 (a recording held near the
// right edge), and a track 2 part saved before the motion slot was.
class MotionProject : public Panel {
protected:
    static void project(const std::string& folder) {
        writeText(folder + "template.proj",
                  "{\"clock\": {\"BPM\": {\"value\": 120}}, "
                  "\"files\": {\"seq\": [\"one.seq\", \"two.seq\"], \"mot\": \"motion.nts\"}}\n");
        writeText(folder + "one.seq", "{\"sequencer\": {\"motion\": {\"value\": 3}}}\n");
        writeText(folder + "two.seq", "{\"firmware version\": \"0.1.0\", \"sequencer\": {\"clock mult\": {\"value\": 4}}}\n");
        writeText(folder + "motion.nts",
                  "{\"morph\": {\"recordings\": [null, null, null, "
                  "{\"x\": [0.9, 0.9, 0.9, 0.9], \"y\": [0.2, 0.2, 0.2, 0.2], \"t\": [1, 1, 1, 1]}]}}\n");
    }
    void SetUp() override { boot(project); }
};

TEST_F(MotionProject, TheMotionSlotIsLoadedAndSavedWithTheProject) {
    EXPECT_EQ(motionSlot(0), 3);
    EXPECT_NEAR(float(DSP::track[0].motionRecorder.x), 0.9f, 1e-4f);  // the loaded loop plays
    EXPECT_NEAR(float(DSP::track[0].motionRecorder.y), 0.2f, 1e-4f);
    // The older part loads whole; its track has no motion loop.
    EXPECT_EQ(DSP::track[1].sequencerImpl.clockMult.value.load(), 4);
    EXPECT_EQ(motionSlot(1), 0);

    chord({19}, 35);  // slot 8
    ASSERT_EQ(motionSlot(0), 8);
    ASSERT_EQ(saveProject("/home/corvane/projects/kept.proj", true), SaveSuccess);
    std::ifstream part(host::hostPath("/home/corvane/projects/kept-project/track-1.seq"));
    ASSERT_TRUE(part.good());
    const nlohmann::json saved = nlohmann::json::parse(part, nullptr, false);
    ASSERT_FALSE(saved.is_discarded());
    EXPECT_EQ(saved["sequencer"]["motion"]["value"], 8) << saved.dump();
}

// ---------------------------------------------------------------- the "edit+fx" chord

TEST_F(Panel, EditFxChordOpensTheChainMenuAndLeavesPositioningAlone) {
    Track& track = DSP::track[0];
    tap(22);  // the effect page
    step(24);
    ASSERT_TRUE(track.effectPageShown.load());
    chord({48}, 22);
    EXPECT_TRUE(track.effectPageShown.load());
    ASSERT_EQ(Driver::listSelection.state(), kPopupOpen);
    EXPECT_EQ(Driver::listSelection.title(), "Edit FX chain:");

    tap(3);  // "add effect"
    step(24);
    ASSERT_EQ(Driver::listSelection.title(), "Select effect to add");
    tap(3);  // "amp mod", before or after the track's stereo effect
    step(24);
    ASSERT_EQ(track.effectChain.mode.load(), EffectChain::ChoosingPosition);
    chord({48}, 22);  // while positioning only keys 3 and 2 answer
    EXPECT_EQ(track.effectChain.mode.load(), EffectChain::ChoosingPosition);
    tap(3);
    step(24);
    EXPECT_EQ(track.effectChain.effectCount(), 2u);
    EXPECT_TRUE(noticed("Added amp mod to track"));
}

// ---------------------------------------------------------------- smaller shortcuts

TEST_F(Panel, KeyOneWithKeyNineOpensTheNoteListsAndLeavesThemOpen) {
    host::panel().pressKey(1);
    step(12);
    tap(9);
    step(24);
    ASSERT_EQ(GUI::currentEditor.load(), static_cast<GuiEditor*>(&DSP::noteManager));
    tap(9);  // key 1 still held: the page stays
    step(24);
    EXPECT_EQ(GUI::currentEditor.load(), static_cast<GuiEditor*>(&DSP::noteManager));
    host::panel().releaseKey(1);
}

TEST_F(Panel, KeyOneAndAnEncoderPushOnTheOutputPageOpenTheParameterMenu) {
    chord({0}, 22);
    ASSERT_EQ(GUI::currentEditor.load(), static_cast<GuiEditor*>(&DSP::voiceManager));
    host::panel().pressKey(1);
    step(12);
    push(0);
    host::panel().releaseKey(1);
    step(24);
    EXPECT_EQ(GUI::currentEditor.load(), nullptr);
    ASSERT_EQ(Driver::listSelection.state(), kPopupOpen);
    EXPECT_EQ(Driver::listSelection.title(), "Parameter: " + DSP::mainClock.bpm.name);
}

TEST_F(Panel, TheNumberPadRunsTheExpressionVerbosely) {
    host::panel().pressKey(1);
    step(12);
    push(0);  // the tempo's menu
    host::panel().releaseKey(1);
    step(24);
    tap(3);  // "edit value"
    step(24);
    ASSERT_EQ(Driver::numpad.mode.load(), Numpad::kNumber);
    for (size_t n = Driver::numpad.text.size(); n > 0; --n)
        tap(2);  // the tempo's text removed
    for (uint32_t key : {12u, 8u, 8u, 17u, 18u})
        tap(key);  // "2", "-" tapped on to "+", "3", "."
    step(24);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    tap(11);  // "5": 2+3.5
    step(48);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Driver::numpad.text, "2+3.5");
    EXPECT_NE(out.find("Loaded program (6 instructions)\nPRINT 5.500000 (float)\n"), std::string::npos) << out;
    EXPECT_NE(err.find("CPU: End of program reached [6: print]\n"), std::string::npos) << err;
    EXPECT_TRUE(Driver::numpad.valid);
    EXPECT_EQ(Driver::numpad.floatResult, 5.5f);
    for (int n = 0; n < 8 && Driver::numpad.mode.load() != Numpad::kClosed; ++n)
        tap(2);  // removed, then cancelled
    EXPECT_EQ(Driver::numpad.mode.load(), Numpad::kClosed);
}

// ---------------------------------------------------------------- the block loop's routing

// The first 75 blocks: a whole key tap and a tempo turn are both lost.
class PowerOn : public Panel {
protected:
    void SetUp() override {
        boot(testsupport::tempoOnlyProject, [] { host::panel().turnEncoder(0, 3); }, 0);
    }
};

TEST_F(PowerOn, KeysAndTurnsBeforeBlock76AreLost) {
    const float tempo = DSP::mainClock.bpm.getValue();
    step(20);
    host::panel().pressKey(24);
    step(30);
    host::panel().releaseKey(24);
    step(70 - uint32_t(host::blocksRendered()));
    ASSERT_EQ(host::panel().turnPending(0), 0);
    step(30);
    EXPECT_FALSE(DSP::mainClock.isRunning());
    EXPECT_EQ(DSP::mainClock.bpm.getValue(), tempo);
    tap(24);  // from block 76 on the panel plays
    EXPECT_TRUE(DSP::mainClock.isRunning());
}

TEST_F(Panel, EncoderTurnsRightAfterAnUnderrunAreLost) {
    const float tempo = DSP::mainClock.bpm.getValue();
    host::context()->underrunCount += 1;  // the platform reports a late block
    const uint64_t late = host::blocksRendered();
    turn(0, 2);
    ASSERT_LT(host::blocksRendered(), late + 20u);  // the turn fell within the lockout
    step(30);
    EXPECT_EQ(DSP::mainClock.bpm.getValue(), tempo);
    turn(0, 2);
    step(12);
    EXPECT_NE(DSP::mainClock.bpm.getValue(), tempo);
}

TEST_F(Panel, PopUpsTakeTheirKeysAndTheClockKeyStillWorks) {
    // The number pad takes key 5; key 24 still runs the clock.
    host::panel().pressKey(1);
    step(12);
    push(0);
    host::panel().releaseKey(1);
    step(24);
    tap(3);
    step(24);
    ASSERT_EQ(Driver::numpad.mode.load(), Numpad::kNumber);
    const size_t before = Driver::numpad.text.size();
    const int32_t lane = DSP::track[0].sequencerImpl.lanes[0].enabled.value.load();
    tap(5);
    step(24);
    EXPECT_EQ(Driver::numpad.text.size(), before + 1);
    EXPECT_EQ(DSP::track[0].sequencerImpl.lanes[0].enabled.value.load(), lane);  // not the track's
    tap(24);
    EXPECT_TRUE(DSP::mainClock.isRunning());
    tap(24);
    while (Driver::numpad.isOpen() && !Driver::numpad.text.empty())
        tap(2);
    tap(2);
    step(24);
    ASSERT_FALSE(Driver::numpad.isOpen());

    // An open confirmation takes no encoder turns.
    chord({1}, 23);
    turn(12, 5);
    step(12);
    tap(3);  // "shutdown Corvane"
    step(24);
    ASSERT_EQ(Driver::instrument.menuState.load(), InstrumentState::kMenuConfirm);
    const float tempo = DSP::mainClock.bpm.getValue();
    turn(0, 3);
    step(12);
    EXPECT_EQ(DSP::mainClock.bpm.getValue(), tempo);
    tap(2);  // no
    step(24);
    EXPECT_FALSE(Bela_stopRequested());
}

TEST_F(Panel, ANinthMidiMessageWaitsForTheNextBlock) {
    Track& track = DSP::track[0];
    track.midiNoteIn.setValue(1, true);  // the settings page's "MIDI note in"
    std::vector<uint8_t> bytes;
    for (uint8_t n = 0; n < 9; ++n)
        bytes.insert(bytes.end(), {0x90, uint8_t(60 + n), 100});
    ASSERT_EQ(write(midi_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    uint32_t most = 0, seen = track.midiNoteCounter;
    const uint32_t first = seen;
    for (int b = 0; b < 400 && seen - first < 9; ++b) {
        step(1);
        const uint32_t now = track.midiNoteCounter;
        most = std::max(most, now - seen);
        seen = now;
    }
    EXPECT_EQ(seen - first, 9u);
    EXPECT_EQ(most, 8u);
}

// ---------------------------------------------------------------- slot keys and modifiers

TEST_F(Panel, SlotKeysWithKeyZeroReachEveryTrackAndKeyOneCopies) {
    chord({0, 19}, 32);  // every track to motion loop 5
    for (uint32_t t = 0; t < Track::kTracks; ++t)
        EXPECT_EQ(motionSlot(t), 5) << t;
    chord({1, 19}, 33);  // key 1 is no "every track" for motion loops
    EXPECT_EQ(motionSlot(0), 6);
    EXPECT_EQ(motionSlot(1), 5);

    chord({0, 4}, 31);  // every track to pattern 4
    for (uint32_t t = 0; t < Track::kTracks; ++t)
        EXPECT_EQ(DSP::track[t].sequencerImpl.pattern.value.load(), 4) << t;
    chord({1, 4}, 29);  // the current track copies pattern 4 into 2 and plays it
    EXPECT_EQ(DSP::track[0].sequencerImpl.pattern.value.load(), 2);
    EXPECT_EQ(DSP::track[1].sequencerImpl.pattern.value.load(), 4);
    EXPECT_TRUE(noticed("Copied and switched to pattern 2"));
    chord({4, 9}, 30);  // both slot keys: pattern and note list of the current track
    EXPECT_EQ(DSP::track[0].sequencerImpl.pattern.value.load(), 3);
    EXPECT_EQ(DSP::track[0].sequencerImpl.noteList.value.load(), 3);
    EXPECT_EQ(DSP::track[1].sequencerImpl.noteList.value.load(), 0);
}

// ---------------------------------------------------------------- the effect page, the pad, a learn

// Key 48 held: key 22 opens the effect page from the engine page, and on the
// shown page leaves it for the chain's menu.
TEST_F(Panel, EditFxChordOpensTheEffectPageFromTheEnginePage) {
    Track& track = DSP::track[0];
    for (int i = 0; i < 40 && Driver::numpad.isOpen(); ++i)
        tap(2);  // a pad left open would take key 22
    push(16);  // the engine page
    if (track.effectPageShown.load())
        tap(22);
    step(24);
    ASSERT_FALSE(track.effectPageShown.load());
    ASSERT_GE(track.focus.load(), 16u);
    chord({48}, 22);
    EXPECT_TRUE(track.effectPageShown.load());
    EXPECT_EQ(Driver::listSelection.state(), 0u);  // the page first, its menu on the next chord
    chord({48}, 22);
    EXPECT_TRUE(track.effectPageShown.load());
    ASSERT_EQ(Driver::listSelection.state(), kPopupOpen);
    EXPECT_EQ(Driver::listSelection.title(), "Edit FX chain:");
    tap(2);
    step(24);
}

// A fresh instrument: track 1 with its one effect and no modulator.
class PanelLearn : public Panel {
protected:
    static void openMenu(uint32_t encoder) {
        host::panel().pressKey(1);
        step(4);
        push(encoder, 12);
        host::panel().releaseKey(1);
        step(30);
    }
    static void choose(const std::string& item) {
        ASSERT_EQ(Driver::listSelection.state(), kPopupOpen) << "no list for " << item;
        testsupport::cursorOnto(item, [](uint32_t e, int d) { turn(e, d); });
        if (testing::Test::HasFatalFailure())
            return;
        tap(ListSelect::kAcceptKey);
        step(30);
    }
};

// The learn waits on the amount of an LFO that sits on an effect; removing
// the effect frees both, and the frame that removes it draws no learn box.
TEST_F(PanelLearn, RemovingTheEffectUnderALearnEndsItInTheSameFrame) {
    Track& track = DSP::track[0];
    EffectChain& chain = track.effectChain;
    if (!track.effectPageShown.load())
        tap(22);
    step(24);
    ASSERT_TRUE(track.effectPageShown.load());
    ASSERT_EQ(chain.effectCount(), 1u);
    chord({48}, 22);
    choose("add effect");
    choose("amp mod");
    tap(3);  // where the mark stands
    step(24);
    ASSERT_EQ(chain.effectCount(), 2u);
    const int32_t at = chain.getEffect(0)->typeName == "amp mod" ? 0 : 1;
    ASSERT_EQ(chain.getEffect(unsigned(at))->typeName, "amp mod");
    openMenu(16 + 4 * uint32_t(at));  // its "freq"
    choose("add modulator");
    choose("LFO");
    ASSERT_EQ(track.modulation.size(), 1u);
    openMenu(31);  // the LFO's amount
    choose("add MIDI mapping");
    ASSERT_EQ(track.menuState.load(), uint32_t(Track::MenuLearn));
    for (int i = 0; i < 200 && !Driver::guiNotify.queue().empty(); ++i)
        step(24);  // a notice would dim the box
    step(30);
    EXPECT_TRUE(screenShows("Map MIDI", &font_compact));

    tap(22);
    step(24);
    ASSERT_TRUE(track.effectPageShown.load());
    chord({48}, 22);
    ASSERT_EQ(Driver::listSelection.title(), "Edit FX chain:");
    choose("remove effect");
    ASSERT_EQ(Driver::listSelection.title(), "Select effect to remove");
    for (int i = 0; i < 10 && Driver::listSelection.cursor.value.load() != at; ++i)
        turn(ListSelect::kEncoder, Driver::listSelection.cursor.value.load() < at ? 1 : -1);
    ASSERT_EQ(Driver::listSelection.cursor.value.load(), at);  // "amp mod"
    host::panel().pressKey(ListSelect::kAcceptKey);
    for (int i = 0; i < 200 && chain.effectCount() != 1; ++i)
        step(1);
    ASSERT_EQ(chain.effectCount(), 1u);
    EXPECT_EQ(track.menuState.load(), uint32_t(Track::MenuIdle));
    EXPECT_FALSE(screenShows("Map MIDI", &font_compact));
    host::panel().releaseKey(ListSelect::kAcceptKey);
    step(48);
    EXPECT_EQ(track.modulation.size(), 0u);
    EXPECT_EQ(track.menuState.load(), uint32_t(Track::MenuIdle));
}

}  // namespace
