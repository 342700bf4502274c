// An offline run does the same thing every time, at any load: the pages the
// panel script opens run on the interface task, which keeps in step with the
// blocks instead of falling behind a render that outruns it.
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"
#include "tests/support/corvane_process.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace {

const std::string kScript = std::string(CORVANE_SOURCE_DIR) + "/examples/save-template.panel";
constexpr int kRuns = 4;

// Every file of a folder, by name.
std::map<std::string, std::string> filesOf(const std::string& folder) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        files[entry.path().filename().string()] = testsupport::slurp(entry.path().string());
    return files;
}

// The instrument started meanwhile runs on one processor, as on a busy
// machine: a task that is not kept in step runs only when the render yields.
class OneProcessor {
public:
    OneProcessor() {
        if (sched_getaffinity(0, sizeof before_, &before_) != 0)
            return;
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            if (CPU_ISSET(cpu, &before_)) {
                cpu_set_t one;
                CPU_ZERO(&one);
                CPU_SET(cpu, &one);
                pinned_ = sched_setaffinity(0, sizeof one, &one) == 0;
                return;
            }
    }
    ~OneProcessor() {
        if (pinned_)
            sched_setaffinity(0, sizeof before_, &before_);
    }

private:
    cpu_set_t before_{};
    bool pinned_ = false;
};

TEST(OfflineRepeat, SavingTheTemplateGivesTheSameProjectEveryRun) {
    std::map<std::string, std::string> first;
    for (int run = 1; run <= kRuns; ++run) {
        const std::string root = testsupport::freshPath("repeat-root");
        std::filesystem::create_directories(root + "/projects");
        const OneProcessor oneProcessor;
        const testsupport::Outcome r = testsupport::runCorvane(
            {"--root", root, "--offline", "--seconds", "10", "--panel-script", kScript},
            testsupport::freshPath("repeat-out", ".txt"), testsupport::freshPath("repeat-err", ".txt"));
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string folder = root + "/projects/template-project";
        // The script routes inputs 1 and 2 to outputs 1 and 2 before it saves.
        EXPECT_EQ(testsupport::shellOutput("jq -r '.project[\"in 1 to out chan\"].value, "
                                           ".project[\"in 2 to out chan\"].value' '" +
                                           folder + "/template.proj' 2>/dev/null"),
                  "1\n2\n")
            << "run " << run;

        const auto files = filesOf(folder);
        if (run == 1) {
            first = files;
            continue;
        }
        for (const auto& [name, text] : first) {
            const auto same = files.find(name);
            ASSERT_NE(same, files.end()) << name << " missing in run " << run;
            EXPECT_TRUE(same->second == text) << name << " differs in run " << run;
        }
        EXPECT_EQ(files.size(), first.size()) << "run " << run;
    }
}

// The instrument's random numbers (a recording's name is drawn from them)
// are the same in every offline run, whenever it runs: the second run starts
// once the clock has moved on to another second.
TEST(OfflineRepeat, ARecordingHasTheSameNameEveryRun) {
    // The sample-lists page (key 21), its menu (key 1), "record audio" and
    // "mic in 1" (key 3 twice).
    const std::string script = testsupport::freshPath("record", ".panel");
    std::ofstream(script) << "90 key 21 down\n96 key 21 up\n130 key 1 down\n136 key 1 up\n"
                             "170 key 3 down\n176 key 3 up\n210 key 3 down\n216 key 3 up\n";
    std::string names[2];
    const std::time_t first = std::time(nullptr);
    for (std::string& name : names) {
        if (&name != names) {
            ASSERT_TRUE(testsupport::waitUntil([&] { return std::time(nullptr) != first; }));
        }
        const std::string root = testsupport::freshPath("record-root");
        const testsupport::Outcome r = testsupport::runCorvane(
            {"--root", root, "--offline", "--seconds", "1", "--panel-script", script},
            testsupport::freshPath("record-out", ".txt"), testsupport::freshPath("record-err", ".txt"));
        ASSERT_EQ(r.status, 0) << r.err;
        name = testsupport::shellOutput("ls '" + root + "/recordings'");
    }
    EXPECT_NE(names[0].find("IN1-"), std::string::npos) << names[0];
    EXPECT_EQ(names[0], names[1]);
}

}  // namespace
