// scripts/run.sh as the user starts it: the caller's folder for every path,
// and in real time the launcher that restarts the instrument, powers it off,
// tells the next run how the last one ended and stops with the user.
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"
#include "tests/support/corvane_process.h"
#include "tests/support/sound_file.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testsupport::slurp;

const std::string kRunScript = std::string(CORVANE_SOURCE_DIR) + "/scripts/run.sh";

void spit(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

// Empty, also when a repeated test finds the last round's files.
std::string freshFolder(const std::string& name) {
    const std::string dir = testsupport::tempDir() + name;
    std::error_code ec;
    fs::remove_all(dir, ec);
    host::makeFolders(dir);
    return dir;
}

// run.sh started in `dir` in a process group of its own (as a terminal's
// foreground job is), pointed at the built program; the group is killed
// when the test ends, whatever happened. Its temporary files go to a folder
// of the test's, where a run's start can be seen.
struct Launcher {
    pid_t pid = -1;
    std::string dir, out, err, tmp;
    Launcher(const std::string& folder, const std::vector<std::string>& args,
             const std::vector<std::pair<std::string, std::string>>& env = {},
             const std::string& binary = CORVANE_BINARY)
        : dir(folder), out(folder + "/launcher-stdout.txt"), err(folder + "/launcher-stderr.txt"),
          tmp(folder + "/launcher-tmp") {
        host::makeFolders(tmp);
        const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            // A shell ignores SIGINT in what it runs in the background (and
            // nohup SIGHUP), and a signal ignored at the start cannot be
            // trapped: the launcher starts as a terminal would start it.
            for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
                signal(sig, SIG_DFL);
            if (chdir(dir.c_str()) != 0)
                _exit(126);
            dup2(open("/dev/null", O_RDONLY), 0);
            dup2(outFd, 1);
            dup2(errFd, 2);
            setenv("CORVANE_BINARY", binary.c_str(), 1);
            setenv("TMPDIR", tmp.c_str(), 1);
            for (auto& [name, value] : env)
                setenv(name.c_str(), value.c_str(), 1);
            std::vector<char*> argv{const_cast<char*>(kRunScript.c_str())};
            for (auto& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(kRunScript.c_str(), argv.data());
            _exit(127);
        }
        setpgid(pid, pid);  // the group exists before anyone signals it
        close(outFd);
        close(errFd);
    }
    ~Launcher() {
        if (pid > 0) {
            kill(-pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // The exit status, or -1 when a signal ended run.sh.
    int finish() {
        int status = 0;
        waitpid(pid, &status, 0);
        kill(-pid, SIGKILL);  // nothing of the group may outlive it
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    bool said(const std::string& line, size_t times = 1) const {
        return testsupport::waitUntil([&] { return count(slurp(out), line) >= times; },
                                      std::chrono::milliseconds(2));
    }
    // Run n (1 for the first) has its stop handlers in place: it has told
    // the launcher so, in the launcher's temporary folder.
    bool started(int run) const {
        return testsupport::waitUntil([&] {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(tmp, ec))
                if (fs::exists(entry.path() / ("started-" + std::to_string(run)), ec))
                    return true;
            return false;
        }, std::chrono::milliseconds(2));
    }
    // The running instrument: run.sh's child running the program.
    pid_t instrument() const {
        const std::string name = fs::path(CORVANE_BINARY).filename().string();
        pid_t found = -1;
        testsupport::waitUntil([&] {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator("/proc", ec)) {
                const std::string line = slurp(entry.path().string() + "/stat");
                const size_t close = line.rfind(')');
                if (close == std::string::npos || line.find("(" + name + ")") == std::string::npos)
                    continue;
                if (std::atoi(line.c_str() + close + 4) == pid) {  // ") S ppid"
                    found = std::atoi(entry.path().filename().c_str());
                    return true;
                }
            }
            return false;
        }, std::chrono::milliseconds(2));
        return found;
    }
};

const std::string kExitFile = "/.host/corvane-exit-code";
std::string exitFile(const std::string& root) { return slurp(root + kExitFile); }

// The frames a WAV file holds as libsndfile reads it; -1 when unreadable.
long soundFrames(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return -1;
    sf_close(file);
    return long(info.frames);
}

// Once the output's header has counted some audio (it follows the data
// once a second), the running instrument is killed by SIGSEGV.
bool crashOnceItSounds(const Launcher& run, const std::string& output) {
    if (!testsupport::waitUntil([&] { return soundFrames(output) > 0; }, std::chrono::milliseconds(20)))
        return false;
    const pid_t instrument = run.instrument();
    return instrument > 0 && kill(instrument, SIGSEGV) == 0;
}

TEST(Launcher, RelativePathsAreTheCallers) {
    const std::string dir = freshFolder("caller");
    spit(dir + "/my.panel", "100 key 24 down\n106 key 24 up\n");
    ASSERT_TRUE(testsupport::writeSound(dir + "/in.wav", std::vector<float>(4800, 0.1f), 48000));
    const std::string before = testsupport::shellOutput("git -C '" CORVANE_SOURCE_DIR "' status --porcelain 2>&1");
    Launcher run(dir, {"--root", "myroot", "--offline", "--blocks", "200", "--audio-out", "take.wav", "--audio-in",
                       "in.wav", "--panel-script", "my.panel", "--display-out", "screen.pgm"});
    ASSERT_EQ(run.finish(), 0) << slurp(run.err);
    for (const char* made : {"myroot/corvane.json", "take.wav", "screen.pgm"}) {
        EXPECT_TRUE(fs::exists(dir + "/" + made)) << made;
        EXPECT_FALSE(fs::exists(std::string(CORVANE_SOURCE_DIR) + "/" + made)) << made;
    }
    EXPECT_EQ(testsupport::shellOutput("git -C '" CORVANE_SOURCE_DIR "' status --porcelain 2>&1"), before);
}

// A stand-in program that starts (tells the launcher, as the platform does
// once the stop handlers are in place), says which exit code it found and
// fails: the launcher's decisions without the instrument's start-up time.
TEST(Launcher, OnlyRealTimeRunsRepeatAndAFailingOneStops) {
    const std::string dir = freshFolder("stand-in");
    const std::string program = dir + "/program.sh";
    spit(program, "#!/bin/sh\n[ -z \"$CORVANE_STARTED_FILE\" ] || : >\"$CORVANE_STARTED_FILE\"\n"
                  "cat \"$EXIT_FILE\" 2>/dev/null || echo none\nexit ${STATUS:-5}\n");
    chmod(program.c_str(), 0755);

    // The default data root, with a file left by an earlier power-on.
    const std::string root = std::string(getenv("XDG_DATA_HOME")) + "/corvane";
    host::makeFolders(root + "/.host");
    spit(root + kExitFile, "9\n");
    {
        Launcher run(dir, {}, {{"EXIT_FILE", root + kExitFile}}, program);
        EXPECT_EQ(run.finish(), 5);
        EXPECT_EQ(slurp(run.out), "none\n5\n5\n5\n5\n5\n");
        EXPECT_EQ(count(slurp(run.err), "run.sh: restarting (last exit code 5)\n"), 5u) << slurp(run.err);
        EXPECT_EQ(count(slurp(run.err), "giving up (last exit code 5)\n"), 1u) << slurp(run.err);
        EXPECT_EQ(exitFile(root), "5\n");
    }
    {  // Power-off, with the root given in the "--root=DIR" form.
        Launcher run(dir, {"--root=off"}, {{"EXIT_FILE", dir + "/off" + kExitFile}, {"STATUS", "3"}},
                     program);
        EXPECT_EQ(run.finish(), 0);
        EXPECT_EQ(slurp(run.out), "none\n");
        EXPECT_EQ(exitFile(dir + "/off"), "3\n");
    }
    for (const std::vector<std::string>& once : std::vector<std::vector<std::string>>{
             {"--offline"}, {"--seconds", "1"}, {"--blo=9"}, {"--help"}, {"-h"}, {"--bogus"}, {"--o"}, {"--root"}}) {
        SCOPED_TRACE(once.front());
        Launcher run(dir, once, {{"EXIT_FILE", "/nonexistent"}}, program);
        EXPECT_EQ(run.finish(), 5);
        EXPECT_EQ(slurp(run.out), "none\n");
        EXPECT_EQ(slurp(run.err), "");
    }
}

// Key 1 with key 23 opens the main menu; encoder 12 moves its cursor, three
// detents to an entry; key 3 chooses, and key 3 again answers "yes".
std::string menuScript(int detents) {
    return "100 key 1 down\n106 key 23 down\n112 key 23 up\n118 key 1 up\n"
           "300 encoder 12 turn " + std::to_string(detents) + "\n"
           "500 key 3 down\n508 key 3 up\n"
           "700 key 3 down\n708 key 3 up\n";
}

TEST(Launcher, MenuRestartStartsASecondRunAndShutdownEndsTheLauncher) {
    {
        const std::string dir = freshFolder("menu-restart");
        host::makeFolders(dir + "/root/.host");
        spit(dir + "/root" + kExitFile, "139\n");  // left from an earlier power-on
        spit(dir + "/restart.panel", menuScript(3));
        Launcher run(dir, {"--root", "root", "--panel-script", "restart.panel"});
        ASSERT_TRUE(run.said("First time running since power on\n"));
        ASSERT_TRUE(run.said("Last exit code = 0\n"));
        ASSERT_TRUE(run.started(2));
        // The restart plays no script: two seconds on (the header follows
        // the audio once a second), it still runs.
        EXPECT_TRUE(testsupport::waitUntil([&] { return soundFrames(dir + "/root/output.wav") >= 2 * 48000; },
                                           std::chrono::milliseconds(20)));
        kill(run.pid, SIGTERM);
        EXPECT_EQ(run.finish(), 0);
        EXPECT_EQ(count(slurp(run.out), "First time running since power on\n"), 1u);
        EXPECT_EQ(count(slurp(run.out), "No template project found\n"), 2u);  // no crash warning
        EXPECT_EQ(count(slurp(run.err), "run.sh: restarting (last exit code 0)\n"), 1u) << slurp(run.err);
    }
    {
        const std::string dir = freshFolder("menu-shutdown");
        spit(dir + "/shutdown.panel", menuScript(5));
        Launcher run(dir, {"--root", "root", "--panel-script", "shutdown.panel"});
        EXPECT_EQ(run.finish(), 0);
        EXPECT_EQ(count(slurp(run.out), "-->\tCorvane has been initialized!\n"), 1u);
        EXPECT_EQ(count(slurp(run.err), "run.sh: "), 1u) << slurp(run.err);
        EXPECT_EQ(exitFile(dir + "/root"), "3\n");
    }
}

// The crash is said in run.sh's words, and the crashed run's audio is kept
// beside the next run's.
TEST(Launcher, CrashedRunStartsAgainWithTheWarning) {
    const std::string dir = freshFolder("crash");
    // A sanitizer build would catch the signal and exit in its own way.
    const char* asan = getenv("ASAN_OPTIONS");
    Launcher run(dir, {"--root", "root"}, {{"ASAN_OPTIONS", std::string(asan ? asan : "") + ":handle_segv=0"}});
    ASSERT_TRUE(run.started(1));
    ASSERT_TRUE(crashOnceItSounds(run, dir + "/root/output.wav"));
    ASSERT_TRUE(run.said("Last exit code = 139\n"));
    ASSERT_TRUE(run.started(2));
    kill(run.pid, SIGTERM);
    EXPECT_EQ(run.finish(), 0);
    // The second run posts the warning instead of loading the template.
    EXPECT_EQ(count(slurp(run.out), "No template project found\n"), 1u) << slurp(run.out);
    const std::string err = slurp(run.err);
    EXPECT_EQ(count(err, "run.sh: the instrument was killed by SIGSEGV (exit code 139)\n"
                         "run.sh: the last run's audio is kept in root/output-1.wav; the next run writes "
                         "root/output.wav\n"
                         "run.sh: restarting (last exit code 139)\n"), 1u) << err;
    EXPECT_EQ(err.find("Segmentation fault"), std::string::npos) << err;
    EXPECT_GT(soundFrames(dir + "/root/output-1.wav"), 0);
    EXPECT_GE(soundFrames(dir + "/root/output.wav"), 0);  // the second run's, however short
    EXPECT_FALSE(fs::exists(dir + "/root/output-2.wav"));
}

// A run refused at its start for what its options name is said once: no
// restart would find the file. So too where no temporary folder can be
// made: the launcher keeps its notes in the root's host folder then.
TEST(Launcher, ARefusedStartIsSaidOnce) {
    for (const bool tmpUsable : {true, false}) {
        SCOPED_TRACE(tmpUsable ? "TMPDIR" : "no TMPDIR");
        const std::string dir = freshFolder("refused");
        std::vector<std::pair<std::string, std::string>> env;
        if (!tmpUsable)
            env.emplace_back("TMPDIR", dir + "/missing");
        Launcher run(dir, {"--root", "root", "--audio-in", "missing.wav"}, env);
        EXPECT_EQ(run.finish(), 1);
        const std::string err = slurp(run.err);
        EXPECT_EQ(count(err, "Audio input missing.wav cannot be read"), 1u) << err;
        EXPECT_EQ(count(err, "Error: unable to initialise audio\n"), 1u) << err;
        EXPECT_EQ(count(err, "run.sh: the instrument did not start (exit code 1); not starting it again\n"), 1u)
            << err;
        EXPECT_EQ(err.find("restarting"), std::string::npos) << err;
        EXPECT_EQ(count(err, "run.sh: cannot make a temporary folder in " + dir +
                                 "/missing: the launcher's notes go to root/.host/launcher."),
                  tmpUsable ? 0u : 1u) << err;
        EXPECT_EQ(exitFile(dir + "/root"), "1\n");
        EXPECT_EQ(testsupport::shellOutput("ls -A '" + run.tmp + "'; ls -A '" + dir + "/root/.host' | grep launcher"),
                  "");
    }
}

// An instrument whose launcher is killed ends (saving, as on SIGTERM)
// rather than running on under init; while it runs, its data root is
// refused to any other instrument.
TEST(Launcher, TheInstrumentEndsWithItsLauncherAndHoldsItsRoot) {
    const std::string dir = freshFolder("launcher-killed");
    Launcher run(dir, {"--root", "root"});
    ASSERT_TRUE(run.started(1));
    const pid_t instrument = run.instrument();
    ASSERT_GT(instrument, 0);

    const std::string out = dir + "/second-stdout.txt", err = dir + "/second-stderr.txt";
    const auto second = testsupport::runCorvane(
        {"--root", dir + "/root", "--offline", "--blocks", "10", "--audio-out", dir + "/second.wav"}, out, err);
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(count(second.err, "the data root " + dir + "/root is in use by process " + std::to_string(instrument)),
              1u) << second.err;
    EXPECT_NE(second.err.find("Error: unable to initialise audio\n"), std::string::npos) << second.err;
    EXPECT_FALSE(fs::exists(dir + "/second.wav"));
    {  // A second launcher on the root leaves the running instrument's port link.
        Launcher second(freshFolder("launcher-second"), {"--root", dir + "/root"});
        EXPECT_EQ(second.finish(), 1);
        EXPECT_TRUE(fs::is_symlink(dir + "/root/.host/midi-port"));
    }

    EXPECT_FALSE(fs::exists(dir + "/root/corvane.json"));  // saved only on the way out
    ASSERT_EQ(kill(run.pid, SIGKILL), 0);  // run.sh alone, not its group
    // Gone, or a zombie waiting for init to reap it.
    EXPECT_TRUE(testsupport::waitUntil([&] {
        const std::string stat = slurp("/proc/" + std::to_string(instrument) + "/stat");
        const size_t close = stat.rfind(')');
        return close == std::string::npos || stat.compare(close, 4, ") Z ") == 0;
    }, std::chrono::milliseconds(2)));
    EXPECT_TRUE(fs::exists(dir + "/root/corvane.json"));
    EXPECT_EQ(run.finish(), -1);
}

// A stop and the instrument's own end may come in any order (here the
// stand-in stops run.sh and exits at once, noting its status as the
// platform does): run.sh ends with the instrument's status, never the
// stop's. The exit-code file is a folder, which the power-on cannot
// remove: said, and the runs go on.
TEST(Launcher, AStopEndsTheLauncherWithTheInstrumentsOwnStatus) {
    const std::string dir = freshFolder("stop-race");
    host::makeFolders(dir + "/root" + kExitFile);
    const std::string program = dir + "/program.sh";
    spit(program, "#!/bin/sh\ntrap 'exit 7' INT TERM HUP\ntrap 'echo 7 >\"$CORVANE_STATUS_FILE\"' EXIT\n"
                  "kill -s \"$SIG\" \"$PPID\"\nexit 7\n");
    chmod(program.c_str(), 0755);
    for (int round = 0; round < 10; ++round)
        for (const char* sig : {"TERM", "INT", "HUP"}) {
            SCOPED_TRACE(std::string(sig) + " round " + std::to_string(round));
            Launcher run(dir, {"--root", "root"}, {{"SIG", sig}}, program);
            ASSERT_EQ(run.finish(), 7) << slurp(run.err);
            const std::string err = slurp(run.err);
            EXPECT_EQ(count(err, "run.sh: cannot remove root" + kExitFile + " at the power-on; starting anyway\n"),
                      1u) << err;
            EXPECT_EQ(count(err, "run.sh: stopped by SIG" + std::string(sig) + " (last exit code 7)\n"), 1u) << err;
        }
}

// The README's "--audio-in <(command)": a run started again finds the pipe
// used up by the run before; it comes up with silent inputs and says why,
// instead of refusing the start until the launcher gives up.
TEST(Launcher, ARestartGoesOnWithSilentInputsWhenThePipeIsUsedUp) {
    const std::string dir = freshFolder("restart-pipe");
    ASSERT_TRUE(testsupport::writeSound(dir + "/in.wav", std::vector<float>(4800, 0.1f), 48000));
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);  // inherited by run.sh and each run, as a shell's <(...) is
    const std::string wav = slurp(dir + "/in.wav");
    ASSERT_EQ(write(fds[1], wav.data(), wav.size()), ssize_t(wav.size()));
    close(fds[1]);
    const std::string input = "/dev/fd/" + std::to_string(fds[0]);
    // The output through a link: the crashed run's audio is kept beside
    // the link's target, and the link leads to the next run's.
    host::makeFolders(dir + "/takes");
    ASSERT_EQ(symlink("takes/take.wav", (dir + "/link.wav").c_str()), 0);
    const char* asan = getenv("ASAN_OPTIONS");
    Launcher run(dir, {"--root", "root", "--audio-in", input, "--audio-out", "link.wav"},
                 {{"ASAN_OPTIONS", std::string(asan ? asan : "") + ":handle_segv=0"}});
    close(fds[0]);
    ASSERT_TRUE(run.started(1));
    ASSERT_TRUE(crashOnceItSounds(run, dir + "/takes/take.wav"));
    ASSERT_TRUE(run.started(2)) << slurp(run.err);  // its handlers in place: SIGTERM saves
    const std::string started = "-->\tCorvane has been initialized!\n";
    kill(run.pid, SIGTERM);
    EXPECT_EQ(run.finish(), 0);
    const std::string err = slurp(run.err);
    EXPECT_EQ(count(slurp(run.out), started), 2u) << err;
    EXPECT_EQ(count(err, "Audio input " + input +
                             " cannot be read again after a restart (a pipe or FIFO is used up): the inputs are silent\n"),
              1u)
        << err;
    EXPECT_EQ(count(err, "run.sh: restarting"), 1u) << err;
    EXPECT_EQ(count(err, "run.sh: the last run's audio is kept in " + fs::canonical(dir).string() +
                             "/takes/take-1.wav; the next run writes link.wav\n"), 1u) << err;
    EXPECT_GT(soundFrames(dir + "/takes/take-1.wav"), 0);
    EXPECT_TRUE(fs::is_symlink(dir + "/link.wav"));
    EXPECT_GE(soundFrames(dir + "/link.wav"), 0);
}

// Ctrl-C reaches the terminal's whole foreground group: run.sh and the
// instrument both; the instrument saves, and nothing starts again. An
// impatient player presses it ten times: run.sh still ends with the
// instrument's own status (1 when the configuration cannot be saved), writes
// it to the exit-code file and leaves no temporary folder behind.
TEST(Launcher, CtrlCPressedAgainAndAgainEndsTheOneRunWithItsStatus) {
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const bool unsaved = round % 3 == 2;
        const std::string dir = freshFolder("ctrl-c");
        Launcher run(dir, {"--root", "root"});
        ASSERT_TRUE(run.started(1));
        if (unsaved)  // a folder where the configuration goes
            host::makeFolders(dir + "/root/corvane.json/in-the-way");
        for (int press = 0; press < 10; ++press) {
            ASSERT_EQ(kill(-run.pid, SIGINT), 0);
            usleep(10000);
        }
        const int expected = unsaved ? 1 : 0;
        EXPECT_EQ(run.finish(), expected) << slurp(run.err);
        EXPECT_EQ(count(slurp(run.out), "-->\tCorvane has been initialized!\n"), 1u);
        const std::string err = slurp(run.err);
        EXPECT_EQ(err.find("restarting"), std::string::npos) << err;
        EXPECT_EQ(count(err, "run.sh: stopped by SIGINT (last exit code " + std::to_string(expected) + ")\n"), 1u)
            << err;
        if (!unsaved)
            EXPECT_NE(testsupport::shellOutput("jq -c '.config[\"OSC in port\"]' '" + dir + "/root/corvane.json'")
                          .find("909"),
                      std::string::npos);
        EXPECT_EQ(exitFile(dir + "/root"), std::to_string(expected) + "\n");
        EXPECT_EQ(testsupport::shellOutput("ls -A '" + run.tmp + "'"), "");
    }
}

// The instrument notes its own exit status for the launcher that started
// it, which reads it when a stop cut its wait short.
TEST(Launcher, TheInstrumentNotesItsExitStatusForTheLauncher) {
    const std::string dir = freshFolder("status-note");
    const std::string note = dir + "/status";
    setenv("CORVANE_LAUNCHER_PID", std::to_string(getpid()).c_str(), 1);
    setenv("CORVANE_STATUS_FILE", note.c_str(), 1);
    const pid_t pid = testsupport::startCorvane({"--root", dir + "/root", "--audio-in", dir + "/missing.wav"},
                                                "/dev/null", dir + "/err.txt");
    unsetenv("CORVANE_LAUNCHER_PID");
    unsetenv("CORVANE_STATUS_FILE");
    EXPECT_EQ(testsupport::finishCorvane(pid, "/dev/null", dir + "/err.txt").status, 1);
    EXPECT_EQ(slurp(note), "1\n");
}

// A stop that kills the instrument before its own handlers are in place (it
// waits for the reader of a FIFO output) ends the launcher with that status.
TEST(Launcher, AnInstrumentTheStopKillsEndsTheLauncherWithItsStatus) {
    const std::string dir = freshFolder("killed-by-stop");
    ASSERT_EQ(mkfifo((dir + "/out.wav").c_str(), 0644), 0);
    Launcher run(dir, {"--root", "root", "--audio-out", "out.wav"});
    ASSERT_TRUE(testsupport::waitUntil([&] { return slurp(run.err).find("waiting for a reader") != std::string::npos; },
                                       std::chrono::milliseconds(2)));
    ASSERT_EQ(kill(run.pid, SIGTERM), 0);
    int status = 0;
    ASSERT_TRUE(testsupport::waitUntil([&] { return waitpid(run.pid, &status, WNOHANG) == run.pid; },
                                       std::chrono::milliseconds(2)));
    kill(-run.pid, SIGKILL);
    run.pid = -1;
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 143);
    EXPECT_EQ(exitFile(dir + "/root"), "143\n");
}

}  // namespace
