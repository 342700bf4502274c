#include "platform/Audio.h"
#include "platform/AuxiliaryTask.h"
#include "platform/Stepped.h"

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"
#include "tests/support/wait.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

using testsupport::waitUntil;

struct Gate {
    std::atomic<int> runs{0};
    std::atomic<int> concurrent{0};
    std::atomic<int> maxConcurrent{0};
    std::atomic<bool> inside{false};
    std::atomic<bool> release{false};
};

void gatedTask(void* arg) {
    auto* g = static_cast<Gate*>(arg);
    int now = ++g->concurrent;
    int seen = g->maxConcurrent.load();
    while (now > seen && !g->maxConcurrent.compare_exchange_weak(seen, now)) {
    }
    g->inside = true;
    while (!g->release)
        std::this_thread::sleep_for(100us);
    g->inside = false;
    --g->concurrent;
    ++g->runs;
}

TEST(TasksThreaded, SchedulesWhileRunningCoalesceIntoExactlyOneMoreRun) {
    host::tasksSetThreaded(true, false);
    Gate g;
    AuxiliaryTask t = Bela_createAuxiliaryTask(gatedTask, 10, "gated", &g);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(Bela_scheduleAuxiliaryTask(t), 0);
    ASSERT_TRUE(waitUntil([&] { return g.inside.load(); }));
    for (int i = 0; i < 10; ++i)
        Bela_scheduleAuxiliaryTask(t);
    g.release = true;
    ASSERT_TRUE(waitUntil([&] { return g.runs.load() == 2; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(g.runs.load(), 2);
    EXPECT_EQ(g.maxConcurrent.load(), 1);
    host::tasksStopAll();
}

std::atomic<int> gRenders{0};
std::atomic<bool> gBusy{false};
std::atomic<bool> gFenceCalled{false};
std::atomic<std::vector<int>*> gList{nullptr};
volatile long gSum = 0;

bool fenceSetup(BelaContext*, void*) { return true; }
void fenceRender(BelaContext*, void*) {
    // The run waits at its tenth block for the other thread's first fence, so
    // the two overlap however the threads are scheduled.
    if (++gRenders == 10)
        while (!gFenceCalled.load())
            std::this_thread::yield();
    // The audio side tests the busy flag once where it enters the structure.
    if (gBusy.load())
        return;
    std::vector<int>* list = gList.load();
    if (!list)
        return;
    long sum = 0;
    for (int v : *list)
        sum += v;
    gSum = sum;
}

// A run of `blocks` blocks in `mode`, its root and output named after `name`.
BelaInitSettings runSettings(bool (*setup)(BelaContext*, void*), void (*render)(BelaContext*, void*), HostMode mode,
                             uint64_t blocks, const std::string& name) {
    BelaInitSettings s;
    s.setup = setup;
    s.render = render;
    s.mode = mode;
    s.stopAfterBlocks = blocks;
    s.root = testsupport::tempDir() + name + "-root";
    s.audioOutFile = testsupport::tempDir() + name + ".wav";
    return s;
}

TEST(TasksThreaded, OfflineRunStopsAfterItsBlocksAndFenceWaitsForTheBlockInProgress) {
    BelaInitSettings s = runSettings(fenceSetup, fenceRender, HostMode::Offline, 20000, "offline-fence");
    gRenders = 0;
    gFenceCalled = false;
    ASSERT_EQ(Bela_initAudio(&s, nullptr), 0);
    ASSERT_EQ(Bela_startAudio(), 0);
    gList = new std::vector<int>(512, 1);
    int fences = 0;
    while (!Bela_stopRequested()) {
        // Replace the structure the audio thread walks: without the fence
        // the sanitizers see the old one freed under the walk.
        gBusy = true;
        gFenceCalled = true;
        Bela_blockFence();
        std::vector<int>* old = gList.exchange(new std::vector<int>(512, fences));
        delete old;
        gBusy = false;
        ++fences;
    }
    Bela_stopAudio();
    Bela_cleanupAudio();
    EXPECT_EQ(gRenders.load(), 20000);
    EXPECT_GT(fences, 0);
    delete gList.exchange(nullptr);
}

AuxiliaryTask gStepTask = nullptr;
std::atomic<int> gStepRuns{0};
std::atomic<int> gStepFaults{0};

void stepTask(void*) {
    // Code that takes itself for the audio thread would defer its work to a
    // block that never comes for it.
    if (Bela_isAudioThread())
        ++gStepFaults;
    ++gStepRuns;
}

bool stepSetup(BelaContext*, void*) {
    gStepTask = Bela_createAuxiliaryTask(stepTask, 10, "step");
    return gStepTask != nullptr;
}

void stepRender(BelaContext*, void*) {
    // Every block's run is over before the next block.
    if (gStepRuns.load() != gRenders.load())
        ++gStepFaults;
    ++gRenders;
    Bela_scheduleAuxiliaryTask(gStepTask);
}

TEST(TasksThreaded, OfflineTasksRunBetweenTheBlocksOffTheAudioThread) {
    BelaInitSettings s = runSettings(stepSetup, stepRender, HostMode::Offline, 2000, "step");
    gRenders = 0;
    gStepRuns = 0;
    gStepFaults = 0;
    ASSERT_EQ(Bela_initAudio(&s, nullptr), 0);
    ASSERT_EQ(Bela_startAudio(), 0);
    ASSERT_TRUE(waitUntil([] { return Bela_stopRequested() != 0; }));
    Bela_stopAudio();
    Bela_cleanupAudio();
    EXPECT_EQ(gRenders.load(), 2000);
    EXPECT_EQ(gStepRuns.load(), 2000);
    EXPECT_EQ(gStepFaults.load(), 0);
}

AuxiliaryTask gOrderTasks[3] = {};
std::vector<int> gOrderRuns;

void orderTask(void* arg) { gOrderRuns.push_back(int(reinterpret_cast<intptr_t>(arg))); }

bool orderSetup(BelaContext*, void*) {
    for (intptr_t i = 0; i < 3; ++i)
        gOrderTasks[i] = Bela_createAuxiliaryTask(orderTask, 10, "order", reinterpret_cast<void*>(i));
    return gOrderTasks[2] != nullptr;
}

void orderRender(BelaContext*, void*) {
    // Neither the creation order nor its reverse.
    for (int i : {2, 0, 1})
        Bela_scheduleAuxiliaryTask(gOrderTasks[i]);
}

TEST(TasksThreaded, OfflineTasksDueInOneBlockRunInTheirCreationOrder) {
    BelaInitSettings s = runSettings(orderSetup, orderRender, HostMode::Offline, 2, "order");
    gOrderRuns.clear();
    gOrderRuns.reserve(16);
    ASSERT_EQ(Bela_initAudio(&s, nullptr), 0);
    ASSERT_EQ(Bela_startAudio(), 0);
    ASSERT_TRUE(waitUntil([] { return Bela_stopRequested() != 0; }));
    Bela_stopAudio();
    Bela_cleanupAudio();
    EXPECT_EQ(gOrderRuns, (std::vector<int>{0, 1, 2, 0, 1, 2}));
}

TEST(TasksThreaded, RealTimeRunIsPacedByTheClock) {
    BelaInitSettings s = runSettings(fenceSetup, fenceRender, HostMode::RealTime, 75, "rt");  // 0.1 s of audio
    gRenders = 0;
    gFenceCalled = true;  // no fence to wait for here
    ASSERT_EQ(Bela_initAudio(&s, nullptr), 0);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Bela_startAudio(), 0);
    ASSERT_TRUE(waitUntil([] { return Bela_stopRequested() != 0; }));
    Bela_stopAudio();
    auto took = std::chrono::steady_clock::now() - start;
    Bela_cleanupAudio();
    EXPECT_EQ(gRenders.load(), 75);
    // Pacing, not performance: 75 blocks cannot finish far ahead of their 100 ms.
    EXPECT_GE(took, 90ms);
}

}  // namespace
