// The whole instrument in stepped mode with both converters answering: the
// main menu, the instrument's settings pages and the track buttons as a
// player uses them, the board it starts, and the host's first-run paths.
#include "drivers/Touchpad.h"
#include "gui/GuiEditor.h"
#include "gui/ListSelect.h"
#include "instrument/InstrumentState.h"
#include "instrument/MainClock.h"
#include "platform/AudioCodec.h"
#include "platform/devices/Board.h"
#include "selftest/SelfTest.h"

#include "tests/support/corvane_process.h"
#include "tests/support/stepped_instrument.h"

#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kTrillAddress[5] = {0x28, 0x29, 0x2E, 0x2B, 0x2C};

using testsupport::screenShows;
using testsupport::shows;

class SetupPanel : public testsupport::SteppedInstrument {
protected:
    // Both converters answer; no template project.
    static void startInstrument(const std::string& rootName, const std::string& panelScript, uint32_t settle) {
        start({.root = rootName, .chooseBoard = true, .secondConverter = true, .project = nullptr,
               .panelScript = panelScript, .settleBlocks = settle});
    }
    void SetUp() override { startInstrument("panel-root", "", 100); }

    static void withKey(uint32_t held, uint32_t key) { chord({held}, key, 4, 12); }
    static void button(uint32_t track, bool down) {
        host::panel().setTrackButton(track, down);
        play(24);
    }
    static unsigned baselines() {
        unsigned n = 0;
        for (int a : kTrillAddress)
            n += host::board().trill(a)->baselines;
        return n;
    }
};

TEST_F(SetupPanel, MainMenuSelfTestOpensTheTestPageAndStartsTheTest) {
    withKey(1, 23);
    ASSERT_EQ(Driver::instrument.menuState.load(), InstrumentState::kMenuOpen);
    turn(12, 10);  // four entries down: "self test"
    ASSERT_EQ(Driver::listSelection.cursor.value.load(), 4);
    tap(3);
    play(48);  // the menu is read on one frame, the page drawn on the next
    EXPECT_EQ(GUI::currentEditor.load(), &Driver::selfTest);
    EXPECT_TRUE(screenShows("Testing: buttons"));
    // Key 2 cannot leave the first check; key 3 a second time skips it.
    tap(2);
    tap(3);
    tap(3);
    play(48);
    EXPECT_TRUE(screenShows("Testing: touchpads"));
    tap(2);
    play(24);
    EXPECT_EQ(GUI::currentEditor.load(), nullptr);
}

TEST_F(SetupPanel, NoteListSettingsPageChoosesTheChannelTheNotePageTakes) {
    EXPECT_EQ(Driver::instrument.projectGroup.parameters.size(), 12u);
    tap(23);
    ASSERT_EQ(GUI::currentEditor.load(), &Driver::instrument.settingsPage);
    turn(12, 48);  // row 19: past "clock", "clock out" and "routing"
    play(24);
    EXPECT_TRUE(screenShows("note list", &font_compact));
    EXPECT_TRUE(screenShows("MIDI in channel", &font_compact));
    turn(28, 5);  // "all" -> "1" -> "2"
    EXPECT_EQ(DSP::noteManager.midiChannel.toString(), "2");
    tap(3);
    ASSERT_EQ(GUI::currentEditor.load(), nullptr);

    withKey(1, 9);
    ASSERT_EQ(GUI::currentEditor.load(), &DSP::noteManager);
    play(24);
    // Channel 1 is not the page's: it goes on to track 1, whose MIDI input
    // is off. Channel 2 is taken and previewed.
    sendMidi({0x90, 60, 100});
    const double other = rms(play(200));
    sendMidi({0x80, 60, 0});
    play(750);
    sendMidi({0x91, 64, 100});
    const double own = rms(play(200));
    sendMidi({0x81, 64, 0});
    play(750);
    EXPECT_LT(other, 1e-5);
    EXPECT_GT(own, 0.005);
}

