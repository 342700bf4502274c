// Modulators and MIDI learn as the player reaches them: the parameter menu
// opened from the panel, the modulator page's encoders, CCs through the MIDI
// pseudo-terminal, notes from the panel keyboard, the sound at the outputs.
#include "effects/EffectChain.h"
#include "engines/SynthVoiceCommon.h"
#include "gui/ListSelect.h"
#include "instrument/files/FileTargets.h"
#include "instrument/files/PartFile.h"
#include "instrument/files/ProjectFolder.h"
#include "instrument/track/Track.h"

#include "tests/support/stepped_instrument.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kFrames = testsupport::kBlockFrames;
constexpr uint32_t kWindow = 256;  // frames per feature value

class ModulationReach : public testsupport::SteppedInstrument {
protected:
    void SetUp() override { start({.root = "modulation-root", .sendKnobDown = false, .config = false}); }

    static Track& track() { return DSP::track[0]; }
    static SynthVoiceCommon& engine() { return *track().currentEngine(); }

    static void sendMidi(std::initializer_list<uint8_t> bytes) {
        SteppedInstrument::sendMidi(bytes);
        play(24);
    }
    // The engine page's encoder of a parameter, by name.
    static uint32_t engineEncoder(const std::string& name) {
        for (uint32_t i = 0; i < 12; ++i)
            if (Parameter* p = engine().exposedParameters[i].load(); p && p->name == name)
                return Track::kFirstEngineEncoder + i;
        ADD_FAILURE() << "no " << name << " on the engine page";
        return 0;
    }
    static void learn(uint32_t encoder, uint8_t cc) {
        openMenu(encoder);
        choose("add MIDI mapping");
        ASSERT_EQ(track().menuState.load(), uint32_t(Track::MenuLearn));
        sendMidi({0xB0, cc, 64});
        tap(3);
        waitFor([] { return track().menuState.load() == Track::MenuIdle; });
    }
    static std::vector<std::string> slotNames() {
        std::vector<std::string> names;
        for (size_t i = 0; i < track().slot.choiceCount(); ++i)
            names.push_back(track().slot.choiceName(int32_t(i)));
        return names;
    }

    // The level of each window: the note holds, so it follows the control.
    static std::vector<double> levels(const std::vector<float>& s) {
        std::vector<double> out;
        for (size_t w = 0; w + kWindow <= s.size(); w += kWindow) {
            double x = 0;
            for (size_t i = w; i < w + kWindow; ++i)
                x += double(s[i]) * s[i];
            out.push_back(std::sqrt(x / kWindow));
        }
        return out;
    }
    // The series' period in windows: the first autocorrelation peak after
    // its first fall below zero; 0 when there is none.
    static double period(const std::vector<double>& v) {
        double mean = 0;
        for (double x : v)
            mean += x;
        mean /= double(v.size());
        auto r = [&](size_t lag) {
            double s = 0, n = 0;
            for (size_t i = 0; i + lag < v.size(); ++i) {
                s += (v[i] - mean) * (v[i + lag] - mean);
                n += (v[i] - mean) * (v[i] - mean);
            }
            return n > 0 ? s / n : 0.0;
        };
        size_t lag = 1;
        while (lag < v.size() / 2 && r(lag) > 0)
            ++lag;
        size_t best = 0;
        double peak = 0.2;
        for (; lag < v.size() / 2; ++lag) {
            const double c = r(lag);
            if (c > peak) {
                peak = c, best = lag;
            } else if (best != 0 && c < peak - 0.2) {
                break;
            }
        }
        return double(best);
    }

    // Holds of envelopes 1 and 2 long (key 0 with encoder 30 moves them all),
    // so one note sounds for seconds.
    static void longNotes() {
        host::panel().pressKey(0);
        play(12);
        turn(30, 70);
        host::panel().releaseKey(0);
        play(12);
    }

    // A note from the panel keyboard; returns the period of its level over
    // three seconds, in blocks.
    static double notePeriod() {
        tap(39);
        play(50);
        const double windows = period(levels(play(2250)));
        return windows * double(kWindow) / double(kFrames);
    }
};

TEST_F(ModulationReach, AnLfoRunsAtOneSpeedOnTheMixAndOnTheCutoff) {
    longNotes();
    ASSERT_GE(engine().envHold[0].getValue(), 4000.0f);
    ASSERT_GE(engine().envHold[1].getValue(), 4000.0f);

    const uint32_t mix = engineEncoder("1/2 mix");
    addModulator(mix, "LFO");
    turn(31, 100);  // amount
    ASSERT_EQ(track().modulation.size(), 1u);
    ASSERT_GE(track().modulation.list()->at(0)->amount.getValue(), 0.5f);
    const double onMix = notePeriod();

    openMenu(mix);
    choose("remove modulator");
    choose("LFO");
    ASSERT_EQ(track().modulation.size(), 0u);
    addModulator(engineEncoder("filt freq"), "LFO");
    turn(31, 100);
    ASSERT_EQ(track().modulation.size(), 1u);
    const double onCutoff = notePeriod();

    // 1 Hz: 750 blocks a cycle, on either control.
    EXPECT_NEAR(onCutoff, 750.0, 75.0);
    EXPECT_NEAR(onMix, onCutoff, 0.1 * onCutoff);
}

