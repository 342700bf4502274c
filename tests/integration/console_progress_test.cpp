// An offline render on a terminal shows how far it has come on one line
// rewritten in place; a console line printed meanwhile starts on a line of
// its own and the progress goes on below it.
#include "platform/Paths.h"
#include "tests/support/Pty.h"
#include "tests/support/raw_terminal.h"
#include "tests/support/TempDir.h"
#include "tests/support/corvane_process.h"
#include "tests/support/process_tree.h"
#include "tests/support/sound_file.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <string>
#include <vector>

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The render is held by its input, a FIFO fed slowly until the progress is on
// the terminal: the clock's start (key 24, "MainClock resumed" on standard
// output) comes later, however fast the machine.
TEST(ConsoleProgress, ConsoleLinesDuringARenderStartOnLinesOfTheirOwn) {
    const std::string root = testsupport::freshPath("console-progress");
    host::makeFolders(root);
    const std::string tone = root + "/silence.wav";
    ASSERT_TRUE(testsupport::writeSound(tone, std::vector<float>(48000 * 12), 48000, 1,
                                        SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    const std::string sound = testsupport::slurp(tone);
    const std::string fifo = root + "/in.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(root + "/clock.panel") << "7500 key 24 down\n7510 key 24 up\n";  // at 10 s
    testsupport::Pty pty;
    const int slave = testsupport::openRawTerminal(pty.slave);
    ASSERT_GE(slave, 0);
    const pid_t pid = testsupport::startCorvane({"--root", root, "--offline", "--seconds", "12", "--audio-in", fifo,
                                                 "--audio-out", root + "/out.wav", "--panel-script",
                                                 root + "/clock.panel"},
                                                pty.slave, pty.slave);
    int writer = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    fcntl(writer, F_SETFL, O_NONBLOCK);
    std::string console;
    size_t sent = 0;
    int status = -1;
    const auto drain = [&] {
        char bytes[4096];
        for (ssize_t n; (n = read(pty.master, bytes, sizeof bytes)) > 0;)
            console.append(bytes, size_t(n));
    };
    const bool ended = testsupport::waitUntil(
        [&] {
            drain();  // a full terminal would hold the run up
            const size_t upTo = contains(console, "rendered ") ? sound.size() : std::min(sound.size(), sent + 512);
            if (sent < upTo) {
                const ssize_t n = write(writer, sound.data() + sent, upTo - sent);
                sent += n > 0 ? size_t(n) : 0;
            }
            if (sent == sound.size() && writer >= 0) {
                close(writer);  // the input's end
                writer = -1;
            }
            return waitpid(pid, &status, WNOHANG) == pid;
        },
        std::chrono::milliseconds(1));
    drain();
    if (writer >= 0)
        close(writer);
    close(slave);
    if (!ended)
        kill(pid, SIGKILL);
    ASSERT_TRUE(ended) << console;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << console;

    const std::string clock = "MainClock resumed\n";
    const size_t at = console.find(clock);
    ASSERT_NE(at, std::string::npos) << console;
    EXPECT_TRUE(at > 0 && (console[at - 1] == '\n' || console[at - 1] == '\r')) << console;
    // Every progress line starts a line and nothing but a return or a newline
    // follows it.
    const std::string sample = "rendered 00:00 of 00:12";
    size_t shown = 0;
    for (size_t p = console.find("rendered "); p != std::string::npos; p = console.find("rendered ", p + 1), ++shown) {
        EXPECT_EQ(console[p - 1], '\r') << console;
        const size_t after = p + sample.size();
        EXPECT_TRUE(after == console.size() || console[after] == '\r' || console[after] == '\n') << console;
    }
    EXPECT_GE(shown, 2u) << console;
    const std::string last = "\rrendered 00:12 of 00:12\n";
    EXPECT_TRUE(contains(console, last)) << console;
    EXPECT_EQ(console.find(last), console.rfind(last)) << console;
    EXPECT_LT(at, console.find(last)) << console;
}

// The relay ends with the render and its own process reaps it: this test
// process takes in what the instrument leaves behind (a child subreaper), so
// a relay left running or unreaped is found here. A relay stopped on its own
// (SIGSTOP) does not hold the end, whether the render ends or a stop ends it.
// An offline render's world: a root, a silent input of `seconds` that the
// test feeds through a FIFO, and a raw pseudo-terminal for its console.
struct HeldRender {
    std::string root, sound, fifo;
    testsupport::Pty pty;
    int slave = -1;
    HeldRender(const char* name, int seconds) : root(testsupport::freshPath(name)), fifo(root + "/in.fifo") {
        host::makeFolders(root);
        const std::string tone = root + "/silence.wav";
        EXPECT_TRUE(testsupport::writeSound(tone, std::vector<float>(48000 * seconds), 48000, 1,
                                            SF_FORMAT_WAV | SF_FORMAT_PCM_16));
        sound = testsupport::slurp(tone);
        EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        slave = testsupport::openRawTerminal(pty.slave);
        EXPECT_GE(slave, 0);
    }
};

TEST(ConsoleProgress, TheRelayIsGoneAtTheEndOfARenderEvenStopped) {
    struct Round {
        bool stopped;
        int sig;  // 0: the render ends
    };
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    struct Subreaper {
        ~Subreaper() { prctl(PR_SET_CHILD_SUBREAPER, 0); }
    } subreaper;
    for (const Round round : {Round{false, 0}, Round{true, 0}, Round{true, SIGINT}, Round{true, SIGTERM}}) {
        SCOPED_TRACE(std::string(round.stopped ? "stopped relay, " : "relay, ") +
                     (round.sig ? sigabbrev_np(round.sig) : "the render's end"));
        HeldRender held("console-relay", 4);
        ASSERT_FALSE(HasFailure());
        const std::string &root = held.root, &sound = held.sound, &fifo = held.fifo;
        testsupport::Pty& pty = held.pty;
        const int slave = held.slave;
        const pid_t pid = testsupport::startCorvane({"--root", root, "--offline", "--seconds", "4", "--audio-in",
                                                     fifo, "--audio-out", root + "/out.wav"},
                                                    pty.slave, pty.slave);
        testsupport::Reaper reaper{pid};
        // Held by its input, fed a little at a time until the relay is there.
        // Once the instrument reads it: a start that fails never does.
        int writer = -1;
        ASSERT_TRUE(testsupport::waitUntil([&] {
            return (writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) >= 0;
        }, std::chrono::milliseconds(1)));
        size_t sent = 0;
        const auto feed = [&](size_t upTo) {
            char bytes[4096];
            while (read(pty.master, bytes, sizeof bytes) > 0) {
            }
            upTo = std::min(upTo, sound.size());
            if (writer >= 0 && sent < upTo) {
                const ssize_t n = write(writer, sound.data() + sent, upTo - sent);
                sent += n > 0 ? size_t(n) : 0;
            }
            if (writer >= 0 && sent == sound.size()) {
                close(writer);  // the input's end
                writer = -1;
            }
        };
        pid_t relay = -1;
        ASSERT_TRUE(testsupport::waitUntil([&] {
            feed(sent + 512);
            const auto children = testsupport::childrenOf(pid);
            relay = children.size() == 1 ? children.front() : -1;
            return relay > 0;
        }, std::chrono::milliseconds(1)));
        if (round.stopped) {
            ASSERT_EQ(kill(relay, SIGSTOP), 0);
            ASSERT_TRUE(testsupport::waitUntil([&] { return testsupport::processState(relay) == 'T'; }));
        }
        if (round.sig) {
            ASSERT_EQ(kill(pid, round.sig), 0);
        }
        int status = -1;
        const bool ended = testsupport::waitUntil([&] {
            if (!round.sig)
                feed(sound.size());
            return waitpid(pid, &status, WNOHANG) == pid;
        }, std::chrono::milliseconds(1));
        if (writer >= 0)
            close(writer);
        close(slave);
        if (!ended) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        reaper.pid = 0;
        // Left behind, the relay is this process's child now.
        const pid_t left = waitpid(relay, nullptr, WNOHANG);
        const int error = errno;
        if (left == 0) {
            kill(relay, SIGKILL);
            waitpid(relay, nullptr, 0);
        }
        ASSERT_TRUE(ended) << "the end waits for the relay";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_TRUE(left == -1 && error == ECHILD) << "the relay was not reaped by the instrument";
    }
}

// A Ctrl-C goes to the whole group, the relay too: it outlives it, so what
// the instrument prints after the stop reaches the terminal, the last
// progress line and the save of the configuration each on a line of its own.
TEST(ConsoleProgress, WhatARenderPrintsAfterACtrlCReachesTheTerminal) {
    HeldRender held("console-ctrl-c", 12);
    ASSERT_FALSE(HasFailure());
    const std::string &root = held.root, &sound = held.sound, &fifo = held.fifo;
    testsupport::Pty& pty = held.pty;
    const int slave = held.slave;
    // A group of its own, as a terminal starts its job: the Ctrl-C is the test's to send.
    std::vector<std::string> args{CORVANE_BINARY, "--root",      root,          "--offline", "--seconds", "12",
                                  "--audio-in",   fifo,          "--audio-out", root + "/out.wav"};
    std::vector<char*> argv, envp;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (char** e = environ; *e; ++e)
        envp.push_back(*e);
    envp.push_back(nullptr);
    const pid_t pid = testsupport::startInGroup(argv.data(), envp.data(), slave, slave);
    ASSERT_GT(pid, 0);
    struct Group {
        pid_t pid;
        ~Group() {
            if (pid > 0 && kill(-pid, SIGKILL) == 0)
                waitpid(pid, nullptr, 0);
        }
    } group{pid};
    int writer = -1;
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return (writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) >= 0; },
        std::chrono::milliseconds(1)));
    std::string console;
    const auto drain = [&] {
        char bytes[4096];
        for (ssize_t n; (n = read(pty.master, bytes, sizeof bytes)) > 0;)
            console.append(bytes, size_t(n));
    };
    // Held by its input, fed a little at a time, until the progress is shown.
    size_t sent = 0;
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
            drain();
            if (sent < sound.size() / 2) {
                const ssize_t n = write(writer, sound.data() + sent, 512);
                sent += n > 0 ? size_t(n) : 0;
            }
            return contains(console, "rendered ");
        },
        std::chrono::milliseconds(1)))
        << console;
    const size_t atStop = console.size();
    ASSERT_EQ(kill(-pid, SIGINT), 0);
    int status = -1;
    const bool ended = testsupport::waitUntil(
        [&] {
            drain();
            return waitpid(pid, &status, WNOHANG) == pid;
        },
        std::chrono::milliseconds(1));
    close(writer);
    close(slave);
    ASSERT_TRUE(ended) << console;
    group.pid = -1;
    drain();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << console;
    const std::string after = console.substr(atStop);
    const size_t last = after.find(" of 00:12\n");
    EXPECT_TRUE(last != std::string::npos && after.rfind("\rrendered ", last) != std::string::npos)
        << "no last progress line after the stop: " << after;
    EXPECT_TRUE(contains(after, "\nwriteFile(" + root + "/corvane.json)\n")) << after;
}

}  // namespace
