// DIN MIDI through real pseudo-terminals: the port holds one end, the test
// plays the other device on the far end.
#include "connectivity/SerialMIDI.h"
#include "platform/devices/SerialPort.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/Pty.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Texts = std::vector<std::string>;

using testsupport::Pty;

void writeAll(int fd, const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        ASSERT_GT(n, 0);
        done += size_t(n);
    }
}

// Whatever arrives within the time given, or until `count` bytes came.
Bytes readFor(int fd, size_t count, int ms = 1000) {
    Bytes got;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < count && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
            continue;
        uint8_t buffer[4096];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0)
            got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

// Runs the port's receive until `count` records came through "midipipe".
Texts receive(SerialMIDI& port, size_t count) {
    Texts seen;
    for (int run = 0; run < 200 && seen.size() < count; ++run) {
        port.readInput();
        MidiMessage m;
        while (port.readMessage(m))
            seen.push_back(midiMessageToString(m));
    }
    return seen;
}

class SerialMidiPty : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(pty.slave.empty());
        host::setMidiPort(pty.slave);
        ASSERT_TRUE(port.setup("/dev/ttyS4", 31250));
    }
    void TearDown() override { host::setMidiPort(""); }
    Pty pty;
    SerialMIDI port;
};

TEST_F(SerialMidiPty, LineIsRawAt31250Baud) {
    int fd = open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    struct termios2 t;
    ASSERT_EQ(ioctl(fd, TCGETS2, &t), 0);
    close(fd);
    EXPECT_EQ(t.c_ispeed, 31250u);
    EXPECT_EQ(t.c_ospeed, 31250u);
    EXPECT_EQ(t.c_cflag & CBAUD, unsigned(BOTHER));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), unsigned(CS8));
    EXPECT_EQ(t.c_iflag, unsigned(IGNPAR));
    EXPECT_EQ(t.c_oflag, 0u);
    EXPECT_EQ(t.c_lflag, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST_F(SerialMidiPty, ReceivedBytesComeOutOfThePipeAsRecords) {
    testing::internal::CaptureStdout();
    writeAll(pty.master, {
                             0x42,                                // stray data before any status
                             0x93, 0x3C, 0x64, 0x3E, 0x64,        // running status
                             0x3C, 0x00,                          // velocity 0: note off
                             0xB2, 0x07, 0xF8, 0x50,              // clock inside a message
                             0xF0, 0x7D, 0x01, 0xF8, 0x02, 0xF7,  // SysEx with a clock in it
                             0xE1, 0x00, 0xF9, 0x40,              // undefined byte inside a bend
                             0x90, 0x30, 0x80, 0x31, 0x32,        // abandoned by a new status
                             0xFA, 0xFC,
                         });
    Texts seen = receive(port, 10);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(seen, (Texts{"NoteOn ch: 3 data: 60 100", "NoteOn ch: 3 data: 62 100", "NoteOff ch: 3 data: 60 0",
                           "TimingClock ch: 0 data: 0 0", "ControlChange ch: 2 data: 7 80",
                           "TimingClock ch: 0 data: 0 0", "PitchBend ch: 1 data: 0 64", "NoteOff ch: 0 data: 49 50",
                           "StartSequence ch: 0 data: 0 0", "StopSequence ch: 0 data: 0 0"}));
    EXPECT_NE(out.find("DIN MIDI received data byte 0x42 while not expecting one: last status byte was None\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("DIN MIDI received invalid status byte: 0xf9\n"), std::string::npos) << out;
}

// Whatever is plugged in can send bad bytes at any rate: a burst of lines,
// then one a second.
TEST_F(SerialMidiPty, AFloodOfBadBytesIsCutInTheLog) {
    testing::internal::CaptureStdout();
    const auto start = std::chrono::steady_clock::now();
    writeAll(pty.master, Bytes(3000, 0xF9));
    writeAll(pty.master, {0x90, 0x3C, 0x64});
    const Texts seen = receive(port, 1);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(seen, (Texts{"NoteOn ch: 0 data: 60 100"}));
    const size_t lines = size_t(std::count(out.begin(), out.end(), '\n'));
    EXPECT_GE(lines, 10u);
    EXPECT_LE(double(lines), 2.0 * (20.0 + seconds + 1.0)) << out.substr(0, 500);
}

TEST_F(SerialMidiPty, SentRecordsLeaveAsBytesWithTheirStatus) {
    port.sendNoteOn(3, 60, 100);
    port.sendNoteOn(3, 62, 100);  // no running status on output
    port.sendNoteOff(15, 60, 0);
    port.sendPitchBend(1, 8192);
    port.sendClock();
    port.sendStart();
    port.sendContinue();
    port.sendStop();
    port.send({uint32_t(MIDIMsgType::ProgramChange), 4, 9, 99});
    port.send({uint32_t(MIDIMsgType::SongPositionPointer), 0, 1, 2});
    port.send({uint32_t(MIDIMsgType::ControlChange), 0x12, 0x85, 0x1FF});  // out-of-range parts are cut
    port.send({uint32_t(MIDIMsgType::TuneRequest), 0, 0, 0});
    port.send({3, 0, 1, 1});  // not one kind: nothing
    testing::internal::CaptureStdout();
    port.send({0, 0, 0, 0});
    port.writeOutput();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[ ]\tMIDI: wrong MIDI message called?\n");
    Bytes expected = {0x93, 60, 100, 0x93, 62, 100, 0x8F, 60, 0, 0xE1, 0, 64, 0xF8, 0xFA, 0xFB, 0xFC,
                      0xC4, 9,  0xF2, 1,  2,  0xB2, 0x05, 0x7F, 0xF6};
    EXPECT_EQ(readFor(pty.master, expected.size()), expected);
    EXPECT_EQ(port.queuedBytes(), 0u);
}

TEST_F(SerialMidiPty, AtMost256BytesLeavePerRun) {
    for (int i = 0; i < 100; ++i)
        port.sendNoteOn(0, uint32_t(i), 1);
    testing::internal::CaptureStdout();
    port.writeOutput();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[!]\tSerialMIDI: large amounts of MIDI out bytes in queue, some will not be output yet..\n");
    EXPECT_EQ(readFor(pty.master, 300, 200).size(), 256u);
    EXPECT_EQ(port.queuedBytes(), 44u);
    port.writeOutput();
    Bytes rest = readFor(pty.master, 44);
    ASSERT_EQ(rest.size(), 44u);
    EXPECT_EQ(Bytes(rest.end() - 3, rest.end()), (Bytes{0x90, 99, 1}));
}

// While nothing reads the port the queue stays long on every run: a burst
// of lines, then one a second.
TEST_F(SerialMidiPty, ALongQueueIsCutInTheLog) {
    for (int i = 0; i < 30000; ++i)
        port.sendNoteOn(0, uint32_t(i % 128), 1);
    testing::internal::CaptureStdout();
    const auto start = std::chrono::steady_clock::now();
    for (int run = 0; run < 300; ++run)
        port.writeOutput();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_GT(port.queuedBytes(), 256u) << "the device took everything; the test needs a fuller queue";
    const size_t lines = size_t(std::count(out.begin(), out.end(), '\n'));
    EXPECT_GE(lines, 1u);
    EXPECT_LE(double(lines), 2.0 * (20.0 + seconds + 1.0)) << out.substr(0, 500);
}

TEST_F(SerialMidiPty, AFailedWriteIsReportedAndKeepsTheQueue) {
    close(pty.master);
    pty.master = -1;
    port.sendNoteOn(0, 60, 100);
    testing::internal::CaptureStdout();
    for (int i = 0; i < 5; ++i)
        port.readInput();
    port.writeOutput();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "write failed: 5 Input/output error\n");
    EXPECT_EQ(port.queuedBytes(), 3u);
}

// The layer's own pseudo-terminal, with a peer that comes late and goes.
class SerialMidiDefaultPort : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host::setRoot(testsupport::freshPath("midi-root")));
        link = host::root() + "/.host/midi-port";
        host::setMidiPort("");
        testing::internal::CaptureStderr();
        bool ok = port.setup("/dev/ttyS4", 31250);
        std::string err = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(ok);
        peerName = host::midiPortPeerName();
        ASSERT_FALSE(peerName.empty());
        EXPECT_EQ(err, "MIDI port: " + link + " -> " + peerName + "\n");
    }
    SerialMIDI port;
    std::string peerName;
    std::string link;
};

