#include "platform/Paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace host {

namespace {
std::string gRoot;
constexpr std::string_view kHome = "/home/corvane";
constexpr const char* kLockFile = "/tmp/corvane.lock";
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

bool lockRoot(const std::string& rootFolder) {
    unlockRoot();
    const std::string path = rootFolder + kLockFile;
    if (!makeFolders(path.substr(0, path.rfind('/'))))
        return true;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return true;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    // A holder that lets go between the two calls leaves no one to name:
    // try again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (fcntl(fd, F_SETLK, &lock) == 0) {
            gLockFd = fd;
            return true;
        }
        if (errno != EACCES && errno != EAGAIN)
            break;  // a file system without locks: run unguarded
        if (const pid_t holder = lockHolder(fd)) {
            std::string name;
            std::getline(std::ifstream("/proc/" + std::to_string(holder) + "/comm"), name);
            fprintf(stderr, "Bela_initAudio: the data root %s is in use by process %d%s\n", rootFolder.c_str(),
                    int(holder), name.empty() ? "" : (" (" + name + ")").c_str());
            close(fd);
            return false;
        }
    }
    close(fd);
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
