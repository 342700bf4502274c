#include "platform/Audio.h"
#include "platform/Stepped.h"
#include "platform/devices/PanelSimulator.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Drives the encoder chains' lines by hand: load low on frame 0 of the
// blocks that ask for it, clock high on even frames; records data pin 5.
struct Lines {
    bool driveLoad = true;
    std::vector<std::vector<int>> pin5;  // per block, per frame
};
Lines* gLines = nullptr;

bool linesSetup(BelaContext* c, void*) {
    for (uint32_t f = 0; f < c->digitalFrames; ++f) {
        if (gLines->driveLoad)
            pinModeFrame(c, f, 8, false);
        pinModeFrame(c, f, 1, false);
    }
    return true;
}

void linesRender(BelaContext* c, void*) {
    std::vector<int> block;
    for (uint32_t f = 0; f < c->digitalFrames; ++f) {
        block.push_back(digitalReadFrame(c, f, 5));
        digitalWriteFrame(c, f, 1, f % 2 == 0);
        digitalWriteFrame(c, f, 8, f != 0);
    }
    gLines->pin5.push_back(block);
}

class PanelPins : public ::testing::Test {
protected:
    void start() {
        gLines = &lines;
        BelaInitSettings settings;
        settings.setup = linesSetup;
        settings.render = linesRender;
        settings.mode = HostMode::Stepped;
        settings.root = testing::TempDir() + "panel-pins-root";
        ASSERT_EQ(Bela_initAudio(&settings, nullptr), 0);
        ASSERT_EQ(Bela_startAudio(), 0);
    }
    void TearDown() override {
        Bela_cleanupAudio();
        gLines = nullptr;
    }
    Lines lines;
};

TEST_F(PanelPins, BitsAnswerTheLoadOfTheBlockBeforeTwoFramesEach) {
    start();
    host::panel().setPush(0, true);  // encoder 0's switch: chain 0 bit 17, pulled low
    host::panel().turnEncoder(0, 1);
    host::stepBlocks(3);
    ASSERT_EQ(lines.pin5.size(), 3u);
    // Block 0: nothing has driven the lines yet, the pin keeps its level.
    for (int v : lines.pin5[0])
        EXPECT_EQ(v, 0);
    // Block 1 answers block 0's load: the knob has moved one edge (A = 1, B
    // = 0), the push bit is low, the other push bits high, and past bit 23
    // the chain shifts in its pulled-up serial input.
    const auto& b = lines.pin5[1];
    for (uint32_t bit = 0; bit < 32; ++bit) {
        int expected = bit == 0 ? 1 : bit == 1 ? 0 : bit < 16 ? 0 : bit == 17 ? 0 : 1;
        EXPECT_EQ(b[2 * bit], expected) << "bit " << bit;
        EXPECT_EQ(b[2 * bit + 1], expected) << "bit " << bit;
    }
    // Block 2: one more edge, (A, B) = (1, 1).
    EXPECT_EQ(lines.pin5[2][0], 1);
    EXPECT_EQ(lines.pin5[2][2], 1);
    EXPECT_EQ(host::panel().turnPending(0), 2);
}

TEST_F(PanelPins, PinsAreLeftAloneWhileNoLoadLineIsAnOutput) {
    lines.driveLoad = false;
    start();
    host::panel().setPush(0, true);
    BelaContext* c = host::context();
    for (uint32_t f = 0; f < c->digitalFrames; ++f)
        digitalWriteFrame(c, f, 5, true);
    host::stepBlocks(3);
    for (const auto& block : lines.pin5)
        for (int v : block)
            EXPECT_EQ(v, 1);
}

}  // namespace
