// A stop that comes while a project is being saved: the save ends first, and
// the configuration saved at the exit has "last project" leading to it. The
// save is held (platform/Hold.h) between writing the project's files and
// setting "last project" while the run is stopped.
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"
#include "tests/support/corvane_process.h"
#include "tests/support/example_run.h"
#include "tests/support/wait.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <string>

namespace {

TEST(StopDuringSave, TheConfigurationSavedAtTheExitLeadsToTheProject) {
    const std::string root = testsupport::freshPath("stop-save-root");
    const std::string fifo = testsupport::freshPath("stop-save-hold", ".fifo");
    const std::string out = testsupport::freshPath("stop-save-out", ".txt");
    const std::string err = testsupport::freshPath("stop-save-err", ".txt");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    pid_t pid = testsupport::startCorvane({"--root", root, "--panel-script", testsupport::kExamples + "save-project.panel"},
                                          out, err, {"CORVANE_HOLD_AT=project-saved", "CORVANE_HOLD_FIFO=" + fifo});
    // Lets the save go on: the hold, once it has the FIFO open, reads its end.
    auto release = [&] {
        return testsupport::waitUntil([&] {
            const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            return fd >= 0 && close(fd) == 0;
        });
    };
    // A failed wait must not leave the instrument running.
    testsupport::Reaper reaper{pid};
    auto said = [&](const std::string& line) { return testsupport::slurp(out).find(line) != std::string::npos; };

    ASSERT_TRUE(testsupport::waitUntil([&] { return said("hold: project-saved\n"); }, std::chrono::milliseconds(1)))
        << testsupport::slurp(out) << testsupport::slurp(err);
    ASSERT_EQ(kill(pid, SIGINT), 0);
    // The exit has come as far as the configuration: it waits for the save,
    // or (wrongly) has written the configuration without it.
    struct stat st {};
    EXPECT_TRUE(testsupport::waitUntil([&] {
        return said("Waiting for the load or save under way to end\n") ||
               stat((root + "/corvane.json").c_str(), &st) == 0;
    }, std::chrono::milliseconds(1)));
    ASSERT_TRUE(release());
    const testsupport::Outcome r = testsupport::finishCorvane(pid, out, err);
    reaper.pid = 0;
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(testsupport::shellOutput("jq -r '.config[\"last project\"].value' '" + root + "/corvane.json' 2>&1"),
              "/home/corvane/projects/song-project/song.proj\n")
        << r.out;
    EXPECT_EQ(stat((root + "/projects/song-project/song.proj").c_str(), &st), 0);
}

}  // namespace
