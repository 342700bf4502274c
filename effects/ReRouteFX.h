// Sends each new note's channel to an output channel inside a window of
// channels ("routing", "channels"); the output moves from note to note by
// "direction" with the chance "movement", or jumps at random ("random"). A
// note keeps its output for as long as its input channel sounds.
#pragma once

#include "effects/AudioEffect.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterInt.h"

#include <atomic>
#include <cstdint>

class ReRouteFX : public AudioEffect {
public:
    ReRouteFX();
    ~ReRouteFX() override;

    void process(AudioBlock& block) override;
    void _drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned size) override;

    // The output channel of the next new note.
    int32_t nextOffset();

    ParameterInt direction;
    ParameterFloat movement;
    ParameterFloat random;
    ParameterInt routing;
    ParameterInt channels;

    int32_t offset = 0;
    int32_t firstChannel = 0;
    int32_t lastChannel = 7;
    // A note that continues without having been announced (out of Vacant)
    // goes to channel 0; read by the picture.
    std::atomic<int32_t> targets[kChannels] = {};
    alignas(16) float mixBuffer[AudioBlock::kSamples] = {};
};
