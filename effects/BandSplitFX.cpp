#include "effects/BandSplitFX.h"

#include "gui/MonoGFX.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr float kLowest = 20.0f;
constexpr float kHighest = 20000.0f;

}  // namespace

BandSplitFX::BandSplitFX()
    : bands("bands", ParameterInt::PlainInt, Stored | Wrap, 4, 2, 8),
      hpfOut("HPF out", ParameterInt::ChoiceMode, Stored, 1),
      spacing("spacing", ParameterFloat::Percent, XYMorph | Smoothed | Stored, 1.0f, 0.25f, 4.0f),
      freq("freq", ParameterFloat::Hertz, XYMorph | Smoothed | Stored, 440.0f, 20.0f, 19000.0f),
      peak("peak", ParameterFloat::Percent, XYMorph | Smoothed | Stored | PerChannel, 0.25f) {
    for (auto& f : cutoffs)
        f.store(kLowest, kRelaxed);
    _setup("multiband", {&spacing, &freq, &peak, &bands, &hpfOut});
    encoderParameters[0] = &spacing;
    encoderParameters[1] = &freq;
    encoderParameters[2] = &peak;
    keyParameters[0] = &bands;
    keyParameters[2] = &hpfOut;
}

BandSplitFX::~BandSplitFX() = default;

void BandSplitFX::process(AudioBlock& block) {
    group.updateBlock();
    const uint32_t n = uint32_t(std::clamp(bands.value.load(kRelaxed), 2, 8));
    const bool high = hpfOut.value.load(kRelaxed) != 0;
    bandCount.store(n, kRelaxed);
    highBand.store(high, kRelaxed);

    const bool started0 = block.channelState[0] == ChannelState::Started;
    const float F = freq.getModulated(0, false, started0);
    const float S = spacing.getModulated(0, false, started0);
    centre.store(F, kRelaxed);
    const float middle = (float(n) - (high ? 2.0f : 1.0f)) / 2.0f;
    float hz[kChannels];
    for (uint32_t i = 0; i < kChannels; ++i) {
        hz[i] = std::clamp(F * std::exp2((float(i) - middle) * S), kLowest, kHighest);
        cutoffs[i].store(hz[i], kRelaxed);
        const float p = peak.getModulated(i, false, block.channelState[i] == ChannelState::Started);
        resonances[i] = std::min({10.0f * p * p * p + 0.2f, 4.0f * S, (hz[i] - 18.0f) / 30.0f});
    }
    const float flat[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    filters[0].setCoefficients(laneTypes, hz, resonances, flat);
    filters[1].setCoefficients(laneTypes, hz + 4, resonances + 4, flat);

    ChannelState merged = ChannelState::Vacant;
    for (uint32_t c = 0; c < kChannels; ++c)
        mergeChannelState(merged, block.channelState[c]);
    bool processing = isActive(merged);
    if (!processing && isActive(previousMerged)) {
        blocksSinceActive = 0;
        processing = true;
    } else if (!processing) {
        processing = blocksSinceActive < kTailBlocks;
    }

    if (processing) {
        float* y = previousBands;
        float* in = laneInputs;
        const uint32_t frames = std::min(block.frames, AudioBlock::kFrames);
        for (uint32_t t = 0; t < frames; ++t) {
            in[0] = block.sumChannelsAt(t);
            for (uint32_t k = 1; k < kChannels; ++k)
                in[k] = in[k - 1] - y[k - 1];
            const float remainder = in[n - 1];
            float4 low = float4{in[0], in[1], in[2], in[3]};
            float4 upper = float4{in[4], in[5], in[6], in[7]};
            filters[0].tick4(low);
            filters[1].tick4(upper);
            for (uint32_t k = 0; k < 4; ++k) {
                y[k] = low[k];
                y[k + 4] = upper[k];
            }
            for (uint32_t b = 0; b < n; ++b)
                block.channel(b)[t] = y[b];
            if (high)
                block.channel(n - 1)[t] = remainder;
        }
    }

    const ChannelState fresh = isActive(previousOutput) ? ChannelState::Playing : ChannelState::Started;
    if (processing && merged == ChannelState::Started)
        merged = ChannelState::Playing;
    const ChannelState bandState = processing ? fresh : merged;
    for (uint32_t c = 0; c < kChannels; ++c) {
        if (c < n) {
            block.channelState[c] = bandState;
        } else {
            std::fill(block.channel(c), block.channel(c) + AudioBlock::kFrames, 0.0f);
            block.channelState[c] = ChannelState::Vacant;
        }
    }
    _storeChannelStates(block);
    previousOutput = bandState;
    previousMerged = merged;
    ++blocksSinceActive;
}

void BandSplitFX::_drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned h) {
    const float lo = std::log2(kLowest), hi = std::log2(kHighest);
    auto X = [&](float f) {
        f = std::clamp(f, kLowest, kHighest);
        return int(x) + int(std::lround((std::log2(f) - lo) * float(h) / (hi - lo)));
    };
    gfx->setColour(2);
    const int xc = X(centre.load(kRelaxed));
    gfx->drawLine(xc, int(y), xc, int(y + h));
    gfx->setColour(15);
    const uint32_t n = std::min(bandCount.load(kRelaxed), kChannels);
    const bool high = highBand.load(kRelaxed);
    for (uint32_t i = 0; i < n; ++i) {
        const float lower = i == 0 ? kLowest : cutoffs[i - 1].load(kRelaxed);
        const float upper = high && i == n - 1 ? kHighest : cutoffs[i].load(kRelaxed);
        gfx->drawLine(X(lower), int(y + 3 * i), X(upper), int(y + 3 * i));
    }
}
