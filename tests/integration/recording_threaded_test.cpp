// A recording of a track taken from the sample-lists page of the whole
// stepped instrument, while another thread loads a part into that track.
#include "gui/Confirm.h"
#include "gui/GuiEditor.h"
#include "gui/ListSelect.h"
#include "instrument/files/FileTargets.h"
#include "instrument/files/PartFile.h"
#include "instrument/files/ProjectFolder.h"
#include "instrument/track/Track.h"
#include "platform/Paths.h"
#include "samples/AudioResourcePool.h"
#include "samples/DiskRecorder.h"

#include "tests/support/Shell.h"
#include "tests/support/stepped_instrument.h"

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

namespace {

constexpr int kAudioPoolKey = 21;
constexpr int kEditKey = 1;
constexpr int kAcceptKey = 3;
constexpr uint32_t kTrack2Source = 7;  // "track 2" in the "What to record?" list

// Steps blocks and counts those rendered while a recording ran.
struct Take {
    uint64_t recorded = 0;
    void step(uint32_t blocks = 1) {
        for (uint32_t b = 0; b < blocks; ++b) {
            if (Driver::audioRecorder.isRecording())
                ++recorded;
            host::stepBlocks(1);
        }
    }
    // The interface task draws at its own pace: a page takes keys again
    // once it has drawn after the last change.
    void settle() {
        const unsigned frames = host::board().oled().framesCompleted();
        for (int i = 0; i < 3000 && host::board().oled().framesCompleted() < frames + 2; ++i)
            step();
    }
    void tap(int key) {
        settle();
        host::panel().pressKey(uint32_t(key));
        step(12);
        host::panel().releaseKey(uint32_t(key));
        step(12);
    }
};

class RecordingThreaded : public testsupport::SteppedInstrument {};

TEST_F(RecordingThreaded, TrackRecordingHoldsEveryFramePlayedAlsoWithALoadDuringTheTake) {
    ASSERT_NO_FATAL_FAILURE(
        start({.root = "recording-root", .sendKnobDown = false, .project = nullptr, .midi = false}));
    Take take;

    // A part to load into track 2: FM with a slow attack.
    TrackFiles& track2 = *fileTargets().tracks[1];
    ASSERT_TRUE(track2.setSynthesisName("FM"));
    track2.applySynthesis();
    DSP::track[1].fmCommon.envAttack[0].setValue(500.0f, false);
    ASSERT_EQ(saveByFileType("/home/corvane/fm.inst", FileTypeInstrument, track2, true, false), SaveSuccess);
    DSP::track[1].resetSynthesis(true);

    take.tap(kAudioPoolKey);
    ASSERT_EQ(GUI::currentEditor.load(), &DSP::audioPool);
    take.tap(kEditKey);
    ASSERT_EQ(Driver::listSelection.items().front(), "record audio");
    take.tap(kAcceptKey);
    ASSERT_EQ(Driver::listSelection.title(), "What to record?");
    for (int i = 0; i < 400 && Driver::listSelection.cursor.value.load() < int32_t(kTrack2Source); ++i) {
        host::panel().turnEncoder(ListSelect::kEncoder, 1);
        while (host::panel().turnPending(ListSelect::kEncoder) != 0)
            take.step();
    }
    ASSERT_EQ(Driver::listSelection.cursor.value.load(), int32_t(kTrack2Source));
    take.tap(kAcceptKey);
    ASSERT_TRUE(Driver::audioRecorder.isRecording());
    const std::string path = Driver::audioRecorder.path();
    EXPECT_NE(path.find("TRK2"), std::string::npos) << path;

    // Loads on another thread, until blocks have run while track 2 was held.
    std::atomic<bool> enough{false}, loaded{false};
    std::atomic<int> failed{0};
    std::thread loader([&] {
        for (int i = 0; i < 5000 && !enough.load(); ++i)
            failed += readFile("/home/corvane/fm.inst", track2, false) != LoadSuccess;
        loaded = true;
    });
    testing::internal::CaptureStdout();
    uint32_t heldBlocks = 0;
    while (!loaded.load()) {
        heldBlocks += DSP::track[1].isBusy() ? 1 : 0;
        enough = heldBlocks >= 50;
        take.step();
    }
    loader.join();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(failed.load(), 0);
    EXPECT_GE(heldBlocks, 50u);
    take.step(50);

    take.tap(kEditKey);
    ASSERT_EQ(Driver::listSelection.items().front(), "stop recording");
    take.tap(kAcceptKey);
    for (int i = 0; i < 200 && Driver::audioRecorder.isRecording(); ++i)
        take.step();
    ASSERT_FALSE(Driver::audioRecorder.isRecording());
    for (int i = 0; i < 100 && Driver::audioRecorder.isFileOpen(); ++i)
        take.step();
    ASSERT_FALSE(Driver::audioRecorder.isFileOpen());
    take.tap(Confirm::kCancelKey);  // "Load ...?": no

    const std::string file = host::hostPath(path);
    ASSERT_TRUE(std::filesystem::exists(file)) << file;
    EXPECT_GT(take.recorded, 100u);
    EXPECT_EQ(testsupport::shellOutput("soxi -s '" + file + "' 2>&1"), std::to_string(take.recorded * 64) + "\n");
}

}  // namespace
