// scripts/run.sh as the user starts it: the caller's folder for every path,
// and in real time the launcher that restarts the instrument, powers it off,
// tells the next run how the last one ended and stops with the user.
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"
#include "tests/support/corvane_process.h"
#include "tests/support/process_tree.h"
#include "tests/support/sound_file.h"
#include "tests/support/wait.h"
#include "platform/WavWriter.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testsupport::processState;
using testsupport::slurp;

const std::string kRunScript = std::string(CORVANE_SOURCE_DIR) + "/scripts/run.sh";
// A root in use says its line and where to read more, not the usage.
const std::string kTryHelp = "Try 'corvane --help' for more information.\n";

void spit(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A stand-in for the instrument in `dir`: a shell script with `body`.
std::string standIn(const std::string& dir, const std::string& body) {
    const std::string program = dir + "/program.sh";
    spit(program, "#!/bin/sh\n" + body);
    chmod(program.c_str(), 0755);
    return program;
}

// A stand-in that starts (tells the launcher, as the platform does once the
// stop handlers are in place), says which exit code it found and fails.
constexpr const char* kSaysTheExitCode = "[ -z \"$CORVANE_STARTED_FD\" ] || printf 1 >\"/dev/fd/$CORVANE_STARTED_FD\"\n"
                                         "cat \"$EXIT_FILE\" 2>/dev/null || echo none\nexit ${STATUS:-5}\n";

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


// How a launcher is started: by a terminal (its own process group, stops at
// their default action), in the background of a script (SIGINT ignored), or
// as odd callers hand it over: a parent that ignores SIGCHLD, standard error
// into a pipe whose reader has gone, the standard streams closed, standard
// error alone closed (by a wrapper of run.sh's launcher: bash, running
// run.sh, takes the number for the script itself); or under a wrapper that
// passes a Ctrl-C on (`timeout --foreground`, in the same group).
enum class Start { Terminal, IgnoringSigint, IgnoringSigchld, ErrorIntoClosedPipe, StreamsClosed, ErrorClosed,
                   UnderTimeout };

// run.sh started in `dir` in a process group of its own (as a terminal's
// foreground job is), pointed at the built program and launcher; the group
// is killed when the test ends, whatever happened. TMPDIR is a folder of
// the test's, which must stay empty.
struct Launcher {
    pid_t pid = -1;
    std::string dir, out, err, tmp;
    bool underTimeout = false;
    Launcher(const std::string& folder, const std::vector<std::string>& args,
             const std::vector<std::pair<std::string, std::string>>& env = {},
             const std::string& binary = CORVANE_BINARY, Start start = Start::Terminal)
        : dir(folder), out(folder + "/launcher-stdout.txt"), err(folder + "/launcher-stderr.txt"),
          tmp(folder + "/launcher-tmp"), underTimeout(start == Start::UnderTimeout) {
        host::makeFolders(tmp);
        const std::string closingError = folder + "/launch-error-closed";
        if (start == Start::ErrorClosed) {
            std::ofstream(closingError) << "#!/bin/sh\nexec 2>&-\nexec " CORVANE_LAUNCHER " \"$@\"\n";
            chmod(closingError.c_str(), 0755);
        }
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
            if (start == Start::IgnoringSigint)
                signal(SIGINT, SIG_IGN);
            if (chdir(dir.c_str()) != 0)
                _exit(126);
            dup2(open("/dev/null", O_RDONLY), 0);
            dup2(outFd, 1);
            dup2(errFd, 2);
            int readerGone[2];
            if (start == Start::IgnoringSigchld)
                signal(SIGCHLD, SIG_IGN);
            if (start == Start::ErrorIntoClosedPipe && pipe(readerGone) == 0) {
                close(readerGone[0]);
                dup2(readerGone[1], 2);
            }
            if (start == Start::StreamsClosed)
                for (int fd : {0, 1, 2})
                    close(fd);
            setenv("CORVANE_BINARY", binary.c_str(), 1);
            // The built instrument's launcher is found beside it, as run.sh
            // finds it after its own build; a stand-in's is named.
            if (binary != CORVANE_BINARY)
                setenv("CORVANE_LAUNCHER", CORVANE_LAUNCHER, 1);
            else
                unsetenv("CORVANE_LAUNCHER");
            if (start == Start::ErrorClosed)
                setenv("CORVANE_LAUNCHER", closingError.c_str(), 1);
            setenv("TMPDIR", tmp.c_str(), 1);
            for (auto& [name, value] : env)
                setenv(name.c_str(), value.c_str(), 1);
            std::vector<const char*> argv{kRunScript.c_str()};
            if (start == Start::UnderTimeout)
                argv.insert(argv.begin(), {"timeout", "--foreground", "120"});
            for (auto& a : args)
                argv.push_back(a.c_str());
            argv.push_back(nullptr);
            execvp(argv[0], const_cast<char* const*>(argv.data()));
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
    // The launcher's running instrument other than `other`, once its stop
    // handlers are in place (it catches SIGHUP, the last it sets); -1 if
    // none came.
    pid_t running(pid_t other = -1) const {
        pid_t found = -1;
        testsupport::waitUntil([&] {
            const pid_t child = instrument(false);
            if (child <= 0 || child == other)
                return false;
            const std::string status = slurp("/proc/" + std::to_string(child) + "/status");
            const size_t at = status.find("SigCgt:\t");
            if (at == std::string::npos || !(std::stoull(status.substr(at + 8, 16), nullptr, 16) >> (SIGHUP - 1) & 1))
                return false;
            found = child;
            return true;
        }, std::chrono::milliseconds(2));
        return found;
    }
    // The launcher is stopped (at a step a test holds it at).
    bool held() const {
        return testsupport::waitUntil([&] { return processState(pid) == 'T'; }, std::chrono::milliseconds(2));
    }
    // run.sh's launcher: the process started, or the wrapper's child.
    pid_t launcher() const {
        if (!underTimeout)
            return pid;
        return testsupport::firstChildOf(pid);
    }
    // The running instrument: run.sh's child running the program.
    pid_t instrument(bool wait = true) const {
        const std::string name = fs::path(CORVANE_BINARY).filename().string();
        const pid_t parent = launcher();
        pid_t found = -1;
        const auto look = [&] {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator("/proc", ec)) {
                const std::string line = slurp(entry.path().string() + "/stat");
                const size_t close = line.rfind(')');
                if (close == std::string::npos || line.find("(" + name + ")") == std::string::npos)
                    continue;
                if (std::atoi(line.c_str() + close + 4) == parent) {  // ") S ppid"
                    found = std::atoi(entry.path().filename().c_str());
                    return true;
                }
            }
            return false;
        };
        if (wait)
            testsupport::waitUntil(look, std::chrono::milliseconds(2));
        else
            look();
        return found;
    }
};

// Processor time a process has had (user and system), in clock ticks.
long processorTicks(pid_t pid) {
    const std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14)
            ticks += std::stol(field);
    return ticks;
}

