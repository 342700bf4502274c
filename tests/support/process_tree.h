// Processes as /proc shows them: a run's children (the instrument under its
// launcher, the console relay under the instrument).
#pragma once

#include "tests/support/corvane_process.h"
#include "tests/support/wait.h"

#include <sys/types.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// The processes whose parent is `parent` (any of its threads).
inline std::vector<pid_t> childrenOf(pid_t parent) {
    std::vector<pid_t> children;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string stat = slurp(entry.path().string() + "/stat");
        const size_t close = stat.rfind(')');
        if (close != std::string::npos && close + 4 < stat.size() && std::atoi(stat.c_str() + close + 4) == parent)
            children.push_back(std::atoi(entry.path().filename().c_str()));  // ") S ppid"
    }
    return children;
}

// The first child of `parent`, once it has one; -1 if none came.
inline pid_t firstChildOf(pid_t parent) {
    pid_t found = -1;
    waitUntil([&] {
        const auto children = childrenOf(parent);
        found = children.empty() ? -1 : children.front();
        return found > 0;
    });
    return found;
}

// A process's state letter ('T' stopped, 'Z' a zombie); 0 when it is gone.
inline char processState(pid_t pid) {
    const std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() ? 0 : stat[close + 2];
}

}  // namespace testsupport
