// The whole instrument in stepped mode, set up in a root of its own and
// played from the simulated panel: the fixture base and panel helpers the
// whole-instrument tests share.
#pragma once

#include "dsp/Random.h"
#include "effects/EffectChain.h"
#include "gui/Confirm.h"
#include "gui/FileBrowser.h"
#include "gui/GuiEditor.h"
#include "gui/GuiNotify.h"
#include "gui/ListSelect.h"
#include "gui/MonoGFX.h"
#include "gui/Numpad.h"
#include "instrument/InstrumentState.h"
#include "instrument/MainClock.h"
#include "instrument/Process.h"
#include "instrument/Settings.h"
#include "instrument/Entry.h"
#include "instrument/track/Track.h"
#include "instrument/voices/VoiceManager.h"
#include "platform/Audio.h"
#include "platform/Stepped.h"
#include "platform/devices/Board.h"
#include "platform/devices/PanelSimulator.h"
#include "platform/devices/SerialPort.h"
#include "samples/AudioResourcePool.h"
#include "selftest/SelfTest.h"
#include "sequencing/MorphController.h"
#include "sequencing/NoteManager.h"
#include "sequencing/PitchScale.h"
#include "tests/support/list_popup.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

constexpr uint32_t kBlockFrames = 64;

// A port of this process's own, so that parallel runs do not meet.
inline int oscPort() { return 40000 + int(getpid() % 20000); }

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    ASSERT_TRUE(out.good()) << path;
    out << text;
}

// A template project that only sets the tempo: loaded at start.
inline void tempoOnlyProject(const std::string& folder) {
    writeText(folder + "template.proj", "{\"clock\": {\"BPM\": {\"value\": 120}}, \"files\": {}}\n");
}

// How the instrument is started; the defaults are the usual test instrument.
struct InstrumentSetup {
    std::string root{};           // folder name in the test's temporary folder
    bool chooseBoard = false;     // the board the firmware picks (its codec made)
    bool secondConverter = false; // false: its chip select is missing, it does not answer
    bool sendKnobDown = true;     // track 1's send: no delay echo in the silences
    bool config = true;           // a configuration with an OSC port of this process's own
    // Writes the template project into its folder; empty: no template.
    std::function<void(const std::string& folder)> project = tempoOnlyProject;
    std::function<void(const std::string& root)> files{};  // more files before the start
    std::string panelScript{};
    bool midi = true;              // opens the MIDI pseudo-terminal's peer
    bool defaultNoteList = false;  // list 1 back to its default step after the load
    std::function<void()> beforeStart{};  // just before the first block
    uint32_t settleBlocks = 100;  // past the start-up blocks that ignore the panel
    BelaRenderFn render = nullptr;  // a test's own wrapper of the firmware's; none: the firmware's
};

// Panel helpers and the instrument's lifetime, for fixtures that start it
// in SetUp: each test plays an instrument of its own, in a root of its own,
// and TearDown stops it.
constexpr uint32_t kListOpen = 1, kListChosen = 2;  // the list pop-up's states

class SteppedInstrument : public ::testing::Test {
public:
    // Before any test of the process: the values as built.
    static void takeBuiltValues();
    // The instrument a fresh process sets up, taken once a process by its
    // first whole-instrument test: a process whose tests never start the
    // instrument does not pay for the start.
    static void takeFreshState();

protected:
    // Before the test's SetUp can change anything, so that even the first
    // whole-instrument test of a process is checked against a reference.
    SteppedInstrument() { takeFreshState(); }

