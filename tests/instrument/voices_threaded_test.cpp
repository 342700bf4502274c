// The voice manager's hand-overs under load: grain look-ups answered by a
// task thread while a worker rebuilds and changes lists, and recordings
// started and stopped while the audio thread taps blocks.
#include "instrument/voices/GrainLookup.h"
#include "platform/Audio.h"
#include "platform/Stepped.h"
#include "tests/instrument/GrainPool.h"
#include "tests/instrument/VoiceRig.h"
#include "tests/support/TempDir.h"
#include "tests/support/realtime_stepped.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>

namespace {

std::atomic<void (*)()> gBody{nullptr};
std::atomic<uint64_t> gBlocks{0};

void render(BelaContext*, void*) {
    if (auto body = gBody.load()) body();
    gBlocks.fetch_add(1);
}

void waitBlocks(uint64_t n) {
    const uint64_t target = gBlocks.load() + n;
    while (gBlocks.load() < target) std::this_thread::yield();
}

class VoicesThreaded : public ::testing::Test {
protected:
    // A run per test: a task a test's look-up made ends with that test.
    void SetUp() override {
        static int runs = 0;
        ASSERT_TRUE(testsupport::startStepped(render, "voices-threaded-root-" + std::to_string(++runs)));
    }
    void TearDown() override {
        gBody.store(nullptr);
        Bela_cleanupAudio();
    }
};

GrainLookup* gLookup = nullptr;
std::atomic<uint32_t> gDraws{0};

void grainBody() {
    static uint32_t block = 0;
    ++block;
    for (uint32_t v = 0; v < GrainLookup::kVoices; ++v) {
        const float point[2] = {float((block / 3 + v) % 10) / 10.0f, 0.5f};
        gLookup->requestGrains(v % 2 ? "pads" : "keys", point, v, 0.3f);
        if (gLookup->randomGrainEntry(v).entry) gDraws.fetch_add(1, std::memory_order_relaxed);
    }
}

TEST_F(VoicesThreaded, GrainLookupsWhileListsChange) {
    voicetest::GrainPool pool;
    pool.makeList("pads", 3);
    pool.makeList("keys", 2);
    GrainLookup lookup;
    ASSERT_TRUE(lookup.setup());
    gLookup = &lookup;
    gDraws = 0;  // the draws of this run only
    gBody.store(grainBody);

    std::atomic<bool> stop{false};
    std::thread task([&] {
        while (!stop.load()) lookup.processGrainRequests();
    });
    {
        testsupport::SteppingAudio audio;
        // The sample worker: lists grow, trees are rebuilt, their voices told.
        for (int round = 0; round < 30; ++round) {
            waitBlocks(3);
            const std::string name = round % 2 ? "pads" : "keys";
            pool.groups[name]->dirty = true;
            pool.groups[name]->rebuildTree(pool);
            lookup.listChanged(name);
        }
        // Once the lists rest, the look-up task answers and the voices draw:
        // wait for that progress, however slowly the task is scheduled.
        for (int i = 0; i < 1000000 && gDraws.load() == 0; ++i)
            waitBlocks(1);
        audio.stop();
    }
    gBody.store(nullptr);
    stop.store(true);
    task.join();
    lookup.processGrainRequests();
    EXPECT_GT(gDraws.load(), 0u);

    // At rest every voice asks once more and is answered with hits.
    for (uint32_t v = 0; v < GrainLookup::kVoices; ++v) {
        const float point[2] = {0.95f, 0.05f};
        lookup.requestGrains(v % 2 ? "pads" : "keys", point, v, 0.3f);
    }
    lookup.processGrainRequests();
    for (uint32_t v = 0; v < GrainLookup::kVoices; ++v) {
        EXPECT_EQ(lookup.answeredRequest(v).a, 0.95f) << v;
        EXPECT_TRUE(lookup.randomGrainEntry(v).entry) << v;
    }
}

voicetest::Rig* gRig = nullptr;
void rigBody() { gRig->block(); }

TEST_F(VoicesThreaded, RecordingsStartAndStopWhileTheAudioThreadTaps) {
    voicetest::Rig rig;
    voicetest::CaptureRecorder rec(testsupport::tempDir() + "/", 1 << 16);
    rig.vm->setRecorder(&rec);
    ASSERT_TRUE(rig.vm->scheduleNote(rig.note(0, 440.0f)));
    gRig = &rig;
    gBody.store(rigBody);
    std::set<std::string> names;
    {
        testsupport::SteppingAudio audio;
        const uint32_t settings[][4] = {{1, 0, 2, 0}, {2, 0, 2, 3}, {3, 0, 2, 0}, {1, 3, 1, 0}, {1, 2, 2, 0}};
        for (int round = 0; round < 40; ++round) {
            const auto& s = settings[round % 5];
            std::string path;
            ASSERT_TRUE(rig.vm->startRecording(path, s[0], s[1], s[2], s[3])) << round;
            names.insert(path);
            const uint32_t pushed = rec.pushes.load();
            while (rec.pushes.load() < pushed + 2) std::this_thread::yield();
            rig.vm->stopRecording();
        }
        waitBlocks(2);  // a block that read the tap before the stop has ended
        const uint32_t after = rec.pushes.load();
        waitBlocks(5);
        EXPECT_EQ(rec.pushes.load(), after);  // stopped means no more blocks
        audio.stop();
    }
    gBody.store(nullptr);
    EXPECT_EQ(names.size(), 40u);
    EXPECT_LE(rec.pushedChannels.load(), 2u);
}

}  // namespace
