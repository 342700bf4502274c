// A granular voice against the real grain look-up (pipe and task, run by hand)
// and real analysed lists: one question per changed target, none while it
// holds, and grains that sound once the answer is in.
#include "engines/granular/GranularCommon.h"
#include "engines/granular/GranularVoice.h"
#include "instrument/voices/GrainLookup.h"

#include "platform/AuxiliaryTask.h"
#include "platform/Stepped.h"
#include "samples/ReleaseQueue.h"
#include "tests/engines/EngineMeasure.h"
#include "tests/instrument/GrainPool.h"
#include "tests/support/engines_harness.h"

#include <gtest/gtest.h>

namespace {

class Lookup : public GrainSource {
public:
    explicit Lookup(GrainLookup& l) : lookup(l) {}
    void requestGrains(std::string_view list, std::span<const float> point, uint32_t voice, float radius) override {
        lookup.requestGrains(list, point, voice, radius);
    }
    FeatureHit randomGrainEntry(uint32_t voice) override { return lookup.randomGrainEntry(voice); }
    GrainLookup& lookup;
};

class GranularLookup : public ::testing::Test {
protected:
    // The look-up task runs when the test runs pending tasks. No audio run
    // is started: a stopped one would stay "stop requested" for the program.
    static void SetUpTestSuite() { host::tasksSetThreaded(false, false); }
    static void TearDownTestSuite() { host::tasksSetThreaded(true, false); }
    void SetUp() override {
        ASSERT_TRUE(lookup.setup());
        pool.makeList("pads", 3);
    }
    void TearDown() override {
        DSP::releaseQueue.drain();
        host::tasksStopAll();  // the look-up's task goes with it: no later test runs it
    }

    voicetest::GrainPool pool;
    GrainLookup lookup;
    Lookup source{lookup};
};

TEST_F(GranularLookup, OneQuestionPerChangedTargetAndGrainsOnceAnswered) {
    GranularCommon common;
    common.samples.setChoices({"none", "pads"});  // the list lives in the double's groups
    common.samples.setValue(1, true);
    common.variation.setValue(100.0f, true);  // every hop of the list
    enginetest::VoiceHarness<GranularVoice> h(common);
    for (uint32_t s = 0; s < 8; ++s) h.voice(s).grainSource = &source;
    const uint32_t slot = h.play(h.makeNote(440.0f));
    // Nothing is known before the first question: the first grain is silent.
    auto x = h.renderChannel(slot, 56);
    EXPECT_EQ(enginemeasure::rms(x.data(), x.size()), 0.0);
    EXPECT_EQ(lookup.requestsSent(), 1u);  // two blocks before the second grain
    host::runPendingTasks();
    x = h.renderChannel(slot, 200);
    EXPECT_GT(enginemeasure::rms(x.data() + 64 * 10, 64 * 100), 1e-3);  // drawn from the answer
    EXPECT_EQ(lookup.requestsSent(), 1u);  // the same question is not asked again
    common.loudness.setValue(20.0f, true);
    h.renderChannel(slot, 60);
    EXPECT_EQ(lookup.requestsSent(), 2u);
    host::runPendingTasks();
    h.renderChannel(slot, 120);
    EXPECT_EQ(lookup.requestsSent(), 2u);
    EXPECT_FLOAT_EQ(lookup.answeredRequest(slot).a, 0.2f);
}

}  // namespace
