// The quad engine's synthesized drums: kick, snare, ratchet and metal.
#include "dsp/Float4.h"
#include "dsp/Random.h"
#include "dsp/WaveTable.h"
#include "engines/quad/QuadEngineCommon.h"
#include "engines/quad/QuadEngineVoice.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kPi = 3.141592653589793;
constexpr float kSnareSweep = 4000.0f;
constexpr float kSnareNoiseHz = 4000.0f;
constexpr float kMetalHighPassHz = 2000.0f;
constexpr int kBandPass = 2;
constexpr int kHighPass = 3;
}  // namespace

void QuadEngineVoice::_drumSettings(MiniEngine& s, float hold) {
    const uint32_t ch = note.voiceInTrack;
    const bool trig = started;
    auto read = [&](Parameter& p) { return p.getModulated(ch, false, trig, 0.0f); };
    switch (subEngineKind) {
    case MiniKick: {
        second.setTimes(0.0f, 0.0f, read(s.snapDecay), 0.0f);
        const float snap = read(s.snap);
        sweepDepth = snap * snap * 40000.0f;
        break;
    }
    case MiniSnare: {
        third.setTimes(0.0f, 0.0f, read(s.noiseDecay), 0.0f);
        second.setTimes(0.0f, 0.0f, hold * 0.25f + 30.0f, 0.0f);
        snareSweep = kSnareSweep;
        const float t = read(s.toneNoise);
        toneGain = t >= 1.0f ? 0.0f : t > 0.5f ? float(std::sin((1.0f - t) * kPi)) : 1.0f;
        noiseGain = t <= 0.0f ? 0.0f : t < 0.5f ? float(std::sin(t * kPi)) : 1.0f;
        _setFilter(kBandPass, kSnareNoiseHz, 2.0f);
        break;
    }
    case MiniRatchet:
        ratchetCount = read(s.ratchet) * 0.9999f;
        _setFilter(kHighPass, read(s.freq), 2.0f);
        gain *= 0.04f;
        break;
    case MiniMetal:
        _setFilter(kHighPass, kMetalHighPassHz, 4.0f);
        metalPair.setTone(read(s.color));
        gain *= 0.3f;
        break;
    default:
        break;
    }
}

void QuadEngineVoice::_sweptSine(float depth, bool quartic) {
    // mainBuffer holds the sweep envelope and gets the sine. The per-sample
    // frequencies (and so the phase increments) four at a time, then the
    // phase steps in order, then the table reads.
    const float4 base = splat4(currentFrequency), d = splat4(depth), perHertz = splat4(drumOsc.perHertz);
    for (uint32_t i = 0; i < kBlock; i += 4) {
        const float4 e = load4(mainBuffer + i), e2 = e * e;
        const float4 sweep = quartic ? e2 * e2 : e2 * e;
        store4(mainBuffer + i, perHertz * (base + sweep * d));
    }
    // A local copy: stores into the buffer cannot alias it.
    Phasor osc = drumOsc;
    const WaveTableBank& table = DSP::wavetable;
    for (uint32_t i = 0; i < kBlock; ++i) {
        osc.phaseIncrement = mainBuffer[i];
        mainBuffer[i] = table.sineInCycle(osc.next());
    }
    drumOsc = osc;
}

void QuadEngineVoice::_renderKick(uint32_t n) {
    (void)n;  // the envelope and the sine are whole blocks
    second.fill(mainBuffer);
    _sweptSine(sweepDepth, true);
    amplitude.applyQuarticGain(mainBuffer, gain);
}

void QuadEngineVoice::_renderSnare(uint32_t n) {
    active = !amplitude.isIdle() || !third.isIdle();
    second.fill(mainBuffer);
    _sweptSine(snareSweep, false);
    DSP::noise.fill(auxBuffer, n);
    for (uint32_t i = 0; i < n; ++i) auxBuffer[i] *= 0.25f;
    noiseFilter.process(auxBuffer, n);
    amplitude.applyQuarticGain(mainBuffer, toneGain);
    third.applyQuarticGain(auxBuffer, noiseGain);
    for (uint32_t i = 0; i < n; ++i) mainBuffer[i] = (mainBuffer[i] + auxBuffer[i]) * gain;
}

void QuadEngineVoice::_renderRatchet(uint32_t n) {
    DSP::noise.fill(mainBuffer, n);
    noiseFilter.process(mainBuffer, n);
    amplitude.fill(auxBuffer);
    const float scale = gain * note.gain;
    uint32_t i = 0;
    // Four at a time: the fraction as the scalar form below computes it (the
    // products are below 5, so the conversion truncates exactly).
    const float4 zero = splat4(0.0f), one = splat4(1.0f), count = splat4(ratchetCount), scale4 = splat4(scale);
    for (; i + 4 <= n; i += 4) {
        float4 e = load4(auxBuffer + i);
        e = e > zero ? e : zero;
        e = e < one ? e : one;
        store4(auxBuffer + i, e);
        const float4 r = e * e * e * count;
        float4 f = r - __builtin_convertvector(__builtin_convertvector(r, int4), float4);
        f = f < zero ? f + one : f;
        store4(mainBuffer + i, scale4 * load4(mainBuffer + i) * f);
    }
    for (; i < n; ++i) {
        const float e = std::clamp(auxBuffer[i], 0.0f, 1.0f);
        auxBuffer[i] = e;
        const float r = e * e * e * ratchetCount;
        float f = r - std::trunc(r);
        if (f < 0.0f) f += 1.0f;
        mainBuffer[i] = scale * mainBuffer[i] * f;
    }
}

void QuadEngineVoice::_renderMetal(uint32_t n) {
    metalPair.render(mainBuffer);
    noiseFilter.process(mainBuffer, n);
    amplitude.applyQuarticGain(mainBuffer, gain);
}