const std::string kExitFile = "/.host/corvane-exit-code";
std::string exitFile(const std::string& root) { return slurp(root + kExitFile); }

// What a launcher left behind once it has ended: nothing in TMPDIR, and in
// the root's host folder only the lock and the exit-code file.
std::string leftovers(const Launcher& run, const std::string& root) {
    return testsupport::shellOutput("ls -A '" + run.tmp + "'; ls -A '" + root +
                                    "/.host' | grep -v -x -e corvane.lock -e corvane-exit-code");
}

// The frames a WAV file holds as libsndfile reads it; -1 when unreadable.
long soundFrames(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return -1;
    sf_close(file);
    return long(info.frames);
}

// The bytes of a file of 8 float channels that `frames` take, its header with them.
uintmax_t bytesOf(long frames) { return host::WavWriter::kHeaderBytes + uintmax_t(frames) * 8 * sizeof(float); }

// Once the output's header has counted some audio (it follows the data
// once a second) and more has come after it, the running instrument is
// killed by SIGSEGV.
bool crashOnceItSounds(const Launcher& run, const std::string& output) {
    if (!testsupport::waitUntil([&] {
            const long frames = soundFrames(output);
            std::error_code error;
            return frames > 0 && fs::file_size(output, error) > bytesOf(frames);
        }, std::chrono::milliseconds(20)))
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

// A stand-in program: the launcher's decisions without the instrument's
// start-up time.
TEST(Launcher, OnlyRealTimeRunsRepeatAndAFailingOneStops) {
    const std::string dir = freshFolder("stand-in");
    const std::string program = standIn(dir, kSaysTheExitCode);

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
             {"--offline", "--audio-out", "/dev/null"}, {"--seconds", "1"}, {"--blo=9"}, {"--help"}, {"-h"},
             {"--bogus"}, {"--o"}, {"--root"}}) {
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
        ASSERT_GT(run.running(), 0);
        // The restart plays no script: two seconds on (the header follows
        // the audio once a second), it still runs.
        EXPECT_TRUE(testsupport::waitUntil([&] { return soundFrames(dir + "/root/output.wav") >= 2 * 48000; },
                                           std::chrono::milliseconds(20)));
        // The launcher waits for the run's end without taking the processor.
        EXPECT_LE(processorTicks(run.pid), 10);
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
    const pid_t first = run.running();
    ASSERT_GT(first, 0);
    ASSERT_TRUE(crashOnceItSounds(run, dir + "/root/output.wav"));
    ASSERT_TRUE(run.said("Last exit code = 139\n"));
    ASSERT_GT(run.running(first), 0);
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
    // The crashed run's take counts every frame it holds, also those its
    // header had not caught up with.
    EXPECT_GT(soundFrames(dir + "/root/output-1.wav"), 0);
    EXPECT_EQ(fs::file_size(dir + "/root/output-1.wav"), bytesOf(soundFrames(dir + "/root/output-1.wav")));
    EXPECT_GE(soundFrames(dir + "/root/output.wav"), 0);  // the second run's, however short
    EXPECT_FALSE(fs::exists(dir + "/root/output-2.wav"));
}

// Every sample of `bytes` (a WAV stream or file with our header) from the
// header on, as floats.
std::vector<float> samplesAfterHeader(const std::string& bytes) {
    std::vector<float> samples((bytes.size() - host::WavWriter::kHeaderBytes) / sizeof(float));
    std::memcpy(samples.data(), bytes.data() + host::WavWriter::kHeaderBytes, samples.size() * sizeof(float));
    return samples;
}

bool allInRange(const std::vector<float>& samples) {
    return std::all_of(samples.begin(), samples.end(), [](float x) { return std::isfinite(x) && std::fabs(x) <= 1.0f; });
}

// How many bytes of audio sox reads from a WAV file, to its end.
size_t soxDataBytes(const std::string& path) {
    const std::string n = testsupport::shellOutput("sox -t wav '" + path + "' -t raw - 2>/dev/null | wc -c");
    return n.empty() ? 0 : std::stoul(n);
}

// The counts a WAV header of ours keeps: the RIFF size, the fact chunk's
// frames and the data chunk's size, and where the data starts.
struct HeaderCounts {
    uint32_t riff = 0, factFrames = 0, data = 0;
    size_t dataAt = 0;
};
HeaderCounts headerCounts(const std::string& bytes) {
    HeaderCounts counts;
    auto u32 = [&](size_t at) {
        uint32_t v = 0;
        std::memcpy(&v, bytes.data() + at, sizeof v);
        return v;
    };
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0)
        return counts;
    counts.riff = u32(4);
    for (size_t at = 12; at + 8 <= bytes.size(); at += 8 + ((u32(at + 4) + 1) & ~1u)) {
        const std::string id = bytes.substr(at, 4);
        if (id == "fact" && at + 12 <= bytes.size())
            counts.factFrames = u32(at + 8);
        if (id == "data") {
            counts.data = u32(at + 4);
            counts.dataAt = at + 8;
            break;
        }
    }
    return counts;
}

// Standard output as the audio of a session with a restart from the menu:
// a reader of the pipe gets one stream, one header, and every frame after
// it in its place (a second header would be read as samples, and every
// later frame 30 bytes off).
TEST(Launcher, ARestartContinuesTheOneStreamInAPipe) {
    const std::string dir = freshFolder("stream-restart");
    spit(dir + "/restart.panel", menuScript(3));
    ASSERT_EQ(mkfifo((dir + "/launcher-stdout.txt").c_str(), 0600), 0);
    std::string stream;
    std::atomic<size_t> got{0};
    std::thread reader([&] {
        const int fd = open((dir + "/launcher-stdout.txt").c_str(), O_RDONLY | O_CLOEXEC);
        char buffer[65536];
        for (ssize_t n; fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0;) {
            stream.append(buffer, size_t(n));
            got.store(stream.size());
        }
        if (fd >= 0)
            close(fd);
    });
    {
        Launcher run(dir, {"--root", "root", "--panel-script", "restart.panel", "--audio-out", "/dev/stdout"});
        const auto said = [&](const std::string& line) {
            return testsupport::waitUntil([&] { return count(slurp(run.err), line) >= 1; }, std::chrono::milliseconds(2));
        };
        EXPECT_TRUE(said("run.sh: restarting (last exit code 0)\n")) << slurp(run.err);
        const size_t before = got.load();
        // Half a second of the second run's eight channels.
        EXPECT_TRUE(testsupport::waitUntil([&] { return got.load() > before + 48000 * 32 / 2; },
                                           std::chrono::milliseconds(2)));
        kill(run.pid, SIGTERM);
        EXPECT_EQ(run.finish(), 0);
        EXPECT_EQ(count(slurp(run.err), "run.sh: the next run continues the audio on standard output\n"), 1u)
            << slurp(run.err);
    }
    reader.join();
    ASSERT_GT(stream.size(), host::WavWriter::kHeaderBytes);
    const auto header = host::WavWriter::streamHeader(8, 48000);
    EXPECT_EQ(stream.substr(0, header.size()), std::string(header.begin(), header.end()));
    EXPECT_EQ(count(stream, "RIFF"), 1u);
    EXPECT_EQ((stream.size() - header.size()) % 32, 0u);
    EXPECT_TRUE(allInRange(samplesAfterHeader(stream)));
    spit(dir + "/stream.wav", stream);
    EXPECT_EQ(soxDataBytes(dir + "/stream.wav"), stream.size() - header.size());
}

