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

DegradeFX::Settings DegradeFX::_prepare(uint32_t c, bool started, float* noise, uint32_t frames) {
    Settings k;
    const float b = bits.getModulated(c, false, started);
    const float d = drive.getModulated(c, false, started);
    const float f = filter.getModulated(c, false, started);
    const float t = tape.getModulated(c, false, started);
    k.Q = std::exp2(b);
    k.K = std::exp2(10.0f * d) + 0.26f;
    k.M = 1.0f + d * d;
    // The band's exponentials only when "filter" moves.
    if (f != bandFilter[c]) {
        bandFilter[c] = f;
        bandLow[c].setCutoff(1000.0 * std::exp2(4.0 * (1.0 - double(f))));
        bandHigh[c].setCutoff(std::exp2(4.0 * (1.0 + double(f))));
    }
    k.flutter = t * 0.25f;

    float& step = wowStep[c];
    if (DSP::noise.next() > 0.999f)
        step = 0.002f * DSP::noise.next();
    float& position = wowPosition[c];
    position += std::fabs(DSP::noise.next()) * t * step;
    if (position >= 1.0f || position <= 0.0f)
        step = -step;
    DSP::noise.fill(noise, frames);
    return k;
}

void DegradeFX::process(AudioBlock& block) {
    group.updateBlock();
    const uint32_t frames = std::min(block.frames, AudioBlock::kFrames);
    const uint32_t channels = std::min(block.channels, kChannels);
    for (uint32_t first = 0; first < channels; first += 4) {
        bool together = first + 4 <= channels;
        for (uint32_t k = 0; k < 4 && together; ++k)
            together = isActive(block.channelState[first + k]) && lines[first + k].writeIndex == lines[first].writeIndex;
        if (together) {
            _runGroup(block, first, frames);
            continue;
        }
        for (uint32_t c = first; c < std::min(first + 4, channels); ++c)
            _runChannel(block, c, frames);
    }
    _storeChannelStates(block);
}

