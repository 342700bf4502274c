// Helpers for tests against liblo's oscsend and oscdump on loopback ports.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/wait.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace oscpeers {

using testsupport::waitUntil;

// A UDP port free at the time of asking (above 1024).
inline int freePort() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    close(fd);
    return ntohs(a.sin_port);
}

inline int oscsend(int port, const std::string& arguments) {
    return std::system(("oscsend 127.0.0.1 " + std::to_string(port) + " " + arguments).c_str());
}

// oscdump as a child process; its lines are collected from a pipe.
class Oscdump {
public:
    explicit Oscdump(int port) {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            const std::string p = std::to_string(port);
            execlp("oscdump", "oscdump", "-L", p.c_str(), (char*)nullptr);
            _exit(127);
        }
        close(fds[1]);
        out_ = fds[0];
    }
    ~Oscdump() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            close(out_);
    }
    // Everything printed so far.
    const std::string& text() {
        pollfd p{out_, POLLIN, 0};
        while (poll(&p, 1, 1) > 0) {
            char buffer[4096];
            const ssize_t n = ::read(out_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            text_.append(buffer, size_t(n));
        }
        return text_;
    }
    // Sends `probe` until oscdump prints it: it is listening from then on.
    bool waitListening(int port, const std::string& probe) {
        return waitUntil([&] {
            oscsend(port, probe);
            return text().find(probe) != std::string::npos;
        });
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string text_;
};

inline size_t countOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

}  // namespace oscpeers
