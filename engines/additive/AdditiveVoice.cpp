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
    for (uint32_t i = 0; i < kLanes; ++i) {
        laneNumber[i] = 1000.0f;
        laneOdd[i] = 0;
        coefficientHz[i] = NAN;
    }
    uint32_t next[kGroups];
    for (uint32_t g = 0; g < kGroups; ++g) next[g] = 4 * kGroupStart[g];
    for (uint32_t k = 0; k < kPartials; ++k) {
        partialGroup[k] = groupOf(k);
        laneOf[k] = next[partialGroup[k]]++;
        laneNumber[laneOf[k]] = float(k);
        laneOdd[laneOf[k]] = (k & 1) ? -1 : 0;
    }
    for (auto& b : groupGain)
        for (float& s : b) s = 0.0f;
    const float a = std::exp(-0.00837758f);  // 2 pi x 64 / 48000: once per block
    for (Smoother* s : {&detuneSmoother, &oddSmoother, &evenSmoother}) *s = Smoother{1.0f - a, a, 0.0f};
    _resetOscillators();
}

AdditiveVoice::~AdditiveVoice() = default;

template <uint32_t Vectors>
void AdditiveVoice::runPartials(float4* sums, bool first, uint32_t lane, uint32_t steps) {
    float4 x[Vectors], y[Vectors], c[Vectors], g[Vectors];
    for (uint32_t v = 0; v < Vectors; ++v) {
        x[v] = load4(partialX + lane + 4 * v);
        y[v] = load4(partialY + lane + 4 * v);
        c[v] = load4(partialCoefficient + lane + 4 * v);
        g[v] = load4(partialGain + lane + 4 * v);
    }
    for (uint32_t t = 0; t < steps; ++t) {
        float4 add = splat4(0.0f);
        for (uint32_t v = 0; v < Vectors; ++v) {
            x[v] = x[v] - c[v] * y[v];
            y[v] = y[v] + c[v] * x[v];
            add += g[v] * y[v];
        }
        sums[t] = first ? add : sums[t] + add;
    }
    for (uint32_t v = 0; v < Vectors; ++v) {
        store4(partialX + lane + 4 * v, x[v]);
        store4(partialY + lane + 4 * v, y[v]);
    }
}

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
        for (uint32_t k = 0; k < kPartials; ++k) partialRandom[laneOf[k]] = DSP::noise.next();
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
        for (uint32_t k = 0; k < kPartials; ++k)
            partialTarget[laneOf[k]] = AdditiveCommon::partialAmplitude(k, combStep, peakIndex);
    }
    // Four partials at a time in lane order. A partial beyond "partials" or
    // at the top frequency (10000 is the first float at or above
    // 19999.999205271433 / 2) is silent.
    const float detune = detuneSmoother.state;
    const float4 one = splat4(1.0f), zero = splat4(0.0f), top = splat4(10000.0f), keepScale = splat4(0.99f);
    const float4 detune4 = splat4(detune), f4 = splat4(f), count4 = splat4(float(partialCount));
    const float4 odd4 = splat4(oddSpacing), even4 = splat4(evenSpacing);
    for (uint32_t i = 0; i < kLanes; i += 4) {
        const float4 k = load4(laneNumber + i);
        const int4 useEven = *reinterpret_cast<const int4*>(laneOdd + i);
        const float4 spacing = useEven ? even4 : odd4;
        const float4 hz = (one + load4(partialRandom + i) * detune4) * f4 * (one + k * spacing);
        const int4 live = (k < count4) & (hz < top);
        const float4 target = load4(partialTarget + i), keep = keepScale * target;
        const float4 gain = gainsFresh ? target : keep * load4(partialGain + i) + (one - keep) * target;
        store4(partialGain + i, live ? gain : zero);
        if (int4 moved = hz != load4(coefficientHz + i); moved[0] | moved[1] | moved[2] | moved[3]) {
            for (uint32_t lane = 0; lane < 4; ++lane) {
                if (!moved[lane]) continue;
                coefficientHz[i + lane] = hz[lane];
                coefficientOfHz[i + lane] = 2.0f * std::sin(float(double(hz[lane]) * 6.2831855 * double(kStep) / 96000.0));
            }
        }
        store4(partialCoefficient + i, live ? load4(coefficientOfHz + i) : zero);
    }
    gainsFresh = false;
    // The cut-off follows the last partial below "partials", dropped or not.
    const uint32_t last = uint32_t(partialCount - 1);
    const float lastHz = (1.0f + partialRandom[laneOf[last]] * detune) * f *
                         (1.0f + float(last) * ((last & 1) ? evenSpacing : oddSpacing));
    outputFilter.setCutoff(float(double(lastHz) / 48000.0));

    // The group envelopes as per-sample gains (value^4 x volume).
    for (uint32_t g = 0; g < kGroups; ++g) {
        float* gain = groupGain[g];
#pragma GCC unroll 16
        for (uint32_t i = 0; i < kBlock; i += 4) store4(gain + i, one);
        envelopes[g].applyQuarticGain(gain, volume[g]);
    }

    // The partials a vector or two at a time through the whole block, their
    // states in registers; each step's sums per lane collect per group, the
    // group gains weigh them, and the lanes are added up once per step.
    const uint32_t steps = (frames + kStep - 1) / kStep;
    float4 sums[kGroups][kBlock / kStep];
    for (uint32_t g = 0; g < kGroups; ++g) {
        bool first = true;
        for (uint32_t v = kGroupStart[g]; v < kGroupStart[g + 1]; v += 2) {
            if (v + 1 < kGroupStart[g + 1])
                runPartials<2>(sums[g], first, 4 * v, steps);
            else
                runPartials<1>(sums[g], first, 4 * v, steps);
            first = false;
        }
    }
    alignas(16) float mixed[kBlock];
    for (uint32_t i = 0; i < kBlock; i += 4) store4(mixed + i, zero);
    auto weighed = [&](uint32_t t) {
        const uint32_t i = t * kStep;
        return (splat4(groupGain[0][i]) * sums[0][t] + splat4(groupGain[1][i]) * sums[1][t]) +
               (splat4(groupGain[2][i]) * sums[2][t] + splat4(groupGain[3][i]) * sums[3][t]);
    };
    uint32_t t = 0;
    for (; t + 4 <= steps; t += 4) {
        // Four steps' lanes added up together.
        float4 a = weighed(t), b = weighed(t + 1), c = weighed(t + 2), d = weighed(t + 3);
        transpose4(a, b, c, d);
        const float4 total = (a + b) + (c + d);
        for (uint32_t j = 0; j < 4; ++j) mixed[(t + j) * kStep] = total[j];
    }
    for (; t < steps; ++t) mixed[t * kStep] = hsum(weighed(t));
    for (uint32_t i = 0; i < frames; ++i) row[i] += outputFilter.tickCascade(mixed[i]);

    const bool first = started;
    started = false;
    return first;
}
