// The file browser and the sample-lists page played from the panel of the
// whole instrument in stepped mode: previews heard at the output, audio files
// loaded into sample lists, the lists seen by the granular page and drawn on
// the sample-lists page, and the browser's own keys and dialogues.
#include "gui/Confirm.h"
#include "gui/FileBrowser.h"
#include "gui/GuiEditor.h"
#include "gui/GuiNotify.h"
#include "gui/ListSelect.h"
#include "gui/MonoGFX.h"
#include "gui/Numpad.h"
#include "instrument/MainClock.h"
#include "instrument/track/Track.h"
#include "platform/Paths.h"
#include "platform/SampleValues.h"
#include "samples/AudioResourcePool.h"

#include "tests/support/stepped_instrument.h"
#include "tests/support/sound_file.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kCursorEncoder = 12;
constexpr int kValueEncoder = 28;

void writeSine(const std::string& path, double seconds, double level) {
    std::vector<float> s(size_t(seconds * 48000));
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = float(level * std::sin(2.0 * M_PI * 440.0 * double(i) / 48000.0));
    ASSERT_TRUE(testsupport::writeSound(path, s)) << path;
}

class BrowserSamples : public testsupport::SteppedInstrument {
protected:
    void SetUp() override {
        start({.root = "browser-root", .files = [](const std::string& root) {
                   host::makeFolders(root + "/samples");
                   writeSine(root + "/samples/a-sine.wav", 3.0, 0.3);
                   writeSine(root + "/samples/b-sine.wav", 1.0, 0.3);
               }, .midi = false});
    }

    // Turns the browser's cursor detent by detent until it reaches the row.
    static void browseTo(int row) {
        FileBrowser& b = Driver::fileBrowser;
        for (int i = 0; i < 60 && b.cursor.value.load() != row; ++i)
            turn(kCursorEncoder, b.cursor.value.load() < row ? 1 : -1);
        ASSERT_EQ(b.cursor.value.load(), row);
    }
    static int rowOf(const std::string& name) {
        const FileBrowser& b = Driver::fileBrowser;
        for (size_t i = 0; i < b.folders.size(); ++i)
            if (b.folders[i] == name)
                return int(i);
        for (size_t i = 0; i < b.files.size(); ++i)
            if (b.files[i].name == name)
                return int(b.folders.size() + i);
        return -1;
    }
    // Key 20 opens the browser; key 3 on a folder row enters it.
    static void openBrowserIn(const std::string& folder) {
        if (GUI::currentEditor.load() != &Driver::fileBrowser)
            tap(20);
        play(24);
        ASSERT_EQ(GUI::currentEditor.load(), &Driver::fileBrowser);
        if (Driver::fileBrowser.listedFolder == std::string(FileBrowser::kRootFolder) + folder + "/")
            return;
        const int row = rowOf(folder);
        ASSERT_GT(row, 0) << folder;
        browseTo(row);
        tap(3);
        play(24);
        ASSERT_EQ(Driver::fileBrowser.listedFolder, std::string(FileBrowser::kRootFolder) + folder + "/");
    }
    // Marks the named audio files with key 0 and loads them with key 3 and "yes".
    static void loadAudio(const std::vector<std::string>& names) {
        openBrowserIn("samples");
        for (const std::string& name : names) {
            browseTo(rowOf(name));
            tap(0);
        }
        tap(3);
        ASSERT_NE(Driver::confirm.state(), 0u);
        tap(3);
        play(48);
    }
    // Files loaded into a new list under the suggested name; its name.
    static std::string loadIntoNewList(const std::vector<std::string>& names) {
        loadAudio(names);
        EXPECT_EQ(GUI::currentEditor.load(), static_cast<GuiEditor*>(&DSP::audioPool));
        if (Driver::listSelection.state() != 0)
            tap(3);  // lists from an earlier test: "create new list"
        EXPECT_TRUE(Driver::numpad.isOpen());
        EXPECT_EQ(Driver::numpad.title, "Name of new list:");
        const std::string name = Driver::numpad.text;
        tap(3);
        play(48);
        return name;
    }
    // A notice dims what lies under it: the screen is read once they are gone.
    static void untilNoNotice() {
        for (int i = 0; i < 400 && !Driver::guiNotify.queue().empty(); ++i)
            play(6);
        nextFrames(2);
    }
    // Until the display has taken `n` more frames.
    static void nextFrames(unsigned n) {
        const unsigned frames = host::board().oled().framesCompleted();
        for (int i = 0; i < 400 && host::board().oled().framesCompleted() < frames + n; ++i)
            play(1);
    }
    // The screen shows the message box as drawMessageBox draws it.
    static bool showsBox(const std::string& text, uint32_t icon, uint32_t h, uint32_t v) {
        MonoGFX box;
        box.init(256, 64);
        box.clear();
        box.drawMessageBox(text, icon, h, v);
        int x0 = 256, y0 = 64, x1 = -1, y1 = -1;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 256; ++x)
                if (box.pixel(x, y) != 0)
                    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
        if (x1 < 0)
            return false;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                if (host::board().oled().pixel(unsigned(x), unsigned(y)) != box.pixel(x, y))
                    return false;
        return true;
    }
    static int litInColumn(int x, int y0, int y1, int level = 1) {
        int n = 0;
        for (int y = y0; y <= y1; ++y)
            n += host::board().oled().pixel(unsigned(x), unsigned(y)) >= level ? 1 : 0;
        return n;
    }
};

