// The MIDI port base: owns "midipipe", through which the audio thread reads
// received records and queues records to send, while the port's own thread
// moves them to and from the device.
#pragma once

#include "connectivity/MidiMessage.h"
#include "platform/Pipe.h"

#include <sys/types.h>

#include <cstdint>

class MIDI {
public:
    static constexpr const char* kPipeName = "midipipe";
    static constexpr size_t kPipeSize = 8388608;

    // Port thread: poll the device and put every complete record received
    // into the pipe.
    virtual void readInput() = 0;
    // Port thread: send the records the audio thread queued.
    virtual void writeOutput() = 0;

    // Audio thread; real-time safe. True only when a whole record came.
    bool readMessage(MidiMessage& message);
    // Audio thread; real-time safe. The pipe's result: 16, or -1 when the
    // record cannot be queued (no port, or the pipe is full).
    ssize_t send(const MidiMessage& message);
    ssize_t sendClock();
    ssize_t sendStart();
    ssize_t sendContinue();
    ssize_t sendStop();
    ssize_t sendNoteOn(uint32_t channel, uint32_t note, uint32_t velocity);
    ssize_t sendNoteOff(uint32_t channel, uint32_t note, uint32_t velocity);
    // value 0..16383, sent as low and high 7 bits.
    ssize_t sendPitchBend(uint32_t channel, uint32_t value);

protected:
    MIDI() = default;
    // Not virtual: ports are never deleted through the base.
    ~MIDI();
    MIDI(const MIDI&) = delete;
    MIDI& operator=(const MIDI&) = delete;

    bool createPipe();
    Pipe pipe_;
};
