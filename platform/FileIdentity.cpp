#include "platform/FileIdentity.h"

#include "platform/StandardOutput.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace host {
namespace {

// The folder a name is in, as the path gives it.
std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The kernel's protected_symlinks rule, whether or not it is switched on
// here: in a sticky folder anyone may write to, a link planted by someone
// else must not lead the player's writes onto the player's own files.
bool mayFollow(const std::string& link, const struct stat& linkStat) {
    if (linkStat.st_uid == geteuid())
        return true;
    struct stat folder {};
    if (stat(folderOf(link).c_str(), &folder) != 0)
        return false;
    const mode_t shared = S_ISVTX | S_IWOTH;
    return (folder.st_mode & shared) != shared || folder.st_uid == linkStat.st_uid;
}

// Where a name is, its folder resolved but the name itself not followed:
// the file a write to it would make or meet. Empty when the folder cannot
// be reached or the name is no file's (".", "..").
std::string resolvedName(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        return {};
    char resolved[PATH_MAX];
    if (!realpath(folderOf(path).c_str(), resolved))
        return {};
    const std::string folder = resolved;
    return (folder == "/" ? "" : folder) + "/" + name;
}

// The file a write to `path` would make, through its links. Empty when the
// folder cannot be reached.
std::string newFileIdentity(std::string path) {
    if (!followLinks(path, false).empty())
        return {};
    return resolvedName(path);
}

// What a name or a descriptor stands for, as the one rule compares them.
struct Identity {
    bool there = false;
    struct stat st {};
    std::string newFile;  // when not there: the file a write would make
};

Identity identityOf(const std::string& path) {
    Identity id;
    if (stat(path.c_str(), &id.st) == 0)
        id.there = true;
    else if (errno == ENOENT)
        id.newFile = newFileIdentity(path);
    return id;
}

Identity identityOf(int fd) {
    Identity id;
    id.there = fstat(fd, &id.st) == 0;
    return id;
}

bool oneFile(const Identity& a, const Identity& b) {
    if (a.there && b.there)
        return a.st.st_dev == b.st.st_dev && a.st.st_ino == b.st.st_ino && !S_ISCHR(a.st.st_mode) &&
               !S_ISDIR(a.st.st_mode);
    if (a.there || b.there)
        return false;  // one is there and the other not, or one cannot be reached
    return !a.newFile.empty() && a.newFile == b.newFile;
}

std::string realPathOf(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// A folder of the host's own is shallow: a deeper one is no one's.
constexpr int kDeepestFolder = 8;

// Whether a file in `folder` or below it is the one `path` leads to.
bool holdsFile(const std::string& folder, const std::string& path, int depth) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return false;
    bool found = false;
    while (!found) {
        const dirent* entry = readdir(dir);
        if (!entry)
            break;
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string inside = folder + "/" + name;
        struct stat st {};
        if (lstat(inside.c_str(), &st) != 0)
            continue;
        found = S_ISDIR(st.st_mode) ? depth < kDeepestFolder && holdsFile(inside, path, depth + 1)
                                    : sameFile(path, inside);
    }
    closedir(dir);
    return found;
}

}  // namespace

std::string followLinks(std::string& path, bool asTheKernelWould) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return {};
        if (asTheKernelWould && !mayFollow(path, st))
            return "a link in a shared sticky folder that is not yours";
        char target[PATH_MAX];
        const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
        if (n < 0)
            return std::strerror(errno);
        target[n] = '\0';
        const size_t slash = path.rfind('/');
        path = target[0] == '/' || slash == std::string::npos ? std::string(target)
                                                              : path.substr(0, slash + 1) + target;
    }
    return std::strerror(ELOOP);
}

bool sameFile(const std::string& a, const std::string& b) {
    // Standard output may have been taken for the audio: its names no
    // longer lead where it is, and a file there is one with it.
    const bool outA = leadsToStandardOutput(a), outB = leadsToStandardOutput(b);
    if (outA || outB)
        return outA && outB;
    return oneFile(identityOf(a), identityOf(b));
}

bool sameFileAsOpen(const std::string& path, int fd) { return oneFile(identityOf(path), identityOf(fd)); }

bool leadsInto(const std::string& path, const std::string& folder) {
    const std::string base = realPathOf(folder);
    if (base.empty())
        return false;
    const auto within = [&](const std::string& name) {
        return !name.empty() && (name == base || name.starts_with(base == "/" ? base : base + "/"));
    };
    // Standard output is open already: what it is counts, not where its
    // names lead now.
    if (!leadsToStandardOutput(path)) {
        std::string target = path;
        if (within(resolvedName(path)) || within(realPathOf(path)) ||
            (followLinks(target, false).empty() && within(resolvedName(target))))
            return true;
    }
    return holdsFile(base, path, 0);
}

}  // namespace host
