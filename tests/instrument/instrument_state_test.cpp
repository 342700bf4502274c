// The instrument's own state and the pure parts of its tasks: display clock
// codes, knob curve, the I/O task's clock, the editor requests of the block
// loop, and the main menu's flows.
#include "gui/Confirm.h"
#include "gui/GuiEditor.h"
#include "gui/ListSelect.h"
#include "instrument/EditorRequests.h"
#include "instrument/Entry.h"
#include "instrument/InstrumentState.h"
#include "instrument/Tasks.h"
#include "platform/Audio.h"
#include "platform/AuxiliaryTask.h"
#include "connectivity/Network.h"
#include "gui/FileBrowser.h"
#include "gui/Screensaver.h"
#include "selftest/SelfTest.h"
#include "instrument/voices/VoiceManager.h"
#include "samples/AudioRecorder.h"
#include "platform/Paths.h"
#include "tests/support/TempDir.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include <unistd.h>

#include <gtest/gtest.h>

namespace {

TEST(InstrumentState, DisplayClockCodes) {
    EXPECT_EQ(InstrumentState::oledClockCode(145), 0x0011u);
    EXPECT_EQ(InstrumentState::oledClockCode(160), 0x0000u);
    EXPECT_EQ(InstrumentState::oledClockCode(120), 0x0083u);
}

TEST(Tasks, KnobCurveAndMilliseconds) {
    EXPECT_FLOAT_EQ(knobCurve(0.25f), 0.75f);
    EXPECT_FLOAT_EQ(knobCurve(0.1f), 0.3f);
    EXPECT_FLOAT_EQ(knobCurve(1.0f), 1.0f);
    EXPECT_FLOAT_EQ(knobCurve(0.0f), 0.0f);
    // Exact to the millisecond far beyond where 32 bits of samples or a
    // float would have wrapped or rounded (a day and a half, a year).
    EXPECT_EQ(blockMilliseconds(750), 1000u);
    EXPECT_EQ(blockMilliseconds(3), 4u);
    const uint64_t dayAndHalf = 750ull * 3600 * 36;
    EXPECT_EQ(blockMilliseconds(dayAndHalf + 3), 3600ull * 36 * 1000 + 4);
    const uint64_t year = 750ull * 3600 * 24 * 365;
    EXPECT_EQ(blockMilliseconds(year), 3600ull * 24 * 365 * 1000);
}

// The block loop prints the text of the error a failed wake-up gives.
TEST(Tasks, FailedWakeUpGivesItsOwnErrorNumber) {
    EXPECT_EQ(Bela_scheduleAuxiliaryTask(nullptr), EINVAL);
    EXPECT_STREQ(strerrordesc_np(EINVAL), "Invalid argument");
}

// A page that counts what the focus does to it.
class CountingPage : public GuiEditor {
public:
    void encoder(int, int, bool) override {}
    void button(int, int) override {}
    void open() override { ++opens; }
    bool close() override { return true; }
    bool isOpen() override { return true; }
    void draw(MonoGFX&) override {}
    int opens = 0;
};

TEST(EditorRequests, CarriedOutByTheInterfaceTaskInOrderAndBounded) {
    ASSERT_EQ(GUI::currentEditor.load(), nullptr);
    // The block loop only posts: nothing opens until the interface task runs.
    EXPECT_TRUE(postEditorRequest(EditorRequest::InstrumentSettings));
    EXPECT_EQ(GUI::currentEditor.load(), nullptr);
    serviceEditorRequests();
    EXPECT_EQ(GUI::currentEditor.load(), &Driver::instrument.settingsPage);
    // The same key again toggles it closed.
    postEditorRequest(EditorRequest::InstrumentSettings);
    serviceEditorRequests();
    EXPECT_EQ(GUI::currentEditor.load(), nullptr);
    clearRedrawPending();

    // A burst beyond the queue is dropped, not overwritten: the first ones
    // are carried out, the surplus is counted.
    const uint32_t dropped = editorRequestsDropped();
    int accepted = 0;
    for (int i = 0; i < 40; ++i)
        accepted += postEditorRequest(EditorRequest::InstrumentSettings) ? 1 : 0;
    EXPECT_LT(accepted, 40);
    EXPECT_EQ(editorRequestsDropped() - dropped, uint32_t(40 - accepted));
    serviceEditorRequests();
    if (accepted % 2 == 1)
        GUI::closeEditor();
    EXPECT_EQ(GUI::currentEditor.load(), nullptr);
    clearRedrawPending();
}

TEST(MainMenu, ShutdownAskedAndAnsweredNoThenYes) {
    InstrumentState& state = Driver::instrument;
    Driver::returnCode = 0;
    auto choose = [&](int item) {
        state.openMainMenu();
        ASSERT_EQ(state.menuState.load(), InstrumentState::kMenuOpen);
        EXPECT_EQ(Driver::listSelection.title(), "Corvane 0.1.30");
        ASSERT_EQ(Driver::listSelection.items().size(), 5u);
        EXPECT_EQ(Driver::listSelection.items()[2], "shutdown Corvane");
        for (int i = 0; i < item * 5; ++i)  // five steps to an entry
            Driver::listSelection.encoder(ListSelect::kEncoder, 1, false);
        Driver::listSelection.key(ListSelect::kAcceptKey, 2);
        state.updateMenu();
    };
    choose(2);
    ASSERT_EQ(state.menuState.load(), InstrumentState::kMenuConfirm);
    state.updateMenu();  // nothing answered yet: waits
    EXPECT_EQ(state.menuState.load(), InstrumentState::kMenuConfirm);
    Driver::confirm.key(Confirm::kCancelKey, 2);
    state.updateMenu();
    EXPECT_EQ(state.menuState.load(), InstrumentState::kMenuIdle);
    EXPECT_EQ(Driver::returnCode, 0);  // "no": everything goes on

    choose(2);
    Driver::confirm.key(Confirm::kAcceptKey, 2);
    state.updateMenu();
    EXPECT_EQ(Driver::returnCode, 3);
    EXPECT_TRUE(Bela_stopRequested());

    Driver::returnCode = 0;
    choose(1);  // restart: exit code 0
    Driver::confirm.key(Confirm::kAcceptKey, 2);
    state.updateMenu();
    EXPECT_EQ(Driver::returnCode, 0);
}

}  // namespace

