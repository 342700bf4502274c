#include "drivers/Encoder.h"
#include "drivers/KeyDebouncer.h"
#include "drivers/ShiftRegisterIn.h"
#include "platform/Stepped.h"
#include "platform/devices/PanelSimulator.h"
#include "tests/support/midi_panel_run.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <vector>

using paneltest::PanelEventSeen;

namespace {

std::vector<uint32_t> feed(KeyDebouncer& key, const std::vector<uint32_t>& bits) {
    std::vector<uint32_t> results;
    for (uint32_t bit : bits)
        results.push_back(key.update(bit));
    return results;
}

TEST(KeyDebouncer, KeydownNeedsAReleaseFollowedByThreeLowSamples) {
    KeyDebouncer fromPowerUp;
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(fromPowerUp.update(0), KeyDebouncer::kNothing) << "call " << i;
    EXPECT_FALSE(fromPowerUp.held());

    KeyDebouncer bouncing;
    EXPECT_EQ(feed(bouncing, {1, 1, 0, 1, 0, 0, 0, 0, 0}),
              (std::vector<uint32_t>{1, 1, 1, 1, 1, 1, 2, 1, 1}));
    EXPECT_TRUE(bouncing.held());
    EXPECT_EQ(bouncing.lastResult(), KeyDebouncer::kNothing);
}

TEST(KeyDebouncer, TrackButtonsRepeatOnEveryCallFromTheSecondAndPeriodZeroIsRefused) {
    KeyDebouncer button;
    button.setRepeat(1, 1);
    EXPECT_EQ(feed(button, {1, 0, 0, 0, 0, 0, 0}), (std::vector<uint32_t>{1, 1, 1, 2, 1, 3, 3}));
    button.setRepeat(5, 0);
    EXPECT_EQ(button.repeatPeriod(), 1u);
    feed(button, {0, 0, 0, 0, 0});  // would divide by zero with a zero period
}

TEST(Encoder, OneQuadratureCycleGivesTwoStepsEachWay) {
    Encoder up, down;
    std::vector<int32_t> ups, downs;
    const uint32_t seq[][2] = {{1, 0}, {1, 1}, {0, 1}, {0, 0}};
    for (int i = 0; i < 4; ++i) {
        ups.push_back(up.update(seq[i][0], seq[i][1], 0));
        downs.push_back(down.update(seq[(6 - i) % 4][0], seq[(6 - i) % 4][1], 0));
    }
    EXPECT_EQ(ups, (std::vector<int32_t>{0, 1, 0, 1}));
    EXPECT_EQ(downs, (std::vector<int32_t>{0, -1, 0, -1}));
}

TEST(Encoder, HalfDetentIsForgottenAfter500IdleCalls) {
    Encoder kept, forgotten;
    kept.update(1, 0, 0);
    forgotten.update(1, 0, 0);
    for (int i = 0; i < 499; ++i)
        kept.update(1, 0, 0);
    for (int i = 0; i < 501; ++i)
        forgotten.update(1, 0, 0);
    // The next edge completes the step only where the quarter was kept.
    EXPECT_EQ(kept.update(1, 1, 0), 1);
    EXPECT_EQ(forgotten.update(1, 1, 0), 0);
    EXPECT_EQ(forgotten.update(0, 1, 0), 1);
}

TEST(Encoder, PushHeldOverSeveralCallsGivesOneEdge) {
    Encoder e;
    int edges = 0;
    for (int32_t push : {0, 1, 1, 1, 0, 0, 5, 0, -3})
        edges += (e.update(0, 0, push), e.pressEdge()) ? 1 : 0;
    EXPECT_EQ(edges, 2);
    EXPECT_FALSE(e.pressed());  // a negative push is no press
}

TEST(ShiftRegisterIn, RefusesBlocksOtherThan64FramesAndThenLeavesThePinsAlone) {
    std::vector<uint32_t> digital(32, 0xFFFFu);
    BelaContext context;
    context.digital = digital.data();
    context.digitalFrames = 32;
    ShiftRegisterIn scanner;
    EXPECT_FALSE(scanner.setup(&context));
    scanner.process(&context);
    for (uint32_t word : digital)
        EXPECT_EQ(word, 0xFFFFu);
}

class PanelThroughPins : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(run.start(testsupport::tempDir() + "panel-root"));
        panel().reset();
    }
    void TearDown() override { run.stop(); }
    host::PanelSimulator& panel() { return host::panel(); }
    void warmUp() {
        host::stepBlocks(6);
        run.take();
    }
    std::vector<PanelEventSeen> stepAndTake(uint32_t blocks) {
        host::stepBlocks(blocks);
        return run.take();
    }
    paneltest::PanelRun run;
};

