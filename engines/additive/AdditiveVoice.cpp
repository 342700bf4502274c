#include "engines/additive/AdditiveVoice.h"

#include "dsp/Random.h"
#include "engines/SynthEngineType.h"

#include <cmath>

namespace {
constexpr uint32_t kStep = 2;
// First lane vector of each group, and the end of the last.
constexpr uint32_t kGroupStart[AdditiveVoice::kGroups + 1] = {0, 1, 3, 7, 10};

float hsum(float4 v) {
    return (v[0] + v[1]) + (v[2] + v[3]);
}
}  // namespace

uint32_t AdditiveVoice::groupOf(uint32_t k) {
    const uint32_t n = k + 1;
    if (n == 1) return 0;
    if ((n & (n - 1)) == 0) return 1;
    return (n & 1) ? 2 : 3;
}

AdditiveVoice::AdditiveVoice() : placementChecked_((requirePlacement(this, 8, "AdditiveVoice"), true)) {
    sampleStep = kStep;
    uint32_t next[kGroups];
    for (uint32_t g = 0; g < kGroups; ++g) next[g] = 4 * kGroupStart[g];
    for (uint32_t k = 0; k < kPartials; ++k) {
        partialGroup[k] = groupOf(k);
        laneOf[k] = next[partialGroup[k]]++;
    }
    for (auto& b : groupBuffer)
        for (float& s : b) s = 0.0f;
    for (float& hz : coefficientHz) hz = NAN;
    const float a = std::exp(-0.00837758f);  // 2 pi x 64 / 48000: once per block
    for (Smoother* s : {&detuneSmoother, &oddSmoother, &evenSmoother}) *s = Smoother{1.0f - a, a, 0.0f};
    _resetOscillators();
}

AdditiveVoice::~AdditiveVoice() = default;

void AdditiveVoice::_resetOscillators() {
    for (uint32_t i = 0; i < kLanes; ++i) {
        partialX[i] = 1.0f;
        partialY[i] = 0.0f;
    }
}

void AdditiveVoice::updateParameters() {
    AdditiveCommon* c = common;
    if (!c) return;
    const uint32_t ch = note.voiceInTrack;
    const bool trig = started;
    auto read = [&](Parameter& p) { return p.getModulated(ch, false, trig, 0.0f); };

    const float d = read(c->detune);
    const float depth = 0.2f * d * d * d, odd = read(c->oddSpace), even = read(c->evenSpace);
    if (fresh) {
        detuneSmoother.state = depth;
        oddSmoother.state = odd;
        evenSmoother.state = even;
        fresh = false;
    } else {
        detuneSmoother.step(depth);
        oddSmoother.step(odd);
        evenSmoother.step(even);
    }
    partialCount = c->partials.getModulated(ch, false, trig, 0.0f);
    if (partialCount < 1) partialCount = 1;
    if (partialCount > int32_t(kPartials)) partialCount = kPartials;
    oddSpacing = oddSmoother.state;
    evenSpacing = evenSmoother.state;
    peakIndex = read(c->peak) * 31.0f;
    combStep = (1.0f - read(c->comb)) * 0.2f;
    for (uint32_t g = 0; g < kGroups; ++g) {
        volume[g] = read(c->volume[g]);
        envelopes[g].setTimes(read(c->envAttack[g]), read(c->envHold[g]), read(c->envDecay[g]), 0.0f);
    }
}

void AdditiveVoice::noteOn(NoteEvent event) {
    SynthVoiceCommon* engine = event.engine;
    if (!engine || engine->engineType != EngineAdditive) return;
    note = event;
    if (!std::isfinite(note.gain)) note.gain = 0.0f;
    common = static_cast<AdditiveCommon*>(engine);
    updateParameters();

    const uint32_t first = DSP::random.nextHigh() & 3;
    if (note.type != kindWord(NoteType::NoteSlide)) {
        const float scatter = common->scatter.getValue();
        for (uint32_t g = 0; g < kGroups; ++g)
            envelopes[g].trigger(note.gain, g == first ? 0.0f : std::fabs(DSP::noise.next()) * scatter);
        for (float& r : partialRandom) r = DSP::noise.next();
        _resetOscillators();
        started = true;
    }
    setGlide(note.type, common->slide.getValue());
    active = true;
}