// Item: with the clock stopped, the cursor on an audio file plays it at the
// output and the screen says so.
TEST_F(BrowserSamples, CursorOnAnAudioFilePreviewsItWithTheClockStopped) {
    ASSERT_FALSE(DSP::mainClock.isRunning());
    openBrowserIn("samples");
    EXPECT_LT(rms(play(50)), 1e-4);
    browseTo(rowOf("b-sine.wav"));
    const std::vector<float> sound = play(150);
    EXPECT_GT(rms(sound), 0.02);
    untilNoNotice();
    EXPECT_TRUE(showsBox("previewing sample", 26, 2, 2));
    play(750);  // one second of file: the preview ends
    EXPECT_LT(rms(play(50)), 1e-4);
    EXPECT_FALSE(showsBox("previewing sample", 26, 2, 2));
}

// Item: loaded audio files reach the sample-lists page, which asks for a new
// list when there is none and for a list to add to when there are some.
TEST_F(BrowserSamples, LoadedAudioFilesAreAskedIntoASampleList) {
    const std::string name = loadIntoNewList({"a-sine.wav", "b-sine.wav"});
    ASSERT_EQ(name.size(), 7u);
    ASSERT_EQ(DSP::audioPool.listNames(), (std::vector<std::string>{"none", name}));
    const auto list = DSP::audioPool.sharedGroup(name);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->size(), 2u);

    loadAudio({"b-sine.wav"});
    EXPECT_EQ(GUI::currentEditor.load(), static_cast<GuiEditor*>(&DSP::audioPool));
    ASSERT_NE(Driver::listSelection.state(), 0u);
    EXPECT_EQ(Driver::listSelection.title(), "Select list to add samples to:");
    EXPECT_EQ(Driver::listSelection.items(), (std::vector<std::string>{"create new list", name}));
    tap(2);  // no list this time
}

// Item: the granular page shows the analysed points of its sample list.
TEST_F(BrowserSamples, GranularPageShowsTheAnalysedPointsOfItsList) {
    const std::string name = loadIntoNewList({"a-sine.wav"});
    ASSERT_FALSE(name.empty());
    std::ofstream(root_ + "/samples/grain.inst")
        << "{\"synthesis\": {\"synth engine\": \"granular\", \"samples\": {\"value\": \"" << name << "\"}}}\n";
    openBrowserIn("samples");
    browseTo(rowOf("grain.inst"));
    tap(3);
    tap(3);
    play(48);
    ASSERT_EQ(DSP::track[0].synthesis.toString(), "granular");
    ASSERT_EQ(GUI::currentEditor.load(), nullptr);
    // Encoder 16 pushed: the engine page with its overview.
    push(16, 0);
    untilNoNotice();
    const auto list = DSP::audioPool.sharedGroup(name);
    ASSERT_NE(list, nullptr);
    ASSERT_FALSE(list->dirty.load());  // no busy icon in the square
    ASSERT_NE(list->features(), nullptr);
    // The feature square (inside its frame): points are the only bright pixels.
    int bright = 0;
    for (int y = 1; y <= 29; ++y)
        for (int x = 34; x <= 62; ++x)
            bright += host::board().oled().pixel(unsigned(x), unsigned(y)) == 15 ? 1 : 0;
    EXPECT_GT(bright, 0);
}

