// Blocks and measurements shared by the effect tests.
#pragma once

#include "dsp/AudioBlock.h"
#include "effects/EffectChain.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

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

namespace fxtest {

// Brings every smoothed parameter of the effect exactly to its value (a
// smoother alone stops a rounding step short of it).
inline void settleParameters(AudioEffect& fx) {
    for (Parameter* p : fx.group.parameters) {
        const bool smoothing = p->smoothing;
        p->smoothing = false;
        p->updateBlock();
        p->smoothed = p->output;
        p->smoothing = smoothing;
    }
}

// Runs `in` through channel c of the effect block by block, every channel in
// `state` (channel c in `active` while the input lasts); channel c's output.
inline std::vector<float> renderChannel(AudioEffect& fx, const std::vector<float>& in, uint32_t c,
                                        ChannelState state = ChannelState::Silent,
                                        ChannelState active = ChannelState::Playing) {
    std::vector<float> out;
    for (size_t n = 0; n < in.size(); n += AudioBlock::kFrames) {
        AudioBlock block;
        for (uint32_t k = 0; k < AudioBlock::kChannels; ++k)
            block.channelState[k] = state;
        block.channelState[c] = active;
        for (uint32_t i = 0; i < AudioBlock::kFrames && n + i < in.size(); ++i)
            block.channel(c)[i] = in[n + i];
        fx.process(block);
        out.insert(out.end(), block.channel(c), block.channel(c) + AudioBlock::kFrames);
    }
    return out;
}

inline double dB(double v) { return 20.0 * std::log10(std::max(std::fabs(v), 1e-30)); }

}  // namespace fxtest

namespace fxtest {

inline std::vector<float> sine(double hz, size_t length, double amplitude = 0.5) {
    std::vector<float> v(length);
    for (size_t n = 0; n < length; ++n)
        v[n] = float(amplitude * std::sin(2.0 * 3.141592653589793 * hz * double(n) / 48000.0));
    return v;
}

// Amplitude of the hz component of v[from, to) (a lock-in measure: phase
// does not matter).
inline double toneAmplitude(const std::vector<float>& v, double hz, size_t from, size_t to) {
    double re = 0.0, im = 0.0;
    for (size_t n = from; n < to && n < v.size(); ++n) {
        const double w = 2.0 * 3.141592653589793 * hz * double(n) / 48000.0;
        re += v[n] * std::cos(w);
        im += v[n] * std::sin(w);
    }
    return 2.0 * std::hypot(re, im) / double(to - from);
}

// Level of the hz component of `out` over that of `in`, in dB, from `from` on.
inline double toneGainDb(const std::vector<float>& in, const std::vector<float>& out, double hz, size_t from) {
    const size_t to = std::min(in.size(), out.size());
    return dB(toneAmplitude(out, hz, from, to) / toneAmplitude(in, hz, from, to));
}

}  // namespace fxtest
