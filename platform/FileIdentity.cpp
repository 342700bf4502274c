#include "platform/FileIdentity.h"

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

// The folder resolved and the name: the file a write to `path` would make.
// Empty when the folder cannot be reached.
std::string newFileIdentity(std::string path) {
    if (!followLinks(path, false).empty())
        return {};
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        return {};
    char resolved[PATH_MAX];
    if (!realpath(folderOf(path).c_str(), resolved))
        return {};
    return std::string(resolved) + "/" + name;
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

bool sameRegularFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    const bool aThere = stat(a.c_str(), &sa) == 0, aNew = !aThere && errno == ENOENT;
    const bool bThere = stat(b.c_str(), &sb) == 0, bNew = !bThere && errno == ENOENT;
    if (aThere && bThere)
        return S_ISREG(sa.st_mode) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    if (!aNew || !bNew)
        return false;  // one is there and the other not, or one cannot be reached
    const std::string ia = newFileIdentity(a);
    return !ia.empty() && ia == newFileIdentity(b);
}

}  // namespace host
