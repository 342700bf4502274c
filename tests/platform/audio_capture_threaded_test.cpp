// The capture into a FIFO whose reader is slow or has paused: what is dropped
// is said with its length, and a stop ends an offline push's wait and the
// writer's.
#include "platform/AudioFile.h"
#include "platform/WavWriter.h"
#include "tests/support/TempDir.h"
#include "tests/support/corvane_process.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr unsigned kChannels = 2, kRate = 48000, kBlock = 64;

// Standard error into a file while the test runs: the capture's writer
// thread says its lines there.
struct ConsoleCaught {
    std::string path = testsupport::freshPath("capture-console", ".txt");
    int saved = dup(2);
    ConsoleCaught() {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        dup2(fd, 2);
        close(fd);
    }
    ~ConsoleCaught() {
        dup2(saved, 2);
        close(saved);
    }
    std::string text() const { return testsupport::slurp(path); }
};

// A FIFO opened for reading (not read yet) and the capture writing into it.
struct Fifo {
    std::string path = testsupport::freshPath("capture", ".fifo");
    int reader = -1;
    std::atomic<size_t> taken{0};
    std::thread reading;
    bool started = false;
    Fifo() {
        mkfifo(path.c_str(), 0600);
        reader = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
    // Reads all from now on, to the writer's end.
    void read() {
        if (started)
            return;
        started = true;
        fcntl(reader, F_SETFL, fcntl(reader, F_GETFL) & ~O_NONBLOCK);
        reading = std::thread([this] {
            char piece[65536];
            for (ssize_t n; (n = ::read(reader, piece, sizeof piece)) != 0;)
                if (n > 0)
                    taken += size_t(n);
        });
    }
    ~Fifo() {
        if (reading.joinable())
            reading.join();
        close(reader);
    }
};

std::string seconds(unsigned long frames) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", double(frames) / kRate);
    return text;
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// In real time the ring drops once it and the pipe are full: the blocks
// pushed up to the first drop, 0 if none came.
size_t pushUntilADrop(host::AudioCapture& capture, const std::vector<float>& block) {
    size_t pushed = 0;
    const bool dropped = testsupport::waitUntil([&] {
        capture.push(block.data(), kBlock);
        ++pushed;
        return capture.droppedFrames() > 0;
    }, std::chrono::microseconds(10));
    return dropped ? pushed : 0;
}

TEST(AudioCaptureThreaded, DropsForAPausedReaderAreSaidOnceWithTheirLength) {
    ConsoleCaught console;
    Fifo fifo;
    ASSERT_GE(fifo.reader, 0);
    const std::vector<float> block(kBlock * kChannels, 0.25f);
    {
        host::AudioCapture capture;
        ASSERT_TRUE(capture.open(fifo.path, kChannels, kRate, false));
        ASSERT_GT(pushUntilADrop(capture, block), 0u);
        for (int i = 0; i < 10; ++i)
            capture.push(block.data(), kBlock);
        const unsigned long dropped = capture.droppedFrames();
        EXPECT_GE(dropped, 11ul * kBlock);

        // The reader takes it all: the stretch of drops is over, and said.
        fifo.read();
        const std::string line = "Audio dropped: the audio output " + fifo.path + " fell behind by " +
                                 seconds(dropped) + "\n";
        ASSERT_TRUE(testsupport::waitUntil([&] { return count(console.text(), "Audio dropped") > 0; },
                                           std::chrono::milliseconds(2)));
        EXPECT_EQ(console.text(), line);
        EXPECT_EQ(capture.droppedFrames(), dropped);
        capture.close();
        EXPECT_EQ(console.text(), line + "Audio dropped in all: " + seconds(dropped) + " (the audio output " +
                                      fifo.path + " was too slow)\n");
    }
}

// One block dropped is too short to show as a length: no stretch is said
// as "0.00 s", and the total says it was something.
TEST(AudioCaptureThreaded, ADropTooShortToShowIsNeverSaidAsNone) {
    ConsoleCaught console;
    Fifo fifo;
    ASSERT_GE(fifo.reader, 0);
    const std::vector<float> block(kBlock * kChannels, 0.25f);
    {
        host::AudioCapture capture;
        ASSERT_TRUE(capture.open(fifo.path, kChannels, kRate, false));
        const size_t pushed = pushUntilADrop(capture, block);
        ASSERT_GT(pushed, 0u);
        ASSERT_EQ(capture.droppedFrames(), kBlock);
        // The reader takes all the rest before the end.
        fifo.read();
        const size_t all = host::WavWriter::kHeaderBytes + (pushed - 1) * sizeof(float) * block.size();
        ASSERT_TRUE(testsupport::waitUntil([&] { return fifo.taken.load() == all; }, std::chrono::milliseconds(1)));
        capture.close();
    }
    EXPECT_EQ(console.text(), "Audio dropped in all: less than 0.01 s (the audio output " + fifo.path +
                                  " was too slow)\n");
}

// The stop's time for the capture below; 0 before it.
std::atomic<int64_t> gStoppedAt{0};
int64_t stoppedAt() { return gStoppedAt.load(); }

int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

TEST(AudioCaptureThreaded, AStopEndsAnOfflinePushsWaitAndTheWritersForAPausedReader) {
    ConsoleCaught console;
    Fifo fifo;
    ASSERT_GE(fifo.reader, 0);
    gStoppedAt = 0;
    const std::vector<float> block(kBlock * kChannels, 0.25f);
    // More blocks than the ring and the pipe hold: offline, the last ones
    // wait for room that a paused reader never makes.
    const unsigned blocks = 4 * kRate / kBlock + 65536 / (kBlock * kChannels * 4) + 100;
    std::atomic<unsigned> pushed{0};
    host::AudioCapture capture(stoppedAt);
    ASSERT_TRUE(capture.open(fifo.path, kChannels, kRate, true));
    std::thread pushing([&] {
        for (unsigned i = 0; i < blocks; ++i, ++pushed)
            capture.push(block.data(), kBlock);
    });
    // A failed wait reads the pipe, so that the pushes and the test end.
    struct Ended {
        std::thread& pushing;
        Fifo& fifo;
        ~Ended() {
            fifo.read();
            pushing.join();
        }
    } ended{pushing, fifo};
    ASSERT_TRUE(testsupport::waitUntil([&] { return pushed.load() > 4 * kRate / kBlock; },
                                       std::chrono::milliseconds(1)));
    // Its reader's time after the stop already up: nothing more is written.
    gStoppedAt = monotonicNs() - host::AudioCapture::kStopGraceNs;
    ASSERT_TRUE(testsupport::waitUntil([&] { return pushed.load() == blocks; }, std::chrono::milliseconds(1)));
    EXPECT_GT(capture.droppedFrames(), 0ul);
    capture.close();
    EXPECT_NE(console.text().find("Audio dropped in all: "), std::string::npos) << console.text();
    // What reached the FIFO is its header and whole frames.
    fifo.read();
    fifo.reading.join();
    EXPECT_EQ((fifo.taken.load() - host::WavWriter::kHeaderBytes) % (kChannels * sizeof(float)), 0u);
}

}  // namespace
