// Costs of the sample library. Off the audio thread: analysing a sample, the
// pool worker's analysis throughput (one-minute files per second), and the
// feature tree side by side with nanoflann on the same 100,000 random points
// and the same queries (the benchmark checks once that both find the same
// hits). On the audio thread: the disk recorder's push of an eight-channel
// block, the most it does per block. For a repeatable instruction count of
// that push run BM_RecorderFixedBlocks under callgrind, counting only the push
// (--toggle-collect='DiskRecorder::pushBlock*'), with CORVANE_BENCH_BLOCKS=N
// and =0, and divide the difference by N.
#include "platform/AuxiliaryTask.h"
#include "platform/Paths.h"
#include "samples/AudioResource.h"
#include "samples/AudioResourcePool.h"
#include "samples/DiskRecorder.h"
#include "samples/KDTree.h"

#include "bench/ScratchFolder.h"

#include <benchmark/benchmark.h>
#if __has_include(<nanoflann.hpp>)
#include <nanoflann.hpp>
#define CORVANE_HAVE_NANOFLANN 1
#endif
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>

namespace {

std::vector<float> noise(size_t frames) {
    std::mt19937 generator(1);
    std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
    std::vector<float> out(frames);
    for (auto& v : out)
        v = uniform(generator);
    return out;
}

[[maybe_unused]] std::vector<KDPoint> points(size_t count, size_t dim, unsigned seed = 2) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<KDPoint> out(count, KDPoint(dim));
    for (auto& p : out)
        for (auto& c : p)
            c = unit(generator);
    return out;
}

long fixedBlocks() {
    const char* env = std::getenv("CORVANE_BENCH_BLOCKS");
    return env ? std::atol(env) : 10000;
}

std::string benchRoot() {
    static const std::string root = [] {
        const std::string& r = bench::scratchFolder("corvane-samples-bench");
        host::setRoot(r);
        return r;
    }();
    return root;
}

// ---- analysis