// A file behind standard output keeps every run of the session: what the
// crashed run wrote stays in place, the next run's frames follow it, and the
// header counts them all.
TEST(Launcher, ACrashedRunsAudioStaysInTheFileBehindStandardOutput) {
    const std::string dir = freshFolder("stream-crash");
    const char* asan = getenv("ASAN_OPTIONS");
    Launcher run(dir, {"--root", "root", "--panel-script", std::string(CORVANE_SOURCE_DIR) + "/examples/first-sound.panel",
                       "--audio-out", "/dev/stdout"},
                 {{"ASAN_OPTIONS", std::string(asan ? asan : "") + ":handle_segv=0"}});
    const pid_t first = run.running();
    ASSERT_GT(first, 0);
    // Two seconds in, the first notes have sounded.
    ASSERT_TRUE(testsupport::waitUntil([&] { return soundFrames(run.out) >= 2 * 48000; },
                                       std::chrono::milliseconds(20)));
    kill(first, SIGSEGV);
    ASSERT_TRUE(testsupport::waitUntil([&] {
        return count(slurp(run.err), "run.sh: restarting (last exit code 139)\n") == 1;
    }, std::chrono::milliseconds(2))) << slurp(run.err);
    const std::string crashed = slurp(run.out);
    const size_t kept = (crashed.size() - host::WavWriter::kHeaderBytes) / 32 * 32;
    const std::vector<float> firstRun = samplesAfterHeader(crashed.substr(0, host::WavWriter::kHeaderBytes + kept));
    ASSERT_TRUE(std::any_of(firstRun.begin(), firstRun.end(), [](float x) { return x != 0.0f; }));
    ASSERT_GT(run.running(first), 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return slurp(run.out).size() > crashed.size() + 48000 * 32; },
                                       std::chrono::milliseconds(20)));
    kill(run.pid, SIGTERM);
    EXPECT_EQ(run.finish(), 0);

    const std::string whole = slurp(run.out);
    const size_t data = whole.size() - host::WavWriter::kHeaderBytes;
    EXPECT_EQ(data % 32, 0u);
    EXPECT_EQ(whole.substr(host::WavWriter::kHeaderBytes, kept), crashed.substr(host::WavWriter::kHeaderBytes, kept));
    EXPECT_EQ(soundFrames(run.out), long(data / 32));
    EXPECT_EQ(soxDataBytes(run.out), data);
    EXPECT_TRUE(allInRange(samplesAfterHeader(whole)));
    // The second run's header counts both runs' frames, in every field a
    // reader may trust.
    const HeaderCounts counts = headerCounts(whole);
    EXPECT_EQ(counts.riff, whole.size() - 8);
    EXPECT_EQ(counts.dataAt, host::WavWriter::kHeaderBytes);
    EXPECT_EQ(counts.data, data);
    EXPECT_EQ(counts.factFrames, data / 32);
    EXPECT_EQ(testsupport::shellOutput("soxi -s '" + run.out + "' 2>/dev/null"), std::to_string(data / 32) + "\n");
}

// On a file system that refuses the rename flag (NFS, 9p: EINVAL), and one
// without hard links besides, the crashed run's audio is still kept, and
// never over a file of the player's (output-1.wav): strace makes the
// launcher's calls fail as such a file system does. Where the old name
// cannot be removed after the link, the take is not kept, and said so: no
// second name of the file that the next run empties.
TEST(Launcher, TheLastRunsAudioIsKeptWhereRenameFlagsAreRefused) {
    if (testsupport::shellOutput("strace -qq -o /dev/null true && echo traced") != "traced\n")
        GTEST_SKIP() << "strace cannot trace here";
    const char* asan = getenv("ASAN_OPTIONS");
    const std::string kept = "run.sh: the last run's audio is kept in root/output-2.wav";
    const std::pair<const char*, std::string> cases[] = {
        {"-e trace=renameat2", kept},
        {"-e trace=renameat2,link,linkat", kept},
        {"-P root/output.wav -e trace=renameat2,unlink -e inject=unlink:error=EPERM",
         "run.sh: cannot keep the last run's audio: the next run writes over root/output.wav\n"}};
    for (const auto& [refused, said] : cases) {
        SCOPED_TRACE(refused);
        const std::string dir = freshFolder("no-rename-flags");
        host::makeFolders(dir + "/root");
        spit(dir + "/root/output-1.wav", "mine");
        const std::string wrapper = dir + "/launch";
        // A leak check cannot run in a traced process: the launcher's is off.
        spit(wrapper, "#!/bin/sh\nASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" exec strace -D -qq -o /dev/null " +
                          std::string(refused) + " -e inject=renameat2:error=EINVAL -e inject=link,linkat:error=EPERM " +
                          CORVANE_LAUNCHER + " \"$@\"\n");
        chmod(wrapper.c_str(), 0755);
        Launcher run(dir, {"--root", "root"},
                     {{"ASAN_OPTIONS", std::string(asan ? asan : "") + ":handle_segv=0"}, {"CORVANE_LAUNCHER", wrapper}});
        const pid_t first = run.running();
        ASSERT_GT(first, 0);
        ASSERT_TRUE(crashOnceItSounds(run, dir + "/root/output.wav"));
        ASSERT_GT(run.running(first), 0);
        kill(run.pid, SIGTERM);
        EXPECT_EQ(run.finish(), 0);
        EXPECT_EQ(count(slurp(run.err), said), 1u) << slurp(run.err);
        if (said == kept)
            EXPECT_GT(soundFrames(dir + "/root/output-2.wav"), 0);
        else
            EXPECT_FALSE(fs::exists(dir + "/root/output-2.wav"));
        EXPECT_EQ(fs::hard_link_count(dir + "/root/output.wav"), 1u);
        EXPECT_EQ(slurp(dir + "/root/output-1.wav"), "mine");
    }
}

