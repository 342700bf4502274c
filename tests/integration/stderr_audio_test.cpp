// Standard error never shares the audio and audio never goes onto a
// terminal: a start where standard error leads into the output's file or
// pipe, or where the output is a terminal, is refused before anything is
// written, and an output the disk cannot take ends the session with the
// run's one line.
#include "tests/support/Pty.h"
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"
#include "tests/support/corvane_process.h"
#include "tests/support/raw_terminal.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

using testsupport::slurp;

const std::string kRunScript = std::string(CORVANE_SOURCE_DIR) + "/scripts/run.sh";
const std::string kBuilt = "CORVANE_BINARY='" CORVANE_BINARY "' CORVANE_LAUNCHER='" CORVANE_LAUNCHER "' ";
const std::string kRunSh = kBuilt + "'" + kRunScript + "'";
const std::string kRefusal =
    "corvane: --audio-out /dev/stdout: standard error leads into the audio; send it elsewhere (2>FILE)";
// What a refusal that is no usage error says after its line.
const std::string kTryHelp = "Try 'corvane --help' for more information.\n";

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

// `sh -c command` in a child that `prepare` sets up first (after the fork,
// before the exec: async-signal-safe calls only); its exit status, -1 when
// it hung (then it is killed).
int runShell(const std::string& command, const std::function<void()>& prepare) {
    const pid_t pid = fork();
    if (pid == 0) {
        prepare();
        execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    if (!testsupport::waitUntil([&] { return waitpid(pid, &status, WNOHANG) != 0; },
                                std::chrono::milliseconds(10))) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// `sh -c command` with a new terminal as its controlling terminal (and as
// its three standard streams with `onStreams`): its status and what it put
// on the screen.
std::pair<int, std::string> runOnTerminal(const std::string& command, bool onStreams) {
    testsupport::Pty terminal;
    // Held here too: the terminal's text stays readable after the run ends.
    const int slave = testsupport::openRawTerminal(terminal.slave);
    EXPECT_GE(slave, 0);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    const int status = runShell(command, [&] {
        setsid();
        ioctl(slave, TIOCSCTTY, 0);
        for (int fd = 0; onStreams && fd <= 2; ++fd)
            dup2(slave, fd);
    });
    std::string screen;
    char text[4096];
    for (ssize_t n; (n = read(terminal.master, text, sizeof text)) > 0;)
        screen.append(text, size_t(n));
    close(slave);
    return {status, screen};
}

// Into one pipe (through run.sh and without it): refused with the line and
// where to read more, nothing else, status 1. Into one file (the launcher
// supervising, which must write no header) and into one file opened twice:
// refused, the file as it was. A device carries many streams: /dev/null
// for both is no audio case.
TEST(StderrAudio, StandardErrorLeadingIntoTheAudioIsRefused) {
    const std::string offline = " --offline --seconds 1 --audio-out /dev/stdout";
    struct Case {
        std::string start, inner, outer;
    };
    for (const Case& c : std::vector<Case>{{"'" + kRunScript + "'" + offline, "2>&1", "| cat >'%o'"},
                                           {"'" CORVANE_BINARY "'" + offline, "2>&1", "| cat >'%o'"},
                                           {"'" + kRunScript + "' --audio-out /dev/stdout", ">'%o' 2>&1", ""},
                                           {"'" CORVANE_BINARY "'" + offline, ">'%o' 2>>'%o'", ""}}) {
        SCOPED_TRACE(c.start + " " + c.inner + " " + c.outer);
        const std::string out = testsupport::freshPath("stderr-audio-out", ".wav");
        const std::string status = testsupport::freshPath("stderr-audio-status", ".txt");
        std::string command = "{ " + kBuilt + "timeout -s KILL 60 " + c.start + " --root '" +
                              testsupport::freshPath("stderr-audio-root") + "' </dev/null " + c.inner +
                              "; echo \"status $?\" >'" + status + "'; } " + c.outer;
        for (size_t at; (at = command.find("%o")) != std::string::npos;)
            command.replace(at, 2, out);
        // Only a run that is not refused meets the bound.
        testsupport::shellOutput(command);
        EXPECT_EQ(slurp(status), "status 1\n");
        EXPECT_EQ(slurp(out), c.outer.empty() ? "" : kRefusal + "\n" + kTryHelp);
    }
    EXPECT_EQ(testsupport::shellOutput("'" CORVANE_BINARY "' --root '" + testsupport::freshPath("stderr-audio-root") +
                                       "'" + offline + " >/dev/null 2>&1 </dev/null; echo \"status $?\""),
              "status 0\n");
}

// Standard error into the take the options name (`2>> take.wav`), or into
// the file behind standard output as the audio (`>> take.wav 2>&1`), alone
// and through run.sh, on a terminal: refused, the take byte for byte as it
// was, and the terminal hears the line alone.
TEST(StderrAudio, ARefusalWritesNothingIntoTheTake) {
    const std::string dir = testsupport::freshPath("stderr-audio-take");
    host::makeFolders(dir);
    ASSERT_EQ(testsupport::shellOutput("cd '" + dir + "' && '" CORVANE_BINARY "' --root root --offline --blocks 10 "
                                       "--audio-out take.wav </dev/null >/dev/null 2>&1; echo $?"),
              "0\n");
    const std::string take = slurp(dir + "/take.wav");
    ASSERT_FALSE(take.empty());
    for (const std::string& start : {std::string("'" CORVANE_BINARY "'"), "'" + kRunScript + "'"})
    for (const std::string output : {"take.wav >/dev/null 2>>take.wav", "/dev/stdout >>take.wav 2>&1"}) {
        SCOPED_TRACE(start + " " + output);
        const auto [status, screen] = runOnTerminal(
            "cd '" + dir + "' && " + kBuilt + "exec " + start + " --root root --audio-out " + output + " </dev/null",
            false);
        EXPECT_EQ(status, 1);
        EXPECT_TRUE(slurp(dir + "/take.wav") == take) << slurp(dir + "/take.wav").substr(take.size());
        EXPECT_EQ(screen, "corvane: --audio-out " + output.substr(0, output.find(' ')) +
                              ": standard error leads into the audio; send it elsewhere (2>FILE)\n");
    }
}

// run.sh's build (a stand-in checkout: deps.sh and cmake) with standard
// error into standard output's pipe, or into the file named as the output:
// what it says goes into a log, shown only when the build fails.
TEST(StderrAudio, RunShBuildsIntoALogWhenStandardErrorIsTheAudio) {
    struct Case {
        bool fails;
        std::string into;
    };
    for (const Case& c : std::vector<Case>{{false, "2>&1"},
                                           {true, "2>&1"},
                                           {false, "--audio-out '%e' 2>'%e'"},
                                           {false, "--audio-out='%e' 2>>'%e'"}}) {
        const bool fails = c.fails;
        SCOPED_TRACE(c.into + (fails ? " failing" : " passing"));
        const std::string checkout = testsupport::freshPath("stderr-audio-checkout");
        host::makeFolders(checkout + "/scripts");
        host::makeFolders(checkout + "/bin");
        std::ofstream(checkout + "/scripts/run.sh") << slurp(kRunScript);
        std::ofstream(checkout + "/scripts/deps.sh") << "#!/bin/sh\necho 'Installing: sox'\n";
        std::ofstream(checkout + "/bin/cmake")
            << "#!/bin/sh\necho \"cmake $*\"\n" << (fails ? "[ \"$1\" = --build ] && exit 2\n" : "") << "exit 0\n";
        for (const char* script : {"/scripts/run.sh", "/scripts/deps.sh", "/bin/cmake"})
            chmod((checkout + script).c_str(), 0755);
        const std::string status = testsupport::freshPath("stderr-audio-status", ".txt");
        const std::string err = testsupport::freshPath("stderr-audio-err", ".txt");
        std::string into = c.into;
        for (size_t at; (at = into.find("%e")) != std::string::npos;)
            into.replace(at, 2, err);
        std::string said = testsupport::shellOutput("{ env -u CORVANE_BINARY CORVANE_LAUNCHER=true PATH='" + checkout +
                                                    "/bin':\"$PATH\" '" + checkout + "/scripts/run.sh' " + into +
                                                    "; echo \"status $?\" >'" + status + "'; } | cat");
        said += slurp(err);
        const std::string log = slurp(checkout + "/build/release/build.log");
        EXPECT_NE(log.find("Installing: sox\n"), std::string::npos) << log;
        EXPECT_NE(log.find("cmake --build build/release"), std::string::npos) << log;
        if (fails) {
            EXPECT_EQ(slurp(status), "status 1\n");
            EXPECT_NE(said.find("run.sh: the build failed"), std::string::npos) << said;
            EXPECT_NE(said.find("cmake --build build/release"), std::string::npos) << said;
        } else {
            EXPECT_EQ(slurp(status), "status 0\n");
            EXPECT_EQ(said, "");
        }
    }
}

// Audio is never written onto a terminal: standard output on one (the
// player's own, which standard error shares) or a terminal named as the
// output (from a run without one of its own, which the check must not give
// it), alone and through run.sh in real time: refused with the line and
// where to read more, status 1, and the terminal gets nothing but text.
TEST(StderrAudio, AudioOntoATerminalIsRefused) {
    for (const std::string& start : {std::string("'" CORVANE_BINARY "'"), "'" + kRunScript + "'"}) {
        for (const bool named : {false, true}) {
            testsupport::Pty terminal;
            ASSERT_FALSE(terminal.slave.empty());
            // Held here too: the terminal's text stays readable after the run ends.
            const int slave = testsupport::openRawTerminal(terminal.slave);
            ASSERT_GE(slave, 0);
            fcntl(slave, F_SETFD, FD_CLOEXEC);
            const std::string audio = named ? terminal.slave : "/dev/stdout";
            const std::string err = testsupport::freshPath("stderr-audio-err", ".txt");
            const std::string command = kBuilt + "exec " + start + " --root '" +
                                        testsupport::freshPath("stderr-audio-root") + "' --audio-out " + audio +
                                        (named ? " </dev/null >/dev/null 2>'" + err + "'" : "");
            SCOPED_TRACE(command);
            const pid_t pid = fork();
            if (pid == 0) {
                setsid();
                if (!named)
                    ioctl(slave, TIOCSCTTY, 0);
                for (int fd = 0; fd <= 2; ++fd)
                    dup2(slave, fd);
                execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
                _exit(127);
            }
            // Read as it comes: a run that writes audio there is not held by
            // a full terminal, and ends the wait.
            std::string screen;
            const auto drain = [&] {
                char text[65536];
                for (ssize_t n; (n = ::read(terminal.master, text, sizeof text)) > 0;)
                    screen.append(text, size_t(n));
            };
            int status = 0;
            bool ended = false;
            testsupport::waitUntil([&] {
                drain();
                ended = waitpid(pid, &status, WNOHANG) == pid;
                return ended || screen.find("RIFF") != std::string::npos;
            });
            if (!ended) {
                kill(-pid, SIGKILL);
                waitpid(pid, &status, 0);
            }
            drain();
            close(slave);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
            const std::string refusal =
                "corvane: --audio-out " + audio + ": a terminal; send the audio to a file or a pipe\n";
            EXPECT_EQ(named ? slurp(err) : screen, refusal + kTryHelp);
            if (named) {
                EXPECT_EQ(screen, "");
            }
        }
    }
}

// nohup started on a terminal sends standard output to nohup.out and
// standard error after it: refused, nohup.out as it was, and the line
// reaches the terminal, once (the launcher's own reading of the options
// says nothing).
TEST(StderrAudio, NohupOnATerminalIsRefusedOnTheTerminalToo) {
    const std::string dir = testsupport::freshPath("stderr-audio-nohup");
    host::makeFolders(dir);
    const auto [status, screen] = runOnTerminal(
        "cd '" + dir + "' && " + kBuilt + "exec nohup '" + kRunScript + "' --root root --audio-out /dev/stdout",
        true);
    EXPECT_EQ(status, 1);
    const std::string said = slurp(dir + "/nohup.out");
    EXPECT_EQ(said, "");
    EXPECT_EQ(count(screen, kRefusal), 1u) << screen;
    EXPECT_EQ(screen.find("Try"), std::string::npos) << screen;
}

// A file the disk cannot take (a size limit stands for a full disk; the run
// reports it rather than die of SIGXFSZ): the run's one line, no restart,
// the launcher's status the run's, and the take up to there kept whole. A
// standard output that takes nothing (/dev/full) ends at the launcher's
// header: one line.
TEST(StderrAudio, AnOutputTheDiskCannotTakeEndsTheSession) {
    struct Case {
        std::string output, line;
        size_t runs;
    };
    const std::vector<Case> cases{
        {"take.wav >out.txt", "Error: cannot write the audio output take.wav: File too large\n", 1},
        {"/dev/stdout >/dev/full", "run.sh: cannot write the audio stream on standard output: ", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        const std::string dir = testsupport::freshPath("stderr-audio-full");
        host::makeFolders(dir);
        const int status = runShell("cd '" + dir + "' && " + kRunSh + " --root root --audio-out " + c.output +
                                        " </dev/null 2>err.txt",
                                    [] {
                                        const rlimit limit{2 << 20, 2 << 20};
                                        setrlimit(RLIMIT_FSIZE, &limit);
                                    });
        const std::string err = slurp(dir + "/err.txt");
        EXPECT_EQ(status, 1) << err;
        EXPECT_EQ(count(err, c.line), 1u) << err;
        EXPECT_EQ(count(err, "run.sh:") + count(err, "Error"), 1u) << err;
        EXPECT_EQ(count(slurp(dir + "/out.txt"), "in: 8, out 8\n"), c.runs);
        if (c.runs == 0)
            continue;
        SF_INFO info{};
        SNDFILE* take = sf_open((dir + "/take.wav").c_str(), SFM_READ, &info);
        EXPECT_TRUE(take && info.frames > 48000 / 2) << info.frames;
        if (take)
            sf_close(take);
    }
}

// A FIFO's reader leaving is the player leaving, not the disk: the launcher
// starts the next run, which waits for the next player.
TEST(StderrAudio, AFifosReaderLeavingStillRestarts) {
    const std::string dir = testsupport::freshPath("stderr-audio-fifo");
    host::makeFolders(dir);
    ASSERT_EQ(mkfifo((dir + "/out.wav").c_str(), 0644), 0);
    // Open before the run: its first open finds a reader at once.
    const int reader = open((dir + "/out.wav").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    const std::string command = "cd '" + dir + "' && " + kBuilt + "exec '" + kRunScript +
                                "' --root root --audio-out out.wav </dev/null >/dev/null 2>err.txt";
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
        _exit(127);
    }
    testsupport::Reaper reaper{pid};
    size_t got = 0;
    char block[65536];
    EXPECT_TRUE(testsupport::waitUntil([&] {
        const ssize_t n = read(reader, block, sizeof block);
        got += n > 0 ? size_t(n) : 0;
        return got >= 300000;
    }));
    close(reader);
    EXPECT_TRUE(testsupport::waitUntil(
        [&] { return slurp(dir + "/err.txt").find("waiting for a reader") != std::string::npos; },
        std::chrono::milliseconds(2)));
    const std::string err = slurp(dir + "/err.txt");
    EXPECT_EQ(count(err, "Error: cannot write the audio output out.wav: Broken pipe\n"), 1u) << err;
    EXPECT_EQ(count(err, "run.sh: restarting (last exit code 1)\n"), 1u) << err;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    reaper.pid = 0;
}

}  // namespace
