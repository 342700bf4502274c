// Folds the block into one channel ("routing"): the sum of the sounding
// channels ("input" "all") or one chosen channel. Every other channel leaves
// empty and Vacant, with no spread.
#pragma once

#include "effects/AudioEffect.h"
#include "parameters/ParameterInt.h"

#include <atomic>

class MonoSumFX : public AudioEffect {
public:
    MonoSumFX();
    ~MonoSumFX() override;

    void process(AudioBlock& block) override;
    void _drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned size) override;

    ParameterInt routing;
    ParameterInt input;

    ChannelState mergedState = ChannelState::Silent;
    // Read by the picture.
    std::atomic<int32_t> sourceChannel{0};
    std::atomic<int32_t> destinationChannel{0};
};
