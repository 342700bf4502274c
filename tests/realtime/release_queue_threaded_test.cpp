// References the audio thread lets go of are freed by another thread, while
// that thread drains the queue at the same time as the audio thread fills it.
#include "platform/Audio.h"
#include "platform/Stepped.h"
#include "samples/ReleaseQueue.h"

#include "tests/support/realtime_stepped.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <memory>
#include <thread>

namespace {

constexpr size_t kObjects = 1000;  // fewer than the queue holds: no overflow
constexpr size_t kPerBlock = 4;

struct Handover {
    ReleaseQueue queue;
    std::array<std::shared_ptr<int>, kObjects> held;
    size_t next = 0;
    std::atomic<size_t> freed{0};
    std::atomic<size_t> freedOnAudio{0};
};
Handover* gHandover = nullptr;

void retiringRender(BelaContext*, void*) {
    Handover& h = *gHandover;
    for (size_t i = 0; i < kPerBlock && h.next < kObjects; ++i)
        h.queue.retire(h.held[h.next++]);
}

TEST(ReleaseQueueThreaded, AudioRetiresWhileAnotherThreadDrains) {
    auto h = std::make_unique<Handover>();
    gHandover = h.get();
    for (auto& p : h->held) {
        Handover* owner = h.get();
        p = std::shared_ptr<int>(new int(7), [owner](int* v) {
            (Bela_isAudioThread() ? owner->freedOnAudio : owner->freed).fetch_add(1);
            delete v;
        });
    }
    ASSERT_TRUE(testsupport::startStepped(retiringRender, "release-root"));
    std::atomic<bool> done{false};
    std::thread audio([&] {
        host::stepBlocks(kObjects / kPerBlock, false);
        done = true;
    });
    size_t drained = 0;
    while (!done.load())
        drained += h->queue.drain();
    audio.join();
    drained += h->queue.drain();
    Bela_cleanupAudio();

    EXPECT_EQ(drained, kObjects);
    EXPECT_EQ(h->freed.load(), kObjects);
    EXPECT_EQ(h->freedOnAudio.load(), 0u);
    EXPECT_EQ(h->queue.overflows(), 0u);
    EXPECT_EQ(h->queue.pending(), 0u);
    for (const auto& p : h->held)
        EXPECT_FALSE(p);
}

ReleaseQueue* gFull = nullptr;
std::array<std::shared_ptr<int>, ReleaseQueue::kCapacity + 3>* gMany = nullptr;

void overfillingRender(BelaContext*, void*) {
    for (auto& p : *gMany)
        gFull->retire(p);
}

TEST(ReleaseQueueThreaded, FullQueueCountsAndStillLetsGo) {
    auto queue = std::make_unique<ReleaseQueue>();
    auto many = std::make_unique<std::array<std::shared_ptr<int>, ReleaseQueue::kCapacity + 3>>();
    std::atomic<size_t> freed{0};
    for (auto& p : *many)
        p = std::shared_ptr<int>(new int(1), [&freed](int* v) {
            freed.fetch_add(1);
            delete v;
        });
    gFull = queue.get();
    gMany = many.get();
    ASSERT_TRUE(testsupport::startStepped(overfillingRender, "full-root"));
    host::stepBlocks(1, false);
    Bela_cleanupAudio();
    // The three that found no room were let go of in place: the voice's
    // reference is gone either way.
    EXPECT_EQ(queue->overflows(), 3u);
    EXPECT_EQ(freed.load(), 3u);
    EXPECT_EQ(queue->pending(), ReleaseQueue::kCapacity);
    EXPECT_EQ(queue->drain(), ReleaseQueue::kCapacity);
    EXPECT_EQ(freed.load(), ReleaseQueue::kCapacity + 3);

    // Off the audio thread nothing parks.
    auto p = std::shared_ptr<int>(new int(2), [&freed](int* v) {
        freed.fetch_add(1);
        delete v;
    });
    queue->retire(p);
    EXPECT_FALSE(p);
    EXPECT_EQ(queue->pending(), 0u);
    EXPECT_EQ(freed.load(), ReleaseQueue::kCapacity + 4);
}

}  // namespace
