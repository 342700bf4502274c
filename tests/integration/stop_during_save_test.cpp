// Stops that come while a project is being saved. The save is held by a
// stalled disk (tests/stall: the rename of song.proj, the save's last step,
// waits until the test lets it go), in the instrument run on its own or
// through scripts/run.sh as a terminal starts it (its own process group).
// One stop lets the save end before the configuration is saved at the exit;
// a second, a moment later, ends the instrument at once, leaving every file
// whole.
#include "tests/support/TempDir.h"
#include "tests/support/corvane_process.h"
#include "tests/support/example_run.h"
#include "tests/support/process_tree.h"
#include "tests/support/wait.h"
#include "platform/Stops.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testsupport::slurp;

const std::string kWaiting = "Waiting for the load or save under way to end\n";

// Where a stop goes: to the instrument run on its own, to run.sh's launcher
// alone, to run.sh's whole group (as a terminal's Ctrl-C does: the
// instrument has it from there and again from the launcher), or to the
// instrument's console logger thread (a stop the kernel gives that thread).
enum class To { Instrument, Launcher, Group, LoggerThread };

// This process's environment with `set` in place of any entry of the same name.
std::vector<std::string> environmentWith(const std::vector<std::pair<std::string, std::string>>& set) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        bool replaced = false;
        for (const auto& [name, value] : set)
            replaced |= std::strncmp(*e, (name + "=").c_str(), name.size() + 1) == 0;
        if (!replaced)
            env.push_back(*e);
    }
    for (const auto& [name, value] : set)
        env.push_back(name + "=" + value);
    return env;
}

// The instrument, alone or under scripts/run.sh, with the save of song.proj
// held until release(). Killed with everything it started when the test ends.
struct HeldSave {
    To to;
    pid_t pid = -1;  // the instrument, or run.sh (the launcher)
    std::string out, err, fifo;
    int hold = -1;  // the hold's write end while the save is held

    // Standard output goes to `console` when given (a pipe the test reads),
    // to the file `out` otherwise.
    HeldSave(To stopTo, const std::string& root, const std::string& panel, int console = -1)
        : to(stopTo), out(testsupport::freshPath("held-save-out", ".txt")),
          err(testsupport::freshPath("held-save-err", ".txt")), fifo(testsupport::freshPath("held-save", ".fifo")) {
        EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        const char* asan = getenv("ASAN_OPTIONS");
        std::vector<std::pair<std::string, std::string>> set{
            {"LD_PRELOAD", CORVANE_RENAME_STALL},
            {"CORVANE_STALL_RENAME", "song.proj"},
            {"CORVANE_STALL_FIFO", fifo},
            // The stall comes first among the libraries, before a sanitizer's.
            {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"}};
        std::vector<std::string> args{CORVANE_BINARY};
        if (to == To::Launcher || to == To::Group) {
            args = {testsupport::kRunScript};
            set.push_back({"CORVANE_BINARY", CORVANE_BINARY});
            set.push_back({"CORVANE_LAUNCHER", CORVANE_LAUNCHER});
        }
        for (const std::string& a : {std::string("--root"), root, std::string("--panel-script"), panel})
            args.push_back(a);
        const std::vector<std::string> env = environmentWith(set);
        // Built before the fork: the child of a threaded process only execs.
        std::vector<char*> argv, envp;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (const auto& e : env)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        const int outFd = console >= 0 ? console : open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        pid = testsupport::startInGroup(argv.data(), envp.data(), outFd, errFd);
        if (console < 0)
            close(outFd);
        close(errFd);
    }
    ~HeldSave() {
        if (pid > 0) {
            kill(-pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        release();
    }

    // The save has come to its hold: a reader has the FIFO open.
    bool held() {
        return testsupport::waitUntil([&] { return (hold = open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) >= 0; },
                                      std::chrono::milliseconds(1));
    }
    void release() {
        if (hold >= 0)
            close(hold);
        hold = -1;
    }
    void stop(int sig) const {
        if (to == To::LoggerThread)
            ASSERT_EQ(syscall(SYS_tgkill, pid, loggerThread(), sig), 0);
        else
            ASSERT_EQ(kill(to == To::Group ? -pid : pid, sig), 0);
    }
    pid_t loggerThread() const {
        pid_t found = -1;
        testsupport::waitUntil([&] {
            std::error_code ec;
            for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec))
                if (slurp(task.path().string() + "/comm") == "corvane-log\n")
                    found = std::atoi(task.path().filename().c_str());
            return found > 0;
        });
        return found;
    }
    pid_t instrument() const {
        if (to == To::Instrument || to == To::LoggerThread)
            return pid;
        return testsupport::firstChildOf(pid);
    }
    bool said(const std::string& line) const { return slurp(out).find(line) != std::string::npos; }
    bool saidOnError(const std::string& line) const { return slurp(err).find(line) != std::string::npos; }
    // The raw wait status once the process has ended; -1 if it hung.
    int end() {
        int status = -1;
        if (!testsupport::waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; },
                                    std::chrono::milliseconds(1)))
            return -1;
        kill(-pid, SIGKILL);  // nothing of the group may outlive it
        pid = -1;
        return status;
    }
};

