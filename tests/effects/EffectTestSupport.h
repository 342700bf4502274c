// Blocks and measurements shared by the effect tests.
#pragma once

#include "dsp/AudioBlock.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>

namespace fxtest {

inline void setStates(AudioBlock& block, std::initializer_list<ChannelState> states) {
    uint32_t c = 0;
    for (ChannelState s : states)
        block.channelState[c++] = s;
}

inline void fillChannel(AudioBlock& block, uint32_t c, float value) {
    std::fill(block.channel(c), block.channel(c) + AudioBlock::kFrames, value);
}

inline float peak(const AudioBlock& block, uint32_t c) {
    float p = 0.0f;
    for (uint32_t i = 0; i < AudioBlock::kFrames; ++i)
        p = std::max(p, std::fabs(block.channel(c)[i]));
    return p;
}

inline bool allFinite(const AudioBlock& block) {
    for (float x : block.samples)
        if (!std::isfinite(x))
            return false;
    return true;
}

}  // namespace fxtest
