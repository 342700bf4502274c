#include "engines/resonator/ResonatorVoice.h"

#include "dsp/Float4.h"
#include "dsp/Random.h"
#include "engines/SynthEngineType.h"
#include "engines/resonator/ResonatorCommon.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kPi = 3.141592653589793;

// The fraction dropped and the result held within +-limit, NaN as 0, four
// at a time. Saturating, as the instrument's core converts: a plain x86
// conversion would flip an overflowing value's sign inside the loop.
float4 truncSaturated4(float4 x, float limit) {
    const float4 big = splat4(8388608.0f), top = splat4(limit), bottom = splat4(-limit);
    // From 2^23 up a float is whole already; below, the conversion truncates.
    float4 t = abs4(x) < big ? __builtin_convertvector(__builtin_convertvector(x, int4), float4) : x;
    t = t < top ? t : top;
    t = t > bottom ? t : bottom;
    return x == x ? t : splat4(0.0f);
}

float truncSaturated(float x, float limit) {
    float t = std::trunc(x);
    t = t < limit ? t : limit;
    t = t > -limit ? t : -limit;
    return x == x ? t : 0.0f;
}

// The whole-number range of the requantised loop: the 32-bit conversion's
// +-2^31, but never more than Q itself. Without that bound a coarse bit depth
// would let the loop ring up by 40 dB and more; with it every depth below 31
// holds the loop within +-1.0, as 31 bits does.
float loopLimit(float q) { return q < 2147483648.0f ? q : 2147483648.0f; }

// exp(-2 pi f / 48000), the products in single precision.
float onePole(float hz) {
    return std::exp((hz * (1.0f / 48000.0f)) * -6.283185307f);
}
}  // namespace

ResonatorVoice::ResonatorVoice() {
    for (uint32_t i = 0; i < kBlock; ++i) excitation[i] = sampleBuffer[i] = noiseBuffer[i] = output[i] = 0.0f;
    restGainRamp(outputGain, 1.0f);
}

ResonatorVoice::~ResonatorVoice() = default;

void ResonatorVoice::updateParameters() {
    ResonatorCommon* c = common;
    if (!c) return;
    const uint32_t ch = note.voiceInTrack;
    const bool trig = started;
    auto read = [&](Parameter& p) { return p.getModulated(ch, false, trig, 0.0f); };

    for (uint32_t i = 0; i < 4; ++i)
        envelopes[i].setTimes(read(c->envAttack[i]), read(c->envHold[i]), read(c->envDecay[i]), 0.0f);
    const float d = read(c->detune);
    detuneDepth = d * d * d * 0.2f;
    // The sample draws its own spread from the unmodulated setting.
    detuneRaw = c->detune.getValue();
    noiseGain = read(c->noiseVolume) * 0.1f;
    ratchetFactor = 0.999f + 10.0f * read(c->ratchet);
    noiseCoefficient = memo_[0](read(c->noiseFilter), onePole);
    noiseInput = 1.0f - noiseCoefficient;
    sampleGain = 4.0f * read(c->sampleVolume);
    sampleCoefficient = memo_[1](read(c->sampleFilter), onePole);
    sampleInput = 1.0f - sampleCoefficient;
    line1.feedback = memo_[2](read(c->posDecay), [](float x) { return std::pow(x, 0.1f) * 0.99999f; });
    line2.feedback = memo_[3](read(c->negDecay), [](float x) { return std::pow(x, 0.1f) * -0.99999f; });
    quantise = memo_[4](float(c->bitDepth.getModulated(ch, false, trig, 0.0f)), [](float bits) { return std::pow(2.0f, bits); });
    quantiseInverse = 1.0f / quantise;

    const float p = read(c->posNeg);
    line1.gain = memo_[5](p, [](float x) { return x <= 0.5f ? 1.0f : x < 1.0f ? float(std::sin((1.0f - x) * kPi)) : 0.0f; });
    line2.gain = memo_[6](p, [](float x) { return x <= 0.0f ? 0.0f : x < 0.5f ? float(std::sin(x * kPi)) : 1.0f; });

    const float v = read(c->dampening), w = v * v * v;
    cutoffFactor = 2.0f / w;  // infinite at 0: the 20 kHz limit below
    pitchFactor = 1.0f - 0.06f * w;
}

