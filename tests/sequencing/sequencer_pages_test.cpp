// The sequencer's part of the track page: lane keys, the lane encoders and
// the tick picture as a screenshot read back by netpbm.
#include "drivers/KeyDebouncer.h"
#include "gui/MonoGFX.h"
#include "gui/Screenshot.h"
#include "platform/Paths.h"
#include "sequencing/Corvane.h"
#include "sequencing/NoteManager.h"
#include "sequencing/PitchScale.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"

namespace {

class SequencerPages : public ::testing::Test {
protected:
    void SetUp() override {
        seq.setLinks({nullptr, nullptr, &notes, &scales});
        gfx.init(256, 64);
    }
    // Grey levels of the picture as netpbm reads the screenshot.
    std::vector<int> screenshot() {
        const std::string root = testsupport::tempDir() + "pages-root";
        EXPECT_TRUE(host::setRoot(root));
        EXPECT_TRUE(saveScreenshot("/home/corvane/", gfx.framebuffer(), false));
        std::istringstream in(testsupport::shellOutput("pnmtoplainpnm " + root + "/screenshot.pgm"));
        std::string magic;
        int w = 0, h = 0, max = 0;
        in >> magic >> w >> h >> max;
        EXPECT_EQ(magic, "P2");
        EXPECT_EQ(w, 256);
        EXPECT_EQ(h, 64);
        std::vector<int> v(size_t(w * h));
        for (int& x : v)
            in >> x;
        return v;
    }
    static int at(const std::vector<int>& v, int x, int y) { return v[size_t(y * 256 + x)]; }

    NoteManager notes;
    PitchScaleManager scales;
    Corvane seq;
    MonoGFX gfx;
};

}  // namespace

TEST_F(SequencerPages, LaneKeysToggleTheActivePatternSlotOnly) {
    ParameterInt& lane2 = seq.lanes[1].enabled;
    lane2.values[7] = 1;
    seq.group.selectSlot(3);
    seq.button(6, KeyDebouncer::kKeyDown);
    EXPECT_EQ(int32_t(lane2.values[3]), 1);
    EXPECT_TRUE(bool(lane2.overridden));
    seq.button(6, KeyDebouncer::kRepeat);  // repeats do nothing
    EXPECT_EQ(int32_t(lane2.values[3]), 1);
    seq.button(6, KeyDebouncer::kKeyDown);
    EXPECT_EQ(int32_t(lane2.values[3]), 0);
    EXPECT_EQ(int32_t(lane2.values[7]), 1);
    EXPECT_EQ(int32_t(lane2.values[0]), 0);
    seq.button(9, KeyDebouncer::kKeyDown);
    for (const PulseLane& l : seq.lanes)
        EXPECT_EQ(int32_t(l.enabled.values[3]), 0);
}

TEST_F(SequencerPages, LaneChoiceRebindsTheLaneEncoders) {
    Corvane::EncoderPlaces places{};
    Parameter* choice = &seq.laneChoice;
    places[12] = choice;
    seq.laneChoice.setValue(2, false);
    seq.bindLaneParameters(places);
    const PulseLane& l = seq.lanes[2];
    const std::vector<const Parameter*> expected = {&l.interval, &l.offset, &l.octave, &l.reset, choice,
                                                    &l.noteSel, &l.randTime, &l.swing};
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(places[8 + i].load(), expected[i]) << i;
}

TEST_F(SequencerPages, PatternViewShowsThePresentAndTheNewestPulse) {
    seq.lanes[0].enabled.setValue(1, false);
    seq.resetHistory.push(0);
    seq.windowHistory.push(1);
    seq.lanes[0].history.push(3);
    for (int l = 1; l < Corvane::kLanes; ++l)
        seq.lanes[size_t(l)].history.push(PulseLane::kNoPulse);
    notes.setList(0, NoteList{});
    seq.draw(gfx, 0, 2);
    const auto v = screenshot();
    for (int y = 3; y <= 19; ++y)
        EXPECT_EQ(at(v, 144, y), 4) << y;
    for (int y = 4; y <= 6; ++y)
        EXPECT_EQ(at(v, 142, y), 15) << y;
    EXPECT_EQ(at(v, 142, 9), 2);   // lane 1, no pulse, disabled
    EXPECT_EQ(at(v, 140, 5), 2);   // an older tick outside the window
    EXPECT_EQ(at(v, 142, 0), 0);   // no reset drawn

    // The lane table of the same picture: lane 1's pulse as a bar at x 142.
    gfx.clear();
    seq.draw(gfx, 0, 9);
    for (int y = 10; y <= 14; ++y)
        EXPECT_EQ(gfx.pixel(142, y), 15u) << y;
    EXPECT_EQ(gfx.pixel(142, 21), 2u);  // lane 2 at its centre - 2
    // Anything past 15 draws nothing.
    gfx.clear();
    seq.draw(gfx, 0, 16);
    for (int x = 0; x < 256; ++x)
        ASSERT_EQ(gfx.pixel(x, 5), 0u);
}
