// The delayed-note record: what sequencers and note previews hand to the
// voice manager, which queues it until it is due and gives it to a voice.
#pragma once

#include <cstdint>

class SynthVoiceCommon;

struct NoteEvent {
    uint32_t type = 3;                   // NoteType value; 3 (Skip) is never queued
    SynthVoiceCommon* engine = nullptr;  // the track's engine when the note was made
    uint32_t track = 0;                  // 0..4
    uint32_t lane = 0;                   // pulse lane 0..3
    uint32_t step = 0;                   // step number, or a live note's id
    uint32_t order = 0;                  // the lane's play order, or a live note's extra word
    uint32_t voiceInTrack = 0;           // written by the voice manager
    uint32_t unisonIndex = 0;            // 0 .. copies - 1
    float frequency = 0.0f;              // Hz
    float gain = 1.0f;                   // linear
    uint32_t delay = 0;                  // samples; a countdown once queued
    uint32_t flags = 1;                  // low byte: not to be queued / slot free
    uint32_t voice = 0;                  // track x 8 + voice, chosen by the voice manager
};
// Thirteen 32-bit words where a pointer is one.
static_assert(sizeof(void*) != 4 || sizeof(NoteEvent) == 52, "NoteEvent is thirteen words");

// Takes delayed notes: the voice manager, or a recorder in tests.
class NoteScheduler {
public:
    virtual ~NoteScheduler() = default;
    // True when the event was queued.
    virtual bool scheduleNote(NoteEvent event) = 0;
};
