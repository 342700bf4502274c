// The corvane executable run as its own process, its output kept in files.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

struct Outcome {
    int status = -1;  // the exit status; -1 when a signal ended it
    std::string out, err;
};

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Starts the executable with `args`, its standard output and error written
// to the two files ("/dev/null" for either to drop it), its environment this
// process's with the "NAME=value" entries of `env` added.
inline pid_t startCorvane(const std::vector<std::string>& args, const std::string& outFile,
                          const std::string& errFile, const std::vector<std::string>& env = {}) {
    // Built before the fork: the child of a threaded process only execs.
    std::vector<char*> argv{const_cast<char*>(CORVANE_BINARY)};
    for (auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e)
        envp.push_back(*e);
    for (auto& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        execve(CORVANE_BINARY, argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

// Kills and reaps a started instrument that a failed wait would leave
// running; the test sets pid to 0 (or reaps it itself) once it has ended.
struct Reaper {
    pid_t pid;
    ~Reaper() {
        if (pid > 0 && kill(pid, SIGKILL) == 0)
            waitpid(pid, nullptr, 0);
    }
};

inline Outcome finishCorvane(pid_t pid, const std::string& outFile, const std::string& errFile) {
    Outcome r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = slurp(outFile);
    r.err = slurp(errFile);
    return r;
}

inline Outcome runCorvane(const std::vector<std::string>& args, const std::string& outFile,
                          const std::string& errFile) {
    return finishCorvane(startCorvane(args, outFile, errFile), outFile, errFile);
}

}  // namespace testsupport
