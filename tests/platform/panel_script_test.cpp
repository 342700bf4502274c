#include "platform/Audio.h"
#include "platform/Stepped.h"
#include "platform/devices/PanelScript.h"
#include "tests/support/midi_panel_run.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

using host::PanelEvent;

namespace {

TEST(PanelScript, ParsesEventsInBlockOrderWithCommentsAndClicks) {
    std::vector<PanelEvent> events;
    std::string error;
    ASSERT_TRUE(host::parsePanelScript("# a run\n"
                                       "100 key 59 up\n"
                                       "\n"
                                       "  20 encoder 31 turn -3   # back three\n"
                                       "20 key 0 down\n"
                                       "50 encoder 4 push\n"
                                       "60 encoder 5 push down\n"
                                       "61 encoder 5 push up\n",
                                       events, error))
        << error;
    ASSERT_EQ(events.size(), 7u);
    auto is = [](const PanelEvent& e, uint64_t block, PanelEvent::Kind kind, uint32_t index) {
        return e.block == block && e.kind == kind && e.index == index;
    };
    EXPECT_TRUE(is(events[0], 20, PanelEvent::EncoderTurn, 31));
    EXPECT_EQ(events[0].detents, -3);
    EXPECT_TRUE(is(events[1], 20, PanelEvent::KeyDown, 0));
    EXPECT_TRUE(is(events[2], 50, PanelEvent::PushDown, 4));
    EXPECT_TRUE(is(events[3], 58, PanelEvent::PushUp, 4));
    EXPECT_TRUE(is(events[4], 60, PanelEvent::PushDown, 5));
    EXPECT_TRUE(is(events[5], 61, PanelEvent::PushUp, 5));
    EXPECT_TRUE(is(events[6], 100, PanelEvent::KeyUp, 59));
}

TEST(PanelScript, RejectsBadLinesNamingTheLineAndKeepsNothing) {
    const std::pair<const char*, const char*> bad[] = {
        {"1 key 60 down\n", "line 1: key number"},
        {"1 key 3 down\n2 encoder 32 turn 1\n", "line 2: encoder number"},
        {"-5 key 1 down\n", "line 1: a block number"},
        {"4611686018427387905 key 1 down\n", "line 1: block number 4611686018427387905 is too large"},
        {"99999999999999999999999 key 1 down\n", "line 1: block number 99999999999999999999999 is too large"},
        {"1 key 1\n", "line 1: expected"},
        {"1 encoder 2 turn 1.5\n", "line 1: turn needs"},
        {"1 encoder 2 spin 1\n", "line 1: expected"},
        {"1 knob 2 turn 1\n", "line 1: unknown event \"knob\""},
        {"1 track 0 down\n", "line 1: track number"},
        {"1 key 3 down\n2 track 6 up\n", "line 2: track number"},
        {"1 track 2 press\n", "line 1: expected"},
    };
    for (auto& [text, message] : bad) {
        std::vector<PanelEvent> events{PanelEvent{}};
        std::string error;
        EXPECT_FALSE(host::parsePanelScript(text, events, error)) << text;
        EXPECT_EQ(error.rfind(message, 0), 0u) << text << " -> " << error;
        EXPECT_EQ(events.size(), 1u) << "the caller's events stay as they were";
    }
}

// Counts beyond the 64-bit block counter are refused like other bad numbers,
// not converted (an out-of-range conversion is undefined).
TEST(PanelScript, HugeStopCountsAreRefused) {
    const std::pair<const char*, const char*> cases[] = {
        {"--blocks", "1e20"}, {"--blocks", "1e30"}, {"--blocks", "18446744073709551616"}, {"--seconds", "1e30"},
        {"--seconds", "3e16"}};
    for (auto [option, value] : cases) {
        const char* argv[] = {"corvane", option, value, nullptr};
        BelaInitSettings settings;
        optind = 1;
        testing::internal::CaptureStderr();
        EXPECT_EQ(Bela_getopt_long(3, const_cast<char* const*>(argv), "", nullptr, &settings), '?') << option << value;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(std::string(option) + " needs a"), std::string::npos) << err;
    }
    const char* argv[] = {"corvane", "--blocks", "1e19", nullptr};
    BelaInitSettings settings;
    optind = 1;
    EXPECT_EQ(Bela_getopt_long(3, const_cast<char* const*>(argv), "", nullptr, &settings), -1);
    EXPECT_EQ(settings.stopAfterBlocks, 10000000000000000000ull);
}

TEST(PanelScript, HostOptionsCarryThePortAndTheScript) {
    const char* argv[] = {"corvane", "--panel-script", "/tmp/panel.txt", "--midi-port", "/dev/pts/9", nullptr};
    BelaInitSettings settings;
    optind = 1;
    EXPECT_EQ(Bela_getopt_long(5, const_cast<char* const*>(argv), "", nullptr, &settings), -1);
    EXPECT_EQ(settings.panelScript, "/tmp/panel.txt");
    EXPECT_EQ(settings.midiPort, "/dev/pts/9");
}

std::string writeScript(const std::string& name, const std::string& text) {
    std::string path = testsupport::tempDir() + name;
    std::ofstream(path) << text;
    return path;
}

TEST(PanelScript, ARunPlaysTheScriptThroughTheScanner) {
    std::string path = writeScript("panel-play.txt",
                                   "10 key 7 down\n"
                                   "40 key 7 up\n"
                                   "50 encoder 20 turn 2\n"
                                   "80 encoder 3 push\n");
    paneltest::PanelRun run;
    ASSERT_TRUE(run.start(testsupport::tempDir() + "panel-script-root", path));
    host::stepBlocks(120);
    run.stop();
    std::vector<std::string> seen;
    for (auto& e : run.events) {
        if (e.block < 6)
            continue;  // the chains answer from the second block on
        switch (e.kind) {
        case paneltest::PanelEventSeen::KeyDown: seen.push_back("down " + std::to_string(e.index)); break;
        case paneltest::PanelEventSeen::KeyRepeat: seen.push_back("repeat " + std::to_string(e.index)); break;
        case paneltest::PanelEventSeen::Step:
            seen.push_back("step " + std::to_string(e.index) + " " + std::to_string(e.step));
            break;
        case paneltest::PanelEventSeen::PushEdge: seen.push_back("push " + std::to_string(e.index)); break;
        }
        if (e.kind == paneltest::PanelEventSeen::KeyDown) {
            EXPECT_GE(e.block, 10u);
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"down 7", "step 20 1", "step 20 1", "step 20 1", "step 20 1",
                                              "push 3"}));
}

TEST(PanelScript, ABadScriptStopsTheRunFromStarting) {
    std::string path = writeScript("panel-bad.txt", "10 key 70 down\n");
    paneltest::PanelRun run;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(run.start(testsupport::tempDir() + "panel-bad-root", path));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("panel-bad.txt: line 1: key number"), std::string::npos) << err;
    EXPECT_FALSE(run.start(testsupport::tempDir() + "panel-bad-root", testsupport::tempDir() + "no-such-script.txt"));
    // A folder is no script of no events.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(run.start(testsupport::tempDir() + "panel-bad-root", testsupport::tempDir()));
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("is a folder, not a script file"), std::string::npos) << err;
    run.stop();
}

}  // namespace