// The exit is seen waiting for the save, not only saying so: the instrument's
// main thread, where the exit runs, is asleep on a word that holds 1, as the
// file browser's does while a save is under way (a join or a lock waits on
// other values).
bool exitWaits(pid_t instrument) {
    const std::string task = std::to_string(instrument);
    std::istringstream call(slurp("/proc/" + task + "/task/" + task + "/syscall"));
    std::string number, word, operation, value;
    call >> number >> word >> operation >> value;
    return number == std::to_string(SYS_futex) && !operation.empty() &&
           (std::stoul(operation, nullptr, 16) & FUTEX_CMD_MASK) == FUTEX_WAIT && value == "0x1";
}

std::string lastProject(const std::string& root) {
    return testsupport::shellOutput("jq -r '.config[\"last project\"].value' '" + root + "/corvane.json' 2>&1");
}

// The configuration saved at the exit has "last project" leading to the
// project saved during the stop: the exit waited for the save, which was let
// go only once the exit was seen waiting (an exit that says it waits and
// goes on writes the configuration first). One stop also when it comes
// twice, from the terminal and through the launcher.
TEST(StopDuringSave, TheConfigurationSavedAtTheExitLeadsToTheProject) {
    for (const To to : {To::Instrument, To::Group, To::LoggerThread}) {
        SCOPED_TRACE(to == To::Instrument ? "to the instrument" : to == To::Group ? "to run.sh's group" : "to the logger");
        const std::string root = testsupport::freshPath("stop-save-root");
        HeldSave run(to, root, testsupport::kExamples + "save-project.panel");
        ASSERT_TRUE(run.held()) << slurp(run.out) << slurp(run.err);
        run.stop(SIGINT);
        const pid_t instrument = run.instrument();
        ASSERT_GT(instrument, 0);
        const std::string config = root + "/corvane.json";
        ASSERT_TRUE(testsupport::waitUntil(
            [&] { return fs::exists(config) || (run.said(kWaiting) && exitWaits(instrument)); },
            std::chrono::milliseconds(1)))
            << slurp(run.out);
        EXPECT_FALSE(fs::exists(config)) << "the configuration was saved before the save ended";
        run.release();
        const int status = run.end();
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << slurp(run.out) << slurp(run.err);
        if (to == To::Group) {
            EXPECT_TRUE(run.saidOnError("run.sh: stopped by SIGINT (last exit code 0)\n")) << slurp(run.err);
        }
        EXPECT_EQ(lastProject(root), "/home/corvane/projects/song-project/song.proj\n") << slurp(run.out);
        EXPECT_TRUE(fs::is_regular_file(root + "/projects/song-project/song.proj"));
    }
}

