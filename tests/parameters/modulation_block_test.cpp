// Modulation as the audio thread reads it: one step per block however often
// a voice reads, silence at the decibel floor, and the page's choice
// buttons that never show an index past their list.
#include "TestModulator.h"
#include "parameters/ModulationManager.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterInt.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A restart-on-note modulator that counts its runs and restarts.
class Counting : public TestModulator {
public:
    Counting() : TestModulator(1, 8, "mix", "subtractive") { trig.setValue(kTrigNote, false); }
    float process(uint32_t channel, bool trigA, bool trigB) override {
        if (_triggered(trigA, trigB))
            ++restarts;
        return TestModulator::process(channel, trigA, trigB) + float(calls.load());
    }
    int restarts = 0;
};

TEST(ModulationBlock, ModulatorsStepOncePerBlockAndANoteStillRestartsThem) {
    ParameterFloat mix("1/2 mix", ParameterFloat::Plain, Smoothed | PerChannel, 0.0f, -100.0f, 100.0f);
    auto m = std::make_shared<Counting>();
    testing::internal::CaptureStdout();
    ASSERT_TRUE(mix.addModulator(m));
    testing::internal::GetCapturedStdout();

    std::vector<float> reads;
    for (int block = 0; block < 4; ++block) {
        mix.updateBlock();
        // A note starts in block 2: read at its start without the flag, then
        // twice by the block's render with it.
        reads.push_back(mix.getModulated(3, false, false));
        reads.push_back(mix.getModulated(3, false, block == 2));
        reads.push_back(mix.getModulated(3, false, block == 2));
    }
    EXPECT_EQ(m->calls.load(), 5);  // once a block, plus the restart
    EXPECT_EQ(m->restarts, 1);
    for (int block = 0; block < 4; ++block)
        EXPECT_EQ(reads[size_t(block) * 3 + 1], reads[size_t(block) * 3 + 2]) << block;
    EXPECT_NE(reads[7], reads[6]);  // the restart is heard in its own block
}

TEST(ModulationBlock, MinusInfinityDecibelsReadsSilence) {
    ParameterFloat volume("B vol", ParameterFloat::Decibels, Stored | PerChannel, -96.0f, -96.0f, 6.0f);
    ASSERT_EQ(volume.toString(), "-inf dB");
    volume.updateBlock();
    EXPECT_EQ(volume.getModulated(0, false, false), 0.0f);
    auto down = makeTestModulator(-1.0f);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(volume.addModulator(down));
    testing::internal::GetCapturedStdout();
    volume.updateBlock();
    EXPECT_EQ(volume.getModulated(0, false, false), 0.0f);
    // A floor above the scale's bottom is a level, not silence.
    ParameterFloat quiet("quiet", ParameterFloat::Decibels, Stored | PerChannel, -60.0f, -60.0f, 6.0f);
    quiet.updateBlock();
    EXPECT_NEAR(quiet.getModulated(0, false, false), 0.001f, 1e-6f);
}

// Remembers every value it was asked to bring into range.
class WatchedChoice : public ParameterInt {
public:
    WatchedChoice() : ParameterInt("shape", ChoiceMode, Stored | PerChannel, 0) {
        setChoices({"sine", "rising", "falling"}, -1, false);
    }
    void constrain() override {
        for (const auto& v : values)
            seen.push_back(v);
        ParameterInt::constrain();
    }
    std::vector<int32_t> seen;
};

TEST(ModulationBlock, AChoiceButtonNeverShowsAnIndexPastItsList) {
    class Manager : public ModulationManager {
    public:
        std::shared_ptr<TestModulator> made;
        WatchedChoice choice;

    protected:
        std::shared_ptr<Modulator> _create(ModulatorType type, uint32_t channels, const std::string& target,
                                           const std::string& group) override {
            made = std::make_shared<TestModulator>(type, channels, target, group);
            made->controls[4] = &choice;
            return made;
        }
    } manager;
    testing::internal::CaptureStdout();
    manager.addModulator("LFO", 8, "cutoff", "filter");
    testing::internal::GetCapturedStdout();
    manager.choice.seen.clear();
    for (int press = 0; press < 6; ++press)
        manager.buttonPressed(0, 10);
    EXPECT_EQ(manager.choice.value.load(), 0);  // twice round the list
    for (int32_t v : manager.choice.seen)
        EXPECT_LT(v, 3);
}

}  // namespace