void BM_AnalyseOneMinuteAt48k(benchmark::State& state) {
    const auto minute = noise(48000 * 60);
    for (auto _ : state) {
        state.PauseTiming();
        auto r = std::make_unique<AudioResource>("/nonexistent/minute.wav");
        r->channels = {minute};
        r->sampleRate = 48000.0f;
        r->loaded = true;
        state.ResumeTiming();
        r->analyse();
        benchmark::DoNotOptimize(r->frameFeatures.data());
        state.PauseTiming();
        r.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_AnalyseOneMinuteAt48k)->Unit(benchmark::kMillisecond);

// One worker run over four one-minute files the pool has just loaded.
void BM_PoolWorkerOneMinuteFiles(benchmark::State& state) {
    const std::string root = benchRoot();
    std::filesystem::create_directories(root + "/minutes");
    const auto minute = noise(48000 * 60);
    std::vector<std::string> paths;
    for (int i = 0; i < 4; ++i) {
        const std::string name = "minutes/m" + std::to_string(i) + ".wav";
        SF_INFO info{0, 48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
        SNDFILE* f = sf_open((root + "/" + name).c_str(), SFM_WRITE, &info);
        sf_writef_float(f, minute.data(), sf_count_t(minute.size()));
        sf_close(f);
        paths.push_back("/home/corvane/" + name);
    }
    AudioResourcePool pool;
    pool.setup(false);
    for (auto _ : state) {
        state.PauseTiming();
        pool.reset();
        pool.loadSamples(paths);
        state.ResumeTiming();
        pool.runWorker();
    }
    state.counters["files/s"] =
        benchmark::Counter(double(paths.size()), benchmark::Counter::kIsIterationInvariantRate);
    std::filesystem::remove_all(root + "/minutes");
}
BENCHMARK(BM_PoolWorkerOneMinuteFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- feature tree and nanoflann (scripts/deps.sh installs it)

#ifdef CORVANE_HAVE_NANOFLANN

// nanoflann reads the very vectors the tree is built from.
struct PointCloud {
    const std::vector<KDPoint>& pts;
    size_t kdtree_get_point_count() const { return pts.size(); }
    float kdtree_get_pt(size_t i, size_t d) const { return pts[i][d]; }
    template <class Box>
    bool kdtree_get_bbox(Box&) const { return false; }
};

template <int D>
using Nanoflann =
    nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<float, PointCloud>, PointCloud, D, uint32_t>;

constexpr size_t kPoints = 100000;
constexpr size_t kQueries = 4096;

template <int D>
void BM_TreeBuild(benchmark::State& state) {
    const auto p = points(kPoints, D);
    for (auto _ : state) {
        KDTree tree(p);
        benchmark::DoNotOptimize(&tree);
    }
}
BENCHMARK(BM_TreeBuild<2>)->Name("BM_TreeBuild100k/2d")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TreeBuild<3>)->Name("BM_TreeBuild100k/3d")->Unit(benchmark::kMillisecond);

template <int D>
void BM_NanoflannBuild(benchmark::State& state) {
    const auto p = points(kPoints, D);
    const PointCloud cloud{p};
    for (auto _ : state) {
        Nanoflann<D> tree(D, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(10));
        benchmark::DoNotOptimize(&tree);
    }
}
BENCHMARK(BM_NanoflannBuild<2>)->Name("BM_NanoflannBuild100k/2d")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NanoflannBuild<3>)->Name("BM_NanoflannBuild100k/3d")->Unit(benchmark::kMillisecond);

// Radius queries: state.range(0) is the radius in thousandths.
template <int D>
struct QuerySet {
    std::vector<KDPoint> data = points(kPoints, D);
    std::vector<KDPoint> queries = points(kQueries, D, 3);
    PointCloud cloud{data};
    KDTree tree{data};
    Nanoflann<D> flann{D, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(10)};
    QuerySet() { flann.buildIndex(); }

    // Both find the same points for every query (nanoflann's radius is squared).
    bool agree(float radius) const {
        std::vector<std::pair<uint32_t, float>> matches;
        for (const auto& q : queries) {
            auto ours = tree.withinRadius(q, radius);
            matches.clear();
            flann.radiusSearch(q.data(), radius * radius, matches, nanoflann::SearchParams(32, 0.0f, false));
            std::vector<uint32_t> theirs;
            for (const auto& m : matches)
                theirs.push_back(m.first);
            std::sort(ours.begin(), ours.end());
            std::sort(theirs.begin(), theirs.end());
            if (ours != theirs)
                return false;
        }
        return true;
    }
    static const QuerySet& get() {
        static const QuerySet set;
        return set;
    }
};

template <int D>
void BM_RadiusQuery(benchmark::State& state) {
    const auto& set = QuerySet<D>::get();
    const float radius = float(state.range(0)) * 0.001f;
    if (!set.agree(radius))
        state.SkipWithError("the feature tree and nanoflann disagree");
    size_t found = 0, i = 0;
    for (auto _ : state) {
        const auto hits = set.tree.withinRadius(set.queries[i++ % kQueries], radius);
        found += hits.size();
        benchmark::DoNotOptimize(hits.data());
    }
    state.counters["hits"] = benchmark::Counter(double(found), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_RadiusQuery<2>)->Name("BM_RadiusQuery100k/2d")->Arg(10)->Arg(50)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RadiusQuery<3>)->Name("BM_RadiusQuery100k/3d")->Arg(10)->Arg(50)->Unit(benchmark::kMicrosecond);

template <int D>
void BM_NanoflannRadiusQuery(benchmark::State& state) {
    const auto& set = QuerySet<D>::get();
    const float radius = float(state.range(0)) * 0.001f;
    size_t found = 0, i = 0;
    for (auto _ : state) {
        std::vector<std::pair<uint32_t, float>> matches;
        set.flann.radiusSearch(set.queries[i++ % kQueries].data(), radius * radius, matches,
                               nanoflann::SearchParams(32, 0.0f, false));
        found += matches.size();
        benchmark::DoNotOptimize(matches.data());
    }
    state.counters["hits"] = benchmark::Counter(double(found), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_NanoflannRadiusQuery<2>)->Name("BM_NanoflannRadiusQuery100k/2d")->Arg(10)->Arg(50)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NanoflannRadiusQuery<3>)->Name("BM_NanoflannRadiusQuery100k/3d")->Arg(10)->Arg(50)->Unit(benchmark::kMicrosecond);

void BM_NearestQuery100k(benchmark::State& state) {
    const auto& set = QuerySet<2>::get();
    size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(set.tree.nearest(set.queries[i++ % kQueries]));
}
BENCHMARK(BM_NearestQuery100k)->Unit(benchmark::kMicrosecond);

#endif  // CORVANE_HAVE_NANOFLANN

// ---- disk recorder (audio thread)

// Eight channels pushed block after block: interleaving and the pipe write
// (0), and with the writer task's wake-up on every push (1).
void BM_RecorderPushBlock8(benchmark::State& state) {
    benchRoot();
    const bool task = state.range(0) != 0;
    DiskRecorder recorder;
    recorder.setup(task);
    const std::string name = "bench-" + std::to_string(getpid()) + ".wav";
    std::filesystem::remove(recorder.fullPath(name));
    if (!recorder.start(name, 8)) {
        state.SkipWithError("could not start a recording");
        return;
    }
    const auto samples = noise(8 * 64);
    // Bursts the pipe holds, so every push takes the path that writes; the
    // time reported is per push.
    constexpr int kBurst = 16;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        for (int i = 0; i < kBurst; ++i)
            recorder.pushBlock(samples.data(), 0, 8);
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - begin).count() / kBurst);
        // Then the writer catches up, outside the measured time.
        if (!task)
            recorder.drain();
        while (recorder.blocksWritten() != recorder.blocksPushed())
            std::this_thread::yield();
    }
    recorder.stop();
    if (!task)
        recorder.drain();
    while (recorder.isFileOpen())
        std::this_thread::yield();
    state.counters["dropped"] = double(recorder.blocksDropped());
    std::filesystem::remove(recorder.fullPath(name));
    // The writer task holds this recorder, and a task thread still running at
    // exit aborts the run before its scratch folder is removed.
    if (task)
        host::tasksStopAll();
}
BENCHMARK(BM_RecorderPushBlock8)->Arg(0)->Arg(1)->Iterations(20000)->UseManualTime()->Unit(benchmark::kNanosecond);

// One run of CORVANE_BENCH_BLOCKS pushes, for callgrind (see the top).
void BM_RecorderFixedBlocks(benchmark::State& state) {
    benchRoot();
    const long blocks = fixedBlocks();
    DiskRecorder recorder;
    recorder.setup(false);
    const std::string name = "bench-fixed-" + std::to_string(getpid()) + ".wav";
    std::filesystem::remove(recorder.fullPath(name));
    recorder.start(name, 8);
    const auto samples = noise(8 * 64);
    for (auto _ : state)
        for (long b = 0; b < blocks; ++b) {
            recorder.pushBlock(samples.data(), 0, 8);
            if (b % 16 == 15)
                recorder.drain();  // keeps every push on the path that writes
        }
    recorder.stop();
    recorder.drain();
    std::filesystem::remove(recorder.fullPath(name));
}
BENCHMARK(BM_RecorderFixedBlocks)->Iterations(1);

}  // namespace
