// Saving and loading a full project of five tracks, and the peak memory of
// loading the largest file the size cap lets through. Run with
//   --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
// for medians.
#include "../tests/support/file_world.h"
#include "instrument/files/PartFile.h"
#include "instrument/files/ProjectFolder.h"
#include "platform/Paths.h"

#include "bench/ScratchFolder.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string>

namespace {

constexpr const char* kProject = "/home/corvane/projects/bench-project/bench.proj";

struct Full {
    filetest::World world;
    Full() {
        host::setRoot(bench::scratchFolder("corvane-files-bench"));
        host::makeFolders(host::hostPath("/home/corvane/projects/bench-project"));
        for (int i = 0; i < 5; ++i) {
            auto& t = world.track(i);
            t.nameParam.setFromString("track " + std::to_string(i + 1));
            t.useEngine(i % 2 ? EngineSubtractive : EngineGranular);
            t.chain.insertEffect(AudioEffectType::Limiter, 1);
        }
        for (int l = 0; l < NoteManager::kListCount; ++l) {
            NoteList list;
            for (int s = 0; s < 16; ++s) {
                NoteStep step;
                for (int k = 0; k < 1 + s % 3; ++k)
                    step.add(Note{NoteType::NoteOn, (s + k * 4) % 12, k, -6.0f, 10});
                list.steps.push_back(step);
            }
            world.notes.setList(l, list);
        }
        world.samples.addGroup("drums", {"kick.wav", "snare.wav", "hat.wav"});
        world.samples.addGroup("keys", {"c3.wav", "e3.wav", "g3.wav"});
        for (int s = 1; s < filetest::Motion::kSlots; ++s)
            world.motion.slots[size_t(s)] = filetest::Motion::recording(float(s) / 25.0f);
    }
};

Full& full() {
    static Full* f = new Full();
    return *f;
}

void BM_SaveProject(benchmark::State& state) {
    full();
    for (auto _ : state)
        benchmark::DoNotOptimize(saveProject(kProject, false));
}
BENCHMARK(BM_SaveProject)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadProject(benchmark::State& state) {
    Full& f = full();
    saveProject(kProject, false);
    for (auto _ : state)
        benchmark::DoNotOptimize(readFile(kProject, f.world.track(0), false));
}
BENCHMARK(BM_LoadProject)->Unit(benchmark::kMillisecond)->UseRealTime();

// A file just under the cap: an array of small numbers (0) or of small
// objects (1), the shapes that cost the most memory per byte of text.
std::string capSizedFile(int shape) {
    const std::string path = "/home/corvane/cap-" + std::to_string(shape) + ".json";
    std::ofstream out(host::hostPath(path), std::ios::binary);
    const std::string element = shape == 0 ? "0," : "{\"a\":0},";
    const size_t count = (PartFile::kMaxFileSize - 64) / element.size();
    out << "{\"padding\":[";
    for (size_t i = 0; i < count; ++i)
        out << element;
    out << "0]}";
    return path;
}

long maxRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void BM_LoadCapSizedFile(benchmark::State& state) {
    Full& f = full();
    const std::string path = capSizedFile(int(state.range(0)));
    double peakMiB = 0.0;
    for (auto _ : state) {
        // In a child, so the peak is this load's alone.
        int fds[2];
        if (pipe(fds) != 0)
            break;
        const pid_t pid = fork();
        if (pid == 0) {
            const long before = maxRssKiB();
            readFile(path, f.world.track(0), false);
            const long grown = maxRssKiB() - before;
            (void)!write(fds[1], &grown, sizeof grown);
            _exit(0);
        }
        long grown = -1;
        (void)!read(fds[0], &grown, sizeof grown);
        waitpid(pid, nullptr, 0);
        close(fds[0]);
        close(fds[1]);
        peakMiB = double(grown) / 1024.0;
    }
    state.counters["peak_MiB"] = peakMiB;
}
BENCHMARK(BM_LoadCapSizedFile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
