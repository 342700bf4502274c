// The whole instrument in stepped mode: set up in a root of its own, played
// from the pin-level panel and the MIDI pseudo-terminal, heard at its outputs.
#include "engines/SynthVoiceCommon.h"
#include "gui/GuiEditor.h"
#include "instrument/InstrumentState.h"
#include "gui/Confirm.h"
#include "gui/ListSelect.h"
#include "instrument/MainClock.h"
#include "connectivity/Network.h"
#include "gui/FileBrowser.h"
#include "gui/Screensaver.h"
#include "selftest/SelfTest.h"
#include "instrument/track/Track.h"
#include "platform/Fft.h"
#include "engines/subtractive/SubtractiveCommon.h"
#include "instrument/Tasks.h"

#include "tests/support/stepped_instrument.h"
#include "tests/support/wait.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kFrames = testsupport::kBlockFrames;

class Instrument : public testsupport::SteppedInstrument {
protected:
    void SetUp() override {
        start({.root = "instrument-root", .defaultNoteList = true});
        // The first pulse lane of track 1 on (key 5 on the track page).
        tap(5);
    }

    // Frames where the level of 5 ms windows first rises above half the peak.
    static std::vector<size_t> onsets(const std::vector<float>& s) {
        const size_t w = 240;
        std::vector<double> level;
        for (size_t i = 0; i + w <= s.size(); i += w)
            level.push_back(rms(s, i, i + w));
        std::vector<double> sorted = level;  // robust to one loud note
        std::sort(sorted.begin(), sorted.end());
        const double peak = sorted.empty() ? 0.0 : sorted[sorted.size() * 95 / 100];
        std::vector<size_t> at;
        bool quiet = true;
        for (size_t i = 0; i < level.size(); ++i) {
            if (quiet && level[i] > 0.3 * peak) {
                at.push_back(i * w);
                quiet = false;
            } else if (level[i] < 0.05 * peak) {
                quiet = true;
            }
        }
        return at;
    }
    static double centroid(const std::vector<float>& s) {
        const unsigned n = 4096;
        Fft fft(n);
        double weighted = 0, total = 0;
        for (size_t start = 0; start + n <= s.size(); start += n) {
            fft.fft(s.data() + start);
            for (unsigned k = 1; k < n / 2; ++k) {
                const double m = std::hypot(double(fft.fdr(k)), double(fft.fdi(k)));
                weighted += m * double(k) * 48000.0 / double(n);
                total += m;
            }
        }
        return total > 0 ? weighted / total : 0.0;
    }
    static void silenceClock() {
        if (DSP::mainClock.isRunning())
            tap(24);
        ASSERT_FALSE(DSP::mainClock.isRunning());
        play(750);  // the last notes die away
    }

};

TEST_F(Instrument, StartKeyRunsTheClockAndTrackOnePlaysOnTheBeat) {
    EXPECT_FALSE(DSP::mainClock.isRunning());
    EXPECT_LT(rms(play(100)), 1e-6);  // nothing plays before the clock runs

    host::panel().pressKey(24);
    std::vector<float> s;
    uint32_t startBlock = 0;
    for (uint32_t b = 0; b < 40 && !DSP::mainClock.isRunning(); ++b, ++startBlock) {
        std::vector<float> one = play(1);
        s.insert(s.end(), one.begin(), one.end());
    }
    host::panel().releaseKey(24);
    ASSERT_TRUE(DSP::mainClock.isRunning());
    std::vector<float> rest = play(750 * 4);
    s.insert(s.end(), rest.begin(), rest.end());

    const std::vector<size_t> at = onsets(s);
    ASSERT_GE(at.size(), 4u) << "rms " << rms(s);
    // The first note sounds within a beat and the scheduling lead (256
    // frames rounded to blocks) of the clock's start.
    const size_t start = size_t(startBlock) * kFrames;
    EXPECT_GE(at[0] + 256, start);
    const double beat = 48000.0 / DSP::mainClock.bpm.converted;
    EXPECT_LT(double(at[0]), double(start) + beat + 256 + 2 * kFrames + 240);
    // Later notes on the clock's grid: every gap a whole number of the
    // smallest, which divides the beat.
    size_t smallest = SIZE_MAX;
    for (size_t i = 1; i < at.size(); ++i)
        smallest = std::min(smallest, at[i] - at[i - 1]);
    for (size_t i = 1; i < at.size(); ++i) {
        const double r = double(at[i] - at[i - 1]) / double(smallest);
        EXPECT_NEAR(r, std::round(r), 0.1) << i;
    }
    const double perBeat = beat / double(smallest);
    EXPECT_NEAR(perBeat, std::round(perBeat), 0.1) << "beat " << beat << " gap " << smallest;

    silenceClock();
}

TEST_F(Instrument, MidiNotesThroughThePseudoTerminalPlayTrackOne) {
    silenceClock();
    // Off until the player switches "MIDI note in" on in the track's settings.
    sendMidi({0x90, 60, 100});
    EXPECT_LT(rms(play(375)), 1e-5);
    DSP::track[0].midiNoteIn.setValue(1, true);
    EXPECT_LT(rms(play(100)), 1e-5);
    sendMidi({0x90, 60, 100});
    const std::vector<float> on = play(375);
    EXPECT_GT(rms(on), 0.005);
    sendMidi({0x80, 60, 0});
    play(750);
    EXPECT_LT(rms(play(100)), 1e-4);
}