TEST_F(ModulationReach, DeletingAModulatorDeletesTheModulatorsOnItsControls) {
    const std::vector<std::string> envelopes = slotNames();
    const uint32_t cutoff = engineEncoder("filt freq");
    addModulator(cutoff, "LFO");
    addModulator(29, "offset");  // on the LFO's frequency
    ASSERT_EQ(track().modulation.size(), 2u);
    ASSERT_EQ(slotNames().size(), envelopes.size() + 2);

    openMenu(cutoff);
    choose("remove modulator");
    choose("LFO");
    play(750);
    EXPECT_EQ(track().modulation.size(), 0u);
    EXPECT_EQ(slotNames(), envelopes);
}

TEST_F(ModulationReach, LearntEffectAndModulatorControlsFollowTheirControllersAlsoAfterALoad) {
    // The chain's "stereo" at 20 % movement, mapped to CC 21.
    tap(22);
    ASSERT_TRUE(track().effectPageShown.load());
    Parameter* movement = track().effectChain.getParameter(16);
    ASSERT_NE(movement, nullptr);
    ASSERT_EQ(movement->name, "movement");
    learn(16, 21);
    sendMidi({0xB0, 21, 127});
    EXPECT_EQ(movement->toString(), "100.0 %");
    sendMidi({0xB0, 21, 0});
    EXPECT_EQ(movement->toString(), "0.0 %");

    // An LFO's amount, mapped to CC 22.
    tap(22);
    ASSERT_FALSE(track().effectPageShown.load());
    addModulator(engineEncoder("filt freq"), "LFO");
    learn(31, 22);
    ASSERT_EQ(track().modulation.size(), 1u);
    Parameter& amount = track().modulation.list()->at(0)->amount;
    ASSERT_EQ(amount.toString(), "0.0 %");
    sendMidi({0xB0, 22, 127});
    EXPECT_EQ(amount.toString(), "100.0 %");

    // Saved with their groups: back after the instrument is loaded again.
    const std::string path = "/home/corvane/reach.inst";
    ASSERT_EQ(saveByFileType(path, FileTypeInstrument, *fileTargets().tracks[0], true, false), SaveSuccess);
    ASSERT_EQ(readFile(path, *fileTargets().tracks[0], false), LoadSuccess);
    play(24);
    movement = track().effectChain.getParameter(16);
    ASSERT_NE(movement, nullptr);
    ASSERT_EQ(track().modulation.size(), 1u);
    Parameter& loaded = track().modulation.list()->at(0)->amount;
    sendMidi({0xB0, 21, 127});
    sendMidi({0xB0, 22, 0});
    EXPECT_EQ(movement->toString(), "100.0 %");
    EXPECT_EQ(loaded.toString(), "0.0 %");
}

TEST_F(ModulationReach, ALoadEndsALearnWhoseControlItFreed) {
    const std::string path = "/home/corvane/plain.inst";
    ASSERT_EQ(saveByFileType(path, FileTypeInstrument, *fileTargets().tracks[0], true, false), SaveSuccess);
    addModulator(engineEncoder("filt freq"), "LFO");
    openMenu(31);
    choose("add MIDI mapping");
    ASSERT_EQ(track().menuState.load(), uint32_t(Track::MenuLearn));

    ASSERT_EQ(readFile(path, *fileTargets().tracks[0], false), LoadSuccess);
    ASSERT_EQ(track().modulation.size(), 0u);
    play(48);  // drawn
    sendMidi({0xB0, 23, 64});
    tap(3);
    EXPECT_EQ(track().menuState.load(), uint32_t(Track::MenuIdle));
    EXPECT_TRUE(engine().parameters.midiMappings()->empty());
}

TEST_F(ModulationReach, TheSlotListFollowsAChainChangedBetweenTwoFrames) {
    const std::vector<std::string> envelopes = slotNames();
    EffectChain& chain = track().effectChain;
    lfoOnAFilterFirstInTheChain(track());
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(slotNames().size(), envelopes.size() + 1);
    tap(22);  // the effect page again: adding the LFO left it
    ASSERT_TRUE(track().effectPageShown.load());

    // Another effect in its place between two frames, as a loader or the
    // OSC router does it.
    ASSERT_TRUE(chain.removeEffect(0));
    ASSERT_TRUE(chain.insertEffect(AudioEffectType::Delay, 0));
    play(48);
    EXPECT_EQ(track().modulation.size(), 0u);
    EXPECT_EQ(slotNames(), envelopes);
}

}  // namespace
