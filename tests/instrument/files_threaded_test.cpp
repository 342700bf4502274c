// Part files loaded into a track from another thread while the audio thread
// runs the track's per-block work: the track is held busy over each load.
#include "tests/support/realtime_stepped.h"
#include "tests/support/wait.h"
#include "instrument/files/FileTargets.h"
#include "instrument/files/PartFile.h"
#include "instrument/files/ProjectFolder.h"
#include "instrument/Wiring.h"
#include "instrument/track/Track.h"
#include "platform/Audio.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <chrono>
#include <thread>

namespace {

std::atomic<long> gBlocks{0};
std::atomic<bool> gBadEngine{false};

void loadRender(BelaContext*, void*) {
    Track& t = DSP::track[0];
    t.blockUpdate();
    t.engineTick();
    SynthVoiceCommon* e = t.currentEngine();
    if (e != &t.noneCommon && e != &t.subtractiveCommon)
        gBadEngine = true;
    gBlocks.fetch_add(1);
}

// Track 2 as the audio thread meets it: FM on with "1 attack" at its default
// is a part heard half loaded.
std::atomic<long> gHalfLoaded{0};
std::atomic<long> gFmBlocks{0};

void fmRender(BelaContext*, void*) {
    Track& t = DSP::track[1];
    t.blockUpdate();
    if (!t.isBusy() && t.currentEngine() == &t.fmCommon) {
        gFmBlocks.fetch_add(1);
        if (t.fmCommon.envAttack[0].getValue() != 500.0f)
            gHalfLoaded.fetch_add(1);
    }
    gBlocks.fetch_add(1);
}

}  // namespace

// Through the targets the instrument installs at start.
TEST(FilesThreaded, PartLoadedWhilePlayingIsNeverHeardHalfLoaded) {
    wireInstrument();
    Track& t = DSP::track[1];
    t.setup();
    ASSERT_TRUE(testsupport::startStepped(fmRender, "files-fm-root"));
    TrackFiles& target = *fileTargets().tracks[1];
    ASSERT_TRUE(target.setSynthesisName("FM"));
    target.applySynthesis();
    t.fmCommon.envAttack[0].setValue(500.0f, false);
    ASSERT_EQ(saveByFileType("/home/corvane/fm.inst", FileTypeInstrument, target, true, false), SaveSuccess);
    t.resetSynthesis(true);
    ASSERT_NE(t.currentEngine(), &t.fmCommon);

    testsupport::SteppingAudio audio;
    testing::internal::CaptureStdout();
    int failed = 0;
    for (int round = 0; round < 100; ++round) {
        const long seen = gBlocks.load();
        failed += readFile("/home/corvane/fm.inst", target, false) != LoadSuccess;
        ASSERT_TRUE(testsupport::waitUntil([&] { return gBlocks.load() >= seen + 2; }));
    }
    audio.stop();
    testing::internal::GetCapturedStdout();
    Bela_cleanupAudio();
    EXPECT_EQ(failed, 0);
    EXPECT_GT(gFmBlocks.load(), 0);
    EXPECT_EQ(gHalfLoaded.load(), 0) << "of " << gFmBlocks.load() << " blocks with FM on";
    EXPECT_FALSE(t.isBusy());
    fileTargets() = instrumentFileTargets();  // as the process began
}

TEST(FilesThreaded, PartFilesLoadWhileTheAudioThreadRunsTheTrack) {
    wireInstrument();
    Track& t = DSP::track[0];
    t.setup();
    ASSERT_TRUE(testsupport::startStepped(loadRender, "files-threaded-root"));
    TrackFiles& target = *fileTargets().tracks[0];
    // Parts to load: the track as it is, the same with no engine, a sequencer, a bad file.
    ASSERT_EQ(saveByFileType("/home/corvane/sub.inst", FileTypeInstrument, target, true, false), SaveSuccess);
    ASSERT_EQ(saveByFileType("/home/corvane/t.seq", FileTypeSequencer, target, true, false), SaveSuccess);
    t.synthesis.setValue(0, false);
    t.applySynthesis();
    ASSERT_EQ(saveByFileType("/home/corvane/none.inst", FileTypeInstrument, target, true, false), SaveSuccess);
    {
        std::ofstream bad(host::hostPath("/home/corvane/bad.inst"));
        bad << R"({"synthesis": {"synth engine": "subtractive"}, "effects": [{"AudioEffectType": 3}]})";
    }
    testsupport::SteppingAudio audio;
    testing::internal::CaptureStdout();
    const char* parts[] = {"/home/corvane/sub.inst", "/home/corvane/t.seq", "/home/corvane/none.inst",
                           "/home/corvane/bad.inst"};
    const LoadResult expected[] = {LoadSuccess, LoadSuccess, LoadSuccess, LoadInterpretFailed};
    int wrong = 0;
    for (int round = 0; round < 200; ++round) {
        const long seen = gBlocks.load();
        wrong += readFile(parts[round % 4], target, false) != expected[round % 4];
        t.serviceRequests();
        ASSERT_TRUE(testsupport::waitUntil([&] { return gBlocks.load() >= seen + 3; }));
    }
    ASSERT_EQ(readFile("/home/corvane/sub.inst", target, false), LoadSuccess);
    const long last = gBlocks.load();
    ASSERT_TRUE(testsupport::waitUntil([&] { return gBlocks.load() >= last + 50; }));
    audio.stop();
    testing::internal::GetCapturedStdout();
    Bela_cleanupAudio();
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(gBlocks.load(), last + 40);
    EXPECT_FALSE(gBadEngine.load());
    EXPECT_FALSE(t.isBusy());
    EXPECT_EQ(t.currentEngine(), &t.subtractiveCommon);
    EXPECT_EQ(t.effectChain.effectCount(), 1u);
    fileTargets() = instrumentFileTargets();  // as the process began
}
