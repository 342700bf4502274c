// MIDI notes through a real pseudo-terminal while the note-list page is
// open: the page takes them (NoteOff too) before any track sees them.
#include "connectivity/SerialMIDI.h"
#include "instrument/MainClock.h"
#include "instrument/track/Track.h"
#include "platform/devices/SerialPort.h"
#include "sequencing/NoteManager.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

struct NoteRecorder : NoteScheduler {
    std::vector<NoteEvent> notes;
    bool scheduleNote(NoteEvent e) override {
        notes.push_back(e);
        return true;
    }
};

}  // namespace

TEST(NotePageMidi, BytesFromThePortBecomeListNotesAndReachNoTrack) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    char name[128];
    ASSERT_EQ(ptsname_r(master, name, sizeof name), 0);
    host::setMidiPort(name);
    SerialMIDI port;
    ASSERT_TRUE(port.setup("/dev/ttyS4", 31250));
    MainClock clock;
    NoteRecorder recorder;
    Track track(0, &clock);
    track.setNoteScheduler(&recorder);
    track.setup();
    track.midiNoteIn.setValue(1, false);
    track.configureMidiFilter();

    NoteManager page;
    uint32_t block = 0;
    page.links.blockCounter = [&] { return block; };
    page.links.keyHeld = [](int) { return false; };
    page.setList(0, NoteList{});
    page.open();
    page.serviceRequests();

    auto run = [&](std::vector<uint8_t> bytes) {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        for (int i = 0; i < 20; ++i, block += 38) {
            port.readInput();
            MidiMessage m;
            while (port.readMessage(m))
                if (!clock.midiIn(m) && !page.midiNoteIn(m))
                    track.midiIn(m);
        }
        page.serviceRequests();
    };
    run({0x90, 0x3C, 0x40, 0x80, 0x3C, 0x00});
    run({0x90, 0x3B, 0x40, 0x80, 0x3B, 0x00});
    const auto list = page.list(0);
    ASSERT_EQ(list->steps.size(), 2u);
    EXPECT_EQ(list->steps[0][0].symbol, 0);
    EXPECT_EQ(list->steps[0][0].octave, 0);
    EXPECT_EQ(list->steps[1][0].symbol, 11);
    EXPECT_EQ(list->steps[1][0].octave, -1);
    EXPECT_TRUE(recorder.notes.empty());

    // Closed, the same bytes play the track.
    page.close();
    run({0x90, 0x3C, 0x40});
    EXPECT_FALSE(recorder.notes.empty());
    EXPECT_EQ(recorder.notes.size(), size_t(track.currentEngine()->unison.value));
    EXPECT_EQ(page.list(0)->steps.size(), 2u);
    host::setMidiPort("");
    close(master);
}
