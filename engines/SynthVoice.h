// One sounding note of an engine. The voice manager owns the voices (40 per
// engine: track x 8 + slot) and drives them on the audio thread: noteOn when
// a note falls due, render every block while active, fadeOut to steal.
#pragma once

#include "instrument/NoteEvent.h"
#include "sequencing/NoteList.h"

#include "dsp/GainRamp.h"

#include <cstdint>

// A gain ramp at rest at `gain` (GainRamp leaves this to its owner).
inline void restGainRamp(GainRamp& ramp, float gain) {
    ramp = GainRamp{0, 0, 64, gain, gain, 0.0f};
}

// Voices check their placement at construction: at an address off the
// boundary they print "<className> object is improperly aligned" and throw
// std::bad_alloc.
void requirePlacement(const void* self, uintptr_t alignment, const char* className);

class SynthVoice {
public:
    // Word 0 of a note for a kind.
    static constexpr uint32_t kindWord(NoteType kind) { return uint32_t(kind); }

    SynthVoice();
    virtual ~SynthVoice();

    // Kinds 0 and 1 start afresh, kind 2 re-aims a sounding voice.
    virtual void noteOn(NoteEvent event) = 0;
    virtual void fadeOut(uint32_t samples) = 0;
    // Adds `frames` (64) samples into the row; true on the note's first block.
    virtual bool render(float* row, uint32_t frames) = 0;
    virtual void updateParameters() = 0;

    uint32_t sampleStep = 1;
    bool active = false;
    bool started = false;
    NoteEvent note;
    float glideUpDivisor = 25.0f;
    float glideDownDivisor = 25.0f;
    float currentFrequency = 440.0f;

protected:
    // 1 for a jump, max(1, slide x 0.075) for the sliding kinds.
    static float glideDivisorFor(uint32_t kind, float slideMs);
    void setGlide(uint32_t kind, float slideMs);
    // One block's step of currentFrequency towards the note's pitch. A
    // non-finite target (or a pitch that went non-finite) leaves a finite one.
    float glideStep();
};
