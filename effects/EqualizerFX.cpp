#include "effects/EqualizerFX.h"

#include "gui/MonoGFX.h"

#include <algorithm>
#include <cmath>

namespace {

int32_t _choiceValue(ParameterInt& p) {
    p.updateBlock();
    return int32_t(p.output.load());
}

}  // namespace

EqualizerFX::EqualizerFX()
    : lowFreq("low freq", ParameterInt::ChoiceMode, Stored, 1),
      lowGain("low gain", ParameterFloat::Decibels, XYMorph | Smoothed | Stored, 0.0f, -kGainRange, kGainRange),
      midFreq("mid freq", ParameterFloat::Hertz, XYMorph | Smoothed | Stored, 2000.0f, 40.0f, 16000.0f),
      midGain("mid gain", ParameterFloat::Decibels, XYMorph | Smoothed | Stored, 0.0f, -kGainRange, kGainRange),
      highFreq("high freq", ParameterInt::ChoiceMode, Stored, 3),
      highGain("high gain", ParameterFloat::Decibels, XYMorph | Smoothed | Stored, 0.0f, -kGainRange, kGainRange) {
    lowFreq.setChoicesWithValues({"50", "100", "200", "400"}, {50, 100, 200, 400}, 1);
    highFreq.setChoicesWithValues({"1k", "2k", "4k", "8k", "16k"}, {1000, 2000, 4000, 8000, 16000}, 3);
    _setup("equalizer", {&lowGain, &lowFreq, &midFreq, &midGain, &highFreq, &highGain});
    encoderParameters[0] = &lowGain;
    encoderParameters[1] = &midFreq;
    encoderParameters[2] = &midGain;
    encoderParameters[3] = &highGain;
    keyParameters[0] = &lowFreq;
    keyParameters[2] = &highFreq;
}

EqualizerFX::~EqualizerFX() = default;

void EqualizerFX::process(AudioBlock& block) {
    group.updateBlock();
    laneFrequencies[0] = float(_choiceValue(lowFreq));
    laneFrequencies[1] = midFreq.output;
    laneFrequencies[2] = float(_choiceValue(highFreq));
    laneFrequencies[3] = 1000.0f;
    laneGains[0] = lowGain.getValue();
    laneGains[1] = midGain.getValue();
    laneGains[2] = highGain.getValue();
    laneGains[3] = 0.0f;

    const uint32_t frames = std::min(block.frames, AudioBlock::kFrames);
    const QuadSVF* first = nullptr;
    for (uint32_t c = 0; c < kChannels; ++c) {
        if (!isActive(block.channelState[c]))
            continue;
        QuadSVF& f = filters[c];
        // Every channel shares the settings: worked out once, copied after.
        if (!first) {
            f.setCoefficients(laneTypes, laneFrequencies, laneResonances, laneGains);
            first = &f;
        } else {
            f.a1 = first->a1, f.a2 = first->a2, f.a3 = first->a3;
            f.m0 = first->m0, f.m1 = first->m1, f.m2 = first->m2;
        }
    }
    if (first)
        for (uint32_t group = 0; group < kChannels; group += 4)
            _runGroup(block, group, frames);
    _storeChannelStates(block);
}

