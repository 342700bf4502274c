// The DIN port's thread and the audio side at the same time: notes in from a
// pseudo-terminal, answered by the audio side, out again in order.
#include "connectivity/SerialMIDI.h"
#include "platform/devices/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
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

}  // namespace
