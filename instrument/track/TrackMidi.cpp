// Track: MIDI input (MIDI-learn capture, mapped controls, live notes) and
// the note-input filter.
#include "instrument/track/Track.h"

#include "sequencing/NoteManager.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr int32_t kMiddleC = 60;
}

void Track::configureMidiFilter() {
    midiInFilter.reset();
    midiInFilter.setTypes(MIDIMsgType::NoteOn | MIDIMsgType::NoteOff | MIDIMsgType::PitchBend);
    midiInFilter.setChannel(midiInChannel.value - 1);
    midiInFilter.setNoteRange(uint32_t(std::max<int32_t>(0, midiInLowest.value)),
                              uint32_t(std::max<int32_t>(0, midiInHighest.value)));
}

void Track::midiIn(const MidiMessage& message) {
    if (isBusy())
        return;
    if (menuState.load(std::memory_order_acquire) == MenuLearn && midiLearnFilter.matches(message)) {
        if (message.is(MIDIMsgType::NoteOff) || message.is(MIDIMsgType::NoteOn))
            learnedKey.store({int32_t(message.channel), -1, int32_t(message.data1)});
        else if (message.is(MIDIMsgType::ControlChange))
            learnedKey.store({int32_t(message.channel), int32_t(message.data1), -1});
        return;
    }
    if (sequencerImpl.group.applyMidi(message))
        return;
    SynthVoiceCommon* e = currentEngine();
    if (e->parameters.applyMidi(message))
        return;
    // Every control the menu can map answers, the effects' and the
    // modulators' too. The chain is walked as its processing walks it (a
    // changer waits out this block); the modulator list stays valid until
    // the block ends.
    if (!effectChain.isBusy())
        for (const auto& effect : effectChain.effects)
            if (effect->group.applyMidi(message))
                return;
    for (const auto& m : *modulation.modulators.rt())
        if (m->parameterGroup.applyMidi(message))
            return;

    if (midiNoteIn.value == 0 || !midiInFilter.matches(message) || !message.is(MIDIMsgType::NoteOn))
        return;
    // A list index out of range or a list without steps plays nothing.
    const NoteList* list = DSP::noteManager.rtList(sequencerImpl.noteList.value);
    if (!list || list->stepsPerOctave < 1)
        return;
    const int32_t steps = list->stepsPerOctave;
    const int32_t n = std::clamp(int32_t(message.data1) + midiInTranspose.value, 0, 127) - kMiddleC;
    const int32_t octave = int32_t(std::floor(float(n) / float(steps)));
    const int32_t degree = ((n % steps) + steps) % steps;
    sequencer->liveNote(e, degree, octave, kLiveNoteLevel, midiNoteCounter, 0);
    ++midiNoteCounter;
}
