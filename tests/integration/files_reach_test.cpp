// Files as the player meets them on the whole instrument in stepped mode:
// what a load says about the files it needs, and projects that always load
// back, read back from the notices, the console and the files themselves.
#include "effects/EffectChain.h"
#include "gui/GuiNotify.h"
#include "gui/ListSelect.h"
#include "instrument/files/FileTargets.h"
#include "instrument/files/PartFile.h"
#include "instrument/files/ProjectFolder.h"
#include "instrument/track/Track.h"
#include "parameters/ModulationManager.h"
#include "platform/Paths.h"
#include "sequencing/PitchScale.h"

#include "tests/support/stepped_instrument.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using json = nlohmann::json;

size_t depthOf(const json& j) {
    size_t deepest = 0;
    if (j.is_structured())
        for (const json& v : j)
            deepest = std::max(deepest, depthOf(v));
    return j.is_structured() ? deepest + 1 : 0;
}

bool has(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

class FilesReach : public testsupport::SteppedInstrument {
protected:
    void SetUp() override { start({.root = "files-reach-root", .midi = false}); }

    static Track& track() { return DSP::track[0]; }
    static TrackFiles& target() { return *fileTargets().tracks[0]; }

    // The notices waiting to be shown, once the interface task has taken
    // them from the pipe.
    static std::vector<std::string> notices() {
        step(48);
        std::vector<std::string> out;
        for (const GuiMessage& m : Driver::guiNotify.queue())
            out.emplace_back(m.text);
        return out;
    }
    static std::string consoleOf(const std::function<void()>& f) {
        testing::internal::CaptureStdout();
        f();
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }
};

// A note list's scale files that cannot be read are each named on the console
// and in a notice; the lists still load, the readable scale with them.
TEST_F(FilesReach, ScaleFilesANoteListCannotReadAreNamedAndTheListsStillLoad) {
    const std::string tunings = root_ + "/tunings/";
    host::makeFolders(tunings + "folder.scl");
    ASSERT_EQ(mkfifo((tunings + "pipe.scl").c_str(), 0644), 0);
    testsupport::writeText(tunings + "bp.scl", "! bp\nBohlen-Pierce\n3\n27/25\n25/21\n3/1\n");
    json lists = json::array();
    for (const char* name : {"gone.scl", "folder.scl", "pipe.scl", "bp.scl"})
        lists.push_back({{"tuning", std::string("/home/corvane/tunings/") + name},
                         {"symbol", {1, 2}}, {"type", {"NoteOn", "NoteOn"}}, {"octave", {0, 0}},
                         {"dbfs", {-6.0, -6.0}}, {"chance", {100, 100}}});
    testsupport::writeText(root_ + "/scales.nts", json{{"note list", lists}}.dump());

    LoadResult loaded = LoadOpenFailed;
    const std::string console = consoleOf([&] { loaded = readFile("/home/corvane/scales.nts", target(), false); });
    EXPECT_EQ(loaded, LoadSuccess);
    for (const char* line : {"[FileReadWrite] read error: gone.scl: file does not exist\n",
                             "[FileReadWrite] read error: folder.scl: opening file failed\n",
                             "[FileReadWrite] read error: pipe.scl: opening file failed\n"})
        EXPECT_NE(console.find(line), std::string::npos) << line << console;
    EXPECT_EQ(console.find("read error: bp.scl"), std::string::npos) << console;
    const std::vector<std::string> shown = notices();
    EXPECT_TRUE(has(shown, "gone.scl: file does not exist"));
    EXPECT_TRUE(has(shown, "folder.scl: opening file failed"));
    EXPECT_TRUE(has(shown, "pipe.scl: opening file failed"));

    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(DSP::noteManager.list(i)->steps.size(), 2u) << i;
    EXPECT_EQ(DSP::noteManager.list(0)->tuning, "gone.scl");
    EXPECT_EQ(DSP::noteManager.list(3)->tuning, "bp.scl");
    const PitchScale* bp = fileTargets().scaleManager().getScale("bp.scl");
    ASSERT_NE(bp, nullptr);
    EXPECT_EQ(DSP::noteManager.list(3)->stepsPerOctave, bp->stepsPerOctave());
}

// The longest chain of modulators the panel lets a player build, each on a
// control of the one before and the first on an effect's control (the
// deepest place in a saved file), saves in a project that loads back whole.
TEST_F(FilesReach, TheDeepestChainOfModulatorsSavesAndLoadsBack) {
    lfoOnAFilterFirstInTheChain(track());
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(track().modulation.size(), 1u);
    while (track().modulation.size() < ModulationManager::kMaxNesting) {
        const size_t before = track().modulation.size();
        addModulator(29, "LFO");  // on the newest LFO's frequency
        ASSERT_EQ(track().modulation.size(), before + 1);
    }
    EXPECT_EQ(track().modulation.list()->back()->nesting, ModulationManager::kMaxNesting);

    // One more link is refused where it is made.
    Driver::guiNotify.dismiss(true);
    const std::string console = consoleOf([] { addModulator(29, "LFO"); });
    EXPECT_EQ(track().modulation.size(), size_t(ModulationManager::kMaxNesting));
    EXPECT_NE(console.find("Modulators nest at most 80 deep"), std::string::npos) << console;
    EXPECT_TRUE(has(notices(), "Modulators nest at most 80 deep"));

    const std::string project = "/home/corvane/projects/deep.proj";
    ASSERT_EQ(saveByFileType(project, FileTypeProject, target(), false, true), SaveSuccess);
    size_t deepest = 0;
    for (const auto& file : std::filesystem::directory_iterator(host::hostPath("/home/corvane/projects/deep-project"))) {
        std::ifstream in(file.path());
        deepest = std::max(deepest, depthOf(json::parse(in)));
    }
    EXPECT_EQ(deepest, PartFile::kDeepestWritten);
    EXPECT_LE(deepest, PartFile::kMaxDepth);

    ASSERT_EQ(readFile("/home/corvane/projects/deep-project/deep.proj", target(), false), LoadSuccess);
    step(24);
    ASSERT_EQ(track().modulation.size(), size_t(ModulationManager::kMaxNesting));
    uint32_t longest = 0;
    for (const auto& m : *track().modulation.list())
        longest = std::max(longest, m->nesting);
    EXPECT_EQ(longest, ModulationManager::kMaxNesting);
}

}  // namespace
