// The longest root the host takes: its own longest file in it (the exit-code
// file's aside name) just below PATH_MAX, and still written there.
#include "platform/HostFolder.h"
#include "platform/Paths.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

namespace {

TEST(RootLength, TheLongestRootIsTakenAndOneCharacterMoreIsRefused) {
    const std::string before = host::root();
    // Folders of at most 200 characters, the last one ending the root at
    // the length its longest host path leaves.
    const size_t longest = PATH_MAX - 1 - host::longestHostPathOf("").size();
    std::string root = testsupport::freshPath("root-length");
    while (root.size() < longest) {
        const size_t left = longest - root.size();
        root += "/" + std::string(left > 201 ? 100 : left - 1, 'd');
    }
    ASSERT_EQ(root.size(), longest);

    errno = 0;
    EXPECT_FALSE(host::setRoot(root + "e"));
    EXPECT_EQ(errno, ENAMETOOLONG);
    struct stat st;
    EXPECT_NE(lstat(root.substr(0, root.rfind('/')).c_str(), &st), 0) << "a folder of a refused root was made";

    ASSERT_TRUE(host::setRoot(root));
    EXPECT_EQ(host::root(), root);
    ASSERT_TRUE(host::makeFolders(host::hostFolder()));
    EXPECT_TRUE(host::writeWholeFile(host::exitCodeFileOf(root), "0\n")) << strerror(errno);
    EXPECT_EQ(host::longestHostPathOf(root).size(), size_t(PATH_MAX - 1));
    EXPECT_TRUE(host::setRoot(before));
}

}  // namespace
