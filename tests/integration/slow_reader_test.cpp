// A reader of the audio on standard output that is slow or has paused (a
// suspended player, `| less` not scrolled) never holds the end: one stop
// ends the run within seconds, the configuration saved, and what the reader
// did not take is dropped and said. One that keeps up is given what is
// queued, every frame.
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"
#include "tests/support/corvane_process.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

namespace {

using testsupport::slurp;

// The capture's ring: four seconds of the eight output channels.
constexpr size_t kRingBytes = 4 * 48000 * 8 * sizeof(float);

// The instrument in real time with its audio on standard output, a pipe
// whose read end the test holds.
struct Listened {
    std::string root = testsupport::freshPath("slow-reader-root");
    std::string err = testsupport::freshPath("slow-reader-err", ".txt");
    int reader = -1;
    int writer = -1;  // kept: no room in it is the sign the pipe is full
    pid_t pid = -1;
    testsupport::Reaper reaper{-1};

    Listened() {
        host::makeFolders(root);
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0)
            return;
        reader = ends[0];
        // The child opens its standard output through the name of the write
        // end it holds until it execs.
        pid = testsupport::startCorvane({"--root", root, "--audio-out", "/dev/stdout"},
                                        "/proc/self/fd/" + std::to_string(ends[1]), err);
        reaper.pid = pid;
        writer = ends[1];
    }
    ~Listened() {
        for (int fd : {reader, writer})
            if (fd >= 0)
                ::close(fd);
    }
    // Its stop handlers are in place (SIGHUP, the last one set, is caught).
    bool stoppable() const {
        return testsupport::waitUntil([&] {
            const std::string status = slurp("/proc/" + std::to_string(pid) + "/status");
            const size_t at = status.find("SigCgt:\t");
            return at != std::string::npos && (std::stoull(status.substr(at + 8, 16), nullptr, 16) >> (SIGHUP - 1) & 1);
        }, std::chrono::milliseconds(2));
    }
    // Ended by itself, while the reader takes what it takes; its status.
    bool ended(int& status) {
        int raw = 0;
        if (!testsupport::waitUntil([&] { return waitpid(pid, &raw, WNOHANG) == pid; },
                                    std::chrono::milliseconds(5)))
            return false;
        reaper.pid = -1;
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return true;
    }
    // The length "Audio dropped in all" says, in seconds; -1 without it.
    double droppedInAll() const {
        const std::string said = slurp(err);
        const size_t at = said.find("Audio dropped in all: ");
        double seconds = -1;
        if (at == std::string::npos ||
            std::sscanf(said.c_str() + at, "Audio dropped in all: %lf s (the reader of standard output was too slow)\n",
                        &seconds) != 1)
            return -1;
        return seconds;
    }
};

