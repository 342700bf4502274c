// Processes as /proc shows them: a run's children (the instrument under its
// launcher, the console relay under the instrument).
#pragma once

#include "tests/support/corvane_process.h"
#include "tests/support/wait.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <csignal>

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

// Starts `argv` with `envp` as the leader of a process group of its own, as
// a terminal starts its foreground job: the stops at their default, standard
// input /dev/null, standard output and error on `out` and `err`. All it
// takes is made before the fork: the child of a threaded process only execs.
inline pid_t startInGroup(char* const argv[], char* const envp[], int out, int err) {
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        for (int sig : {SIGINT, SIGTERM, SIGHUP})
            signal(sig, SIG_DFL);
        dup2(open("/dev/null", O_RDONLY), 0);
        dup2(out, 1);
        dup2(err, 2);
        execve(argv[0], argv, envp);
        _exit(127);
    }
    if (pid > 0)
        setpgid(pid, pid);  // the group exists before anyone signals it
    return pid;
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