// A run refused at its start for what its options name is said once: no
// restart would find the file.
TEST(Launcher, ARefusedStartIsSaidOnce) {
    const std::string dir = freshFolder("refused");
    Launcher run(dir, {"--root", "root", "--audio-in", "missing.wav"});
    EXPECT_EQ(run.finish(), 1);
    const std::string err = slurp(run.err);
    EXPECT_EQ(count(err, "Audio input missing.wav cannot be read"), 1u) << err;
    EXPECT_EQ(count(err, "Error: unable to initialise audio\n"), 1u) << err;
    EXPECT_EQ(count(err, "run.sh: the instrument did not start (exit code 1); not starting it again\n"), 1u) << err;
    EXPECT_EQ(err.find("restarting"), std::string::npos) << err;
    EXPECT_EQ(exitFile(dir + "/root"), "1\n");
    EXPECT_EQ(leftovers(run, dir + "/root"), "");
}

// A root that cannot hold the host's folder (a file, a path too long, also
// one too long only for the host's files in it) is the instrument's to
// refuse, with the cause alone; the launcher's own usage is its --help.
TEST(Launcher, ARootThatCannotBeUsedIsRefusedWithTheCauseAlone) {
    const std::string dir = freshFolder("root-file");
    spit(dir + "/root", "mine");
    Launcher run(dir, {"--root", "root"});
    EXPECT_EQ(run.finish(), 1);
    const std::string err = slurp(run.err);
    EXPECT_EQ(err, "Bela_initAudio: cannot use root as the data root: Not a directory\n"
                   "Error: unable to initialise audio\n");
    EXPECT_EQ(slurp(dir + "/root"), "mine");
    // A path too long to use: said alone, and no folder of it made.
    std::string tooLong = dir;
    for (int i = 0; i < 25; ++i)
        tooLong += "/" + std::string(200, 'a');
    Launcher longer(dir, {"--root", tooLong});
    EXPECT_EQ(longer.finish(), 1);
    EXPECT_EQ(count(slurp(longer.err), "File name too long\n"), 1u);
    EXPECT_EQ(slurp(longer.err).find("run.sh:"), std::string::npos) << slurp(longer.err);
    EXPECT_FALSE(fs::exists(dir + "/" + std::string(200, 'a')));
    std::string nearLimit = dir;
    while (nearLimit.size() < 4080)
        nearLimit += "/b";
    Launcher near(dir, {"--root", nearLimit, "--blocks", "1"});  // bounded: the old reading ran on
    EXPECT_EQ(near.finish(), 1);
    EXPECT_EQ(slurp(near.err), "Bela_initAudio: cannot use " + nearLimit + " as the data root: File name too long\n"
                               "Error: unable to initialise audio\n");
    EXPECT_FALSE(fs::exists(dir + "/b"));

    const auto help = testsupport::shellOutput(std::string(CORVANE_LAUNCHER) + " --help; echo status $?");
    EXPECT_EQ(help.rfind("usage: ", 0), 0u) << help;
    EXPECT_NE(help.find("status 0\n"), std::string::npos) << help;
}

// A root that cannot be guarded (its host folder a file, a read-only root)
// is run all the same, and supervised: a run that ends starts again. Where
// the exit code cannot be written, the launcher says what the next run
// finds: nothing, or the old one still there.
TEST(Launcher, ARootThatCannotBeGuardedIsSupervisedAllTheSame) {
    const std::string dir = freshFolder("unguarded");
    const std::string program = standIn(dir, kSaysTheExitCode);
    const auto times = [](int n, const std::string& text) {
        std::string out;
        for (int i = 0; i < n; ++i)
            out += text;
        return out;
    };
    host::makeFolders(dir + "/root");
    spit(dir + "/root/.host", "mine");
    {
        Launcher run(dir, {"--root", "root"}, {{"EXIT_FILE", "root" + kExitFile}}, program);
        EXPECT_EQ(run.finish(), 5);
        EXPECT_EQ(slurp(run.out), times(6, "none\n"));
        const std::string err = slurp(run.err);
        EXPECT_EQ(count(err, "run.sh: cannot write root" + kExitFile +
                                 " (Not a directory): the next run starts as after a power-on\n"),
                  6u) << err;
        EXPECT_EQ(count(err, "run.sh: restarting (last exit code 5)\n"), 5u) << err;
        EXPECT_EQ(slurp(dir + "/root/.host"), "mine");
    }

    // A read-only root: a mount of the launcher's own, where one can be made.
    host::makeFolders(dir + "/read-only/.host");
    spit(dir + "/read-only" + kExitFile, "9\n");
    const std::string readOnly = "sh -c 'mount --bind read-only read-only && mount -o remount,bind,ro read-only && "
                                 "exec \"$0\" \"$@\"' ";
    std::string unshare;
    for (const char* candidate : {"unshare -m", "unshare -U -r -m"})
        if (testsupport::shellOutput("cd '" + dir + "' && " + candidate + " " + readOnly +
                                     "sh -c '! touch read-only/x 2>/dev/null && echo read-only' 2>/dev/null") ==
            "read-only\n") {
            unshare = candidate;
            break;
        }
    if (unshare.empty())
        GTEST_SKIP() << "no read-only mount can be made here";
    const std::string wrapper = dir + "/launch";
    spit(wrapper, "#!/bin/sh\nexec " + unshare + " " + readOnly + CORVANE_LAUNCHER + " \"$@\"\n");
    chmod(wrapper.c_str(), 0755);
    Launcher run(dir, {"--root", "read-only"}, {{"EXIT_FILE", "read-only" + kExitFile}, {"CORVANE_LAUNCHER", wrapper}},
                 program);
    EXPECT_EQ(run.finish(), 5);
    EXPECT_EQ(slurp(run.out), times(6, "9\n"));
    const std::string err = slurp(run.err);
    EXPECT_EQ(count(err, "run.sh: cannot remove read-only" + kExitFile + " at the power-on; starting anyway\n"), 1u)
        << err;
    EXPECT_EQ(count(err, "run.sh: cannot write read-only" + kExitFile +
                             " (Read-only file system): the next run reads the old exit code still there\n"),
              6u) << err;
    EXPECT_EQ(count(err, "run.sh: restarting (last exit code 5)\n"), 5u) << err;
}

