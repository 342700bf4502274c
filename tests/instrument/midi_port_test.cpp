// DIN MIDI through a real pseudo-terminal: clock bytes written at the far
// end move the main clock, note bytes reach the tracks and schedule notes,
// and the clock's own MIDI clock leaves as bytes.
#include "connectivity/SerialMIDI.h"
#include "instrument/MainClock.h"
#include "instrument/track/Track.h"
#include "platform/devices/SerialPort.h"
#include "sequencing/PitchScale.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/Pty.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kFrames = 64;

struct Pty : testsupport::Pty {
    void write(std::vector<uint8_t> bytes) const {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    std::vector<uint8_t> read() const {
        std::vector<uint8_t> got;
        for (int i = 0; i < 50; ++i) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                break;
            uint8_t buffer[4096];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }
};

struct NoteRecorder : NoteScheduler {
    std::vector<NoteEvent> notes;
    bool scheduleNote(NoteEvent e) override {
        notes.push_back(e);
        return true;
    }
};

class MidiPort : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(pty.slave.empty());
        host::setMidiPort(pty.slave);
        ASSERT_TRUE(port.setup("/dev/ttyS4", 31250));
        for (uint32_t t = 0; t < 2; ++t) {
            tracks.push_back(std::make_unique<Track>(t, &clock));
            tracks.back()->setNoteScheduler(&recorder);
            tracks.back()->setup();
        }
    }
    void TearDown() override { host::setMidiPort(""); }

    // The block loop's MIDI step: every record to the clock first, the rest
    // to every track; then the clock's block.
    void block(bool readPort) {
        if (readPort) {
            port.readInput();
            MidiMessage m;
            while (port.readMessage(m))
                if (!clock.midiIn(m))
                    for (auto& t : tracks)
                        t->midiIn(m);
        }
        float phase[kFrames] = {};
        clock.process(phase, kFrames, nullptr);
    }

    Pty pty;
    SerialMIDI port;
    MainClock clock;
    NoteRecorder recorder;
    std::vector<std::unique_ptr<Track>> tracks;
};

TEST_F(MidiPort, ClockBytesStartAndDriveTheClock) {
    clock.clockSource.setValue(MainClock::MidiIn, false);
    clock.setClockSource();
    block(false);
    pty.write({0xFA});  // start
    const double period = 48000.0 * 60.0 / (120.0 * 24.0);  // 1000 frames
    double next = 0.0;
    for (uint64_t frame = 0; frame < uint64_t(16 * 24 * period); frame += kFrames) {
        bool wrote = false;
        while (next < double(frame + kFrames)) {
            pty.write({0xF8});
            next += period;
            wrote = true;
        }
        block(wrote || frame == 0);
    }
    EXPECT_TRUE(clock.isRunning());
    EXPECT_NEAR(clock.bpm.getValue(), 120.0f, 2.0f);
    EXPECT_TRUE(recorder.notes.empty());  // the tracks never see the clock
    pty.write({0xFC});
    block(true);
    EXPECT_FALSE(clock.isRunning());
}

TEST_F(MidiPort, NoteBytesScheduleNotesOnTheTrackLanePitchAndLevel) {
    tracks[1]->midiNoteIn.setValue(1, false);
    tracks[1]->midiInChannel.setValue(2, false);  // MIDI channel 2
    tracks[1]->configureMidiFilter();
    tracks[1]->sequencerImpl.laneChoice.setValue(2, false);
    pty.write({0x91, 62, 100, 0x81, 62, 0, 0x90, 64, 100});  // channel 2 on and off, channel 1 on
    for (int i = 0; i < 10 && recorder.notes.empty(); ++i)
        block(true);
    ASSERT_EQ(recorder.notes.size(), 1u);
    const NoteEvent& e = recorder.notes[0];
    EXPECT_EQ(e.track, 1u);
    EXPECT_EQ(e.lane, 2u);
    EXPECT_EQ(e.engine, tracks[1]->currentEngine());
    EXPECT_FLOAT_EQ(e.frequency, DSP::scaleManager.getScale("12 edo")->frequency(2, 0));
    EXPECT_NEAR(e.gain, std::pow(10.0f, -6.0f / 20.0f), 1e-4f);
}

TEST_F(MidiPort, ClockOutSendsStartAnd24ClocksPerBeat) {
    clock.setMidiOut(&port);
    clock.midiClockOut.setValue(1, false);
    clock.bpm.setValue(120.0f, false);
    clock.start(true);
    for (int b = 0; b < 24000 / int(kFrames); ++b)  // one beat
        block(false);
    clock.stop(false);
    port.writeOutput();
    const std::vector<uint8_t> bytes = pty.read();
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.front(), 0xFA);
    EXPECT_EQ(bytes.back(), 0xFC);
    EXPECT_NEAR(double(std::count(bytes.begin(), bytes.end(), uint8_t(0xF8))), 24.0, 1.0);
}

}  // namespace
