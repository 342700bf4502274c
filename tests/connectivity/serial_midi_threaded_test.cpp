// The DIN port's thread and the audio side at the same time: notes in from a
// pseudo-terminal, answered by the audio side, out again in order.
#include "connectivity/SerialMIDI.h"
#include "platform/devices/SerialPort.h"
#include "tests/support/Pty.h"
#include "tests/support/wait.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(SerialMidiThreaded, PortThreadAndAudioSideMoveNotesBothWays) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master, 0);
    char name[128];
    ASSERT_EQ(grantpt(master) | unlockpt(master) | ptsname_r(master, name, sizeof name), 0);
    host::setMidiPort(name);
    SerialMIDI port;
    ASSERT_TRUE(port.setup("/dev/ttyS4", 31250));

    const int notes = 400;
    std::vector<uint8_t> in;
    for (int i = 0; i < notes; ++i)
        in.insert(in.end(), {uint8_t(0x90 | (i % 16)), uint8_t(i % 128), 100});
    ASSERT_EQ(write(master, in.data(), in.size()), ssize_t(in.size()));

    std::atomic<bool> stop{false};
    std::thread io([&] {
        while (!stop.load(std::memory_order_acquire)) {
            port.readInput();
            port.writeOutput();
        }
    });

    int answered = 0;
    std::vector<uint8_t> out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);  // only ends a hung run
    while (out.size() < in.size() && std::chrono::steady_clock::now() < deadline) {
        MidiMessage m;
        while (port.readMessage(m)) {
            EXPECT_TRUE(m.is(MIDIMsgType::NoteOn));
            EXPECT_EQ(port.sendNoteOff(m.channel, m.data1, 0), 16);
            ++answered;
        }
        uint8_t buffer[512];
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n > 0)
            out.insert(out.end(), buffer, buffer + n);
        else
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    stop.store(true, std::memory_order_release);
    io.join();
    close(master);
    host::setMidiPort("");

    EXPECT_EQ(answered, notes);
    ASSERT_EQ(out.size(), in.size());
    for (int i = 0; i < notes; ++i) {
        ASSERT_EQ(out[3 * i], 0x80 | (i % 16)) << i;
        ASSERT_EQ(out[3 * i + 1], i % 128) << i;
        ASSERT_EQ(out[3 * i + 2], 0) << i;
    }
}

std::atomic<int> gSignalsTaken{0};
void takeSignal(int) { gSignalsTaken.fetch_add(1, std::memory_order_relaxed); }

// The system call a thread of this process is blocked in, -1 while it runs.
long blockedIn(pid_t tid) {
    std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    return file >> number ? number : -1;
}

bool isPoll(long number) {
#ifdef SYS_poll
    if (number == SYS_poll)
        return true;
#endif
    return number == SYS_ppoll;
}

// A stop or a continue lands on the port's thread while it waits for input:
// the wait goes on and still sees the byte that comes after.
TEST(SerialMidiThreaded, ASignalInTheWaitForInputIsNoError) {
    testsupport::Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    host::setMidiPort(pty.slave);
    const int fd = host::serialOpen("/dev/ttyS4");
    host::setMidiPort("");
    ASSERT_GE(fd, 0);
    ASSERT_EQ(host::serialConfigure(fd, 31250), host::kSerialConfigured);

    // No SA_RESTART: the handler cuts the wait short, as the stop handlers do.
    struct sigaction taking {}, before{};
    taking.sa_handler = takeSignal;
    sigemptyset(&taking.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &taking, &before), 0);
    gSignalsTaken = 0;

    std::atomic<pid_t> waiter{0};
    std::atomic<bool> returned{false};
    int waited = -100, error = 0;
    std::thread io([&] {
        waiter.store(pid_t(gettid()), std::memory_order_release);
        waited = host::serialWaitInput(fd, 60000);  // only a signal or the byte ends it
        error = errno;
        returned.store(true, std::memory_order_release);
    });
    // Nothing to read and a minute to wait: once in its poll it stays there.
    const bool inPoll = testsupport::waitUntil([&] {
        const pid_t tid = waiter.load(std::memory_order_acquire);
        return returned.load(std::memory_order_acquire) || (tid != 0 && isPoll(blockedIn(tid)));
    });
    EXPECT_TRUE(inPoll && !returned.load()) << "the wait never began";
    if (inPoll && !returned.load()) {
        EXPECT_EQ(pthread_kill(io.native_handle(), SIGUSR1), 0);
        EXPECT_TRUE(testsupport::waitUntil([] { return gSignalsTaken.load(std::memory_order_relaxed) > 0; }));
    }
    const uint8_t clock = 0xF8;
    EXPECT_EQ(write(pty.master, &clock, 1), 1);
    io.join();
    EXPECT_EQ(waited, 1) << "the wait ended with " << waited << " (" << strerror(error) << ")";

    sigaction(SIGUSR1, &before, nullptr);
    host::serialClose(fd);
}

}  // namespace
