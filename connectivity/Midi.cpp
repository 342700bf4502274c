#include "connectivity/Midi.h"

MIDI::~MIDI() { pipe_.cleanup(); }

bool MIDI::createPipe() { return pipe_.setup(kPipeName, kPipeSize, false, false); }

bool MIDI::readMessage(MidiMessage& message) {
    MidiMessage received;
    if (pipe_.readRt(&received, sizeof received) != ssize_t(sizeof received))
        return false;
    message = received;
    return true;
}

ssize_t MIDI::send(const MidiMessage& message) { return pipe_.writeRt(&message, sizeof message); }

ssize_t MIDI::sendClock() { return send({uint32_t(MIDIMsgType::TimingClock), 0, 0, 0}); }
ssize_t MIDI::sendStart() { return send({uint32_t(MIDIMsgType::StartSequence), 0, 0, 0}); }
ssize_t MIDI::sendContinue() { return send({uint32_t(MIDIMsgType::ContinueSequence), 0, 0, 0}); }
ssize_t MIDI::sendStop() { return send({uint32_t(MIDIMsgType::StopSequence), 0, 0, 0}); }

ssize_t MIDI::sendNoteOn(uint32_t channel, uint32_t note, uint32_t velocity) {
    return send({uint32_t(MIDIMsgType::NoteOn), channel, note, velocity});
}

ssize_t MIDI::sendNoteOff(uint32_t channel, uint32_t note, uint32_t velocity) {
    return send({uint32_t(MIDIMsgType::NoteOff), channel, note, velocity});
}

ssize_t MIDI::sendPitchBend(uint32_t channel, uint32_t value) {
    return send({uint32_t(MIDIMsgType::PitchBend), channel, value & 127u, (value >> 7) & 127u});
}