// The run tells its launcher that its start is complete: one byte on the
// descriptor it is handed, once its stop handlers are in place; a start
// refused before that writes none.
TEST(Launcher, TheInstrumentSaysWhenItsStartIsComplete) {
    const std::string dir = freshFolder("started");
    for (const bool refused : {false, true}) {
        int started[2];
        ASSERT_EQ(pipe(started), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            close(started[0]);
            dup2(open("/dev/null", O_WRONLY), 1);
            dup2(open("/dev/null", O_WRONLY), 2);
            setenv("CORVANE_STARTED_FD", std::to_string(started[1]).c_str(), 1);
            const std::string root = dir + "/root";
            if (refused)
                execl(CORVANE_BINARY, CORVANE_BINARY, "--root", root.c_str(), "--offline", "--blocks", "100",
                      "--audio-in", "missing.wav", nullptr);
            else
                execl(CORVANE_BINARY, CORVANE_BINARY, "--root", root.c_str(), "--offline", "--blocks", "100", nullptr);
            _exit(127);
        }
        close(started[1]);
        char bytes[4];
        const ssize_t n = read(started[0], bytes, sizeof bytes);  // to the instrument's end
        EXPECT_EQ(n, refused ? 0 : 1) << refused;
        close(started[0]);
        int status = -1;
        waitpid(pid, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), refused ? 1 : 0);
    }
}

// A word that is no option's value, or an empty value, is a wrong option:
// the instrument says it once, with a wrong option's status, and nothing
// runs ("--root my root" makes no "my").
TEST(Launcher, StrayWordsAndEmptyValuesAreWrongOptions) {
    const std::string dir = freshFolder("stray");
    std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--root", "my", "root"},
         ": a word left over after the options: root (a value with a space needs quotes)\n"}};
    for (std::string option : {"root", "audio-out", "audio-in", "midi-port", "panel-script", "osc-listen",
                               "display-out"})
        cases.push_back({{"--" + option, ""}, ": empty value for --" + option + "\n"});
    for (auto& [args, line] : cases) {
        SCOPED_TRACE(line);
        args.insert(args.end(), {"--blocks", "1"});  // the old reading ran on: bounded
        Launcher run(dir, args);
        EXPECT_EQ(run.finish(), 1);
        const std::string err = slurp(run.err);
        EXPECT_EQ(count(err, line), 1u) << err;
        EXPECT_EQ(err.find("run.sh:"), std::string::npos) << err;
    }
    EXPECT_FALSE(fs::exists(dir + "/my"));
}

// What a data root holds, every file with its size, time and contents, but
// the output that the running instrument writes.
std::string snapshot(const std::string& root) {
    return testsupport::shellOutput("cd '" + root + "' && find . ! -name output.wav -printf '%p %y %s %T@\\n' | sort && "
                                    "find . -type f ! -name output.wav -exec md5sum {} + | sort");
}

// Every thread of `pid` stopped: its stop is complete.
bool stoppedWhole(pid_t pid) {
    std::error_code ec;
    bool any = false;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        if (processState(std::atoi(task.path().filename().c_str())) != 'T')
            return false;
        any = true;
    }
    return any;
}

// The process `pid` and each of its threads as they stand (name and state
// letter), for a failure to say what it saw.
std::string threadStates(pid_t pid) {
    const auto letter = [](const std::string& stat) {
        const size_t close = stat.rfind(')');
        return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : '-';
    };
    const std::string proc = "/proc/" + std::to_string(pid);
    std::string seen = "process " + std::to_string(pid) + " " + letter(slurp(proc + "/stat")) + ":";
    std::error_code ec;
    for (const auto& task : fs::directory_iterator(proc + "/task", ec)) {
        const std::string at = task.path().string();
        std::string name = slurp(at + "/comm");
        if (!name.empty() && name.back() == '\n')
            name.pop_back();
        seen += " " + task.path().filename().string() + " " + name + " " + letter(slurp(at + "/stat")) + ";";
    }
    return seen;
}

// An instrument whose launcher is killed ends (saving, as on SIGTERM)
// rather than running on under init; while it runs, its launcher holds the
// data root: another instrument or launcher is refused and changes nothing
// there.
TEST(Launcher, TheInstrumentEndsWithItsLauncherAndHoldsItsRoot) {
    // This test takes the instrument in when its launcher dies, as a
    // session's subreaper would: a stopped group left with no parent in the
    // session is continued by the kernel (SIGHUP, SIGCONT), and would end.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    struct Subreaper {
        ~Subreaper() { prctl(PR_SET_CHILD_SUBREAPER, 0); }
    } subreaper;
    const std::string dir = freshFolder("launcher-killed");
    Launcher run(dir, {"--root", "root"});
    const pid_t instrument = run.running();
    ASSERT_GT(instrument, 0);
    const std::string holder = "the data root " + dir + "/root is in use by process " + std::to_string(run.pid) +
                               " (corvane-launch)\n" + kTryHelp;

    const std::string before = snapshot(dir + "/root");
    const std::string out = dir + "/second-stdout.txt", err = dir + "/second-stderr.txt";
    const auto second = testsupport::runCorvane(
        {"--root", dir + "/root", "--offline", "--blocks", "10", "--audio-out", dir + "/second.wav"}, out, err);
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(count(second.err, "Bela_initAudio: " + holder), 1u) << second.err;
    EXPECT_NE(second.err.find("Error: unable to initialise audio\n"), std::string::npos) << second.err;
    EXPECT_FALSE(fs::exists(dir + "/second.wav"));
    for (const std::vector<std::string>& options :
         std::vector<std::vector<std::string>>{{"--root", dir + "/root"},
                                               {"--root", dir + "/root", "--offline", "--blocks", "10"}}) {
        Launcher again(freshFolder("launcher-second"), options);
        EXPECT_EQ(again.finish(), 1);
        EXPECT_EQ(slurp(again.err), "run.sh: " + holder);
    }
    EXPECT_EQ(snapshot(dir + "/root"), before);

    EXPECT_FALSE(fs::exists(dir + "/root/corvane.json"));  // saved only on the way out
    // The launcher has two threads, and the one that ends last may ask
    // whether the group keeps a parent outside it before the other has
    // handed the instrument over: the kernel then takes the group for
    // orphaned and continues it. A process of this test's in the group is
    // that parent whatever the order; it ends when its input closes.
    int keeperInput[2];
    ASSERT_EQ(pipe2(keeperInput, O_CLOEXEC), 0);
    const pid_t keeper = fork();
    if (keeper == 0) {
        setpgid(0, run.pid);
        dup2(keeperInput[0], 0);
        execl("/bin/sh", "sh", "-c", "read -r line", nullptr);
        _exit(127);
    }
    close(keeperInput[0]);
    struct Keeper {
        pid_t pid;
        int input;
        ~Keeper() {
            close(input);
            if (pid > 0 && kill(pid, SIGKILL) == 0)
                waitpid(pid, nullptr, 0);
        }
    } keeping{keeper, keeperInput[1]};
    ASSERT_GT(keeper, 0);
    setpgid(keeper, run.pid);  // in the group before anyone looks
    ASSERT_EQ(getpgid(keeper), run.pid);
    // The instrument is held before it can save: until it has ended, the
    // root is its own, also with its launcher gone.
    ASSERT_EQ(kill(instrument, SIGSTOP), 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return stoppedWhole(instrument); }, std::chrono::milliseconds(2)))
        << threadStates(instrument);
    ASSERT_EQ(kill(run.pid, SIGKILL), 0);  // run.sh alone, not its group
    // Gone whole, its lock with it: a zombie leader is waitable only once
    // its last thread has ended.
    ASSERT_TRUE(testsupport::waitUntil([&] {
        siginfo_t ended{};
        return waitid(P_PID, run.pid, &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid == run.pid;
    }, std::chrono::milliseconds(2))) << threadStates(run.pid);
    ASSERT_EQ(processState(run.pid), 'Z') << threadStates(run.pid);
    ASSERT_TRUE(stoppedWhole(instrument)) << threadStates(instrument);
    const auto third = testsupport::runCorvane({"--root", dir + "/root", "--offline", "--blocks", "10"}, out, err);
    const auto thirdSaid = [&] {
        return "third start: status " + std::to_string(third.status) + "\nits stdout:\n" + third.out +
               "\nits stderr:\n" + third.err + "\n" + threadStates(instrument);
    };
    EXPECT_EQ(third.status, 1) << thirdSaid();
    EXPECT_EQ(count(third.err, "the data root " + dir + "/root is in use by process " + std::to_string(instrument) +
                                   " (corvane)\n"),
              1u)
        << thirdSaid();
    ASSERT_EQ(kill(instrument, SIGCONT), 0);
    EXPECT_TRUE(testsupport::waitUntil([&] { return waitpid(instrument, nullptr, WNOHANG) == instrument; },
                                       std::chrono::milliseconds(2)));
    EXPECT_TRUE(fs::exists(dir + "/root/corvane.json"));
    EXPECT_EQ(run.finish(), -1);
    EXPECT_EQ(leftovers(run, dir + "/root"), "");
}