    static void start(const InstrumentSetup& s) {
        BelaInitSettings settings;
        if (s.chooseBoard)
            chooseBoard(&settings);
        settings.setup = setup;
        settings.render = s.render ? s.render : ::render;
        settings.cleanup = cleanup;
        settings.mode = HostMode::Stepped;
        static int runs = 0;
        root_ = settings.root = tempDir() + s.root + "-" + std::to_string(++runs);
        settings.panelScript = s.panelScript;
        host::board().reset();  // chips, readings and missing pins as at power-on
        if (!s.secondConverter)
            host::board().setPinMissing(48, true);
        if (s.sendKnobDown)
            host::board().adc(0).setReading(1, 0);
        host::makeFolders(root_);
        if (s.config)
            writeText(root_ + "/corvane.json",
                      "{\"config\": {\"OSC in port\": {\"value\": " + std::to_string(oscPort()) + "}}}\n");
        if (s.project) {
            const std::string folder = root_ + "/projects/template-project/";
            host::makeFolders(folder);
            s.project(folder);
        }
        if (s.files)
            s.files(root_);
        // Noise as built: a note's phases and an LFO's start come from it,
        // so a test sounds the same whatever ran before it.
        DSP::noise.seed(Noise::kSeedA, Noise::kSeedB);
        DSP::random.seed(1);
        ASSERT_EQ(Bela_initAudio(&settings, nullptr), 0);
        ASSERT_EQ(Bela_startAudio(), 0);
        if (s.midi) {
            midi_ = open(host::midiPortPeerName().c_str(), O_RDWR | O_NOCTTY);
            ASSERT_GE(midi_, 0) << host::midiPortPeerName();
        }
        if (s.defaultNoteList) {
            // A template without note lists empties them.
            const NoteManager defaults;
            DSP::noteManager.setList(0, *defaults.list(0));
        }
        if (s.beforeStart)
            s.beforeStart();
        host::stepBlocks(s.settleBlocks);
    }
    static void stop() {
        if (midi_ >= 0)
            close(midi_);
        midi_ = -1;
        forgetTheRun();
        Bela_cleanupAudio();
        // What set-up does not make anew waits for the next test as a fresh
        // process has it.
        Driver::guiNotify.dismiss(true);
        // The list pop-up keeps the last choice of each title, and the self
        // test the checks passed, for the process's life: the next test
        // meets them as a fresh process does.
        asBuilt(Driver::listSelection);
        asBuilt(Driver::selfTest);
        // A run without a template project keeps the note lists, their
        // tunings and the page's keyboard octave and cursor as the last test
        // left them; the tunings it loaded stay registered.
        {
            NoteManager& notes = DSP::noteManager;
            const NoteManager defaults;
            for (int i = 0; i < NoteManager::kListCount; ++i)
                notes.setList(i, *defaults.list(i));
            for (Parameter* p : std::initializer_list<Parameter*>{
                     &notes.keyboardOctave, &notes.item, &notes.itemSymbol, &notes.data, &notes.listIndex,
                     &notes.symbol, &notes.octave, &notes.type, &notes.amp, &notes.chance}) {
                p->resetToDefault();
                forgetTurn(*p);
            }
            notes.pageState.store(NoteManager::StateIdle);
            asBuilt(DSP::scaleManager);
        }
        FileBrowser& browser = Driver::fileBrowser;
        browser.listedFolder = "/";
        browser.requestedFolder = FileBrowser::kRootFolder;
        browser.cursor.setValue(0, false);
        browser.track.resetToDefault();
        for (ParameterInt& t : browser.trackEnabled)
            t.resetToDefault();
        GUI::currentTrack.store(0);
        clearRedrawPending();
        Driver::instrument.blockCounter.store(0);  // the start-up blocks that ignore the panel
        Driver::instrument.menuState.store(InstrumentState::kMenuIdle);
        gBlocksElapsed.store(0);
        for (Track& track : DSP::track) {
            track.effectPageShown.store(false);
            track.focus.store(Track::kStartFocus);
            track.menuState.store(Track::MenuIdle);
            track.learnConfirmed.store(false);
        }
        host::panel().reset();
        valuesAsBuilt();
    }
    template <typename T>
    static void asBuilt(T& object) {
        std::destroy_at(&object);
        std::construct_at(&object);
    }
    // A turn counted part of the way to a step in one test would end the
    // first turn of the next a step early.
    static void forgetTurn(Parameter& p) {
        p.tickAccumulator = 0;
        p.lastTicks = 0;
    }
    static void forgetTurns(ParameterGroup& group) {
        for (Parameter* p : group.parameters)
            forgetTurn(*p);
    }
    // A settings page on its first row with its values as built.
    static void settingsAsBuilt(Settings& page) {
        page.setting.resetToDefault();
        forgetTurn(page.setting);
        for (SettingsGroup& group : page.groups)
            for (Parameter* p : group.parameters) {
                p->resetToDefault();
                forgetTurn(*p);
            }
    }
    // The pages, pop-ups, sample lists and clock a test leaves behind are
    // closed, emptied and stopped the ways the firmware has, while its
    // instrument is still there to take them.
    static void forgetTheRun() {
        Driver::numpad.close();
        Driver::listSelection.key(ListSelect::kCancelKey, 2);
        Driver::listSelection.result();
        Driver::confirm.key(Confirm::kCancelKey, 2);
        Driver::confirm.result();
        if (!GUI::closeEditor())
            GUI::currentEditor.store(nullptr);
        if (DSP::mainClock.isRunning())
            DSP::mainClock.stop(true);
        DSP::audioPool.reset();
        DSP::motion.clear();
        forgetTurns(DSP::mainClock.parameterGroup);
        for (Parameter* p : std::initializer_list<Parameter*>{
                 &Driver::numpad.cursor, &Driver::fileBrowser.cursor,
                 &DSP::voiceManager.masterChain.position})
            forgetTurn(*p);
        // A template project resets the tracks; settings come from the
        // configuration file, which the next root holds afresh.
        settingsAsBuilt(Driver::instrument.settingsPage);
        // The clock takes its source back in this run, so that the next one
        // does not start by announcing it.
        DSP::mainClock.setClockSource();
        host::stepBlocks(1);
        Driver::instrument.projectGroup.resetToDefaults();
        Driver::instrument.configGroup.resetToDefaults();
        for (Track& track : DSP::track) {
            settingsAsBuilt(track.settingsPages);
            track.modulation.removeAll();
            track.resetSequencer();
            track.resetSynthesis(true);
            // Which no reset of the firmware's touches: the knobs of a run
            // with both converters set the volume and send of a track
            // without an engine.
            track.noneCommon.parameters.resetToDefaults();
            for (SynthVoiceCommon* engine : track.engines())
                forgetTurns(engine->parameters);
            forgetTurns(track.parameterGroup);
            forgetTurns(track.sequencerImpl.group);
            for (Parameter* p : std::initializer_list<Parameter*>{&track.slot, &track.allLanesStep,
                                                                  &track.allLanesFloatStep, &track.effectChain.position})
                forgetTurn(*p);
            track.resetEffects(true);
            track.slot.resetToDefault();
            track.allLanesStep.resetToDefault();
        }
    }
    // What a test can see of the instrument it gets: sound, pages, values.
    static std::string restState();
    // After a test: the next test's instrument is as a fresh process has it,
    // so a test that leaves something behind fails itself.
    static void expectAtRest();
    void TearDown() override {
        stop();
        expectAtRest();
    }

