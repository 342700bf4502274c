// A console that nobody reads (`2>&1 | less` paused, its pipe full, a
// frozen terminal window) holds neither the launcher nor the instrument: a
// crash is still restarted, a stop still saves and ends. The console is
// handed over as a shell does, its description shared and blocking.
#include "tests/support/Pty.h"
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"
#include "tests/support/corvane_process.h"
#include "tests/support/process_tree.h"
#include "tests/support/wait.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

const std::string kRunScript = std::string(CORVANE_SOURCE_DIR) + "/scripts/run.sh";

// A pipe full to the brim whose reader never reads.
struct UnreadPipe {
    int ends[2] = {-1, -1};
    UnreadPipe() {
        EXPECT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
        const char page[4096] = {};
        while (write(ends[1], page, sizeof page) > 0) {
        }
        fcntl(ends[1], F_SETFL, 0);  // as blocking as a shell leaves it
    }
    ~UnreadPipe() {
        close(ends[0]);
        close(ends[1]);
    }
};

// `program` with `args` in a process group of its own, standard output on
// `out` and standard error on `err`; the group is killed when the test
// ends, whatever happened.
struct Started {
    pid_t pid = -1;
    Started(const std::string& program, const std::vector<std::string>& args, int out, int err) {
        // Made before the fork: the child of a threaded process only execs.
        std::vector<std::string> env{"CORVANE_BINARY=" CORVANE_BINARY};
        const char* asan = getenv("ASAN_OPTIONS");
        // A sanitizer build would catch the crash and exit in its own way.
        env.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":handle_segv=0");
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("CORVANE_", 0) != 0 && std::string(*e).rfind("ASAN_OPTIONS=", 0) != 0)
                env.push_back(*e);
        std::vector<char*> argv{const_cast<char*>(program.c_str())}, envp;
        for (auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        pid = testsupport::startInGroup(argv.data(), envp.data(), out, err);
    }
    ~Started() {
        if (pid > 0) {
            kill(-pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // The exit status once it has ended; -1 when a signal ended it or it hung.
    int end() {
        int status = 0;
        if (!testsupport::waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }))
            return -1;
        kill(-pid, SIGKILL);  // nothing of the group may outlive it
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

// Whether the instrument `pid` has its stop handlers in place (SIGHUP is
// the last it catches).
bool catchesStops(pid_t pid) {
    const std::string status = testsupport::slurp("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("SigCgt:\t");
    return at != std::string::npos && (std::stoull(status.substr(at + 8, 16), nullptr, 16) >> (SIGHUP - 1) & 1);
}

// The launcher's running instrument other than `other`; -1 if none came.
pid_t runningInstrument(pid_t launcher, pid_t other) {
    const std::string name = std::filesystem::path(CORVANE_BINARY).filename().string();
    pid_t found = -1;
    testsupport::waitUntil([&] {
        for (pid_t child : testsupport::childrenOf(launcher))
            if (child != other && testsupport::slurp("/proc/" + std::to_string(child) + "/comm") == name + "\n" &&
                catchesStops(child)) {
                found = child;
                return true;
            }
        return false;
    }, std::chrono::milliseconds(2));
    return found;
}

// A terminal whose reader stopped (a frozen window, a stalled ssh
// session) with a little room left: a terminal's poll says "room" while a
// line longer than what is left would wait for the reader.
struct StalledTerminal {
    testsupport::Pty pty;
    int slave = -1;
    explicit StalledTerminal(int refill = 300) {
        const int filler = open(pty.slave.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        const char byte = 'x';
        while (write(filler, &byte, 1) == 1) {
        }
        slave = open(pty.slave.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        // The reader takes a little, until the terminal has room again, and
        // then stops: a few hundred bytes are left.
        pollfd room{slave, POLLOUT, 0};
        char taken[16];  // a little at a time: the room comes back in small steps
        for (int i = 0; i < 10000 && poll(&room, 1, 0) == 0; ++i)
            EXPECT_GT(read(pty.master, taken, sizeof taken), 0);
        for (int i = 0; i < refill && write(filler, &byte, 1) == 1; ++i) {
        }
        close(filler);
        EXPECT_EQ(poll(&room, 1, 0), 1) << "no room left";
    }
    ~StalledTerminal() { close(slave); }
};

std::string savedConfiguration(const std::string& root) {
    return testsupport::shellOutput("jq -r 'has(\"config\")' '" + root + "/corvane.json' 2>&1");
}

TEST(UnreadConsole, TheLauncherStillRestartsACrashAndAStopStillSavesAndEnds) {
    const std::string dir = testsupport::freshPath("unread-launcher");
    std::filesystem::create_directories(dir);
    UnreadPipe console;
    Started run(kRunScript, {"--root", dir + "/root", "--audio-out", dir + "/take.wav"}, console.ends[1],
                console.ends[1]);
    const pid_t first = runningInstrument(run.pid, -1);
    ASSERT_GT(first, 0);
    ASSERT_EQ(kill(first, SIGSEGV), 0);
    ASSERT_GT(runningInstrument(run.pid, first), 0) << "the crashed run was not started again";
    ASSERT_EQ(kill(run.pid, SIGINT), 0);
    EXPECT_EQ(run.end(), 0);
    EXPECT_EQ(savedConfiguration(dir + "/root"), "true\n");
}

TEST(UnreadConsole, TheInstrumentAloneStillSavesAndEnds) {
    const std::string root = testsupport::freshPath("unread-instrument");
    UnreadPipe console;
    const int out = open("/dev/null", O_WRONLY | O_CLOEXEC);
    Started run(CORVANE_BINARY, {"--root", root}, out, console.ends[1]);
    close(out);
    ASSERT_TRUE(testsupport::waitUntil([&] { return catchesStops(run.pid); }, std::chrono::milliseconds(2)));
    ASSERT_EQ(kill(run.pid, SIGINT), 0);
    EXPECT_EQ(run.end(), 0);
    EXPECT_EQ(savedConfiguration(root), "true\n");
}

// The start's and the save's lines fill the terminal: its handlers are in
// place all the same, and one stop saves and ends, alone and through run.sh.
// Also on a terminal the instrument cannot open again for writes of its own
// (held exclusive, as another user's or one without /proc would be), where
// it writes through the shell's blocking description, with several amounts
// of room left.
TEST(UnreadConsole, ATerminalNobodyReadsHoldsNeitherTheStartNorAStop) {
    const int refills[] = {300, 0, 100, 200, 300};  // the first open to all
    for (int round = 0; round < 5; ++round)
    for (const bool launched : {false, true}) {
        const bool exclusive = round > 0;
        const int refill = refills[round];
        SCOPED_TRACE(launched ? "through run.sh" : "the instrument alone");
        SCOPED_TRACE(exclusive ? "held exclusive, refilled " + std::to_string(refill) : "open to all");
        const std::string root = testsupport::freshPath("unread-terminal");
        // Less taken again: room for the first line, not for the next.
        StalledTerminal terminal(refill);
        std::vector<std::string> args{"--root", root};
        std::string program = launched ? kRunScript : CORVANE_BINARY;
        if (exclusive) {
            ASSERT_EQ(ioctl(terminal.slave, TIOCEXCL), 0);
            if (geteuid() == 0) {  // root opens an exclusive terminal all the same
                if (access("/usr/bin/setpriv", X_OK) != 0)
                    GTEST_SKIP() << "no /usr/bin/setpriv here to start the instrument without CAP_SYS_ADMIN";
                args.insert(args.begin(), {"--inh-caps=-sys_admin", "--bounding-set=-sys_admin", "--", program});
                program = "/usr/bin/setpriv";
            }
        }
        Started run(program, args, terminal.slave, terminal.slave);
        pid_t instrument = run.pid;
        if (launched)
            instrument = runningInstrument(run.pid, -1);
        else if (!testsupport::waitUntil([&] { return catchesStops(run.pid); }, std::chrono::milliseconds(2)))
            instrument = -1;
        ASSERT_GT(instrument, 0) << "the stop handlers never came";
        ASSERT_EQ(kill(run.pid, SIGINT), 0);
        EXPECT_EQ(run.end(), 0);
        EXPECT_EQ(savedConfiguration(root), "true\n");
    }
}

// The console writer's thread of process `pid` stopped alone (ptrace), as a
// busy machine keeps a thread from its core, until release().
struct HeldWriter {
    pid_t thread = -1;
    bool held = false;
    explicit HeldWriter(pid_t pid) {
        testsupport::waitUntil([&] {
            std::error_code ec;
            for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec))
                if (testsupport::slurp(task.path().string() + "/comm") == "corvane-log\n")
                    thread = std::atoi(task.path().filename().c_str());
            return thread > 0;
        });
        int status = 0;
        held = thread > 0 && ptrace(PTRACE_SEIZE, thread, 0, 0) == 0 && ptrace(PTRACE_INTERRUPT, thread, 0, 0) == 0 &&
               waitpid(thread, &status, __WALL) == thread;
    }
    // Held a second longer first: longer than any patience of the end's.
    void release() {
        if (!std::exchange(held, false))
            return;
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (ptrace(PTRACE_DETACH, thread, 0, 0) != 0)
            waitpid(thread, nullptr, __WALL);  // it ended held: the process is gone
    }
    ~HeldWriter() { release(); }
};

// A console writer kept from running across the end (a busy machine): the
// end waits for it, and the last lines arrive, the instrument's save alone
// and through run.sh, and the launcher's own. Before a run starts again,
// the launcher's lines come first.
TEST(UnreadConsole, TheLastLinesWaitForAWriterKeptFromItsCore) {
    for (const bool launched : {false, true})
    for (const bool launchers : {false, true}) {
        if (launchers && !launched)
            continue;
        SCOPED_TRACE(launchers ? "the launcher's writer" : launched ? "through run.sh" : "the instrument alone");
        const std::string root = testsupport::freshPath("held-writer");
        std::filesystem::create_directories(root);
        const std::string console = root + "/console.txt";
        const int fd = open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        Started run(launched ? kRunScript : CORVANE_BINARY, {"--root", root}, fd, fd);
        close(fd);
        const auto exitCode = [&](const char* code) {
            return testsupport::waitUntil([&] { return testsupport::slurp(root + "/.host/corvane-exit-code") == code; });
        };
        pid_t instrument = launched ? runningInstrument(run.pid, -1) : run.pid;
        ASSERT_TRUE(testsupport::waitUntil([&] { return instrument > 0 && catchesStops(instrument); }));
        if (launchers) {
            HeldWriter writer(run.pid);
            if (!writer.held && errno == EPERM)
                GTEST_SKIP() << "ptrace is not permitted here: no thread can be held";
            ASSERT_TRUE(writer.held) << "ptrace: " << strerror(errno);
            ASSERT_EQ(kill(instrument, SIGKILL), 0);
            ASSERT_TRUE(exitCode("137\n"));
            writer.release();
            instrument = runningInstrument(run.pid, instrument);
            ASSERT_GT(instrument, 0);
        }
        {
            HeldWriter writer(launchers ? run.pid : instrument);
            if (!writer.held && errno == EPERM)
                GTEST_SKIP() << "ptrace is not permitted here: no thread can be held";
            ASSERT_TRUE(writer.held) << "ptrace: " << strerror(errno);
            ASSERT_EQ(kill(run.pid, SIGINT), 0);
            // Past the save (and the run's end): the last lines wait on the writer.
            ASSERT_TRUE(launchers ? exitCode("0\n") : testsupport::waitUntil([&] {
                return std::filesystem::exists(root + "/corvane.json");
            }));
        }
        EXPECT_EQ(run.end(), 0);
        const std::string said = testsupport::slurp(console);
        const std::string start = "Audio output is written to ";
        EXPECT_NE(said.find("writeFile(" + root + "/corvane.json)\n"), std::string::npos) << said;
        if (launched) {
            EXPECT_TRUE(said.ends_with("run.sh: stopped by SIGINT (last exit code 0)\n")) << said;
        }
        if (launchers) {
            const size_t restart = said.find("run.sh: restarting (last exit code 137)\n");
            EXPECT_TRUE(restart != std::string::npos && said.find(start) < restart &&
                        said.find(start, said.find(start) + 1) > restart) << said;
        }
    }
}

// A watchdog's or a person's kill -ABRT ends the instrument by SIGABRT (a
// core dump, and a restart by its launcher), as any abort does.
TEST(UnreadConsole, AnAbortFromOutsideEndsTheInstrument) {
    const std::string root = testsupport::freshPath("abort-from-outside");
    const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
    Started run(CORVANE_BINARY, {"--root", root}, quiet, quiet);
    close(quiet);
    ASSERT_TRUE(testsupport::waitUntil([&] { return catchesStops(run.pid); }, std::chrono::milliseconds(2)));
    ASSERT_EQ(kill(run.pid, SIGABRT), 0);
    int status = 0;
    ASSERT_TRUE(testsupport::waitUntil([&] { return waitpid(run.pid, &status, WNOHANG) == run.pid; }))
        << "the instrument plays on";
    run.pid = -1;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT) << status;
}

}  // namespace
