// Blocks and measurements shared by the effect tests.
#pragma once

#include "dsp/AudioBlock.h"
#include "effects/EffectChain.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace fxtest {

inline void fillChannel(AudioBlock& block, uint32_t c, float value) {
    std::fill(block.channel(c), block.channel(c) + AudioBlock::kFrames, value);
}

inline float peak(const AudioBlock& block, uint32_t c) {
    float p = 0.0f;
    for (uint32_t i = 0; i < AudioBlock::kFrames; ++i)
        p = std::max(p, std::fabs(block.channel(c)[i]));
    return p;
}

inline std::string typesOf(EffectChain& chain) {
    std::string s;
    for (unsigned i = 0; i < chain.effectCount(); ++i)
        if (auto e = chain.getEffect(i))
            s += (i ? "," : "") + e->typeName;
    return s;
}

}  // namespace fxtest