std::string linkTarget(const std::string& link) {
    char target[256];
    const ssize_t n = readlink(link.c_str(), target, sizeof target);
    return n < 0 ? std::string() : std::string(target, size_t(n));
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The link is the name that holds across restarts: it leads to the newest
// terminal, and only the port it leads to takes it away when it closes. A
// file in its place is replaced with a word; an older link without one.
// A named port never leaves one behind to a terminal that is no longer ours.
TEST_F(SerialMidiDefaultPort, TheLinkLeadsToTheOpenPortAndGoesWithIt) {
    EXPECT_EQ(linkTarget(link), peerName);
    int peer = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(peer, 0);
    writeAll(peer, {0x9A, 0x24, 0x50});
    EXPECT_EQ(receive(port, 1), (Texts{"NoteOn ch: 10 data: 36 80"}));
    close(peer);

    {
        SerialMIDI newer;
        testing::internal::CaptureStderr();
        ASSERT_TRUE(newer.setup("/dev/ttyS4", 31250));
        const std::string said = testing::internal::GetCapturedStderr();
        const std::string newerName = host::midiPortPeerName();
        EXPECT_EQ(said, "MIDI port: " + link + " -> " + newerName + "\n");
        EXPECT_EQ(linkTarget(link), newerName);
        testing::internal::CaptureStderr();
        port.setup("/nonexistent", 31250);  // closes the older terminal
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(linkTarget(link), newerName);
    }
    EXPECT_FALSE(exists(link));

    std::ofstream(link) << "kept here\n";
    {
        SerialMIDI overFile;
        testing::internal::CaptureStderr();
        ASSERT_TRUE(overFile.setup("/dev/ttyS4", 31250));
        const std::string said = testing::internal::GetCapturedStderr();
        const std::string name = host::midiPortPeerName();
        EXPECT_EQ(said, "MIDI port: " + link + " -> " + name + "\nMIDI port: replaced the file " + link +
                            " by a link to the port\n");
        EXPECT_EQ(linkTarget(link), name);
    }
    EXPECT_FALSE(exists(link));

    ASSERT_EQ(symlink(peerName.c_str(), link.c_str()), 0);  // left by a run that died
    Pty pty;
    host::setMidiPort(pty.slave);
    SerialMIDI named;
    testing::internal::CaptureStderr();
    const bool ok = named.setup("/dev/ttyS4", 31250);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    host::setMidiPort("");
    EXPECT_TRUE(ok);
    EXPECT_FALSE(exists(link));
}

TEST_F(SerialMidiDefaultPort, APeerPlaysAndHearsTheInstrument) {
    int peer = open(peerName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(peer, 0);
    writeAll(peer, {0x9A, 0x24, 0x50});
    EXPECT_EQ(receive(port, 1), (Texts{"NoteOn ch: 10 data: 36 80"}));
    port.sendNoteOff(10, 36, 64);
    port.writeOutput();
    EXPECT_EQ(readFor(peer, 3), (Bytes{0x8A, 0x24, 0x40}));

    // With the peer gone the port is merely quiet.
    close(peer);
    testing::internal::CaptureStdout();
    for (int i = 0; i < 5; ++i)
        port.readInput();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(SerialMidiDefaultPort, BytesTheDeviceCannotTakeYetStayQueuedInOrder) {
    // Nobody reads yet: the terminal's buffer fills and writes come back
    // short or refused; nothing may be lost.
    const int records = 30000;  // more than any terminal buffers
    for (int i = 0; i < records; ++i)
        port.sendNoteOn(uint32_t(i % 16), uint32_t(i % 128), uint32_t(1 + i % 127));
    testing::internal::CaptureStdout();
    for (int run = 0; run < 400; ++run)
        port.writeOutput();
    testing::internal::GetCapturedStdout();
    ASSERT_GT(port.queuedBytes(), 0u) << "the device took everything; the test needs a fuller queue";
    ASSERT_LT(port.queuedBytes(), size_t(3 * records));

    int peer = open(peerName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(peer, 0);
    Bytes got;
    testing::internal::CaptureStdout();
    for (int round = 0; round < 5000 && got.size() < size_t(3 * records); ++round) {
        port.writeOutput();
        Bytes more = readFor(peer, 1, 5);
        got.insert(got.end(), more.begin(), more.end());
    }
    testing::internal::GetCapturedStdout();
    close(peer);
    ASSERT_EQ(got.size(), size_t(3 * records));
    for (int i = 0; i < records; ++i) {
        ASSERT_EQ(got[3 * i], 0x90 | (i % 16)) << "record " << i;
        ASSERT_EQ(got[3 * i + 1], i % 128) << "record " << i;
        ASSERT_EQ(got[3 * i + 2], 1 + i % 127) << "record " << i;
    }
    EXPECT_EQ(port.queuedBytes(), 0u);
}

TEST_F(SerialMidiDefaultPort, TheOutputQueueIsBoundedAndSaysSoWhenFull) {
    const int records = 80000;  // far more than the terminal and the queue take
    for (int i = 0; i < records; ++i)
        port.sendNoteOn(uint32_t(i % 16), 60, 100);
    testing::internal::CaptureStdout();
    for (int run = 0; run < 20; ++run)
        port.writeOutput();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_LE(port.queuedBytes(), SerialMIDI::kMaxQueuedBytes);
    EXPECT_GT(port.droppedMessages(), 0u);
    EXPECT_NE(out.find("MIDI out queue full"), std::string::npos) << out.substr(0, 500);
}

TEST(SerialMidiSetup, AMissingOrWrongDeviceLeavesADeadPortThatDoesNoHarm) {
    host::setMidiPort("/nonexistent/tty-midi");
    SerialMIDI missing;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(missing.setup("/dev/ttyS4", 31250));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "MIDI port /nonexistent/tty-midi: No such file or directory\n"
              "Error opening /dev/ttyS4: No such file or directory\n");
    MidiMessage m;
    EXPECT_FALSE(missing.readMessage(m));
    EXPECT_EQ(missing.sendNoteOn(0, 60, 100), -1);
    missing.readInput();
    missing.writeOutput();

    // A plain file would be read to its end and then fill with MIDI out.
    std::string file = testsupport::tempDir() + "not-a-tty";
    std::ofstream(file) << "x";
    host::setMidiPort(file);
    SerialMIDI notTty;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(notTty.setup("/dev/ttyS4", 31250));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "MIDI port " + file +
                                                          ": not a serial port, raw MIDI device or FIFO\n"
                                                          "Error opening /dev/ttyS4: No such device\n");
    EXPECT_EQ(notTty.sendClock(), -1);
    std::ifstream kept(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "x");

    host::setMidiPort("");
}

// What is no terminal (a USB interface's raw MIDI device, a FIFO) is read
// as the bytes come, without line settings.
TEST(SerialMidiSetup, AFifoIsMidiInAndKeepsNoMidiOut) {
    const std::string fifo = testsupport::tempDir() + "midi-fifo";
    unlink(fifo.c_str());  // one left by an earlier repeat
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    host::setMidiPort(fifo);
    SerialMIDI port;
    testing::internal::CaptureStderr();
    const bool ok = port.setup("/dev/ttyS4", 31250);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "MIDI port " + fifo + " is a FIFO: MIDI in only\n");
    host::setMidiPort("");
    ASSERT_TRUE(ok);

    const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    writeAll(writer, {0x92, 0x40, 0x50, 0x41, 0x51});
    EXPECT_EQ(receive(port, 2), (Texts{"NoteOn ch: 2 data: 64 80", "NoteOn ch: 2 data: 65 81"}));

    // MIDI out written into the same pipe would come back as MIDI in.
    port.sendNoteOn(0, 60, 100);
    port.sendClock();
    port.writeOutput();
    EXPECT_EQ(port.queuedBytes(), 0u);
    EXPECT_EQ(receive(port, 1), Texts{});

    // A writer that comes and goes is no end of input.
    close(writer);
    testing::internal::CaptureStdout();
    for (int i = 0; i < 5; ++i)
        port.readInput();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const int again = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(again, 0);
    writeAll(again, {0xFA});
    EXPECT_EQ(receive(port, 1), (Texts{"StartSequence ch: 0 data: 0 0"}));
    close(again);
}

}  // namespace
