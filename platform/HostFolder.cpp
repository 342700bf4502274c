#include "platform/HostFolder.h"

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
constexpr const char* kRootInUse = "%sthe data root %s is in use by process %d%s\n";
constexpr const char* kRootUnguarded =
    "Bela_initAudio: cannot lock %s (%s): the data root is not guarded against a second instrument\n";
int gLockFd = -1;

// The process holding a write lock that would conflict with ours; 0 when
// there is none (or it has just let go).
pid_t lockHolder(int fd) {
    struct flock holder {};
    holder.l_type = F_WRLCK;
    holder.l_whence = SEEK_SET;
    if (fcntl(fd, F_GETLK, &holder) != 0 || holder.l_type == F_UNLCK)
        return 0;
    return holder.l_pid;
}

void sayInUse(const char* who, const std::string& root, pid_t holder) {
    std::string name;
    std::getline(std::ifstream("/proc/" + std::to_string(holder) + "/comm"), name);
    fprintf(stderr, kRootInUse, who, root.c_str(), int(holder), name.empty() ? "" : (" (" + name + ")").c_str());
}

// The holder of the earlier version's lock, looked at without changing
// anything; 0 when it is free or not there.
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
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    // A holder that lets go between the two calls leaves no one to name:
    // try again.
    for (int attempt = 0; fd >= 0 && attempt < 3; ++attempt) {
        if (fcntl(fd, F_SETLK, &lock) == 0) {
            hold = RootHold::Taken;
            break;
        }
        if (errno != EACCES && errno != EAGAIN)
            break;
        const pid_t holder = lockHolder(fd);
        if (holder == 0) {
            errno = EAGAIN;
            continue;
        }
        // The launcher holds the root for the runs it starts.
        if (holder == getppid() && startedByLauncher()) {
            hold = RootHold::Shared;
            break;
        }
        sayInUse(who, root, holder);
        close(fd);
        return RootHold::InUse;
    }
    if (hold == RootHold::Taken) {
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

void keepRootLockAcrossExec() {
    if (gLockFd >= 0)
        fcntl(gLockFd, F_SETFD, 0);
}

}  // namespace host
