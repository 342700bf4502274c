#include "effects/DegradeFX.h"

#include "dsp/Random.h"

#include <algorithm>
#include <cmath>

DegradeFX::DegradeFX()
    : drive("drive", ParameterFloat::Percent, XYMorph | Smoothed | Stored | PerChannel, 0.0f),
      tape("tape", ParameterFloat::Percent, XYMorph | Smoothed | Stored | PerChannel, 0.0f),
      filter("filter", ParameterFloat::Percent, XYMorph | Smoothed | Stored | PerChannel, 0.0f),
      bits("bits", ParameterFloat::Plain, XYMorph | Smoothed | Stored | PerChannel, 16.0f, 4.0f, 16.0f) {
    lines.reserve(kChannels);
    for (uint32_t c = 0; c < kChannels; ++c) {
        lines.emplace_back(lineLength);
        wowSmoother[c].setCutoff(0.2);
        flutterSmoother[c].setCutoff(200.0);
        wowStep[c] = 0.002f * DSP::noise.next();
    }
    _setup("degrade", {&drive, &tape, &filter, &bits});
    encoderParameters[0] = &bits;
    encoderParameters[1] = &filter;
    encoderParameters[2] = &drive;
    encoderParameters[3] = &tape;
}

DegradeFX::~DegradeFX() = default;

void DegradeFX::process(AudioBlock& block) {
    group.updateBlock();
    const uint32_t frames = std::min(block.frames, AudioBlock::kFrames);
    const uint32_t channels = std::min(block.channels, kChannels);
    // The read stays inside the line whatever the flutter does.
    const float maxDelay = float(lineLength - 2);
    for (uint32_t c = 0; c < channels; ++c) {
        const ChannelState s = block.channelState[c];
        DelayLine& line = lines[c];
        if (!isActive(s)) {
            for (uint32_t i = 0; i < frames; ++i) {
                bandHigh[c].y *= bandHigh[c].gainState;
                line.write(0.0f);
            }
            continue;
        }
        const bool started = s == ChannelState::Started;
        const float b = bits.getModulated(c, false, started);
        const float d = drive.getModulated(c, false, started);
        const float f = filter.getModulated(c, false, started);
        const float t = tape.getModulated(c, false, started);
        const float Q = std::exp2(b);
        const float K = std::exp2(10.0f * d) + 0.26f;
        const float M = 1.0f + d * d;
        bandLow[c].setCutoff(1000.0 * std::exp2(4.0 * (1.0 - double(f))));
        bandHigh[c].setCutoff(std::exp2(4.0 * (1.0 + double(f))));
        const float flutter = t * 0.25f;

        float& step = wowStep[c];
        if (DSP::noise.next() > 0.999f)
            step = 0.002f * DSP::noise.next();
        float& position = wowPosition[c];
        position += std::fabs(DSP::noise.next()) * t * step;
        if (position >= 1.0f || position <= 0.0f)
            step = -step;

        float noise[AudioBlock::kFrames];
        DSP::noise.fill(noise, frames);
        // The filters' states in locals for the block (the block's samples
        // could alias them as far as the compiler knows); the line is written
        // and read in place, as write and readInterpolated would.
        OnePole low = bandLow[c], high = bandHigh[c], wow = wowSmoother[c], flutterLp = flutterSmoother[c];
        const float inverseQ = 1.0f / Q;
        float* buffer = line.buffer.data();
        const uint32_t n = line.size();
        uint32_t w = line.writeIndex;
        float* x = block.channel(c);
        for (uint32_t i = 0; i < frames; ++i) {
            const float lp = low.tick(x[i]);
            float v = lp - high.tick(lp);
            v = std::trunc(v * Q) * inverseQ;
            v = v / (K * v * v + 1.0f) * M;
            const float g = wow.tick(position) * 100.0f + noise[i] * flutter;
            const float fs = flutterLp.tick(g);
            w = (w ? w : n) - 1;
            buffer[w] = v;
            // Limited to the line: a negative flutter swing reads the newest sample.
            const float d = std::clamp(1.0f + 19.9f * fs, 0.0f, maxDelay);
            const uint32_t whole = uint32_t(d);
            const float u = d - float(whole);
            uint32_t a = w + whole, b = a + 1;
            a = a >= n ? a - n : a;
            b = b >= n ? b - n : b;
            x[i] = u > 0.0f ? (1.0f - u) * buffer[a] + u * buffer[b] : buffer[a];
        }
        line.writeIndex = w;
        bandLow[c] = low, bandHigh[c] = high, wowSmoother[c] = wow, flutterSmoother[c] = flutterLp;
    }
    _storeChannelStates(block);
}