// Item: the entry's waveform fills the panel's height at the loudest block and
// shows 128 frames a column around the start while encoder 28 is held.
TEST_F(BrowserSamples, SampleListWaveformIsScaledAndZoomsInWhileTheValueEncoderIsHeld) {
    loadIntoNewList({"a-sine.wav"});
    ASSERT_EQ(DSP::audioPool.viewState(), 1u);
    tap(3);  // the list's editor, entry 1
    untilNoNotice();
    ASSERT_EQ(DSP::audioPool.viewState(), 2u);
    // A 0.3 sine is as loud in every block: every column reaches the top.
    EXPECT_GE(litInColumn(150, 44, 63), 17);

    host::panel().setPush(kValueEncoder, true);
    play(12);
    turn(kValueEncoder, 3);  // "start" moves on by a coarse step
    EXPECT_GT(DSP::audioPool.editingEntry()->startFrame.load(), 0u);
    // Centred on a start a few columns in: the left half lies before frame 0.
    EXPECT_EQ(litInColumn(80, 44, 63), 0);
    EXPECT_GE(litInColumn(200, 44, 63), 17);
    host::panel().setPush(kValueEncoder, false);
    play(12);
}

// Item: the browser's track keys flip their track at each press.
TEST_F(BrowserSamples, TrackKeysFlipTheirTrackAtEachPress) {
    openBrowserIn("samples");
    ASSERT_TRUE(Driver::fileBrowser.trackChosen(1));
    tap(12);  // track 2
    EXPECT_FALSE(Driver::fileBrowser.trackChosen(1));
    tap(12);
    EXPECT_TRUE(Driver::fileBrowser.trackChosen(1));
    tap(6);  // track 4
    EXPECT_FALSE(Driver::fileBrowser.trackChosen(3));
    EXPECT_TRUE(Driver::fileBrowser.trackChosen(0));
}

// Item: a value edit cancelled on the number pad does not swallow the name
// of the next save.
TEST_F(BrowserSamples, CancelledValueEditLeavesTheNextSaveAlone) {
    // Key 23: the instrument's settings; key 1 edits a row, the first that
    // takes a number opens the pad; key 2 deletes its text, then cancels.
    tap(23);
    play(24);
    for (int row = 0; row < 30 && !Driver::numpad.isOpen(); ++row) {
        tap(1);
        play(12);
        if (Driver::listSelection.state() != 0) {
            tap(2);
            play(12);
        }
        if (!Driver::numpad.isOpen())
            turn(kCursorEncoder, 3);
    }
    ASSERT_TRUE(Driver::numpad.isOpen());
    for (int i = 0; i < 40 && Driver::numpad.isOpen(); ++i)
        tap(2);
    ASSERT_FALSE(Driver::numpad.isOpen());
    tap(3);  // the settings close
    play(24);
    ASSERT_EQ(GUI::currentEditor.load(), nullptr);

    // In the browser: key 1 on a folder, "save new file", "project", name "ad".
    tap(20);
    play(24);
    if (Driver::fileBrowser.listedFolder != FileBrowser::kRootFolder)
        tap(2);  // up to the data folder
    browseTo(rowOf("samples"));
    tap(1);
    ASSERT_EQ(Driver::listSelection.title(), "Folder: samples");
    tap(3);
    ASSERT_EQ(Driver::listSelection.title(), "Select file type to save");
    tap(3);
    ASSERT_TRUE(Driver::numpad.isOpen());
    EXPECT_EQ(Driver::numpad.title, "Save project as:");
    tap(10);  // a
    tap(15);  // d
    play(24);
    ASSERT_EQ(Driver::numpad.text, "ad");
    tap(3);
    play(12);
    ASSERT_NE(Driver::confirm.state(), 0u) << "no question after the name";
    tap(3);
    play(48);
    bool written = false;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root_))
        written = written || e.path().filename() == "ad.proj";
    EXPECT_TRUE(written);
}

