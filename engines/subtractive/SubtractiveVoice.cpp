#include "engines/subtractive/SubtractiveVoice.h"

#include "dsp/Random.h"
#include "engines/SynthEngineType.h"
#include "engines/subtractive/SubtractiveCommon.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

namespace {
constexpr float kPhaseScale = 3.1415f;
// Below this a lane's drive scale (48000 / f) would overflow into inf x 0.
constexpr float kMinLaneHz = 1.0e-3f;
constexpr float kMaxLaneHz = 1.0e9f;

float finiteOr(float v, float fallback) {
    return std::isfinite(v) ? v : fallback;
}
}  // namespace

bool SubtractiveVoice::checkPlacement(const void* self) {
    // The vector members need their own alignment (16 bytes here, 8 on NEON).
    if (!isAligned(self, alignof(float4))) {
        std::fputs("SubtractiveVoice object is improperly aligned\n", stderr);
        throw std::bad_alloc();
    }
    return true;
}

SubtractiveVoice::SubtractiveVoice() {
    for (uint32_t i = 0; i < kBlock; ++i) buffer1[i] = buffer2[i] = bufferB[i] = 0.0f;
    restGainRamp(outputGain, 1.0f);
}

SubtractiveVoice::~SubtractiveVoice() = default;

void SubtractiveVoice::updateParameters() {
    SubtractiveCommon* c = common;
    if (!c) return;
    const uint32_t ch = note.voiceInTrack;
    const bool trig = started;
    auto read = [&](Parameter& p) { return p.getModulated(ch, false, trig, 0.0f); };

    const float d = read(c->detune);
    detuneRaw = d;
    detuneDepth = 0.2f * d * d * d;
    for (uint32_t k = 0; k < 3; ++k)
        envelope[k].setTimes(read(c->envAttack[k]), read(c->envHold[k]), read(c->envDecay[k]), 0.0f);

    const float v1 = read(c->shape1), v2 = read(c->sawSquare2);
    cosineWeight = float4{1.0f - v1, 1.0f - v1, 1.0f - v2, 1.0f - v2};
    outputWeight = 1.0f - cosineWeight * 0.5f;

    filterType = uint32_t(c->filtType.value.load(std::memory_order_relaxed));
    filterShape = read(c->filtShape);
    filterFrequency = read(c->filtFreq);
    filterResonance = read(c->filtReso);

    const float m1 = read(c->mix);
    gain1 = m1 >= 1.0f ? 0.0f : m1 <= 0.0f ? 1.0f : std::sqrt(1.0f - m1);
    const float m2 = read(c->mix);
    gain2 = m2 <= 0.0f ? 0.0f : m2 >= 1.0f ? 1.0f : std::sqrt(m2);
    gainB = read(c->volumeB);

    halfOffset = read(c->offset1) * 0.5f;
    ratio1 = read(c->ratio1);
    ratio2 = read(c->ratio2);
    sourceKind = uint32_t(c->sourceB.value.load(std::memory_order_relaxed));
}

void SubtractiveVoice::_startSources() {
    const float velocity = note.gain;
    for (auto& e : envelope) e.trigger(velocity, 0.0f);

    const float v2 = velocity * velocity;
    const float w = 4.0f * v2 * v2;
    drive = splat4(w > 0.74f ? 0.75f : w + 0.01f);

    const float z1 = DSP::noise.next(), z2 = DSP::noise.next();
    const float z3 = DSP::noise.next(), z4 = DSP::noise.next();
    laneDetune[0] = 0.1f * z1;
    laneDetune[1] = 0.1f * z2;
    laneDetune[2] = z3;
    laneDetune[3] = z4;

    if (common->oscRetrig.value.load(std::memory_order_relaxed) != 0) {
        sine = splat4(1.0f);
        cosine = splat4(0.0f);
    } else {
        for (int lane = 0; lane < 4; ++lane) {
            const float p = DSP::noise.next() * kPhaseScale;
            sine[lane] = std::cos(p);
            cosine[lane] = std::sin(p);
        }
    }

    // The list by its shown name, read in place: nothing is built here.
    const ParameterInt& list = common->samples;
    const ChoiceList* choices = list.choiceList.rt();
    const int32_t index = list.values[list.activeSlot];
    std::string_view name;
    if (index >= 0 && size_t(index) < choices->names.size()) name = choices->names[size_t(index)];
    samplePlayer.start(name, int32_t(note.step), note.order, detuneRaw);

    svf.reset();
    ladder.reset();
    started = true;
}

void SubtractiveVoice::noteOn(NoteEvent event) {
    SynthVoiceCommon* engine = event.engine;
    if (!engine || engine->engineType != EngineSubtractive) return;
    note = event;
    note.gain = finiteOr(note.gain, 0.0f);
    common = static_cast<SubtractiveCommon*>(engine);
    updateParameters();
    if (note.type != kindWord(NoteType::NoteSlide)) _startSources();
    setGlide(note.type, common->slide.getValue());
    outputGain.set(kBlock, 1.0f);
    active = true;
}

