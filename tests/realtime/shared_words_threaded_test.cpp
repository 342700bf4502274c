// Settings the interface task changes while the audio thread reads them are
// seen whole: a reader never meets half of one setting and half of another.
#include "connectivity/MidiMessage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

TEST(SharedWords, MidiFilterRangesAreSeenWhole) {
    MidiMessageFilter filter;
    filter.setTypes(MIDIMsgType::NoteOn);
    filter.setChannelRange(0, 3);
    filter.setNoteRange(0, 60);
    std::atomic<bool> stop{false};
    std::thread rebuild([&] {
        // Two channel ranges that both leave out channel 5, and two note
        // ranges that both leave out note 64.
        while (!stop.load(std::memory_order_relaxed)) {
            filter.setChannelRange(8, 11);
            filter.setNoteRange(70, 127);
            filter.setChannelRange(0, 3);
            filter.setNoteRange(0, 60);
        }
    });
    uint64_t wrong = 0;
    const MidiMessage outside{uint32_t(MIDIMsgType::NoteOn), 5, 30, 100};
    const MidiMessage offNote{uint32_t(MIDIMsgType::NoteOn), 1, 64, 100};
    const MidiMessage inside{uint32_t(MIDIMsgType::NoteOn), 10, 100, 100};
    for (int round = 0; round < 1000000; ++round) {
        wrong += filter.matches(outside) ? 1 : 0;
        wrong += filter.matches(offNote) ? 1 : 0;
    }
    stop = true;
    rebuild.join();
    EXPECT_EQ(wrong, 0u);
    EXPECT_FALSE(filter.matches(inside));  // the last ranges: channels 0..3, notes 0..60
    filter.setChannelRange(8, 11);
    filter.setNoteRange(70, 127);
    EXPECT_TRUE(filter.matches(inside));
}

}  // namespace
