#include "platform/Paths.h"

#include "platform/HostFolder.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace host {

namespace {
std::string gRoot;
constexpr std::string_view kHome = "/home/corvane";
// The board's own folder outside its data folder, kept in the host folder.
constexpr std::string_view kBoardTmp = "tmp";
// The board's home folder has it from the factory.
constexpr const char* kProjectsFolder = "/home/corvane/projects";
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
    // A path no call can take is refused before any of its folders is made.
    if (path.size() >= PATH_MAX) {
        errno = ENAMETOOLONG;
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

std::string rootFolderFor(const std::string& root) {
    std::string r = root.empty() ? defaultRoot() : root;
    while (r.size() > 1 && r.back() == '/')
        r.pop_back();
    return r;
}

bool setRoot(const std::string& root) {
    const std::string r = rootFolderFor(root);
    // A root the host's own files in it would be too long for is refused
    // before any of its folders is made.
    if (longestHostPathOf(r).size() >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return false;
    }
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

void makeHomeFolders() {
    // A root where it cannot be made runs all the same: a save there says
    // why it failed.
    (void)mkdir(hostPath(kProjectsFolder).c_str(), 0755);
}

std::string hostFolder() { return hostFolderOf(root()); }

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
        parts.front() = kHostFolderName;
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
