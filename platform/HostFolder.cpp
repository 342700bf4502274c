#include "platform/HostFolder.h"

#include "platform/Audio.h"
#include "platform/Launcher.h"
#include "platform/Paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace host {

namespace {
// An earlier version mapped the board's tmp/ as it is: ROOT/tmp held the
// lock and the exit-code file, where the file browser lists them.
constexpr const char* kEarlierFolder = "tmp";
constexpr const char* kAsideSuffix = ".new";
constexpr const char* kRootUnguarded =
    "Bela_initAudio: cannot lock %s (%s): the data root is not guarded against a second instrument\n";
int gLockFd = -1;

// The lock file's bytes: the root's keeper (a launcher, or an instrument
// started alone) holds byte 0, each run a launcher started holds byte 1,
// so a run keeps the root held after its launcher has gone. Whoever takes
// the root locks the whole file, and so meets either.
constexpr off_t kKeeperByte = 0;
constexpr off_t kRunByte = 1;

bool setLock(int fd, short type, off_t start, off_t length) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length;
    return fcntl(fd, F_SETLK, &lock) == 0;
}

// A lock held by a process that has no PID here: one in another PID
// namespace, or on another machine of a network file system (F_GETLK
// names it 0).
constexpr pid_t kUnnamed = -1;

// The process holding a write lock that would conflict with ours over
// [start, start + length), or kUnnamed; 0 when there is none (or it has
// just let go).
pid_t lockHolder(int fd, off_t start = 0, off_t length = 0) {
    struct flock holder {};
    holder.l_type = F_WRLCK;
    holder.l_whence = SEEK_SET;
    holder.l_start = start;
    holder.l_len = length;
    if (fcntl(fd, F_GETLK, &holder) != 0 || holder.l_type == F_UNLCK)
        return 0;
    return holder.l_pid > 0 ? holder.l_pid : kUnnamed;
}

// The keeper is named first: while a launcher lives, it is the holder.
pid_t rootHolder(int fd) {
    const pid_t keeper = lockHolder(fd, kKeeperByte, 1);
    return keeper != 0 ? keeper : lockHolder(fd);
}

void sayInUse(const char* who, const std::string& root, pid_t holder) {
    std::string name;
    if (holder != kUnnamed)
        std::getline(std::ifstream("/proc/" + std::to_string(holder) + "/comm"), name);
    sayRefusal(std::string(who) + "the data root " + root + " is in use by " +
               (holder == kUnnamed ? "another process"
                                   : "process " + std::to_string(holder) + (name.empty() ? "" : " (" + name + ")")));
}

// The holder of the earlier version's lock (or kUnnamed), looked at
// without changing anything; 0 when it is free or not there.
pid_t earlierHolder(const std::string& root) {
    const std::string path = root + "/" + kEarlierFolder + "/" + kLockFileName;
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat st;
    const pid_t holder = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? lockHolder(fd) : 0;
    close(fd);
    return holder;
}

// The earlier version's two files go (regular files only, never through a
// link), and tmp/ with them when they were all it held: a tmp/ of the
// player's own stays, empty or not.
void removeEarlierFiles(const std::string& root) {
    const std::string folder = root + "/" + kEarlierFolder;
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0)
        return;
    bool removed = false;
    for (const char* name : {kLockFileName, kExitCodeFileName}) {
        struct stat st;
        if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && unlinkat(dir, name, 0) == 0)
            removed = true;
    }
    close(dir);
    if (removed)
        rmdir(folder.c_str());  // refused while anything of the player's is in it
}
}  // namespace

std::string hostFolderOf(const std::string& root) { return root + "/" + std::string(kHostFolderName); }
std::string exitCodeFileOf(const std::string& root) { return hostFolderOf(root) + "/" + kExitCodeFileName; }
std::string portLinkOf(const std::string& root) { return hostFolderOf(root) + "/" + kPortLinkName; }
std::string longestHostPathOf(const std::string& root) { return exitCodeFileOf(root) + kAsideSuffix; }

bool writeWholeFile(const std::string& path, const std::string& text) {
    const std::string aside = path + kAsideSuffix;
    const int fd = open(aside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    bool written = fd >= 0;
    for (size_t done = 0; written && done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        written = n > 0;
        done += written ? size_t(n) : 0;
    }
    written = written && fsync(fd) == 0;
    if (fd >= 0 && close(fd) != 0)
        written = false;
    if (written && rename(aside.c_str(), path.c_str()) == 0)
        return true;
    const int error = errno;
    unlink(aside.c_str());
    unlink(path.c_str());
    errno = error;
    return false;
}

RootHold holdRoot(const std::string& root, const char* who, bool sayUnguarded) {
    unlockRoot();
    if (const pid_t holder = earlierHolder(root)) {
        sayInUse(who, root, holder);
        return RootHold::InUse;
    }
    const std::string folder = hostFolderOf(root);
    const std::string path = folder + "/" + kLockFileName;
    int fd = -1;
    if (makeFolders(folder))
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    RootHold hold = RootHold::Unguarded;
    // A holder that lets go between the two calls leaves no one to name:
    // try again. One that no PID here names is in use all the same.
    for (int attempt = 0; fd >= 0 && attempt < 3; ++attempt) {
        if (setLock(fd, F_WRLCK, 0, 0)) {
            hold = RootHold::Taken;
            break;
        }
        if (errno != EACCES && errno != EAGAIN)
            break;
        const pid_t holder = rootHolder(fd);
        if (holder == 0)
            continue;
        // The launcher holds the root for the runs it starts; the run holds
        // it too, until it has ended.
        if (holder == getppid() && startedByLauncher()) {
            if (setLock(fd, F_WRLCK, kRunByte, 1)) {
                hold = RootHold::Shared;
                break;
            }
            if (errno != EACCES && errno != EAGAIN)
                break;
            const pid_t run = lockHolder(fd, kRunByte, 1);
            if (run == 0)
                continue;
            sayInUse(who, root, run);
            close(fd);
            return RootHold::InUse;
        }
        sayInUse(who, root, holder);
        close(fd);
        return RootHold::InUse;
    }
    if (hold == RootHold::Taken || hold == RootHold::Shared) {
        gLockFd = fd;
    } else if (fd >= 0) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    if (hold == RootHold::Unguarded && sayUnguarded)
        fprintf(stderr, kRootUnguarded, path.c_str(), strerror(errno));
    removeEarlierFiles(root);
    return hold;
}

bool lockRoot(const std::string& root) { return holdRoot(root, "Bela_initAudio: ", true) != RootHold::InUse; }

void unlockRoot() {
    if (gLockFd >= 0)
        close(gLockFd);  // the lock goes with the descriptor
    gLockFd = -1;
}

void shareRootWithRuns() {
    if (gLockFd >= 0)
        setLock(gLockFd, F_UNLCK, kRunByte, 0);
}

void keepRootLockAcrossExec() {
    if (gLockFd >= 0)
        fcntl(gLockFd, F_SETFD, 0);
}

}  // namespace host
