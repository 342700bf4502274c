// The real-time loop keeps time like a sound card with a 20 ms buffer: a
// render that stalls within the buffer is made up without an underrun, one
// that stalls past it counts exactly one.
#include "platform/Audio.h"
#include "platform/BlockPacer.h"

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"
#include "tests/support/wait.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Blocks whose render stalls, and for how long. A short stall is a quarter
// of the buffer; it is tried a few times, each well after the one before has
// been made up, because a busy machine may add a late wake-up of its own to
// any one of them. The long stall is twice the buffer: no luck makes it fit.
constexpr uint32_t kShortStallBlocks[] = {30, 70, 110, 150, 190};
constexpr auto kShortStall = 5ms;
constexpr uint32_t kLongStallBlock = 230;
constexpr auto kLongStall = 40ms;
constexpr uint32_t kBlocks = 260;

// Written by the audio thread, read once it has been joined.
uint32_t gUnderrunsAt[kBlocks + 1] = {};
uint32_t gBlock = 0;

bool pacingSetup(BelaContext*, void*) { return true; }

void stallingRender(BelaContext* context, void*) {
    const uint32_t block = gBlock++;
    if (block <= kBlocks)
        gUnderrunsAt[block] = context->underrunCount;
    for (uint32_t b : kShortStallBlocks)
        if (block == b)
            std::this_thread::sleep_for(kShortStall);
    if (block == kLongStallBlock)
        std::this_thread::sleep_for(kLongStall);
}

// Underruns counted right after block b was rendered: those of its stall.
uint32_t underrunsAfter(uint32_t b) { return gUnderrunsAt[b + 1] - gUnderrunsAt[b]; }

TEST(RealTimePacing, AStallWithinTheBufferCountsNoUnderrunAndOnePastItCountsOne) {
    static_assert(kShortStall < 20ms / 2 && kLongStall > 20ms * 3 / 2);
    ASSERT_EQ(host::BlockPacer::kBufferBlocks, 15u);  // 20 ms
    gBlock = 0;  // a repeat of the test starts counting afresh
    std::fill(std::begin(gUnderrunsAt), std::end(gUnderrunsAt), 0u);
    BelaInitSettings s;
    s.setup = pacingSetup;
    s.render = stallingRender;
    s.mode = HostMode::RealTime;
    s.stopAfterBlocks = kBlocks + 1;
    s.root = testsupport::tempDir() + "pacing-root";
    s.audioOutFile = testsupport::tempDir() + "pacing.wav";
    ASSERT_EQ(Bela_initAudio(&s, nullptr), 0);
    ASSERT_EQ(Bela_startAudio(), 0);
    ASSERT_TRUE(testsupport::waitUntil([] { return Bela_stopRequested() != 0; }));
    Bela_stopAudio();
    Bela_cleanupAudio();
    ASSERT_EQ(gBlock, kBlocks + 1);

    EXPECT_EQ(underrunsAfter(kLongStallBlock), 1u);
    // Counting every late block would count each short stall; a machine that
    // adds 15 ms to all five at once is not one that runs tests.
    uint32_t madeUp = 0;
    for (uint32_t b : kShortStallBlocks)
        madeUp += underrunsAfter(b) == 0 ? 1 : 0;
    EXPECT_GE(madeUp, 1u) << "every stall of a quarter of the buffer counted as an underrun";
}

}  // namespace
