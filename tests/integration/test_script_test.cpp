// scripts/test.sh reads its arguments before it installs or builds anything.
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

namespace {

// Run with a PATH that holds `cat` (for the usage) alone: were an argument
// not read first, the script would stop at its first other command instead
// of starting the whole test run.
std::string testScript(const std::string& arguments) {
    static const std::string bin = [] {
        const std::string folder = testsupport::freshPath("cat-only");
        host::makeFolders(folder);
        (void)!symlink("/bin/cat", (folder + "/cat").c_str());
        return folder;
    }();
    return testsupport::shellOutput("env -i PATH='" + bin + "' /bin/bash '" CORVANE_SOURCE_DIR "/scripts/test.sh' " +
                                    arguments + "; echo status $?");
}

TEST(TestScript, AnUnknownArgumentIsRefusedAndHelpSaysTheUsage) {
    EXPECT_EQ(testScript("--bogus 2>&1 >/dev/null"), "test.sh: unknown argument: --bogus (see --help)\nstatus 2\n");
    const std::string help = testScript("--help 2>&1");
    EXPECT_EQ(help.rfind("Usage: scripts/test.sh", 0), 0u) << help;
    EXPECT_NE(help.find("\nstatus 0\n"), std::string::npos) << help;
}

}  // namespace