void ResonatorVoice::_startSample() {
    // The list by its shown name, read in place: nothing is built here.
    const ParameterInt& list = common->samples;
    const ChoiceList* choices = list.choiceList.rt();
    const int32_t index = list.values[list.activeSlot];
    std::string_view name;
    if (index >= 0 && size_t(index) < choices->names.size()) name = choices->names[size_t(index)];
    samplePlayer.start(name, int32_t(note.step), note.order, common->detune.getValue());
}

void ResonatorVoice::noteOn(NoteEvent event) {
    SynthVoiceCommon* engine = event.engine;
    if (!engine || engine->engineType != EngineResonator) return;
    note = event;
    if (!(note.frequency >= kMinHz)) note.frequency = kMinHz;  // NaN too
    if (!std::isfinite(note.frequency)) note.frequency = kMinHz;
    if (!std::isfinite(note.gain)) note.gain = 0.0f;
    common = static_cast<ResonatorCommon*>(engine);
    updateParameters();
    if (note.type != kindWord(NoteType::NoteSlide)) {
        envelopes[0].trigger(1.0f, 0.0f);
        for (uint32_t i = 1; i < 4; ++i) envelopes[i].trigger(note.gain, 0.0f);
        started = true;
        line1.line.clear();
        line2.line.clear();
        _startSample();
    }
    line1.offset = DSP::noise.next();
    line2.offset = DSP::noise.next();
    setGlide(note.type, common->slide.getValue());
    outputGain.set(128, 1.0f);
    active = true;
}

void ResonatorVoice::fadeOut(uint32_t samples) {
    for (auto& e : envelopes)
        if (!e.isIdle()) e.fastRelease(samples);
    outputGain.set(samples, 0.0f);
}

void ResonatorVoice::Loop::run(const float* in, float* out, uint32_t frames, float q, float inverse, bool add) {
    const float limit = loopLimit(q);
    // The write of this sample comes after the read, so a pass is one sample
    // longer than the tap: reading one short keeps the loop at `delay`.
    const DelayLine::Tap tap = line.tap(std::max(delay - 1.0f, 0.0f));
    const float b = input, a = coefficient, fb = feedback * q, g = gain;
    float z = state;
    alignas(16) float pass[kBlock];
    if (frames <= kBlock && line.readTapBlock(tap, pass, frames)) {
        // A tap a block or more back: read the block, run the damping, then
        // requantise and write the block.
        for (uint32_t i = 0; i < frames; ++i) {
            z = b * pass[i] + a * z;
            pass[i] = in[i] + z;
        }
        const float4 g4 = splat4(g), fb4 = splat4(fb), inverse4 = splat4(inverse);
        uint32_t i = 0;
        for (; i + 4 <= frames; i += 4) {
            const float4 s = load4(pass + i);
            store4(out + i, add ? load4(out + i) + g4 * s : g4 * s);
            store4(pass + i, truncSaturated4(fb4 * s, limit) * inverse4);
        }
        for (; i < frames; ++i) {
            out[i] = add ? out[i] + g * pass[i] : g * pass[i];
            pass[i] = truncSaturated(fb * pass[i], limit) * inverse;
        }
        line.writeCountingQuietBlock(pass, frames);
    } else {
        DelayLine::Cursor cursor(line);
        for (uint32_t i = 0; i < frames; ++i) {
            z = b * cursor.readTap(tap) + a * z;
            const float s = in[i] + z;
            cursor.writeCountingQuiet(truncSaturated(fb * s, limit) * inverse);
            out[i] = add ? out[i] + g * s : g * s;
        }
    }
    state = z;
}