TEST_F(SetupPanel, TrackButtonsActWhenPressedAndTheirChordsNeedThemHeld) {
    ASSERT_EQ(GUI::currentTrack.load(), 0u);
    button(1, true);
    EXPECT_EQ(GUI::currentTrack.load(), 1u);  // before the button is let go
    button(1, false);
    for (uint32_t t : {0u, 1u, 2u, 3u}) {
        button(t, true);
        button(t, false);
    }
    EXPECT_FALSE(Bela_stopRequested());
    EXPECT_EQ(GUI::currentTrack.load(), 3u);

    const unsigned before = baselines();
    for (uint32_t t : {2u, 3u, 4u})
        button(t, true);
    EXPECT_GT(baselines(), before);
    EXPECT_FALSE(Bela_stopRequested());
    for (uint32_t t : {2u, 3u, 4u})
        button(t, false);

    for (uint32_t t : {0u, 1u, 2u, 3u})
        host::panel().setTrackButton(t, true);
    play(48);
    EXPECT_TRUE(Bela_stopRequested());

    // Set up again, the buttons start released, also where no converter
    // reports them: the chord of the run before stops nothing.
    stop();
    start({.root = "panel-root-again", .project = nullptr});
    play(48);
    EXPECT_FALSE(Bela_stopRequested());
}

TEST_F(SetupPanel, TheBoardsCodecWasMadeAndStarted) {
    EXPECT_EQ(Bela_hwFromName("VeskPcm3168A"), 14);
    const std::vector<std::pair<uint8_t, uint8_t>> start = {
        {0x40, 0xC1}, {0x41, 0x06}, {0x42, 0x00}, {0x43, 0x00}, {0x44, 0x00}, {0x50, 0x01},
        {0x51, 0x06}, {0x52, 0x40}, {0x53, 0x00}, {0x54, 0x00}, {0x55, 0x00}};
    host::CodecModel* codec = host::board().codec(0x44);
    ASSERT_NE(codec, nullptr);
    EXPECT_EQ(codec->writes, start);
}

TEST_F(SetupPanel, SyncInWithNothingPluggedInLeavesTheClockStopped) {
    const float bpm = DSP::mainClock.bpm.getValue();
    tap(23);
    ASSERT_EQ(GUI::currentEditor.load(), &Driver::instrument.settingsPage);
    turn(28, 3);  // "clock source": "internal" -> "sync in"
    play(24);
    ASSERT_EQ(DSP::mainClock.clockSource.toString(), "sync in");
    tap(3);
    play(750 * 2);
    EXPECT_FALSE(DSP::mainClock.isRunning());
    EXPECT_FLOAT_EQ(DSP::mainClock.bpm.getValue(), bpm);
}

// The example the README gives for playing MIDI notes: the script switches
// "MIDI note in" on for track 1 through its settings page.
class ReadmeMidiExample : public SetupPanel {
protected:
    void SetUp() override {
        startInstrument("midi-example-root", std::string(CORVANE_SOURCE_DIR) + "/examples/midi-notes.panel", 0);
    }
};

TEST_F(ReadmeMidiExample, NotesFromThePseudoTerminalPlayTrackOne) {
    sendMidi({0x90, 60, 100});
    EXPECT_LT(rms(play(200)), 1e-5);  // off until the script has run
    sendMidi({0x80, 60, 0});
    play(600);
    ASSERT_EQ(GUI::currentEditor.load(), nullptr);
    sendMidi({0x90, 60, 100});
    EXPECT_GT(rms(play(375)), 0.005);
    sendMidi({0x80, 60, 0});
    play(100);
}

// The instrument as a new user starts it.
testsupport::Outcome runInstrument(const std::string& name, std::vector<std::string> args) {
    const std::string root = testsupport::freshPath(name);
    host::makeFolders(root);
    args.insert(args.begin(), {"--root", root});
    return testsupport::runCorvane(args, root + "-stdout.txt", "/dev/null");
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

TEST(FirstStart, SshSettingIsAppliedOnceAndTheDisplayFileHoldsTheLastFrame) {
    const std::string picture = testsupport::freshPath("display", ".pgm");
    const auto r = runInstrument("first-start", {"--offline", "--seconds", "3", "--display-out", picture});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(count(r.out, "Could not edit SSH config"), 1u) << r.out;

    std::ifstream in(picture, std::ios::binary);
    std::string magic;
    int width = 0, height = 0, grey = 0;
    in >> magic >> width >> height >> grey;
    in.get();
    ASSERT_EQ(magic, "P5");
    ASSERT_EQ(width * height, 256 * 64);
    std::vector<char> pixels(size_t(width * height));
    in.read(pixels.data(), std::streamsize(pixels.size()));
    ASSERT_TRUE(in);
    // The farewell the firmware draws as it ends, not the start-up picture.
    EXPECT_TRUE(shows([&](int x, int y) { return uint32_t(uint8_t(pixels[size_t(y * 256 + x)])); },
                      "rebooting firmware", &font_default, 2));
}

}  // namespace
