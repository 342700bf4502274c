// Whole documents through readFile: project, part and configuration files.
// Each input is written as a project file beside a saved project's parts,
// then read into a small instrument; a bad file must end in a load result.
#include "../support/file_world.h"
#include "instrument/files/PartFile.h"
#include "instrument/files/ProjectFolder.h"
#include "platform/Paths.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr const char* kPath = "/home/corvane/projects/f-project/f.proj";

// The root is a fresh folder of this run's own, gone when the run ends
// (libFuzzer exits normally at the end of its time; a crash keeps it).
std::string* gRoot = nullptr;

void removeRoot() {
    std::error_code ec;
    std::filesystem::remove_all(*gRoot, ec);
}

filetest::World& world() {
    static filetest::World* w = [] {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/corvane-files-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data()))
            std::abort();
        gRoot = new std::string(pattern);
        std::atexit(removeRoot);
        host::setRoot(pattern);
        // The project is saved into a folder of its own inside projects/,
        // which must be there: a failed save would leave no part to read.
        if (!host::makeFolders(host::hostPath("/home/corvane/projects")))
            std::abort();
        auto* created = new filetest::World();  // kept: its objects outlive every run
        created->track(1).useEngine(EngineSubtractive);
        created->samples.addGroup("drums", {"kick.wav"});
        created->motion.slots[3] = filetest::Motion::recording(0.5f);
        if (saveProject("/home/corvane/projects/f.proj", true) != SaveSuccess)
            std::abort();
        return created;
    }();
    return *w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    filetest::World& w = world();
    {
        std::ofstream out(host::hostPath(kPath), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    const LoadResult result = readFile(kPath, w.track(0), false);
    if (result < LoadSuccess || result > LoadDependencyFailed)
        std::abort();
    for (int i = 0; i < 5; ++i)
        if (w.track(i).chain.effectCount() > w.track(i).chain.maxEffects || w.track(i).chain.isBusy())
            std::abort();
    if (w.output.effectCount() > w.output.maxEffects)
        std::abort();
    for (int i = 0; i < w.notes.listCount(); ++i)
        if (w.notes.list(i)->steps.size() > NoteList::kMaxSteps)
            std::abort();
    return 0;
}