TEST_F(PanelThroughPins, EveryKeyGivesExactlyOneKeydownOnItsOwnIndex) {
    warmUp();
    for (uint32_t k = 0; k < Key::kNumKeys; ++k) {
        panel().pressKey(k);
        auto down = stepAndTake(12);
        ASSERT_EQ(down.size(), 1u) << "key " << k;
        EXPECT_EQ(down[0].kind, PanelEventSeen::KeyDown);
        EXPECT_EQ(down[0].index, k);
        EXPECT_TRUE(run.keys[k].held());
        panel().releaseKey(k);
        EXPECT_TRUE(stepAndTake(12).empty()) << "key " << k;
        EXPECT_FALSE(run.keys[k].held());
    }
}

TEST_F(PanelThroughPins, HeldKeyRepeatsAtTheDebouncerCallsAndReleaseEndsIt) {
    warmUp();
    panel().pressKey(37);
    auto seen = stepAndTake(420);
    ASSERT_FALSE(seen.empty());
    ASSERT_EQ(seen[0].kind, PanelEventSeen::KeyDown);
    std::vector<uint64_t> repeatAfter;
    for (size_t i = 1; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].kind, PanelEventSeen::KeyRepeat);
        EXPECT_EQ(seen[i].index, 37u);
        repeatAfter.push_back(seen[i].block - seen[0].block);
    }
    EXPECT_EQ(repeatAfter, (std::vector<uint64_t>{250, 300, 350, 400}));
    panel().releaseKey(37);
    EXPECT_TRUE(stepAndTake(200).empty());
}

TEST_F(PanelThroughPins, KeyHeldFromPowerUpNeverFires) {
    panel().pressKey(0);
    panel().pressKey(59);
    auto seen = stepAndTake(600);
    EXPECT_TRUE(std::none_of(seen.begin(), seen.end(),
                             [](const PanelEventSeen& e) { return e.kind == PanelEventSeen::KeyDown; }));
    EXPECT_TRUE(run.scanner.key(0) == 0 && run.scanner.key(59) == 0 && run.scanner.key(58) == 1);
}

TEST_F(PanelThroughPins, EveryEncoderStepsOnItsOwnIndexBothWays) {
    warmUp();
    for (uint32_t e = 0; e < Key::kNumEncoders; ++e) {
        panel().turnEncoder(e, 1);
        auto up = stepAndTake(8);
        EXPECT_EQ(panel().turnPending(e), 0);
        ASSERT_EQ(up.size(), 2u) << "encoder " << e;
        for (auto& s : up) {
            EXPECT_EQ(s.kind, PanelEventSeen::Step);
            EXPECT_EQ(s.index, e);
            EXPECT_EQ(s.step, 1);
        }
        panel().turnEncoder(e, -1);
        auto down = stepAndTake(8);
        ASSERT_EQ(down.size(), 2u) << "encoder " << e;
        for (auto& s : down) {
            EXPECT_EQ(s.index, e);
            EXPECT_EQ(s.step, -1);
        }
    }
}

TEST_F(PanelThroughPins, EveryPushGivesOneEdgePerPressOnItsOwnIndex) {
    warmUp();
    for (uint32_t e = 0; e < Key::kNumEncoders; ++e) {
        panel().setPush(e, true);
        auto pressed = stepAndTake(5);
        ASSERT_EQ(pressed.size(), 1u) << "encoder " << e;
        EXPECT_EQ(pressed[0].kind, PanelEventSeen::PushEdge);
        EXPECT_EQ(pressed[0].index, e);
        EXPECT_TRUE(run.encoders[e].pressed());
        panel().setPush(e, false);
        EXPECT_TRUE(stepAndTake(3).empty());
        EXPECT_FALSE(run.encoders[e].pressed());
    }
}

}  // namespace