namespace {

// A recording whose writer closes the file only some time after the stop,
// as the disk writer does once it has drained its pipe.
class SlowWriter : public AudioRecorder {
public:
    bool start(const std::string&, uint32_t) override { return false; }
    void stop() override {
        writer_ = std::thread([this] {
            for (int i = 0; i < 200; ++i)
                std::this_thread::yield();
            open_.store(false);
        });
    }
    std::string fullPath(const std::string& path) const override { return path; }
    void pushInterleaved(const float*, uint32_t) override {}
    void pushBlock(const float*, uint32_t, uint32_t) override {}
    bool isRecording() const override { return open_.load(); }
    bool isFileOpen() const override { return open_.load(); }
    float level(uint32_t) const override { return 0.0f; }
    uint32_t blocksPushed() const override { return 0; }
    ~SlowWriter() override {
        if (writer_.joinable())
            writer_.join();
    }

private:
    std::atomic<bool> open_{true};
    std::thread writer_;
};

TEST(Cleanup, WaitsForTheRecordingFileToBeClosed) {
    // Clean-up saves the configuration: into a root of the test's own.
    const std::string root = testsupport::tempDir() + "cleanup";
    ASSERT_TRUE(host::setRoot(root));
    SlowWriter recorder;
    DSP::voiceManager.setRecorder(&recorder);
    BelaContext context;
    cleanup(&context, nullptr);
    EXPECT_FALSE(recorder.isFileOpen());  // closed before cleanup went on
    EXPECT_EQ(Driver::network.receivingPort(), 0);
    EXPECT_EQ(access((root + "/corvane.json").c_str(), F_OK), 0);
    DSP::voiceManager.setRecorder(nullptr);
}

}  // namespace
