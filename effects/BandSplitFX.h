// Sums the block to one signal and splits it into 2 to 8 bands, lowest band
// on channel 0, by a subtractive cascade of resonant low-passes spaced
// geometrically around "freq"; with "HPF out" the top band channel carries
// everything above the band below it. Channels above the bands are cleared.
// The bands ring on for 8 blocks after the input falls silent.
#pragma once

#include "dsp/QuadSVF.h"
#include "effects/AudioEffect.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterInt.h"

#include <atomic>
#include <cstdint>

class BandSplitFX : public AudioEffect {
public:
    static constexpr uint32_t kTailBlocks = 8;

    BandSplitFX();
    ~BandSplitFX() override;

    void process(AudioBlock& block) override;
    void _drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned h) override;

    ParameterInt bands;
    ParameterInt hpfOut;
    ParameterFloat spacing;
    ParameterFloat freq;
    ParameterFloat peak;

    // Block values, read by the picture.
    std::atomic<uint32_t> bandCount{4};
    std::atomic<bool> highBand{false};
    std::atomic<float> centre{440.0f};
    std::atomic<float> cutoffs[kChannels];
    float resonances[kChannels] = {};

    ChannelState previousMerged = ChannelState::Vacant;
    ChannelState previousOutput = ChannelState::Vacant;
    uint32_t blocksSinceActive = 0;
    float laneInputs[kChannels] = {};
    float previousBands[kChannels] = {};
    int laneTypes[4] = {1, 1, 1, 1};
    QuadSVF filters[2];
};
