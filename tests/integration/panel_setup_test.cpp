// The whole instrument in stepped mode with both converters answering: the
// main menu, the instrument's settings pages and the track buttons as a
// player uses them, the board it starts, and the host's first-run paths.
#include "drivers/Touchpad.h"
#include "gui/GuiEditor.h"
#include "gui/ListSelect.h"
#include "gui/MonoGFX.h"
#include "instrument/Entry.h"
#include "instrument/InstrumentState.h"
#include "instrument/MainClock.h"
#include "platform/Audio.h"
#include "platform/AudioCodec.h"
#include "platform/Stepped.h"
#include "platform/devices/Board.h"
#include "platform/devices/PanelSimulator.h"
#include "platform/devices/SerialPort.h"
#include "selftest/SelfTest.h"
#include "sequencing/NoteManager.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uint32_t kFrames = 64;
constexpr int kTrillAddress[5] = {0x28, 0x29, 0x2E, 0x2B, 0x2C};

using Picture = std::function<uint32_t(int x, int y)>;

// True when `text`, drawn in one colour, appears anywhere in the picture:
// its pixels all in one grey and the rest of its box in others.
bool shows(const Picture& picture, const std::string& text, const FontDescriptor* font, uint32_t scale = 1) {
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

bool screenShows(const std::string& text, const FontDescriptor* font = &font_default, uint32_t scale = 1) {
    return shows([](int x, int y) { return uint32_t(host::board().oled().pixel(unsigned(x), unsigned(y))); }, text,
                 font, scale);
}

class SetupPanel : public ::testing::Test {
protected:
    static void startInstrument(const std::string& rootName, const std::string& panelScript) {
        BelaInitSettings settings;
        chooseBoard(&settings);
        settings.setup = setup;
        settings.render = render;
        settings.cleanup = cleanup;
        settings.mode = HostMode::Stepped;
        settings.root = testsupport::tempDir() + rootName;
        settings.panelScript = panelScript;
        host::makeFolders(settings.root);
        // Track 1's send knob down: no delay echo in the silences.
        host::board().adc(0).setReading(1, 0);
        std::ofstream(settings.root + "/corvane.json")
            << "{\"config\": {\"OSC in port\": {\"value\": " << 40000 + int(getpid() % 20000) << "}}}\n";
        ASSERT_EQ(Bela_initAudio(&settings, nullptr), 0);
        ASSERT_EQ(Bela_startAudio(), 0);
        midi_ = open(host::midiPortPeerName().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(midi_, 0) << host::midiPortPeerName();
    }
    static void SetUpTestSuite() {
        startInstrument("panel-root", "");
        play(100);  // past the start-up blocks that ignore the panel
    }
    static void TearDownTestSuite() {
        close(midi_);
        Bela_cleanupAudio();
    }

    // Steps `blocks` blocks; the main output (channels 0 and 1) of them.
    static std::vector<float> play(uint32_t blocks) {
        std::vector<float> out;
        BelaContext* c = host::context();
        for (uint32_t b = 0; b < blocks; ++b) {
            host::stepBlocks(1);
            for (uint32_t f = 0; f < kFrames; ++f)
                out.push_back(c->audioOut[f * c->audioOutChannels] + c->audioOut[f * c->audioOutChannels + 1]);
        }
        return out;
    }
    static void tap(uint32_t key) {
        host::panel().pressKey(key);
        play(12);
        host::panel().releaseKey(key);
        play(12);
    }
    static void withKey(uint32_t held, uint32_t key) {
        host::panel().pressKey(held);
        play(4);
        tap(key);
        host::panel().releaseKey(held);
        play(12);
    }
    static void turn(uint32_t encoder, int32_t detents) {
        host::panel().turnEncoder(encoder, detents);
        for (int i = 0; i < 2000 && host::panel().turnPending(encoder) != 0; ++i)
            play(1);
        play(12);
    }
    static void button(uint32_t track, bool down) {
        host::panel().setTrackButton(track, down);
        play(24);
    }
    static void sendMidi(std::initializer_list<uint8_t> bytes) {
        std::vector<uint8_t> b(bytes);
        ASSERT_EQ(write(midi_, b.data(), b.size()), ssize_t(b.size()));
    }
    static double rms(const std::vector<float>& s) {
        double sum = 0;
        for (float v : s)
            sum += double(v) * v;
        return s.empty() ? 0.0 : std::sqrt(sum / double(s.size()));
    }
    static unsigned baselines() {
        unsigned n = 0;
        for (int a : kTrillAddress)
            n += host::board().trill(a)->baselines;
        return n;
    }

    static inline int midi_ = -1;
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
    static void SetUpTestSuite() {
        startInstrument("midi-example-root", std::string(CORVANE_SOURCE_DIR) + "/examples/midi-notes.panel");
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
struct Outcome {
    int status = -1;
    std::string out;
};

Outcome runInstrument(const std::string& name, std::vector<std::string> args) {
    const std::string root = testsupport::tempDir() + name;
    host::makeFolders(root);
    const std::string outFile = root + "-stdout.txt";
    args.insert(args.begin(), {"--root", root});
    pid_t pid = fork();
    if (pid == 0) {
        dup2(open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(open("/dev/null", O_WRONLY), 2);
        std::vector<char*> argv{const_cast<char*>(CORVANE_BINARY)};
        for (auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(CORVANE_BINARY, argv.data());
        _exit(127);
    }
    Outcome r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(outFile);
    std::stringstream s;
    s << in.rdbuf();
    r.out = s.str();
    return r;
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

TEST(FirstStart, SshSettingIsAppliedOnceAndTheDisplayFileHoldsTheLastFrame) {
    const std::string picture = testsupport::tempDir() + "display.pgm";
    const Outcome r = runInstrument("first-start", {"--offline", "--seconds", "3", "--display-out", picture});
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
