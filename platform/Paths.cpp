#include "platform/Paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace host {

namespace {
std::string gRoot;
constexpr std::string_view kHome = "/home/corvane";
// The board's own folder outside its data folder, kept in the host folder.
constexpr std::string_view kBoardTmp = "tmp";
constexpr std::string_view kHostFolder = ".host";
constexpr const char* kLockName = "corvane.lock";
// An earlier version mapped the board's tmp/ as it is: ROOT/tmp held the
// lock and this file.
constexpr const char* kEarlierExitCode = "corvane-exit-code";
constexpr const char* kRootInUse = "Bela_initAudio: the data root %s is in use by process %d%s\n";
constexpr const char* kRootUnguarded =
    "Bela_initAudio: cannot lock %s (%s): the data root is not guarded against a second instrument\n";
int gLockFd = -1;

// The holder of a lock that F_SETLK refused; 0 when it has just let go.
pid_t lockHolder(int fd) {
    struct flock holder {};
    holder.l_type = F_WRLCK;
    holder.l_whence = SEEK_SET;
    if (fcntl(fd, F_GETLK, &holder) != 0 || holder.l_type == F_UNLCK)
        return 0;
    return holder.l_pid;
}

enum class Lock { Taken, Held, Refused };

// A write lock on fd. Held, with one line naming the holder, when another
// process has it; Refused, errno telling why, when the file system has none.
Lock lockFile(int fd, const std::string& rootFolder) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    // A holder that lets go between the two calls leaves no one to name:
    // try again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (fcntl(fd, F_SETLK, &lock) == 0)
            return Lock::Taken;
        if (errno != EACCES && errno != EAGAIN)
            return Lock::Refused;
        if (const pid_t holder = lockHolder(fd)) {
            std::string name;
            std::getline(std::ifstream("/proc/" + std::to_string(holder) + "/comm"), name);
            fprintf(stderr, kRootInUse, rootFolder.c_str(), int(holder),
                    name.empty() ? "" : (" (" + name + ")").c_str());
            return Lock::Held;
        }
    }
    errno = EAGAIN;
    return Lock::Refused;
}

// An earlier version kept its lock and the exit-code file in ROOT/tmp,
// where the file browser lists them to the player. Those two go (regular
// files only, never through a link), and tmp/ with them only when nothing
// else is in it. False when an instrument of that version still holds the
// root.
bool removeEarlierHostFiles(const std::string& rootFolder) {
    const std::string folder = rootFolder + "/" + std::string(kBoardTmp);
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0)
        return true;
    struct stat st;
    const int lockFd = openat(dir, kLockName, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (lockFd >= 0) {
        const bool regular = fstat(lockFd, &st) == 0 && S_ISREG(st.st_mode);
        if (regular && lockFile(lockFd, rootFolder) == Lock::Held) {
            close(lockFd);
            close(dir);
            return false;
        }
        if (regular)
            unlinkat(dir, kLockName, 0);
        close(lockFd);
    }
    if (fstatat(dir, kEarlierExitCode, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
        unlinkat(dir, kEarlierExitCode, 0);
    close(dir);
    rmdir(folder.c_str());  // refused while anything of the player's is in it
    return true;
}
}  // namespace

std::string defaultRoot() {
    const char* data = getenv("XDG_DATA_HOME");
    if (data && *data)
        return std::string(data) + "/corvane";
    const char* home = getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/share/corvane";
}

bool makeFolders(const std::string& path) {
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    std::string partial;
    size_t i = 0;
    while (i <= path.size()) {
        size_t next = path.find('/', i);
        if (next == std::string::npos)
            next = path.size();
        partial = path.substr(0, next);
        if (!partial.empty() && mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
        i = next + 1;
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

bool setRoot(const std::string& root) {
    std::string r = root.empty() ? defaultRoot() : root;
    while (r.size() > 1 && r.back() == '/')
        r.pop_back();
    if (!makeFolders(r))
        return false;
    gRoot = r;
    return true;
}

const std::string& root() {
    if (gRoot.empty())
        setRoot("");
    return gRoot;
}

std::string hostFolder() { return root() + "/" + std::string(kHostFolder); }

bool lockRoot(const std::string& rootFolder) {
    unlockRoot();
    const std::string folder = rootFolder + "/" + std::string(kHostFolder);
    const std::string path = folder + "/" + kLockName;
    int fd = -1;
    if (makeFolders(folder))
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd >= 0) {
        switch (lockFile(fd, rootFolder)) {
        case Lock::Taken: gLockFd = fd; break;
        case Lock::Held: close(fd); return false;
        case Lock::Refused: {
            const int error = errno;
            close(fd);
            fd = -1;
            errno = error;
            break;
        }
        }
    }
    // Running on is better than no instrument at all; the player is told.
    if (fd < 0)
        fprintf(stderr, kRootUnguarded, path.c_str(), strerror(errno));
    if (!removeEarlierHostFiles(rootFolder)) {
        unlockRoot();
        return false;
    }
    return true;
}

void unlockRoot() {
    if (gLockFd >= 0)
        close(gLockFd);  // the lock goes with the descriptor
    gLockFd = -1;
}

std::string hostPath(std::string_view instrumentPath) {
    std::string_view rest = instrumentPath;
    if (rest.substr(0, kHome.size()) == kHome && (rest.size() == kHome.size() || rest[kHome.size()] == '/'))
        rest.remove_prefix(kHome.size());
    // Resolve "." and ".." lexically, never above the root.
    std::vector<std::string_view> parts;
    size_t i = 0;
    while (i < rest.size()) {
        size_t next = rest.find('/', i);
        if (next == std::string_view::npos)
            next = rest.size();
        std::string_view part = rest.substr(i, next - i);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = next + 1;
    }
    // The board's /tmp is outside the player's storage: the host folder.
    const bool outsideHome = rest.size() == instrumentPath.size() && !rest.empty() && rest.front() == '/';
    if (outsideHome && !parts.empty() && parts.front() == kBoardTmp)
        parts.front() = kHostFolder;
    std::string out = root();
    for (auto part : parts) {
        out += '/';
        out += part;
    }
    if (!instrumentPath.empty() && instrumentPath.back() == '/' && !parts.empty())
        out += '/';
    return out;
}

}  // namespace host
