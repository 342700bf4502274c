// The sample pool, recorder and previewer with their threads: the audio side
// steps blocks on a thread of its own while the others work.
#include "samples/AudioResourcePool.h"
#include "samples/DiskRecorder.h"
#include "samples/ReleaseQueue.h"
#include "samples/SamplePreview.h"

#include "dsp/AudioBlock.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include "tests/samples/SampleFixtures.h"
#include "tests/support/Shell.h"
#include "tests/support/realtime_stepped.h"

#include <filesystem>
#include <thread>

namespace {

using samplefixtures::noise;
using samplefixtures::sine;
using samplefixtures::writeSound;

void waitFor(const std::function<bool()>& condition) {
    while (!condition())
        std::this_thread::yield();
}

// ---- the pool

AudioResourcePool* gPool = nullptr;
std::atomic<uint64_t> gPicked{0};

void poolRender(BelaContext*, void*) {
    // What sample voices do: an entry of each list by step, then its sample.
    const uint64_t block = host::blocksRendered();
    for (const char* list : {"a", "b", "c"}) {
        auto entry = gPool->getGroupEntry(list, int32_t(block), uint32_t(block % 4));
        if (!entry)
            continue;
        auto resource = gPool->getResource(entry->sample);
        if (resource && !resource->path.empty() && entry->endFrame <= entry->frames)
            gPicked.fetch_add(1, std::memory_order_relaxed);
        DSP::releaseQueue.retire(resource);
        DSP::releaseQueue.retire(entry);
    }
}

TEST(SamplePoolThreads, LoadsEditsAndResetsMeetLookUpsAndEveryFileIsAnalysedInTheEnd) {
    ASSERT_TRUE(testsupport::startStepped(poolRender, "pool-threads"));
    const std::string root = host::root();
    std::filesystem::create_directories(root + "/t");
    std::vector<std::string> paths;
    for (int i = 0; i < 50; ++i) {
        const std::string name = "t/f" + std::to_string(i) + ".wav";
        ASSERT_TRUE(writeSound(root + "/" + name, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000,
                               i % 2 ? sine(9000 + 500 * i, 100.0 + 40 * i, 48000.0, 0.5f) : noise(12000, i)));
        paths.push_back("/home/corvane/" + name);
    }
    AudioResourcePool pool;
    ASSERT_TRUE(pool.setup(false));
    gPool = &pool;
    testsupport::SteppingAudio audio;

    std::atomic<bool> done{false};
    std::atomic<uint32_t> scheduled{0};
    std::atomic<uint32_t> runs{0};
    std::thread worker([&] {  // the worker task: one run per scheduling
        uint32_t handled = 0;
        while (!done || handled != scheduled)
            if (handled != scheduled) {
                handled = scheduled;
                pool.runWorker();
                runs.fetch_add(1);
            } else {
                std::this_thread::yield();
            }
    });
    std::atomic<uint64_t> hits{0};
    std::thread grains([&] {
        while (!done)
            for (const auto& hit : pool.getGroupEntriesByFeature("a", 0.5f, 0.5f, 0.3f))
                if (hit.entry && hit.hop <= hit.entry->frames / 8192)
                    hits.fetch_add(1);
    });

    auto burst = [&](size_t first, size_t count) {
        const std::vector<std::string> some(paths.begin() + long(first), paths.begin() + long(first + count));
        pool.loadSamples(some);
        for (size_t i = 0; i < some.size(); ++i) {
            AudioSampleGroup* list = pool.getGroup(std::string(1, char('a' + i % 3)), true);
            list->insert(some[i], pool.getResource(some[i])->frameCount(), uint32_t(i), 48000.0f, 440.0f);
        }
        pool.updateListParameters();
        pool.queueTreeRebuilds();
        scheduled.fetch_add(1);
    };
    for (int round = 0; round < 12; ++round) {
        burst(size_t(round * 7) % 40, 10);
        const uint64_t seen = host::blocksRendered();
        waitFor([&] { return host::blocksRendered() > seen + 2; });
        EXPECT_TRUE(pool.renameList("b", "bb"));
        EXPECT_TRUE(pool.renameList("bb", "b"));
        if (round % 3 == 1)
            pool.deleteList("c");
        if (round % 4 == 2)
            pool.reset();
        DSP::releaseQueue.drain();
    }
    // The last loads, in bursts while the worker runs: every path ends up analysed.
    pool.reset();
    for (size_t first = 0; first < 50; first += 10)
        burst(first, 10);
    done = true;
    worker.join();
    grains.join();
    audio.stop();
    Bela_cleanupAudio();
    DSP::releaseQueue.drain();

    EXPECT_GT(gPicked.load(), 0u);
    EXPECT_GT(runs.load(), 0u);
    EXPECT_EQ(pool.analysisQueued(), 0u);
    EXPECT_EQ(pool.resourceCount(), 50u);
    for (const auto& path : paths) {
        const auto resource = pool.getResource(path);
        ASSERT_TRUE(resource) << path;
        EXPECT_TRUE(resource->analysed.load()) << path;
        EXPECT_GE(resource->maxBlockLevel, 0.0f) << path;
    }
    gPool = nullptr;
}

// ---- the recorder and the previewer

DiskRecorder* gRecorder = nullptr;
SamplePreview* gPreview = nullptr;
std::atomic<bool> gTap{false};
std::atomic<uint64_t> gStarts{0};

void ioRender(BelaContext*, void*) {
    if (gTap.load(std::memory_order_acquire)) {
        float block[2 * 64];
        for (uint32_t f = 0; f < 64; ++f)
            block[2 * f] = block[2 * f + 1] = 0.5f * float(std::sin(double(host::blocksRendered() * 64 + f) * 0.05));
        gRecorder->pushInterleaved(block, 2);
    }
    AudioBlock out;
    out.clear();
    for (auto& s : out.channelState)
        s = ChannelState::Vacant;
    gPreview->render(out);
    if (out.channelState[0] == ChannelState::Started)
        gStarts.fetch_add(1);
}

TEST(RecorderAndPreviewThreads, RecordingsCloseWholeAndRequestsDuringALoadPlayAtMostOnce) {
    DiskRecorder recorder;
    SamplePreview preview;
    gRecorder = &recorder;
    gPreview = &preview;
    static int runs = 0;
    ASSERT_TRUE(testsupport::startStepped(ioRender, "recorder-threads-" + std::to_string(++runs)));
    // However the test ends, the threads below are joined and the run is
    // cleaned up, in that order.
    struct RunGuard {
        ~RunGuard() { Bela_cleanupAudio(); }
    } run;
    const std::string root = host::root();
    std::filesystem::remove_all(root + "/recordings");
    ASSERT_TRUE(recorder.setup(false));
    ASSERT_TRUE(preview.setup(false));
    std::atomic<bool> done{false};
    // The writer and loader tasks, each on a thread of its own.
    struct Joined {
        std::atomic<bool>& done;
        std::thread writer, loader;
        void join() {
            done = true;
            if (writer.joinable())
                writer.join();
            if (loader.joinable())
                loader.join();
        }
        ~Joined() { join(); }
    } threads{done,
              std::thread([&] {
                  while (!done)
                      recorder.drain(), std::this_thread::yield();
              }),
              std::thread([&] {
                  while (!done)
                      if (preview.isRequested() && !preview.isLoading() && !preview.isLoaded())
                          preview.load();
                      else
                          std::this_thread::yield();
              })};
    testsupport::SteppingAudio audio;

    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(recorder.start("r" + std::to_string(i) + ".wav", 2));
        gTap = true;
        waitFor([&] { return recorder.blocksWritten() >= 20; });
        gTap = false;  // the audio thread stops pushing first, as the voice manager does
        recorder.stop();
        waitFor([&] { return !recorder.isFileOpen(); });
    }

