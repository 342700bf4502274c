// Costs of the sample library's background work: analysing a sample and
// building and querying a feature tree. They run off the audio thread but
// bound how fast a granular voice gets fresh grains.
#include "samples/AudioResource.h"
#include "samples/KDTree.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>

namespace {

std::vector<float> noise(size_t frames) {
    std::mt19937 generator(1);
    std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
    std::vector<float> out(frames);
    for (auto& v : out)
        v = uniform(generator);
    return out;
}

std::vector<KDPoint> points(size_t count) {
    std::mt19937 generator(2);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<KDPoint> out(count);
    for (auto& p : out)
        p = {unit(generator), unit(generator)};
    return out;
}

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

void BM_TreeBuild100k(benchmark::State& state) {
    const auto p = points(100000);
    for (auto _ : state) {
        KDTree tree(p);
        benchmark::DoNotOptimize(&tree);
    }
}
BENCHMARK(BM_TreeBuild100k)->Unit(benchmark::kMillisecond);

void BM_RadiusQuery100k(benchmark::State& state) {
    const KDTree tree(points(100000));
    std::mt19937 generator(3);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float radius = float(state.range(0)) * 0.001f;
    size_t found = 0;
    for (auto _ : state) {
        const auto hits = tree.withinRadius({unit(generator), unit(generator)}, radius);
        found += hits.size();
        benchmark::DoNotOptimize(hits.data());
    }
    state.counters["hits"] = benchmark::Counter(double(found), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_RadiusQuery100k)->Arg(10)->Arg(50)->Unit(benchmark::kMicrosecond);

void BM_NearestQuery100k(benchmark::State& state) {
    const KDTree tree(points(100000));
    std::mt19937 generator(4);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (auto _ : state)
        benchmark::DoNotOptimize(tree.nearest({unit(generator), unit(generator)}));
}
BENCHMARK(BM_NearestQuery100k)->Unit(benchmark::kMicrosecond);

}  // namespace