// A root held by a process that has no PID here is in use all the same:
// a launcher or an instrument in a PID namespace of its own meets a holder
// outside it, which F_GETLK names 0 (as a network file system may). One
// line, and nothing runs beside the holder.
TEST(Launcher, ARootHeldByAProcessThatCannotBeNamedIsInUse) {
    std::string unshare;
    for (const char* candidate : {"unshare -p -f", "unshare -U -r -p -f"})
        if (testsupport::shellOutput(std::string(candidate) + " true 2>/dev/null && echo made") == "made\n") {
            unshare = candidate;
            break;
        }
    if (unshare.empty())
        GTEST_SKIP() << "no PID namespace can be made here";
    const std::string dir = freshFolder("unnamed-holder");
    const std::string program =
        standIn(dir, "printf 1 >\"/dev/fd/$CORVANE_STARTED_FD\"\necho ran\n[ -z \"$HOLD\" ] || exec sleep 600\nexit 5\n");
    Launcher holder(dir, {"--root", "root"}, {{"HOLD", "1"}}, program);
    ASSERT_TRUE(holder.said("ran\n"));
    const std::string root = dir + "/root";
    const std::string before = snapshot(root);
    const std::string inUse = "the data root " + root + " is in use by another process\n";

    const std::string wrapper = dir + "/launch";
    spit(wrapper, "#!/bin/sh\nexec " + unshare + " " + CORVANE_LAUNCHER + " \"$@\"\n");
    chmod(wrapper.c_str(), 0755);
    for (const std::vector<std::string>& options :
         std::vector<std::vector<std::string>>{{"--root", root}, {"--root", root, "--offline", "--blocks", "1"}}) {
        SCOPED_TRACE(options.size() > 2 ? "offline" : "real time");
        Launcher run(freshFolder("unnamed-second"), options, {{"CORVANE_LAUNCHER", wrapper}}, program);
        EXPECT_EQ(run.finish(), 1);
        EXPECT_EQ(slurp(run.err), "run.sh: " + inUse + "Try 'program.sh --help' for more information.\n");
        EXPECT_EQ(slurp(run.out), "");
    }
    const std::string alone = testsupport::shellOutput(unshare + " " + CORVANE_BINARY + " --root '" + root +
                                                       "' --offline --blocks 1 2>&1 >/dev/null; echo status $?");
    EXPECT_EQ(alone, "Bela_initAudio: " + inUse + kTryHelp + "Error: unable to initialise audio\nstatus 1\n");
    EXPECT_EQ(snapshot(root), before);
}

// Every sample of a WAV file is sound: console text written into it reads
// as huge or broken floats.
bool holdsAudioOnly(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return false;
    std::vector<float> samples(size_t(info.frames) * size_t(info.channels));
    const bool whole = sf_readf_float(file, samples.data(), info.frames) == info.frames;
    sf_close(file);
    return whole && info.frames > 0 &&
           std::all_of(samples.begin(), samples.end(), [](float x) { return std::isfinite(x) && std::fabs(x) <= 1.0f; });
}

// Whatever state its caller hands it, the launcher restarts a crashed run,
// keeps its audio apart and ends with the status of the run it stops; no
// console text lands in the root's files.
TEST(Launcher, StandsOnWhateverItsCallerHandsIt) {
    const char* asan = getenv("ASAN_OPTIONS");
    for (Start start : {Start::IgnoringSigchld, Start::ErrorIntoClosedPipe, Start::StreamsClosed}) {
        SCOPED_TRACE(int(start));
        const std::string dir = freshFolder("handed-" + std::to_string(int(start)));
        Launcher run(dir, {"--root", "root"}, {{"ASAN_OPTIONS", std::string(asan ? asan : "") + ":handle_segv=0"}},
                     CORVANE_BINARY, start);
        const pid_t first = run.running();
        ASSERT_GT(first, 0);
        ASSERT_TRUE(crashOnceItSounds(run, dir + "/root/output.wav"));
        const pid_t second = run.running(first);
        ASSERT_GT(second, 0);
        EXPECT_EQ(exitFile(dir + "/root"), "139\n");
        ASSERT_TRUE(testsupport::waitUntil([&] { return soundFrames(dir + "/root/output.wav") > 0; },
                                           std::chrono::milliseconds(20)));
        kill(run.pid, SIGTERM);
        EXPECT_EQ(run.finish(), 0) << slurp(run.out) << slurp(run.err);
        EXPECT_EQ(exitFile(dir + "/root"), "0\n");
        EXPECT_TRUE(holdsAudioOnly(dir + "/root/output-1.wav"));
        EXPECT_TRUE(holdsAudioOnly(dir + "/root/output.wav"));
        EXPECT_EQ(slurp(dir + "/root/.host/corvane.lock"), "");
    }
}