TEST(SlowReader, OneStopEndsTheRunWhateverTheReaderTakes) {
    Listened paused, slow;
    ASSERT_GT(paused.pid, 0);
    ASSERT_GT(slow.pid, 0);
    ::close(slow.writer);  // the slow reader ends with the run
    slow.writer = -1;

    // The slow reader takes at most 4 KiB per 10 ms, 1.3 MB/s less than
    // the instrument plays.
    std::atomic<size_t> taken{0};
    std::thread reading([&] {
        char piece[4096];
        for (ssize_t n; (n = ::read(slow.reader, piece, sizeof piece)) != 0;) {
            if (n > 0)
                taken += size_t(n);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    // The reader ends with the run; a failed test ends the run first.
    struct Joined {
        std::thread& t;
        Listened& run;
        ~Joined() {
            if (run.reaper.pid > 0)
                kill(run.pid, SIGKILL);
            if (t.joinable())
                t.join();
        }
    } joined{reading, slow};

    // The paused reader: its pipe has no room. The slow one: it has taken so much
    // that the run has played past it by more than the ring holds.
    ASSERT_TRUE(testsupport::waitUntil([&] {
        pollfd room{paused.writer, POLLOUT, 0};
        return ::poll(&room, 1, 0) == 0;
    }, std::chrono::milliseconds(2)));
    ASSERT_TRUE(paused.stoppable());
    ASSERT_TRUE(slow.stoppable());
    const size_t before = taken.load();
    ASSERT_TRUE(testsupport::waitUntil([&] { return taken.load() - before >= kRingBytes * 2 / 5; },
                                       std::chrono::milliseconds(5)));

    ASSERT_EQ(kill(paused.pid, SIGINT), 0);
    ASSERT_EQ(kill(slow.pid, SIGINT), 0);
    const size_t atStop = taken.load();
    for (Listened* run : {&paused, &slow}) {
        SCOPED_TRACE(run == &paused ? "paused" : "slow");
        int status = -1;
        ASSERT_TRUE(run->ended(status)) << slurp(run->err);
        EXPECT_EQ(status, 0) << slurp(run->err);
        EXPECT_EQ(testsupport::shellOutput("jq -r type '" + run->root + "/corvane.json'"), "object\n");
        EXPECT_GT(run->droppedInAll(), 0) << slurp(run->err);
    }
    // After the stop the slow reader took its two seconds' worth and then
    // what the pipe held, not the backlog of the ring (a full ring's, less
    // what it took before the stop).
    reading.join();
    EXPECT_LT(taken.load() - atStop, kRingBytes / 4) << "bytes taken after the stop";
}

// Whether `pid` has taken `sig`: no thread of it has it pending.
bool taken(pid_t pid, int sig) {
    const auto pending = [sig](const std::string& status, const std::string& field) {
        const size_t at = status.find(field + ":\t");
        return at == std::string::npos ||
               (std::stoull(status.substr(at + field.size() + 2, 16), nullptr, 16) >> (sig - 1) & 1);
    };
    const std::string process = "/proc/" + std::to_string(pid);
    if (pending(slurp(process + "/status"), "ShdPnd"))
        return false;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator(process + "/task", ec))
        if (pending(slurp(task.path().string() + "/status"), "SigPnd"))
            return false;
    return true;
}

// An offline render of a known length into standard output, a pipe the test
// leaves unread until the render is done and the run's end waits for the
// reader (the configuration saved). Then a stop, and a reader that keeps up:
// it has its two seconds, in which it takes every frame rendered.
TEST(SlowReader, AReaderThatKeepsUpAfterAStopGetsEveryFrame) {
    constexpr size_t kBlocks = 1500;  // two seconds: within the capture's ring
    constexpr size_t kDataBytes = kBlocks * 64 * 8 * sizeof(float);
    const std::string root = testsupport::freshPath("kept-up-root");
    const std::string err = testsupport::freshPath("kept-up-err", ".txt");
    host::makeFolders(root);
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    const pid_t pid = testsupport::startCorvane({"--root", root, "--offline", "--blocks", std::to_string(kBlocks),
                                                 "--audio-out", "/dev/stdout"},
                                                "/proc/self/fd/" + std::to_string(ends[1]), err);
    testsupport::Reaper reaper{pid};
    ::close(ends[1]);
    struct Closed {
        int fd;
        ~Closed() { ::close(fd); }
    } reader{ends[0]};
    ASSERT_TRUE(testsupport::waitUntil([&] { return std::filesystem::exists(root + "/corvane.json"); },
                                       std::chrono::milliseconds(2)))
        << slurp(err);
    ASSERT_EQ(kill(pid, SIGINT), 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return taken(pid, SIGINT); }));
    std::string stream;
    char piece[65536];
    for (ssize_t n; (n = ::read(reader.fd, piece, sizeof piece)) != 0;)
        if (n > 0)
            stream.append(piece, size_t(n));
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    reaper.pid = 0;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << slurp(err);
    EXPECT_EQ(slurp(err).find("Audio dropped"), std::string::npos) << slurp(err);
    const size_t data = stream.find("data");
    ASSERT_NE(data, std::string::npos);
    EXPECT_TRUE(stream.compare(0, 4, "RIFF") == 0 || stream.compare(0, 4, "RF64") == 0);
    EXPECT_EQ(stream.size() - (data + 8), kDataBytes) << "bytes of audio taken";
}

}  // namespace