void SubtractiveVoice::fadeOut(uint32_t samples) {
    for (auto& e : envelope)
        if (!e.isIdle()) e.fastRelease(samples);
    outputGain.set(samples, 0.0f);
}

void SubtractiveVoice::_updateLanes(float f) {
    const float d = detuneDepth, h = halfOffset;
    const float hz[4] = {
        h + (1.0f + d * laneDetune[0]) * ratio1 * f,
        (1.0f + d * laneDetune[1]) * f - h,
        (1.0f + d * laneDetune[2]) * f * ratio2,
        (1.0f + d * laneDetune[3]) * f * ratio2,
    };
    for (int lane = 0; lane < 4; ++lane) {
        // Far beyond hearing the sine's argument would overflow to inf.
        const float laneHz = std::clamp(finiteOr(hz[lane], 0.0f), -kMaxLaneHz, kMaxLaneHz);
        const float argument = float(double(float(6.2831855f * laneHz)) * (1.0 / (2.0 * 48000.0)));
        coefficient[lane] = 2.0f * std::sin(argument);
        // Keeps the sign (a lane pulled below 0 Hz runs backwards) but never
        // divides by 0, which would turn the shaper into inf / inf.
        const float magnitude = std::fabs(laneHz) < kMinLaneHz ? kMinLaneHz : std::fabs(laneHz);
        const double signedHz = laneHz < 0.0f ? -double(magnitude) : double(magnitude);
        driveScale[lane] = float(double(drive[lane]) * (48000.0 / signedHz));
    }
}

bool SubtractiveVoice::render(float* row, uint32_t frames) {
    if (frames > kBlock) frames = kBlock;
    updateParameters();
    const float f = glideStep();
    _updateLanes(f);

    for (auto& e : envelope) e.tick();
    if (!envelope[0].isIdle() || !envelope[1].isIdle() || !envelope[2].isIdle()) {
        active = true;
    } else if (outputGain.gain != 0.0f) {
        active = true;
        if (!outputGain.rampActive) outputGain.set(4096, 0.0f);
    } else {
        active = false;
    }

    float4 s = sine, c = cosine;
    const float4 k = coefficient, scale = driveScale, u = outputWeight, uw = outputWeight * cosineWeight;
    const float4 one = splat4(1.0f);
    float4 y = laneOut;
    auto lanes = [&]() {
        s = s - k * c;
        c = c + k * s;
        const float4 x = s * scale;
        // u x / (1 + |x|) x (1 + w c), with u (1 + w c) as u + u w c.
        y = x * reciprocalEstimate4(one + abs4(x)) * (u + uw * c);
        return y;
    };
    // Four samples at a time, turned from lanes-per-sample into samples-per-
    // lane, so that the ring product and the sum are whole-vector operations.
    for (uint32_t n = 0; n < kBlock; n += 4) {
        float4 a = lanes(), b = lanes(), d = lanes(), e = lanes();
        transpose4(a, b, d, e);
        store4(buffer1 + n, a * b);
        store4(buffer2 + n, d + e);
    }
    sine = s;
    cosine = c;
    laneOut = y;

    envelope[0].applyQuarticGain(buffer1, gain1);
    envelope[1].applyQuarticGain(buffer2, gain2);

    const bool sampleSource = sourceKind == SubtractiveCommon::SampleSource;
    if (!sampleSource) {
        DSP::noise.fill(bufferB, kBlock);
        envelope[2].applyQuarticGain(bufferB, gainB);
        for (uint32_t n = 0; n < kBlock; n += 4)
            store4(buffer1 + n, load4(buffer1 + n) + load4(buffer2 + n) + load4(bufferB + n));
    } else {
        samplePlayer.render(bufferB, kBlock, int32_t(note.unisonIndex), f, detuneRaw, 1.0f);
        envelope[2].applyQuarticGain(bufferB, 3.0f * gainB);
        for (uint32_t n = 0; n < kBlock; n += 4) store4(buffer1 + n, load4(buffer1 + n) + load4(buffer2 + n));
    }

    if (filterType == SubtractiveCommon::Ladder24dB) {
        ladder.setCutoff(filterFrequency, filterResonance);
        ladder.process(buffer1);
    } else {
        const float r = filterResonance;
        svf.setShape(filterShape, filterFrequency, 0.2f + 14.0f * r * r * r);
        svf.process(buffer1, kBlock);
    }

    outputGain.apply(buffer1);

    // The row is a channel of a block: whole vectors unless a caller asks for less.
    const float4 level = splat4(0.8f);
    uint32_t n = 0;
    if (sampleSource) {
        for (; n + 4 <= frames; n += 4)
            storeUnaligned4(row + n, loadUnaligned4(row + n) + load4(bufferB + n) + level * load4(buffer1 + n));
        for (; n < frames; ++n) row[n] += bufferB[n] + 0.8f * buffer1[n];
    } else {
        for (; n + 4 <= frames; n += 4) storeUnaligned4(row + n, loadUnaligned4(row + n) + level * load4(buffer1 + n));
        for (; n < frames; ++n) row[n] += 0.8f * buffer1[n];
    }

    const bool first = started;
    started = false;
    return first;
}
