// Grain look-ups through the pipe and the look-up task, stepped: the task
// runs when the test runs the pending tasks.
#include "instrument/voices/GrainLookup.h"

#include "platform/Audio.h"
#include "platform/Stepped.h"
#include "tests/instrument/GrainPool.h"
#include "tests/support/realtime_stepped.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

void silentRender(BelaContext*, void*) {}

class GrainLookupTest : public ::testing::Test {
protected:
    // A run per test: the task of each test's look-up is stopped with its
    // run, before the look-up it points at is gone.
    void SetUp() override {
        static int runs = 0;
        ASSERT_TRUE(testsupport::startStepped(silentRender, "grain-root-" + std::to_string(++runs)));
        ASSERT_TRUE(lookup.setup());
        pool.makeList("pads", 3);
    }
    void TearDown() override { Bela_cleanupAudio(); }
    void ask(std::string_view list, float a, float b, uint32_t voice = 7, float radius = 0.5f) {
        const float point[2] = {a, b};
        lookup.requestGrains(list, point, voice, radius);
    }

    voicetest::GrainPool pool;
    GrainLookup lookup;
};

TEST_F(GrainLookupTest, RepeatedRequestsAreSentOnceAndBurstsAnsweredOnce) {
    ask("pads", 0.2f, 0.3f);
    ask("pads", 0.2f, 0.3f);
    EXPECT_EQ(lookup.requestsSent(), 1u);
    ask("pads", 0.4f, 0.3f);
    ask("pads", 0.5f, 0.3f);
    EXPECT_EQ(lookup.requestsSent(), 3u);
    host::runPendingTasks();
    EXPECT_EQ(pool.queries.load(), 1);  // one query per voice, for the latest
    EXPECT_EQ(lookup.answeredRequest(7).a, 0.5f);
    ask("pads", 0.5f, 0.3f);  // the answered one
    EXPECT_EQ(lookup.requestsSent(), 3u);

    // Every draw is one of the list's hits.
    std::set<const AudioSampleGroupEntry*> entries;
    for (size_t i = 0; i < pool.groups["pads"]->size(); ++i) entries.insert(pool.groups["pads"]->entryAt(i).get());
    for (int i = 0; i < 200; ++i) {
        const GrainEntry e = lookup.randomGrainEntry(7);
        ASSERT_TRUE(e.entry);
        EXPECT_TRUE(entries.count(e.entry.get()));
    }
    EXPECT_FALSE(lookup.randomGrainEntry(8).entry);
}

TEST_F(GrainLookupTest, ZeroHitsAreReportedUnlessTheListIsNone) {
    testing::internal::CaptureStdout();
    ask("none", 0.1f, 0.1f, 3);
    ask("missing", 0.1f, 0.1f, 4);
    host::runPendingTasks();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "VoiceManager: getGroupEntriesByFeature() returned zero points [missing]...\n");
    EXPECT_FALSE(lookup.randomGrainEntry(4).entry);
    ask("missing", 0.1f, 0.1f, 4);  // answered, even without hits
    EXPECT_EQ(lookup.requestsSent(), 2u);
}

TEST_F(GrainLookupTest, AChangedListEmptiesItsVoicesUntilTheyAskAgain) {
    ask("pads", 0.5f, 0.5f, 1);
    ask("pads", 0.5f, 0.5f, 2);
    host::runPendingTasks();
    ASSERT_TRUE(lookup.randomGrainEntry(1).entry);
    testing::internal::CaptureStdout();
    lookup.listChanged("pads");
    host::runPendingTasks();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "listChanged(pads)\n");
    EXPECT_FALSE(lookup.randomGrainEntry(1).entry);
    EXPECT_FALSE(lookup.randomGrainEntry(2).entry);
    ask("pads", 0.5f, 0.5f, 1);  // the same question is sent again
    EXPECT_EQ(lookup.requestsSent(), 3u);
    host::runPendingTasks();
    EXPECT_TRUE(lookup.randomGrainEntry(1).entry);
}

TEST_F(GrainLookupTest, RefusesWhatTheRecordCannotHold) {
    ask("a-list-name-of-twenty", 0.5f, 0.5f);  // 21 characters: a cut name is another list
    ask("pads", 0.5f, 0.5f, 40);
    EXPECT_EQ(lookup.requestsSent(), 0u);
    EXPECT_FALSE(lookup.randomGrainEntry(40).entry);
}

TEST_F(GrainLookupTest, ARequestThePipeRefusedIsSentLater) {
    uint32_t refusedAt = 0;
    for (uint32_t i = 1; i < 400000 && !refusedAt; ++i) {
        const uint32_t before = lookup.requestsSent();
        ask("pads", float(i), 0.0f, 0);
        if (lookup.requestsSent() == before) refusedAt = i;
    }
    ASSERT_GT(refusedAt, 0u) << "the pipe never filled";
    host::runPendingTasks();
    const uint32_t before = lookup.requestsSent();
    ask("pads", float(refusedAt), 0.0f, 0);
    EXPECT_EQ(lookup.requestsSent(), before + 1);
}

}  // namespace
