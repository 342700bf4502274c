// What scripts/run.sh says, line for line, on a root whose host folder is a
// player's file: the causes the run meets, and nothing of what it rightly
// leaves alone (an exit-code file that cannot be there needs no removing).
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

void spit(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The lines run.sh writes to standard error, run in `dir` with `program`
// through the built launcher, and its status last ("status N").
std::vector<std::string> runLines(const std::string& dir, const std::string& program, const std::string& args) {
    std::istringstream in(testsupport::shellOutput(
        "cd '" + dir + "' && CORVANE_BINARY='" + program + "' CORVANE_LAUNCHER='" CORVANE_LAUNCHER "' '"
        CORVANE_SOURCE_DIR "/scripts/run.sh' " + args + " </dev/null 2>&1 >/dev/null; echo status $?"));
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

TEST(LauncherWords, ARootWhoseHostFolderIsAFileIsSaidLineForLine) {
    const std::string dir = testsupport::freshPath("host-file-words");
    ASSERT_TRUE(host::makeFolders(dir + "/root"));
    spit(dir + "/root/.host", "mine");

    // Offline: the instrument's own lines (the run unguarded, no MIDI port
    // link), none of the launcher's.
    std::vector<std::string> said = runLines(dir, CORVANE_BINARY, "--root root --offline --blocks 10");
    const std::string unguarded = "Bela_initAudio: cannot lock root/.host/corvane.lock (Not a directory): the data "
                                  "root is not guarded against a second instrument";
    EXPECT_EQ(std::count(said.begin(), said.end(), unguarded), 1) << testing::PrintToString(said);
    std::vector<std::string> launchers;
    std::copy_if(said.begin(), said.end(), std::back_inserter(launchers),
                 [](const std::string& line) { return line.rfind("run.sh:", 0) == 0 || line.rfind("status ", 0) == 0; });
    EXPECT_EQ(launchers, std::vector<std::string>{"status 0"}) << testing::PrintToString(said);

    // In real time, supervised: the exit code it cannot keep and the end.
    const std::string program = dir + "/program.sh";
    spit(program, "#!/bin/sh\nexit 5\n");
    chmod(program.c_str(), 0755);
    said = runLines(dir, program, "--root root");
    EXPECT_EQ(said, (std::vector<std::string>{
                        "run.sh: cannot write root/.host/corvane-exit-code (Not a directory): the next run starts "
                        "as after a power-on",
                        "run.sh: the instrument did not start (exit code 5); not starting it again", "status 5"}));
    std::ifstream kept(dir + "/root/.host");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "mine");
}

}  // namespace