bool ResonatorVoice::render(float* row, uint32_t frames) {
    if (frames > kBlock) frames = kBlock;
    updateParameters();
    const float f = glideStep();

    const double depth = detuneDepth, pf = pitchFactor;
    line1.delay = float(std::max(48000.0 / ((1.0 + depth * line1.offset) * f) * pf, 1.0));
    line2.delay = float(std::max(24000.0 / ((1.0 + depth * line2.offset) * f) * (pf * pf), 1.0));
    if (!std::isfinite(line1.delay)) line1.delay = 1.0f;
    if (!std::isfinite(line2.delay)) line2.delay = 1.0f;
    const float damping = memo_[7](std::min(f * cutoffFactor, 20000.0f), onePole);
    line1.coefficient = line2.coefficient = damping;
    line1.input = line2.input = 1.0f - damping;

    bool sounding = false;
    for (auto& e : envelopes) {
        e.tick();
        sounding = sounding || !e.isIdle();
    }
    active = sounding;

    envelopes[0].fill(excitation);
    DSP::noise.fill(noiseBuffer, frames);
    const float level = note.gain;
    const float scale = noiseGain * noiseInput * level * level;
    // The burst's shape first (no dependency between samples), then the
    // filter.
    uint32_t i = 0;
    const float4 zero = splat4(0.0f), one = splat4(1.0f), ratchet4 = splat4(ratchetFactor), scale4 = splat4(scale);
    for (; i + 4 <= frames; i += 4) {
        float4 e = load4(excitation + i);
        e = e > zero ? e : zero;
        e = e < one ? e : one;
        const float4 e2 = e * e;
        const float4 k = e2 * e2 * ratchet4;  // 0 .. 11: the conversion truncates
        float4 g = k - __builtin_convertvector(__builtin_convertvector(k, int4), float4);
        g = g < zero ? g + one : g;
        store4(noiseBuffer + i, load4(noiseBuffer + i) * (scale4 * g));
    }
    for (; i < frames; ++i) {
        const float e = std::clamp(excitation[i], 0.0f, 1.0f);
        const float e2 = e * e;
        const float k = e2 * e2 * ratchetFactor;
        float g = k - std::trunc(k);
        g = g < 0.0f ? g + 1.0f : g;
        noiseBuffer[i] *= scale * g;
    }
    float y = noiseState;
    for (uint32_t i = 0; i < frames; ++i) excitation[i] = y = noiseCoefficient * y + noiseBuffer[i];
    noiseState = y;

    if (samplePlayer.render(sampleBuffer, frames, int32_t(note.unisonIndex), f, detuneRaw, 1.0f)) {
        float s = sampleState;
        for (uint32_t i = 0; i < frames; ++i) sampleBuffer[i] = s = sampleInput * sampleBuffer[i] + sampleCoefficient * s;
        sampleState = s;
        envelopes[1].applyQuarticGain(sampleBuffer, sampleGain);
        for (uint32_t i = 0; i < frames; ++i) excitation[i] += sampleBuffer[i];
    } else {
        envelopes[1].applyQuarticGain(sampleBuffer, sampleGain);  // the envelope still moves
    }

    line1.run(excitation, output, frames, quantise, quantiseInverse, false);
    line2.run(excitation, output, frames, quantise, quantiseInverse, true);
    if (!line1.line.isSilent() || !line2.line.isSilent()) active = true;

    outputGain.apply(output);
    if (outputGain.gain == 0.0f) active = false;
    i = 0;
    const float4 outputLevel = splat4(1.4f);
    for (; i + 4 <= frames; i += 4) storeUnaligned4(row + i, loadUnaligned4(row + i) + load4(output + i) * outputLevel);
    for (; i < frames; ++i) row[i] += output[i] * 1.4f;

    const bool first = started;
    started = false;
    return first;
}
