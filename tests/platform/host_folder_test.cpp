// The host's files of a data root: those an earlier version kept in the
// player's tmp/ are taken away at the lock, and nothing else of the
// player's; the host's own are written whole.
#include "platform/HostFolder.h"
#include "platform/Paths.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"

#include <cerrno>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>

namespace {

void spit(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// A root whose tmp/ holds what an earlier version left there.
std::string earlierRoot(const std::string& name) {
    const std::string root = testsupport::freshPath(name);
    host::makeFolders(root + "/tmp");
    spit(root + "/tmp/corvane.lock", "");
    spit(root + "/tmp/corvane-exit-code", "0\n");
    return root;
}

// Another process's write lock on `path` while it lives: an instrument of
// the earlier version still running on the root.
class Holder {
public:
    explicit Holder(const std::string& path) {
        int ready[2];
        if (pipe(ready) != 0 || pipe(release_) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(release_[1]);  // the read below ends when the test's end closes
            const int fd = open(path.c_str(), O_RDWR);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            const char held = fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0;
            (void)!write(ready[1], &held, 1);
            char done;
            (void)!read(release_[0], &done, 1);  // until the test lets go
            _exit(0);
        }
        close(ready[1]);
        char held = 0;
        held_ = read(ready[0], &held, 1) == 1 && held;
        close(ready[0]);
        close(release_[0]);
    }
    ~Holder() {
        close(release_[1]);
        if (pid_ > 0)
            waitpid(pid_, nullptr, 0);
    }
    bool held() const { return held_; }
    pid_t pid() const { return pid_; }

private:
    int release_[2] = {-1, -1};
    pid_t pid_ = -1;
    bool held_ = false;
};

TEST(HostFolder, AnEarlierVersionsFilesLeaveThePlayersTmpAndNothingElseDoes) {
    {
        const std::string root = earlierRoot("earlier-only");
        ASSERT_TRUE(host::lockRoot(root));
        host::unlockRoot();
        EXPECT_FALSE(exists(root + "/tmp"));
        EXPECT_TRUE(exists(root + "/.host/corvane.lock"));
    }
    {
        // An empty tmp/ is the player's own.
        const std::string root = testsupport::freshPath("players-empty-tmp");
        host::makeFolders(root + "/tmp");
        ASSERT_TRUE(host::lockRoot(root));
        host::unlockRoot();
        EXPECT_TRUE(exists(root + "/tmp"));
    }
    {
        // The player's files stay, and so does tmp/ with them; a link is
        // never followed, nor taken for the file.
        const std::string root = earlierRoot("earlier-beside-mine");
        spit(root + "/tmp/take.wav", "take");
        spit(root + "/song.txt", "song");
        ASSERT_EQ(unlink((root + "/tmp/corvane-exit-code").c_str()), 0);
        ASSERT_EQ(symlink("../song.txt", (root + "/tmp/corvane-exit-code").c_str()), 0);
        ASSERT_TRUE(host::lockRoot(root));
        host::unlockRoot();
        EXPECT_FALSE(exists(root + "/tmp/corvane.lock"));
        EXPECT_TRUE(exists(root + "/tmp/corvane-exit-code"));
        EXPECT_EQ(slurp(root + "/song.txt"), "song");
        EXPECT_EQ(slurp(root + "/tmp/take.wav"), "take");
    }
    {
        const std::string root = testsupport::freshPath("tmp-is-a-link");
        const std::string elsewhere = earlierRoot("elsewhere") + "/tmp";
        host::makeFolders(root);
        ASSERT_EQ(symlink(elsewhere.c_str(), (root + "/tmp").c_str()), 0);
        ASSERT_TRUE(host::lockRoot(root));
        host::unlockRoot();
        EXPECT_TRUE(exists(elsewhere + "/corvane.lock"));
        EXPECT_TRUE(exists(elsewhere + "/corvane-exit-code"));
        EXPECT_TRUE(exists(root + "/tmp"));
    }
    {
        // Both versions' instruments on one root would write the same files.
        const std::string root = earlierRoot("earlier-running");
        Holder earlier(root + "/tmp/corvane.lock");
        ASSERT_TRUE(earlier.held());
        testing::internal::CaptureStderr();
        const bool locked = host::lockRoot(root);
        const std::string err = testing::internal::GetCapturedStderr();
        host::unlockRoot();
        EXPECT_FALSE(locked);
        EXPECT_EQ(err.rfind("Bela_initAudio: the data root " + root + " is in use by process " +
                                std::to_string(earlier.pid()),
                            0),
                  0u)
            << err;
        EXPECT_TRUE(exists(root + "/tmp/corvane.lock"));
    }
}

// The exit-code file on a full disk (a file-size limit stands in for it):
// the last one goes and no part of the new one is left, so the next run
// does not read an empty file as a crash.
TEST(HostFolder, AFileWrittenWholeOrNotAtAll) {
    const std::string file = testsupport::freshPath("whole") + "/corvane-exit-code";
    host::makeFolders(file.substr(0, file.rfind('/')));
    ASSERT_TRUE(host::writeWholeFile(file, "0\n"));
    ASSERT_TRUE(host::writeWholeFile(file, "139\n"));
    EXPECT_EQ(slurp(file), "139\n");
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{2, 2};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(!host::writeWholeFile(file, "143\n") && errno == EFBIG ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(exists(file));
    EXPECT_FALSE(exists(file + ".new"));
}

}  // namespace