// Item: a float file holding NaN, infinities and absurd values (a damaged
// file) is cleaned where it is read: its preview, and a resonator and a
// granular track playing a list that holds it, give finite outputs within
// the bound, and the player is told once how many values were replaced. A
// good file in the same list keeps every value.
TEST_F(BrowserSamples, DamagedFloatFileIsCleanedForThePreviewAndTheSampleEngines) {
    const std::string damaged = root_ + "/samples/c-damaged.wav";
    std::vector<float> values(48000);
    size_t bad = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        values[i] = float(0.3 * std::sin(2.0 * M_PI * 440.0 * double(i) / 48000.0));
        if (i % 37 == 0) {
            static const float kBad[] = {NAN, INFINITY, -INFINITY, 1e30f, -8.7e27f, 5.0f};
            values[i] = kBad[(i / 37) % 6];
            ++bad;
        }
    }
    ASSERT_TRUE(testsupport::writeSound(damaged, values));
    // Every output channel, every frame: finite and bounded; the largest value.
    auto playChecked = [](uint32_t blocks, const char* what) {
        BelaContext* c = host::context();
        float largest = 0.0f;
        size_t broken = 0;
        for (uint32_t b = 0; b < blocks; ++b) {
            host::stepBlocks(1);
            for (uint32_t i = 0; i < testsupport::kBlockFrames * c->audioOutChannels; ++i) {
                const float v = c->audioOut[i];
                broken += std::isfinite(v) ? 0 : 1;
                largest = std::max(largest, std::isfinite(v) ? std::fabs(v) : 0.0f);
            }
        }
        EXPECT_EQ(broken, 0u) << what;
        EXPECT_LE(largest, kSampleValueBound) << what;
        return largest;
    };
    auto noticeSays = [](const std::string& text) {
        for (const GuiMessage& m : Driver::guiNotify.queue())
            if (text == m.text)
                return true;
        return false;
    };
    const std::string notice = "c-damaged.wav: " + std::to_string(bad) + " values replaced";

    // The preview: up to the data folder and back, so that the new file is listed.
    if (GUI::currentEditor.load() != &Driver::fileBrowser)
        tap(20);
    play(24);
    if (Driver::fileBrowser.listedFolder != FileBrowser::kRootFolder)
        tap(2);
    openBrowserIn("samples");
    browseTo(rowOf("c-damaged.wav"));
    bool told = false;
    for (int i = 0; i < 10; ++i) {
        EXPECT_GT(playChecked(25, "preview"), 0.01f);
        told = told || noticeSays(notice);
    }
    EXPECT_TRUE(told) << notice;
    untilNoNotice();

    // Both engines on a list of the damaged file and a good one, the clock
    // running and then stopped: nothing stays in their state.
    const std::string name = loadIntoNewList({"c-damaged.wav", "a-sine.wav"});
    ASSERT_FALSE(name.empty());
    // Track 1's notes, as a fresh instrument has them (the template has none).
    const NoteManager defaults;
    DSP::noteManager.setList(0, *defaults.list(0));
    for (const char* engine : {"resonator", "granular"}) {
        const std::string file = std::string(engine) + "-damaged.inst";
        std::ofstream(root_ + "/samples/" + file)
            << "{\"synthesis\": {\"synth engine\": \"" << engine << "\", \"samples\": {\"value\": \"" << name
            << "\"}}}\n";
        openBrowserIn("samples");
        browseTo(rowOf(file));
        tap(3);
        tap(3);
        play(48);
        ASSERT_EQ(DSP::track[0].synthesis.toString(), engine);
        ASSERT_EQ(GUI::currentEditor.load(), nullptr);
        untilNoNotice();
        if (engine == std::string("resonator")) {
            // The first pulse lane of track 1 on: key 5 on the track page, once
            // a turn of a sequencer encoder (there and back) has its keys.
            turn(15, 1);
            turn(15, -1);
            tap(5);
        }
        tap(24);
        ASSERT_TRUE(DSP::mainClock.isRunning());
        EXPECT_GT(playChecked(750 * 4, engine), 0.01f) << engine;
        tap(24);
        ASSERT_FALSE(DSP::mainClock.isRunning());
        playChecked(750 * 2, engine);
    }

    // The good file's values are those of the file, bit for bit.
    const auto good = DSP::audioPool.getResource(std::string(FileBrowser::kRootFolder) + "samples/a-sine.wav");
    ASSERT_NE(good, nullptr);
    SF_INFO info{};
    SNDFILE* f = sf_open((root_ + "/samples/a-sine.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    std::vector<float> direct(size_t(info.frames));
    sf_read_float(f, direct.data(), info.frames);
    sf_close(f);
    ASSERT_EQ(good->channels.size(), 1u);
    EXPECT_TRUE(good->channels[0] == direct);
}

}  // namespace