// Four channels side by side, stage after stage: the same arithmetic as each
// channel's own cascade tick (stage s takes stage s - 1's output of the
// previous sample), a quarter of the work. The states live in the channels'
// filters; a silent channel's are not written back.
void EqualizerFX::_runGroup(AudioBlock& block, uint32_t group, uint32_t frames) {
    bool active[4];
    bool any = false;
    const QuadSVF* coefficients = nullptr;
    for (uint32_t k = 0; k < 4; ++k) {
        active[k] = isActive(block.channelState[group + k]);
        any |= active[k];
        if (active[k] && !coefficients)
            coefficients = &filters[group + k];
    }
    if (!any)
        return;
    struct Stage {
        float4 a1, a2, a3, m0, m1, m2, ic1eq, ic2eq, out;
    } stages[4];
    for (uint32_t s = 0; s < 4; ++s) {
        Stage& st = stages[s];
        st.a1 = splat4(coefficients->a1[s]), st.a2 = splat4(coefficients->a2[s]), st.a3 = splat4(coefficients->a3[s]);
        st.m0 = splat4(coefficients->m0[s]), st.m1 = splat4(coefficients->m1[s]), st.m2 = splat4(coefficients->m2[s]);
        for (uint32_t k = 0; k < 4; ++k) {
            const QuadSVF& f = filters[group + k];
            st.ic1eq[k] = f.ic1eq[s], st.ic2eq[k] = f.ic2eq[s], st.out[k] = f.lanes[s];
        }
    }
    auto tick = [](Stage& st, float4 x) __attribute__((always_inline)) {
        const float4 diff = x - st.ic2eq;
        const float4 band = st.a1 * st.ic1eq + st.a2 * diff;
        const float4 low = st.ic2eq + st.a2 * st.ic1eq + st.a3 * diff;
        st.ic1eq = 2.0f * band - st.ic1eq;
        st.ic2eq = 2.0f * low - st.ic2eq;
        st.out = st.m0 * x + st.m1 * band + st.m2 * low;
    };
    float* rows = block.channel(group);
    constexpr uint32_t F = AudioBlock::kFrames;
    auto sample = [&](float4 x) __attribute__((always_inline)) {
        tick(stages[3], stages[2].out);
        tick(stages[2], stages[1].out);
        tick(stages[1], stages[0].out);
        tick(stages[0], x);
        return stages[3].out;
    };
    uint32_t i = 0;
    for (; i + 4 <= frames; i += 4) {
        float4 x0 = loadUnaligned4(rows + i), x1 = loadUnaligned4(rows + F + i);
        float4 x2 = loadUnaligned4(rows + 2 * F + i), x3 = loadUnaligned4(rows + 3 * F + i);
        const float4 in0 = x0, in1 = x1, in2 = x2, in3 = x3;
        transpose4(x0, x1, x2, x3);
        x0 = sample(x0), x1 = sample(x1), x2 = sample(x2), x3 = sample(x3);
        transpose4(x0, x1, x2, x3);
        storeUnaligned4(rows + i, active[0] ? x0 : in0), storeUnaligned4(rows + F + i, active[1] ? x1 : in1);
        storeUnaligned4(rows + 2 * F + i, active[2] ? x2 : in2), storeUnaligned4(rows + 3 * F + i, active[3] ? x3 : in3);
    }
    for (; i < frames; ++i) {
        const float4 y = sample(float4{rows[i], rows[F + i], rows[2 * F + i], rows[3 * F + i]});
        for (uint32_t k = 0; k < 4; ++k)
            if (active[k])
                rows[k * F + i] = y[k];
    }
    for (uint32_t k = 0; k < 4; ++k) {
        if (!active[k])
            continue;
        QuadSVF& f = filters[group + k];
        for (uint32_t s = 0; s < 4; ++s)
            f.ic1eq[s] = stages[s].ic1eq[k], f.ic2eq[s] = stages[s].ic2eq[k], f.lanes[s] = stages[s].out[k];
        // A channel whose state went non-finite (NaN input) starts again from rest.
        if (!std::isfinite(f.ic1eq[0] + f.ic1eq[1] + f.ic1eq[2] + f.ic1eq[3] + f.ic2eq[0] + f.ic2eq[1] + f.ic2eq[2] +
                           f.ic2eq[3] + f.lanes[0] + f.lanes[1] + f.lanes[2] + f.lanes[3]))
            f.reset();
    }
}

void EqualizerFX::_drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned h) {
    const int ix = int(x), ih = int(h);
    const int yc = int(y) + ih / 2;
    auto height = [&](const ParameterFloat& p) {
        return int(std::lround(float(h) * 0.5f / gainRange * p.getValue()));
    };
    auto colourOf = [&](const ParameterFloat& p) { gfx->setColour(std::fabs(p.getValue()) > 0.001f ? 15 : 8); };
    const int dL = height(lowGain), dM = height(midGain), dH = height(highGain);
    const float lo = std::log2(40.0f), hi = std::log2(16000.0f);
    const float p = std::clamp((midFreq.getValue() - lo) / (hi - lo), 0.0f, 1.0f);
    const int xm = ix + 5 + int(p * float(ih - 14));

    colourOf(lowGain);
    gfx->drawLine(ix, yc - dL, ix + 2, yc - dL);
    gfx->drawLine(ix + 2, yc - dL, ix + 5, yc);
    gfx->setColour(8);
    gfx->drawLine(ix + 5, yc, xm, yc);
    colourOf(midGain);
    gfx->drawLine(xm, yc, xm + 2, yc - dM);
    gfx->drawLine(xm + 2, yc - dM, xm + 4, yc);
    gfx->setColour(8);
    gfx->drawLine(xm + 4, yc, ix + ih - 5, yc);
    colourOf(highGain);
    gfx->drawLine(ix + ih - 5, yc, ix + ih - 2, yc - dH);
    gfx->drawLine(ix + ih - 2, yc - dH, ix + ih, yc - dH);
}
