#include "samples/AudioSampleGroup.h"

#include "platform/Audio.h"
#include "platform/Stepped.h"

#include <gtest/gtest.h>

#include "tests/samples/SampleFixtures.h"

#include <thread>

using namespace samplefixtures;

namespace {

AudioSampleGroup* gList = nullptr;
std::atomic<uint64_t> gPicked{0};

void pickRender(BelaContext* context, void*) {
    // What a sample voice does: one consistent pick per block.
    const auto entry = gList->pickEntry([](size_t count) { return size_t(host::blocksRendered()) % count; });
    if (entry && entry->endFrame <= entry->frames && !entry->sample.empty())
        gPicked.fetch_add(1, std::memory_order_relaxed);
}

// The audio thread picks entries and the grain task queries while the
// interface thread edits the list and the worker rebuilds its tree.
TEST(SampleListThreads, EditsRebuildsQueriesAndPicksMeetSafely) {
    FakePool pool;
    const std::string paths[] = {monoWav("t-a.wav", sine(30000, 300.0, 48000)),
                                 monoWav("t-b.wav", noise(20000, 4)),
                                 monoWav("t-c.wav", sine(9000, 3000.0, 48000, 0.2f))};
    for (const auto& p : paths)
        ASSERT_TRUE(pool.analysed(p));
    AudioSampleGroup list;
    for (const auto& p : paths)
        list.insert(p, pool.getResource(p)->frameCount(), 99, 48000.0f, 440.0f);
    gList = &list;

    BelaInitSettings settings;
    settings.setup = [](BelaContext*, void*) { return true; };
    settings.render = pickRender;
    settings.cleanup = [](BelaContext*, void*) {};
    settings.mode = HostMode::Stepped;
    settings.root = testsupport::tempDir() + "threads-root";
    ASSERT_EQ(Bela_initAudio(&settings, nullptr), 0);

    std::atomic<bool> done{false};
    std::atomic<uint64_t> hits{0};
    std::thread editor([&] {
        for (int round = 0; round < 300; ++round) {
            const uint64_t seen = host::blocksRendered();
            while (host::blocksRendered() < seen + 2)  // let the audio side pick from every version
                std::this_thread::yield();
            list.insert(paths[round % 3], pool.getResource(paths[round % 3])->frameCount(), round % 5, 48000.0f,
                        440.0f);
            list.swap(0, uint32_t(list.size() - 1));
            if (round % 7 == 0)
                list.shuffle();
            if (list.size() > 6)
                list.remove(uint32_t(round % list.size()));
        }
        // The lookups and the picks have happened, however the threads were
        // scheduled.
        while (hits.load() == 0 || gPicked.load() == 0)
            std::this_thread::yield();
        done = true;
    });
    std::thread worker([&] {
        while (!done)
            list.rebuildTree(pool);
    });
    std::thread grains([&] {
        while (!done)
            for (const auto& hit : list.getSampleFromFeatures({0.3f, 0.6f}, 0.4f)) {
                EXPECT_LE(hit.hop, hit.entry->frames / 8192);
                hits.fetch_add(1);
            }
    });
    while (!done)
        host::stepBlocks(1, false);
    editor.join();
    worker.join();
    grains.join();
    Bela_cleanupAudio();

    EXPECT_GT(gPicked.load(), 0u);
    EXPECT_GT(hits.load(), 0u);
    EXPECT_EQ(list.size(), 6u);
    list.rebuildTree(pool);
    EXPECT_FALSE(list.dirty);
    size_t points = 0;
    for (const auto& e : *list.entries.get())
        points += e->lastHop - e->firstHop + 1;
    EXPECT_EQ(list.features()->points.size(), points);
}

}  // namespace