void AdditiveVoice::fadeOut(uint32_t samples) {
    for (auto& e : envelopes)
        if (!e.isIdle()) e.fastRelease(samples);
}

bool AdditiveVoice::render(float* row, uint32_t frames) {
    if (frames > kBlock) frames = kBlock;
    updateParameters();
    const float f = glideStep();
    bool sounding = false;
    for (auto& e : envelopes) {
        e.tick();
        sounding = sounding || !e.isIdle();
    }
    active = sounding;

    // Targets and coefficients are worked out again only when their inputs
    // moved: a held note costs the oscillators and little else.
    if (combStep != targetComb || peakIndex != targetPeak) {
        targetComb = combStep;
        targetPeak = peakIndex;
        for (uint32_t k = 0; k < kPartials; ++k) partialTarget[k] = AdditiveCommon::partialAmplitude(k, combStep, peakIndex);
    }
    const double top = kTopHz / double(kStep);
    const float detune = detuneSmoother.state;
    float lastHz = f;
    for (uint32_t k = 0; k < kPartials; ++k) {
        if (int32_t(k) >= partialCount) {
            partialCoefficient[k] = 0.0f;
            partialGain[k] = 0.0f;
            continue;
        }
        const float spacing = (k & 1) ? evenSpacing : oddSpacing;
        const float hz = (1.0f + partialRandom[k] * detune) * f * (1.0f + float(k) * spacing);
        lastHz = hz;
        if (!(double(hz) < top)) {  // NaN too
            partialCoefficient[k] = 0.0f;
            partialGain[k] = 0.0f;
            continue;
        }
        const float target = partialTarget[k];
        const float keep = 0.99f * target;
        partialGain[k] = gainsFresh ? target : keep * partialGain[k] + (1.0f - keep) * target;
        if (hz != coefficientHz[k]) {
            coefficientHz[k] = hz;
            coefficientOfHz[k] = 2.0f * std::sin(float(double(hz) * 6.2831855 * double(kStep) / 96000.0));
        }
        partialCoefficient[k] = coefficientOfHz[k];
    }
    gainsFresh = false;
    outputFilter.setCutoff(float(double(lastHz) / 48000.0));
    for (uint32_t k = 0; k < kPartials; ++k) {
        laneCoefficient[laneOf[k]] = partialCoefficient[k];
        laneGain[laneOf[k]] = partialGain[k];
    }

    // One vector of four partials at a time through the whole block, its
    // states in registers; each step's sum per lane collects per group and
    // the lanes are added up once at the end.
    const uint32_t steps = (frames + kStep - 1) / kStep;
    for (uint32_t g = 0; g < kGroups; ++g) {
        float4 sums[kBlock / kStep];
        for (uint32_t t = 0; t < steps; ++t) sums[t] = splat4(0.0f);
        for (uint32_t v = kGroupStart[g]; v < kGroupStart[g + 1]; ++v) {
            float4 x = load4(partialX + 4 * v), y = load4(partialY + 4 * v);
            const float4 c = load4(laneCoefficient + 4 * v), gain = load4(laneGain + 4 * v);
            for (uint32_t t = 0; t < steps; ++t) {
                x = x - c * y;
                y = y + c * x;
                sums[t] += gain * y;
            }
            store4(partialX + 4 * v, x);
            store4(partialY + 4 * v, y);
        }
        float* out = groupBuffer[g];
        for (uint32_t i = 0; i < kBlock; i += 4) store4(out + i, splat4(0.0f));
        for (uint32_t t = 0; t < steps; ++t) out[t * kStep] = hsum(sums[t]);
    }

    for (uint32_t g = 0; g < kGroups; ++g) envelopes[g].applyQuarticGain(groupBuffer[g], volume[g]);
    for (uint32_t i = 0; i < frames; ++i)
        row[i] += outputFilter.tickCascade((groupBuffer[0][i] + groupBuffer[1][i]) + (groupBuffer[2][i] + groupBuffer[3][i]));

    const bool first = started;
    started = false;
    return first;
}