// Standard error alone closed: the first file the launcher opens (the
// root's lock) must not take its number, or the console goes into it.
TEST(Launcher, StandardErrorAloneClosedTakesNoFileOfTheRoot) {
    const std::string dir = freshFolder("error-closed");
    Launcher run(dir, {"--root", "root", "--offline", "--blocks", "200"}, {}, CORVANE_BINARY, Start::ErrorClosed);
    EXPECT_EQ(run.finish(), 0) << slurp(run.out);
    EXPECT_EQ(slurp(dir + "/root/.host/corvane.lock"), "");
    EXPECT_TRUE(holdsAudioOnly(dir + "/root/output.wav"));
}

// A stop and the run's own end may come in any order, once or in a burst
// (here the stand-in stops its launcher and ends at once, with 7 or with
// the 0 of a restart): the launcher ends with the run's status and starts
// nothing more. An exit-code file the power-on cannot remove is said, and
// the runs go on.
TEST(Launcher, AStopAsTheRunEndsEndsTheLauncherWithTheRunsStatus) {
    const std::string dir = freshFolder("stop-race");
    const std::string program =
        standIn(dir, "trap 'exit $STATUS' INT TERM HUP\nprintf 1 >\"/dev/fd/$CORVANE_STARTED_FD\"\n"
                     "i=0; while [ $i -lt $BURST ]; do kill -s \"$SIG\" \"$PPID\"; i=$((i + 1)); done\nexit $STATUS\n");
    for (int round = 0; round < 3; ++round)
        for (const char* sig : {"TERM", "INT", "HUP"})
            for (const char* status : {"7", "0"})
                for (const char* burst : {"1", "20"}) {
                    SCOPED_TRACE(std::string(sig) + " status " + status + " burst " + burst + " round " +
                                 std::to_string(round));
                    const std::string root = dir + "/root";
                    Launcher run(dir, {"--root", "root"}, {{"SIG", sig}, {"STATUS", status}, {"BURST", burst}},
                                 program);
                    ASSERT_EQ(run.finish(), std::atoi(status)) << slurp(run.err);
                    EXPECT_EQ(slurp(run.err), "run.sh: stopped by SIG" + std::string(sig) + " (last exit code " +
                                                  status + ")\n");
                    EXPECT_EQ(exitFile(root), std::string(status) + "\n");
                }
    host::makeFolders(dir + "/folder" + kExitFile);
    Launcher run(dir, {"--root", "folder"}, {{"SIG", "TERM"}, {"STATUS", "7"}, {"BURST", "1"}}, program);
    ASSERT_EQ(run.finish(), 7);
    EXPECT_EQ(slurp(run.err), "run.sh: cannot remove folder" + kExitFile + " at the power-on; starting anyway\n"
                              "run.sh: cannot write folder" + kExitFile + " (Is a directory): the next run starts as after a power-on\n"
                              "run.sh: stopped by SIGTERM (last exit code 7)\n");
}

