// Plays one entry of a sample list for a voice: start/end frames, rate,
// volume, optional pitch tracking and looping, with short gain ramps at the
// start, at every loop restart and before the end. Audio thread only.
#pragma once

#include "dsp/GainRamp.h"
#include "samples/AudioSampleGroup.h"

#include <cstdint>
#include <memory>
#include <string_view>

class AudioResource;

class SamplePlayer {
public:
    SamplePlayer();

    // Picks the list's entry for the step and order; detune is the raw
    // "detune" (0..1): the pitch factor is 1 + n x 0.2 x detune^3.
    void start(std::string_view list, int32_t step, uint32_t order, float detune);
    // Writes (not adds) n samples, n at most 64; false when nothing plays.
    bool render(float* out, uint32_t n, int32_t channelSelector, float noteHz, float detune, float rate);
    // Stops at once, dropping the sample.
    void stop();

    bool playing() const { return resource != nullptr && entry != nullptr; }

    float position = 0.0f;
    float lastSample = 0.0f;
    float detuneFactor = 1.0f;
    bool restartPending = false;
    GainRamp gainRamp;
    AudioSampleGroupEntryPtr entry;
    std::shared_ptr<AudioResource> resource;

private:
    static float _detuneFactor(float detune);
    // Hands entry and resource over to be released off the audio thread.
    void _letGo();
    void _silence(float* out, uint32_t n);
};
