// A tremolo per channel: a raised-cosine gain from 0 to 1 and back once per
// period (a whole number of blocks). A new note may restart its channel's
// cycle at full gain, and every cycle start of a sounding channel is passed on
// as a new note (Started), so later effects treat each pulse as an onset.
#pragma once

#include "effects/AudioEffect.h"
#include "parameters/ParameterFloat.h"

#include <atomic>
#include <cstdint>

class AmplitudeModFX : public AudioEffect {
public:
    AmplitudeModFX();
    ~AmplitudeModFX() override;

    void process(AudioBlock& block) override;
    void _drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned size) override;

    // The raised cosine at a place in the cycle; 0 for a cycle of no length.
    static float gainAt(uint32_t phase, uint32_t period);

    ParameterFloat freq;
    ParameterFloat restart;

    // Single words shared with the picture. Phase and period start as one
    // finished cycle of the default 1 Hz, so a channel's first block starts a
    // cycle at its own frequency and the picture never divides by zero.
    std::atomic<uint32_t> period[kChannels];
    std::atomic<uint32_t> phase[kChannels];
    std::atomic<float> gain[kChannels];
    float frequency[kChannels];
};