// The launcher held between two of its steps (as a run ends, before the
// next starts, as it starts) while a burst of stops comes: each is taken
// all the same. No further run; the last run's own status.
TEST(Launcher, AStopBetweenAnyTwoStepsEndsIt) {
    for (const char* step : {"end 1", "start 2", "fork 2"})
        for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
            SCOPED_TRACE(std::string(step) + " " + sigabbrev_np(sig));
            const std::string dir = freshFolder("held");
            const char* asan = getenv("ASAN_OPTIONS");
            Launcher run(dir, {"--root", "root"},
                         {{"LD_PRELOAD", CORVANE_LAUNCHER_HOLD_LIBRARY},
                          {"CORVANE_HOLD_AT", step},
                          // The hold comes first among the libraries, before a sanitizer's.
                          {"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"}});
            const pid_t first = run.running();
            ASSERT_GT(first, 0);
            ASSERT_EQ(kill(first, SIGKILL), 0);  // a crash: the launcher starts it again
            ASSERT_TRUE(run.held());
            for (int i = 0; i < 20; ++i)
                kill(run.pid, sig);
            kill(run.pid, SIGCONT);
            const int status = run.finish();
            const bool restarted = std::string(step) != "end 1";
            // A second run stopped before its handlers are in place ends by
            // the stop; one stopped after it, cleanly.
            if (restarted)
                EXPECT_TRUE(status == 128 + sig || status == 0) << status;
            else
                EXPECT_EQ(status, 128 + SIGKILL);
            const std::string err = slurp(run.err);
            EXPECT_EQ(count(err, "run.sh: restarting"), restarted ? 1u : 0u) << err;
            EXPECT_EQ(count(err, "run.sh: stopped by SIG" + std::string(sigabbrev_np(sig)) + " (last exit code " +
                                     std::to_string(status) + ")\n"),
                      1u) << err;
            EXPECT_EQ(exitFile(dir + "/root"), std::to_string(status) + "\n");
            EXPECT_EQ(leftovers(run, dir + "/root"), "");
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
    const pid_t first = run.running();
    ASSERT_GT(first, 0);
    ASSERT_TRUE(crashOnceItSounds(run, dir + "/takes/take.wav"));
    ASSERT_GT(run.running(first), 0) << slurp(run.err);  // its handlers in place: SIGTERM saves
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

// One stop reaches the instrument in many deliveries, close together: a
// Ctrl-C from the terminal to the whole group and again from the launcher
// passing it on, a closing terminal's hang-up and the shell's, a wrapper
// passing a Ctrl-C on, a service manager's TERM, CONT and HUP, twenty at
// once. Each is one stop: the instrument saves and exits 0 (1 when the
// configuration cannot be saved), and the launcher ends with that status,
// writes it to the exit-code file and only once the instrument has ended
// (the root is free at once). What the instrument printed before the stop
// reaches the console.
TEST(Launcher, TheDeliveriesOfOneStopAreOneStopAndSave) {
    enum To { Group, Launcher_, Instrument };
    struct Round {
        const char* name;
        std::vector<std::pair<To, int>> deliveries;
        Start start = Start::Terminal;
        bool unsaved = false;
    };
    const std::vector<std::pair<To, int>> twenty(20, {Group, SIGINT});
    const Round rounds[] = {
        {"one Ctrl-C", {{Group, SIGINT}}},
        {"a terminal's hang-up and the shell's", {{Group, SIGHUP}, {Group, SIGHUP}}},
        {"a wrapper passing a Ctrl-C on", {{Group, SIGINT}, {Launcher_, SIGINT}}},
        {"timeout --foreground passing a Ctrl-C on", {{Group, SIGINT}}, Start::UnderTimeout},
        {"a service manager's stop", {{Group, SIGTERM}, {Group, SIGCONT}, {Group, SIGHUP}}},
        {"the instrument and run.sh each stopped", {{Instrument, SIGTERM}, {Launcher_, SIGTERM}, {Instrument, SIGHUP}}},
        {"twenty at once", twenty},
        {"twenty at once, SIGINT ignored by the caller", twenty, Start::IgnoringSigint},
        {"twenty at once, unsaved", twenty, Start::Terminal, true},
    };
    for (const Round& round : rounds) {
        SCOPED_TRACE(round.name);
        const std::string dir = freshFolder("bursts");
        Launcher run(dir, {"--root", "root"}, {}, CORVANE_BINARY, round.start);
        const pid_t instrument = run.running();
        ASSERT_GT(instrument, 0);
        ASSERT_TRUE(run.said("-->\tCorvane has been initialized!\n"));
        if (round.unsaved)  // a folder where the configuration goes
            host::makeFolders(dir + "/root/corvane.json/in-the-way");
        for (const auto& [to, sig] : round.deliveries)
            ASSERT_EQ(kill(to == Group ? -run.pid : to == Launcher_ ? run.launcher() : instrument, sig), 0);
        const int saved = round.unsaved ? 1 : 0;
        ASSERT_EQ(run.finish(), saved) << slurp(run.err);
        const auto next = testsupport::runCorvane({"--root", dir + "/root", "--offline", "--blocks", "1"},
                                                  dir + "/next-out.txt", dir + "/next-err.txt");
        EXPECT_EQ(next.err.find("in use"), std::string::npos) << next.err;
        if (!round.unsaved) {
            EXPECT_EQ(testsupport::shellOutput("jq -r '.config | length > 0' '" + dir + "/root/corvane.json' 2>&1"),
                      "true\n");
        }
        EXPECT_EQ(count(slurp(run.out), "-->\tCorvane has been initialized!\n"), 1u);
        const std::string err = slurp(run.err);
        EXPECT_EQ(err.find("restarting"), std::string::npos) << err;
        // Signals taken together are read lowest number first: a HUP before a TERM.
        EXPECT_EQ(count(err, "run.sh: stopped by SIG"), 1u) << err;
        EXPECT_EQ(count(err, " (last exit code " + std::to_string(saved) + ")\n"), 1u) << err;
        EXPECT_EQ(exitFile(dir + "/root"), std::to_string(saved) + "\n");
        EXPECT_EQ(leftovers(run, dir + "/root"), "");
    }
}

// A stop that kills the instrument before its own handlers are in place (it
// waits for the reader of a FIFO output) ends the launcher with that status,
// however many come.
TEST(Launcher, AnInstrumentTheStopKillsEndsTheLauncherWithItsStatus) {
    const std::string dir = freshFolder("killed-by-stop");
    ASSERT_EQ(mkfifo((dir + "/out.wav").c_str(), 0644), 0);
    Launcher run(dir, {"--root", "root", "--audio-out", "out.wav"});
    ASSERT_TRUE(testsupport::waitUntil([&] { return slurp(run.err).find("waiting for a reader") != std::string::npos; },
                                       std::chrono::milliseconds(2)));
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(kill(run.pid, SIGTERM), 0);
    EXPECT_EQ(run.finish(), 143);
    EXPECT_EQ(count(slurp(run.err), "run.sh: stopped by SIGTERM (last exit code 143)\n"), 1u) << slurp(run.err);
    EXPECT_EQ(exitFile(dir + "/root"), "143\n");
}

// An offline render without a bound into a file would fill the disk: it is
// a wrong option, said once, and nothing is made (a link to a file is a
// file). Into a FIFO its reader paces it, and it renders on.
TEST(Launcher, AnOfflineRenderIntoAFileNeedsABound) {
    const std::string dir = freshFolder("offline-unbounded");
    spit(dir + "/take.wav", "mine");
    ASSERT_EQ(symlink("take.wav", (dir + "/take-link.wav").c_str()), 0);
    for (const auto& [args, output] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--root", "root", "--offline"}, "root/output.wav"},
             {{"--root", "root", "--offline", "--audio-out", "take-link.wav"}, "take.wav"}}) {
        SCOPED_TRACE(args.back());
        Launcher run(dir, args);
        // A render that goes on is ended here, long before the disk is full.
        ASSERT_TRUE(testsupport::waitUntil([&] {
            std::error_code ec;
            const auto size = fs::file_size(dir + "/" + output, ec);
            return processState(run.pid) == 'Z' || (!ec && size > (1u << 20));
        }, std::chrono::milliseconds(1)));
        ASSERT_EQ(processState(run.pid), 'Z');
        EXPECT_EQ(run.finish(), 1);
        const std::string err = slurp(run.err);
        EXPECT_EQ(count(err, "--offline needs --seconds or --blocks when its output is a file"), 1u) << err;
        EXPECT_NE(err.find("(into a file, needs --blocks or --seconds)\n"), std::string::npos) << err;
        EXPECT_EQ(err.find("run.sh:"), std::string::npos) << err;
    }
    EXPECT_FALSE(fs::exists(dir + "/root"));
    EXPECT_EQ(slurp(dir + "/take.wav"), "mine");

    ASSERT_EQ(mkfifo((dir + "/out.fifo").c_str(), 0644), 0);
    ASSERT_EQ(symlink("out.fifo", (dir + "/out-link.wav").c_str()), 0);
    Launcher run(dir, {"--root", "root", "--offline", "--audio-out", "out-link.wav"});
    const int reader = open((dir + "/out.fifo").c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    char block[65536];
    size_t got = 0;
    for (ssize_t n; got < sizeof block * 4 && (n = read(reader, block, sizeof block)) > 0;)
        got += size_t(n);
    close(reader);
    EXPECT_GE(got, sizeof block * 4);
    EXPECT_EQ(run.finish(), 1);  // the reader left
    EXPECT_EQ(slurp(run.err).find("--offline needs"), std::string::npos) << slurp(run.err);
}

}  // namespace