    std::filesystem::create_directories(root + "/p");
    ASSERT_TRUE(writeSound(root + "/p/long.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000, sine(96000, 200.0, 48000.0)));
    ASSERT_TRUE(writeSound(root + "/p/short.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000, sine(480, 900.0, 48000.0)));
    std::filesystem::copy_file(root + "/p/long.wav", root + "/p/bad.wav");
    std::filesystem::resize_file(root + "/p/bad.wav", 20);  // a header cut short: unreadable
    for (const char* second : {"short.wav", "bad.wav"}) {
        gStarts = 0;
        const uint32_t taken = preview.requestsTaken();
        preview.play("/home/corvane/p/long.wav");
        // A count, not the loading flag: the long file may have played out before this looks.
        waitFor([&] { return preview.requestsTaken() > taken; });
        preview.play(std::string("/home/corvane/p/") + second);  // likely while the long one loads
        waitFor([&] { return !preview.isRequested() && !preview.isLoading() && !preview.isLoaded(); });
        const uint64_t seen = host::blocksRendered();
        waitFor([&] { return host::blocksRendered() > seen + 200; });
        EXPECT_LE(gStarts.load(), 2u) << second;  // the long file at most once, the other at most once
        EXPECT_FALSE(preview.isLoaded()) << second;
    }

    threads.join();
    audio.stop();
    Bela_cleanupAudio();
    for (int i = 0; i < 4; ++i) {
        const std::string file = root + "/recordings/r" + std::to_string(i) + ".wav";
        const long frames = std::stol("0" + testsupport::shellOutput("soxi -s '" + file + "'"));
        EXPECT_GE(frames, 20 * 64) << file;
        EXPECT_EQ(frames % 64, 0) << file;
    }
}

}  // namespace