// A second stop (Ctrl-C twice, a stop to the instrument or through the
// launcher twice) ends the instrument while its exit waits for a save that
// cannot end: as after a kill, the project saved before and the
// configuration are as they were, and every file is whole.
TEST(StopDuringSave, ASecondStopEndsTheInstrumentAndEveryFileStaysWhole) {
    // The last round sends each stop from a `kill` of its own: two senders.
    const std::tuple<To, int, bool> rounds[] = {{To::Instrument, SIGINT, false}, {To::Launcher, SIGTERM, false},
                                                {To::Group, SIGINT, false},      {To::Instrument, SIGTERM, true},
                                                {To::LoggerThread, SIGHUP, false}};
    for (const auto& [to, sig, byCommand] : rounds) {
        SCOPED_TRACE(std::string(sigabbrev_np(sig)) + (to == To::Instrument   ? " to the instrument"
                                                       : to == To::Launcher   ? " to run.sh"
                                                       : to == To::Group      ? " to run.sh's group"
                                                                              : " to the logger thread") +
                     (byCommand ? " by two kill commands" : ""));
        const std::string root = testsupport::freshPath("second-stop-root");
        const std::string folder = root + "/projects/song-project/";
        const auto first = testsupport::runCorvane({"--root", root, "--offline", "--seconds", "4", "--panel-script",
                                                    testsupport::kExamples + "save-project.panel"},
                                                   root + "-first-out.txt", root + "-first-err.txt");
        ASSERT_EQ(first.status, 0) << first.err;
        const std::string config = slurp(root + "/corvane.json"), project = slurp(folder + "song.proj");
        ASSERT_FALSE(project.empty());

        HeldSave run(to, root, testsupport::kExamples + "save-project-again.panel");
        ASSERT_TRUE(run.held()) << slurp(run.out) << slurp(run.err);
        const auto stop = [&, sig = sig, byCommand = byCommand] {
            if (byCommand)
                testsupport::shellOutput("kill -s " + std::string(sigabbrev_np(sig)) + " " + std::to_string(run.pid));
            else
                run.stop(sig);
        };
        stop();
        const pid_t instrument = run.instrument();
        ASSERT_GT(instrument, 0);
        ASSERT_TRUE(testsupport::waitUntil([&] { return run.said(kWaiting) && exitWaits(instrument); },
                                           std::chrono::milliseconds(1)))
            << slurp(run.out);
        // The player asks again, a moment after the first stop was taken:
        // deliveries closer together are that one stop.
        std::this_thread::sleep_for(std::chrono::nanoseconds(host::kOneStopNs) + std::chrono::milliseconds(100));
        stop();
        const int status = run.end();
        ASSERT_NE(status, -1) << "the second stop did not end it\n" << slurp(run.out) << slurp(run.err);
        if (to == To::Instrument || to == To::LoggerThread) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + sig) << status;
            EXPECT_TRUE(run.saidOnError("run.sh: stopped by SIG" + std::string(sigabbrev_np(sig)) +
                                        " (last exit code " + std::to_string(128 + sig) + ")\n"))
                << slurp(run.err);
        }
        EXPECT_EQ(slurp(root + "/corvane.json"), config);
        EXPECT_EQ(slurp(folder + "song.proj"), project);
        for (const auto& file : fs::directory_iterator(folder)) {
            if (file.path().filename().string()[0] == '.')
                continue;  // a save's temporary file, as a kill leaves it
            EXPECT_EQ(testsupport::shellOutput("jq empty '" + file.path().string() + "' 2>&1; echo $?"), "0\n")
                << file.path();
        }
    }
}

// What was printed before a second stop still reaches the console when that
// stop lands on the console writer's own thread. Standard output is a pipe
// that is full from the first stop on (a terminal scrolled back, a pager not
// read): the first stop's line waits in the queue, and the pipe is read only
// once the second stop has been sent, so the line reaches it only if the
// process gives the writer its moment before it ends.
TEST(StopDuringSave, ASecondStopOnTheConsoleWritersThreadStillWritesWhatWasPrinted) {
    const std::string root = testsupport::freshPath("second-stop-console-root");
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    fcntl(ends[0], F_SETFL, O_NONBLOCK);
    HeldSave run(To::LoggerThread, root, testsupport::kExamples + "save-project.panel", ends[1]);
    close(ends[1]);
    std::string console;
    bool ended = false;
    const auto drain = [&] {
        char bytes[4096];
        ssize_t n;
        while ((n = read(ends[0], bytes, sizeof bytes)) > 0)
            console.append(bytes, size_t(n));
        ended = n == 0;
    };
    struct Closed {
        int fd;
        ~Closed() { close(fd); }
    } reader{ends[0]};
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
            drain();
            return (run.hold = open(run.fifo.c_str(), O_WRONLY | O_NONBLOCK)) >= 0;
        },
        std::chrono::milliseconds(1)))
        << console << slurp(run.err);
    drain();
    // Filled through a description of the test's own: the instrument's stays
    // as it was. Zero bytes, which no console line has.
    const int filler = open(("/proc/self/fd/" + std::to_string(reader.fd)).c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(filler, 0);
    const std::string page(4096, '\0');
    while (write(filler, page.data(), page.size()) > 0) {
    }
    close(filler);
    const size_t before = console.size();

    run.stop(SIGINT);
    ASSERT_TRUE(testsupport::waitUntil([&] { return exitWaits(run.pid); }, std::chrono::milliseconds(1)))
        << slurp(run.err);
    std::this_thread::sleep_for(std::chrono::nanoseconds(host::kOneStopNs) + std::chrono::milliseconds(100));
    run.stop(SIGHUP);
    ASSERT_TRUE(testsupport::waitUntil([&] {
        drain();
        return ended;
    }, std::chrono::milliseconds(1)));
    const int status = run.end();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGHUP) << status;
    std::string after = console.substr(before);
    after.erase(std::remove(after.begin(), after.end(), '\0'), after.end());
    EXPECT_NE(after.find(kWaiting), std::string::npos) << "after the second stop: " << after;
}

}  // namespace
