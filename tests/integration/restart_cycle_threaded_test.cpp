// The whole stepped instrument set up, used, cleaned up and set up again in
// one process: the second run's workers (sample worker, grain look-up,
// preview loader), its OSC receiver and its pages are its own, and a
// granular track plays its sample list after the second set-up.
#include "connectivity/Network.h"
#include "instrument/InstrumentState.h"
#include "instrument/files/FileTargets.h"
#include "instrument/files/PartFile.h"
#include "instrument/track/Track.h"
#include "instrument/voices/VoiceManager.h"
#include "samples/AudioResourcePool.h"
#include "samples/SamplePreview.h"

#include "tests/support/sound_file.h"
#include "tests/support/stepped_instrument.h"

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr const char* kSample = "/home/corvane/samples/a-sine.wav";
constexpr const char* kInstrument = "/home/corvane/samples/grain.inst";

class RestartCycle : public testsupport::SteppedInstrument {
protected:
    // A list of its own in each run: no answer of the first run serves the second.
    static void sampleFiles(const std::string& root, const std::string& list) {
        host::makeFolders(root + "/samples");
        std::vector<float> s(48000);
        for (size_t i = 0; i < s.size(); ++i)
            s[i] = float(0.3 * std::sin(2.0 * M_PI * 440.0 * double(i) / 48000.0));
        ASSERT_TRUE(testsupport::writeSound(root + "/samples/a-sine.wav", s));
        std::ofstream(root + "/samples/grain.inst")
            << "{\"synthesis\": {\"synth engine\": \"granular\", \"samples\": {\"value\": \"" << list << "\"}},"
               " \"sample groups\": {\"" << list << "\": [{\"sample\": \"" << kSample << "\"}]}}\n";
    }
    // Every output channel of `blocks` blocks finite; the RMS of the main pair.
    static double playFinite(uint32_t blocks) {
        const BelaContext* c = host::context();
        size_t broken = 0;
        std::vector<float> main;
        for (uint32_t b = 0; b < blocks; ++b) {
            host::stepBlocks(1);
            for (uint32_t i = 0; i < testsupport::kBlockFrames * c->audioOutChannels; ++i)
                broken += std::isfinite(c->audioOut[i]) ? 0 : 1;
            for (uint32_t f = 0; f < testsupport::kBlockFrames; ++f)
                main.push_back(c->audioOut[f * c->audioOutChannels] + c->audioOut[f * c->audioOutChannels + 1]);
        }
        EXPECT_EQ(broken, 0u);
        return rms(main);
    }
};

TEST_F(RestartCycle, SecondSetUpHasItsOwnWorkersAndPlaysAGranularTrack) {
    size_t pages = 0, trackPages = 0;
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run + 1));
        const std::string list = "grains-" + std::to_string(run + 1);
        ASSERT_NO_FATAL_FAILURE(start({.root = "restart-" + std::to_string(run),
                                       .files = [&list](const std::string& root) { sampleFiles(root, list); }}));
        EXPECT_GT(Driver::network.receivingPort(), 0);
        // The run's own block count: the panel's start-up guard applies again.
        EXPECT_EQ(Driver::instrument.blockCounter.load(), host::blocksRendered());
        if (run == 0) {
            pages = Driver::instrument.settingsPage.groups.size();
            trackPages = DSP::track[0].settingsPages.groups.size();
        }
        EXPECT_EQ(Driver::instrument.settingsPage.groups.size(), pages);
        EXPECT_EQ(DSP::track[0].settingsPages.groups.size(), trackPages);

        // The browser's way of opening an instrument: the list is loaded and
        // analysed by the sample worker, which tells the grain look-up.
        ASSERT_EQ(readFile(kInstrument, *fileTargets().tracks[0], false), LoadSuccess);
        ASSERT_EQ(DSP::track[0].synthesis.toString(), "granular");
        waitFor([&list] {
            const auto group = DSP::audioPool.sharedGroup(list);
            return group && !group->dirty.load() && group->features() != nullptr;
        });
        ASSERT_NE(DSP::audioPool.sharedGroup(list), nullptr);
        ASSERT_NE(DSP::audioPool.sharedGroup(list)->features(), nullptr);
        if (run == 0) {
            // The preview loader, and a modulator on a track effect.
            DSP::samplePreviewer.play(kSample);
            EXPECT_GT(playFinite(100), 0.01);
            DSP::samplePreviewer.stop();
            lfoOnAFilterFirstInTheChain(DSP::track[0]);
            playFinite(100);
        }
        DSP::track[0].midiNoteIn.setValue(1, true);
        sendMidi({0x90, 60, 100});
        EXPECT_GT(playFinite(750), 0.005);
        // Heard from this run's list: the look-up has answered for it.
        bool answered = false;
        for (uint32_t v = 0; v < GrainLookup::kVoices; ++v)
            answered = answered || list == DSP::voiceManager.grains.answeredRequest(v).name;
        EXPECT_TRUE(answered);
        sendMidi({0x80, 60, 0});
        playFinite(750);
        stop();
    }
}

// A key still down when a run ends leaves no voice for the next set-up.
TEST_F(RestartCycle, ANoteHeldAtTheEndIsNotHeardInTheNextRun) {
    ASSERT_NO_FATAL_FAILURE(start({.root = "held-note"}));
    host::panel().pressKey(30);
    EXPECT_GT(rms(play(100)), 0.005);
    stop();
    ASSERT_NO_FATAL_FAILURE(start({.root = "after-held-note"}));
    EXPECT_EQ(DSP::voiceManager.activeVoiceCount(), 0u);
    EXPECT_EQ(rms(play(100)), 0.0);
}

}  // namespace