TEST_F(Instrument, EncoderTurnsTheCutoffDownAndTheSoundDarkens) {
    silenceClock();
    DSP::track[0].midiNoteIn.setValue(1, true);
    Track& track = DSP::track[0];
    SynthVoiceCommon* engine = track.currentEngine();
    ASSERT_NE(engine, nullptr);
    int place = -1;
    for (int i = 0; i < 16; ++i)
        if (Parameter* p = engine->exposedParameters[size_t(i)].load(); p && p->name == "filt freq")
            place = i;
    ASSERT_GE(place, 0) << "no cutoff on the engine page";
    Parameter* cutoff = engine->exposedParameters[size_t(place)].load();
    const float before = cutoff->getNormalised();

    sendMidi({0x90, 48, 110});
    play(200);
    const double bright = centroid(play(400));
    turnFully(16 + uint32_t(place), -40);
    play(100);
    const double dark = centroid(play(400));
    sendMidi({0x80, 48, 0});
    play(750);
    EXPECT_LT(cutoff->getNormalised(), before - 0.1f);
    EXPECT_LT(dark, 0.8 * bright) << "centroid " << bright << " Hz -> " << dark << " Hz";
}

TEST_F(Instrument, SetupBroughtTheInterfacesUp) {
    // No exit-code file: a first run, so the template project was loaded.
    EXPECT_FLOAT_EQ(DSP::mainClock.bpm.getValue(), 120.0f);
    // The OSC receiver listens on the configured port, on the loopback
    // address: liblo's oscsend reaches it there.
    EXPECT_EQ(Driver::network.receivingPort(), testsupport::oscPort());
    ParameterFloat& cutoff = DSP::track[0].subtractiveCommon.filtFreq;
    const float before = cutoff.getValue();
    const std::string send = "oscsend 127.0.0.1 " + std::to_string(testsupport::oscPort()) + " /1/syn/filt_freq f 500";
    ASSERT_EQ(system(send.c_str()), 0);
    EXPECT_TRUE(testsupport::waitUntil([&] { return cutoff.getValue() != before; }));
    EXPECT_NE(cutoff.getValue(), before);
    EXPECT_FALSE(host::midiPortPeerName().empty());
    // The SSH setting is only recorded on this host, never run.
    EXPECT_EQ(Driver::network.sshRootLogin.value.load(), 0);
    EXPECT_NE(Driver::network.appliedSshRootLogin(), 1);
    // The display took the splash and the interface task keeps sending frames.
    const unsigned frames = host::board().oled().framesCompleted();
    play(48);
    EXPECT_GT(host::board().oled().framesCompleted(), frames);
    // The first converter's knobs set track 1's volume (mid-way: 5/6); the
    // second converter did not start, so track 4's volume keeps its value
    // and its track buttons are not read as pressed.
    EXPECT_NEAR(DSP::track[0].currentEngine()->trackVolume.getNormalised(), knobCurve(512.0f / 1023.0f), 0.01f);
    EXPECT_FLOAT_EQ(DSP::track[3].currentEngine()->trackVolume.getNormalised(),
                    SubtractiveCommon().trackVolume.getNormalised());
    // No phantom track button, no stop request.
    EXPECT_FALSE(Bela_stopRequested());
    EXPECT_EQ(GUI::currentTrack.load(), 0u);
}

// A start with restart brings a reset request to the clock's first edge;
// the track still sees that edge, so a pattern switch waiting for the next
// beat happens on it, not a beat later.
TEST_F(Instrument, ResetOnTheFirstEdgeStillAppliesTheWaitingPatternSwitch) {
    silenceClock();
    Track& track = DSP::track[0];
    track.sequencerImpl.slotSwitching.setValue(Track::OnNextBeat, true);
    tap(24);
    ASSERT_TRUE(DSP::mainClock.isRunning());
    host::panel().pressKey(4);  // pattern slot key held, slot key 30: slot 3
    play(6);
    tap(30);
    host::panel().releaseKey(4);
    tap(24);  // stopped; the switch still waits
    ASSERT_FALSE(DSP::mainClock.isRunning());
    ASSERT_EQ(track.pendingPattern.load(), 3);
    ASSERT_NE(track.sequencerImpl.pattern.value.load(), 3);

    host::panel().pressKey(0);  // with key 0: start with restart
    play(4);
    host::panel().pressKey(24);
    for (int i = 0; i < 40 && !DSP::mainClock.isRunning(); ++i)
        play(1);
    ASSERT_TRUE(DSP::mainClock.isRunning());
    play(2);  // the first edge falls four frames after the start
    EXPECT_EQ(track.sequencerImpl.pattern.value.load(), 3);
    EXPECT_EQ(track.pendingPattern.load(), -1);
    host::panel().releaseKey(24);
    host::panel().releaseKey(0);
    play(12);

    track.sequencerImpl.slotSwitching.setValue(Track::Direct, true);
    track.selectPattern(0, true);
    silenceClock();
}

// Last: it asks the platform to stop. Key 1 with key 23 opens the main
// menu, encoder 12 moves to "shutdown Corvane", key 3 chooses and confirms.
TEST_F(Instrument, ZMainMenuShutdownSetsTheExitCode) {
    silenceClock();
    chord({1}, 23, 4, 12);
    ASSERT_EQ(Driver::instrument.menuState.load(), InstrumentState::kMenuOpen);
    ASSERT_EQ(Driver::listSelection.title(), "Corvane 0.1.30");
    turn(12, 5);  // ten steps, five to an entry
    EXPECT_EQ(Driver::listSelection.cursor.value.load(), 2);
    tap(3);
    play(24);
    ASSERT_EQ(Driver::instrument.menuState.load(), InstrumentState::kMenuConfirm);
    EXPECT_FALSE(Bela_stopRequested());
    tap(3);
    play(24);
    EXPECT_EQ(Driver::returnCode, 3);
    EXPECT_TRUE(Bela_stopRequested());
    Driver::returnCode = 0;  // a quick farewell for the rest of the run
}

}  // namespace