    static void step(uint32_t blocks) { host::stepBlocks(blocks); }
    // Steps `blocks` blocks and returns the main output (channels 0 and 1) of them.
    static std::vector<float> play(uint32_t blocks) {
        std::vector<float> out;
        out.reserve(blocks * kBlockFrames);
        BelaContext* c = host::context();
        for (uint32_t b = 0; b < blocks; ++b) {
            host::stepBlocks(1);
            for (uint32_t f = 0; f < kBlockFrames; ++f)
                out.push_back(c->audioOut[f * c->audioOutChannels] + c->audioOut[f * c->audioOutChannels + 1]);
        }
        return out;
    }
    static void tap(uint32_t key) {
        host::panel().pressKey(key);
        step(12);
        host::panel().releaseKey(key);
        step(12);
    }
    // Key `key` tapped while `modifiers` are held.
    static void chord(std::initializer_list<uint32_t> modifiers, uint32_t key, uint32_t before = 12,
                      uint32_t after = 24) {
        for (uint32_t m : modifiers)
            host::panel().pressKey(m);
        step(before);
        tap(key);
        for (uint32_t m : modifiers)
            host::panel().releaseKey(m);
        step(after);
    }
    static void push(uint32_t encoder, uint32_t after = 24) {
        host::panel().setPush(encoder, true);
        step(12);
        host::panel().setPush(encoder, false);
        step(after);
    }
    // Until the panel has sent every detent of the turn.
    static void turnFully(uint32_t encoder, int32_t detents) {
        host::panel().turnEncoder(encoder, detents);
        for (int i = 0; i < 4000 && host::panel().turnPending(encoder) != 0; ++i)
            step(1);
    }
    static void turn(uint32_t encoder, int32_t detents) {
        turnFully(encoder, detents);
        step(12);
    }
    // The interface task draws every 24 blocks: steps until `done`.
    template <typename F>
    static void waitFor(F done) {
        for (int i = 0; i < 200 && !done(); ++i)
            step(1);
        step(4);
    }
    // Key 1 held, encoder pushed: the parameter's menu.
    static void openMenu(uint32_t encoder) {
        host::panel().pressKey(1);
        step(4);
        push(encoder, 12);
        host::panel().releaseKey(1);
        waitFor([] { return Driver::listSelection.state() == kListOpen; });
    }
    // Moves the open list's cursor onto `item` with its encoder and accepts it.
    static void choose(const std::string& item) {
        cursorOnto(item, [](uint32_t e, int d) { turn(e, d); });
        if (testing::Test::HasFatalFailure())
            return;
        tap(ListSelect::kAcceptKey);
        waitFor([] { return Driver::listSelection.state() != kListChosen; });
    }
    static void addModulator(uint32_t encoder, const std::string& type) {
        openMenu(encoder);
        choose("add modulator");
        choose(type);
    }
    // A filter first in `track`'s chain, its page shown and an LFO added from
    // the menu on its frequency, whose encoder is returned.
    static uint32_t lfoOnAFilterFirstInTheChain(Track& track) {
        EffectChain& chain = track.effectChain;
        EXPECT_TRUE(chain.removeEffect(0));
        EXPECT_TRUE(chain.insertEffect(AudioEffectType::Filter, 0));
        tap(22);
        EXPECT_TRUE(track.effectPageShown.load());
        uint32_t freq = 16;
        while (freq < 20 && chain.getParameter(int(freq))->name != "freq")
            ++freq;
        addModulator(freq, "LFO");
        return freq;
    }
    static void sendMidi(std::initializer_list<uint8_t> bytes) {
        std::vector<uint8_t> b(bytes);
        ASSERT_EQ(write(midi_, b.data(), b.size()), ssize_t(b.size()));
    }
    static double rms(const std::vector<float>& s, size_t from = 0, size_t to = SIZE_MAX) {
        to = std::min(to, s.size());
        double sum = 0;
        for (size_t i = from; i < to; ++i)
            sum += double(s[i]) * s[i];
        return to > from ? std::sqrt(sum / double(to - from)) : 0.0;
    }