void DegradeFX::_runChannel(AudioBlock& block, uint32_t c, uint32_t frames) {
    const ChannelState s = block.channelState[c];
    DelayLine& line = lines[c];
    if (!isActive(s)) {
        for (uint32_t i = 0; i < frames; ++i) {
            bandHigh[c].y *= bandHigh[c].gainState;
            line.write(0.0f);
        }
        return;
    }
    float noise[AudioBlock::kFrames];
    const Settings k = _prepare(c, s == ChannelState::Started, noise, frames);
    const float position = wowPosition[c];
    // The filters' states in locals for the block (the block's samples could
    // alias them as far as the compiler knows); the line is written and read
    // in place, as write and readInterpolated would.
    OnePole low = bandLow[c], high = bandHigh[c], wow = wowSmoother[c], flutterLp = flutterSmoother[c];
    const float inverseQ = 1.0f / k.Q;
    float* buffer = line.buffer.data();
    const uint32_t n = line.size();
    const float maxDelay = float(n - 2);
    uint32_t w = line.writeIndex;
    float* x = block.channel(c);
    for (uint32_t i = 0; i < frames; ++i) {
        const float lp = low.tick(x[i]);
        float v = lp - high.tick(lp);
        v = std::trunc(v * k.Q) * inverseQ;
        v = v / (k.K * v * v + 1.0f) * k.M;
        const float g = wow.tick(position) * 100.0f + noise[i] * k.flutter;
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

namespace {

// trunc per lane; lanes of 2^23 and more are whole already.
inline float4 _truncate4(float4 v) {
    const int4 small = abs4(v) < splat4(8388608.0f);
    const int4 whole = __builtin_convertvector(small ? v : splat4(0.0f), int4);
    return small ? __builtin_convertvector(whole, float4) : v;
}

}  // namespace

// Four sounding channels whose lines share a write index, side by side: the
// same arithmetic as _runChannel per lane.
void DegradeFX::_runGroup(AudioBlock& block, uint32_t first, uint32_t frames) {
    float noise[4][AudioBlock::kFrames];
    float4 Q, K, M, flutter, position, inLow, stateLow, inHigh, stateHigh, lowY, highY;
    float4 inWow, stateWow, wowY, inFlutter, stateFlutter, flutterY;
    float* buffers[4];
    for (uint32_t k = 0; k < 4; ++k) {
        const uint32_t c = first + k;
        const Settings s = _prepare(c, block.channelState[c] == ChannelState::Started, noise[k], frames);
        Q[k] = s.Q, K[k] = s.K, M[k] = s.M, flutter[k] = s.flutter, position[k] = wowPosition[c];
        inLow[k] = bandLow[c].gainIn, stateLow[k] = bandLow[c].gainState, lowY[k] = bandLow[c].y;
        inHigh[k] = bandHigh[c].gainIn, stateHigh[k] = bandHigh[c].gainState, highY[k] = bandHigh[c].y;
        inWow[k] = wowSmoother[c].gainIn, stateWow[k] = wowSmoother[c].gainState, wowY[k] = wowSmoother[c].y;
        inFlutter[k] = flutterSmoother[c].gainIn, stateFlutter[k] = flutterSmoother[c].gainState;
        flutterY[k] = flutterSmoother[c].y;
        buffers[k] = lines[c].buffer.data();
    }
    const float4 inverseQ = 1.0f / Q;
    const uint32_t n = lines[first].size();
    const float4 maxDelay = splat4(float(n - 2));
    uint32_t w = lines[first].writeIndex;
    float* rows = block.channel(first);
    constexpr uint32_t F = AudioBlock::kFrames;
    auto sample = [&](float4 x, uint32_t i) __attribute__((always_inline)) {
        lowY = inLow * x + stateLow * lowY;
        highY = inHigh * lowY + stateHigh * highY;
        float4 v = lowY - highY;
        v = _truncate4(v * Q) * inverseQ;
        v = v / (K * v * v + 1.0f) * M;
        wowY = inWow * position + stateWow * wowY;
        const float4 g = wowY * 100.0f + float4{noise[0][i], noise[1][i], noise[2][i], noise[3][i]} * flutter;
        flutterY = inFlutter * g + stateFlutter * flutterY;
        w = (w ? w : n) - 1;
        float4 d = 1.0f + 19.9f * flutterY;
        d = d > splat4(0.0f) ? d : splat4(0.0f);  // also NaN
        d = d < maxDelay ? d : maxDelay;
        const int4 whole = __builtin_convertvector(d, int4);
        const float4 u = d - __builtin_convertvector(whole, float4);
        const int4 size = {int32_t(n), int32_t(n), int32_t(n), int32_t(n)};
        int4 a = int32_t(w) + whole, b = a + 1;  // below 2n
        a = a >= size ? a - size : a;
        b = b >= size ? b - size : b;
        float4 older, newer;
        for (uint32_t k = 0; k < 4; ++k) {
            buffers[k][w] = v[k];
            newer[k] = buffers[k][a[k]];
            older[k] = buffers[k][b[k]];
        }
        return u > splat4(0.0f) ? (1.0f - u) * newer + u * older : newer;
    };
    uint32_t i = 0;
    for (; i + 4 <= frames; i += 4) {
        float4 x0 = loadUnaligned4(rows + i), x1 = loadUnaligned4(rows + F + i);
        float4 x2 = loadUnaligned4(rows + 2 * F + i), x3 = loadUnaligned4(rows + 3 * F + i);
        transpose4(x0, x1, x2, x3);
        x0 = sample(x0, i), x1 = sample(x1, i + 1), x2 = sample(x2, i + 2), x3 = sample(x3, i + 3);
        transpose4(x0, x1, x2, x3);
        storeUnaligned4(rows + i, x0), storeUnaligned4(rows + F + i, x1);
        storeUnaligned4(rows + 2 * F + i, x2), storeUnaligned4(rows + 3 * F + i, x3);
    }
    for (; i < frames; ++i) {
        const float4 y = sample(float4{rows[i], rows[F + i], rows[2 * F + i], rows[3 * F + i]}, i);
        for (uint32_t k = 0; k < 4; ++k)
            rows[k * F + i] = y[k];
    }
    for (uint32_t k = 0; k < 4; ++k) {
        const uint32_t c = first + k;
        lines[c].writeIndex = w;
        bandLow[c].y = lowY[k], bandHigh[c].y = highY[k], wowSmoother[c].y = wowY[k], flutterSmoother[c].y = flutterY[k];
    }
}