    static inline std::string root_;
    static inline int midi_ = -1;
    static inline std::string fresh_;
    // The values, slots and morph state of the parameters that live as long
    // as the process (clock, project, tracks, sequencers, engines).
    static std::vector<Parameter*> fixedParameters();
    static void valuesAsBuilt();
    static inline std::vector<std::pair<Parameter*, nlohmann::json>> built_;
    // Started as the next test would be: no template project, which would
    // cover what a test left in the tracks.
    static inline const InstrumentSetup kRestProbe{.root = "at-rest", .project = nullptr, .midi = false};
};

using Picture = std::function<uint32_t(int x, int y)>;

inline uint32_t screenPixel(int x, int y) { return host::board().oled().pixel(unsigned(x), unsigned(y)); }

// True when `text`, drawn in one colour, appears anywhere in the picture:
// its pixels all in one grey and the rest of its box in others.
inline bool shows(const Picture& picture, const std::string& text, const FontDescriptor* font, uint32_t scale = 1) {
    MonoGFX scratch;
    scratch.init(256, 64);
    scratch.setFont(font, scale, 0);
    scratch.setColour(15);
    scratch.drawText(0, 0, text);
    std::vector<std::pair<int, int>> ink, paper;
    int right = -1, bottom = -1;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x)
            if (scratch.pixel(x, y))
                ink.emplace_back(x, y), right = std::max(right, x), bottom = std::max(bottom, y);
    for (int y = 0; y <= bottom; ++y)
        for (int x = 0; x <= right; ++x)
            if (!scratch.pixel(x, y))
                paper.emplace_back(x, y);
    if (ink.empty())
        return false;
    for (int oy = 0; oy + bottom < 64; ++oy)
        for (int ox = 0; ox + right < 256; ++ox) {
            const uint32_t colour = picture(ox + ink[0].first, oy + ink[0].second);
            bool match = colour != 0;
            for (size_t i = 1; i < ink.size() && match; ++i)
                match = picture(ox + ink[i].first, oy + ink[i].second) == colour;
            for (size_t i = 0; i < paper.size() && match; ++i)
                match = picture(ox + paper[i].first, oy + paper[i].second) != colour;
            if (match)
                return true;
        }
    return false;
}

inline bool screenShows(const std::string& text, const FontDescriptor* font = &font_default, uint32_t scale = 1) {
    return shows(screenPixel, text, font, scale);
}

// Whether the display shows `text` in the default font with its top left
// corner at (x, y), on a dark ground.
inline bool screenShows(int x, int y, const std::string& text) {
    MonoGFX expected;
    expected.init(256, 64);
    expected.setFont(&font_default, 1, 0);
    expected.setTextMode(0);
    expected.setColour(15);
    expected.drawText(x, y, text);
    const int width = expected.textWidth(text);
    int lit = 0;
    for (int py = y; py < y + 10; ++py)
        for (int px = x; px < x + width; ++px) {
            const bool on = screenPixel(px, py) == 15;
            if (on != (expected.pixel(px, py) == 15))
                return false;
            lit += on;
        }
    return lit > 0;
}

}  // namespace testsupport
