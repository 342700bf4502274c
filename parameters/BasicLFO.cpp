#include "parameters/BasicLFO.h"

#include "dsp/Random.h"
#include "dsp/Utilities.h"
#include "dsp/WaveTable.h"
#include "gui/MonoGFX.h"
#include "instrument/MainClock.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {
constexpr int32_t kMaxDivision = 16;
constexpr float kMultStep = 0.5f;
// The "random" preview: one step per 8 columns.
constexpr std::array<float, 7> kPreviewSteps = {0.0f, -0.3f, 0.86f, 0.43f, -0.9f, 0.26f, -0.25f};
constexpr unsigned kMaxPictureWidth = 256;
constexpr unsigned kMaxPictureHeight = 64;

float tableSine(float q) { return DSP::wavetable.sine(q); }
}  // namespace

BasicLFO::BasicLFO(uint32_t channelCount, const std::string& targetName, const std::string& targetGroupName)
    : Modulator(channelCount, targetName, targetGroupName),
      frequency("frequency", ParameterFloat::Hertz, XYMorph | Stored | PerChannel, 1.0f, 0.001f, 100.0f),
      clockMult("clock mult", ParameterFraction::Halves, XYMorph | Stored | PerChannel, 1.0f, 16.0f, 16.0f),
      smoothing("smoothing", ParameterFloat::Hertz, XYMorph | Stored | PerChannel, 1000.0f, 0.001f, 1000.0f),
      fold("fold", ParameterFloat::Percent, XYMorph | Stored | PerChannel, 0.0f),
      shape("shape", ParameterInt::ChoiceMode, Stored | PerChannel, 0) {
    type = 1;
    parameterGroup.setName(modulatorTypeName(type));
    phasors.resize(channelCount);
    heldRandom.assign(channelCount, 0.0f);
    smoothers.resize(channelCount);
    lastPhase.assign(channelCount, 0.0f);
    // Independent random start phases per channel.
    for (Phasor& phasor : phasors)
        phasor.setPhase(std::fabs(DSP::noise.next()));
    controls[0] = &frequency;
    controls[1] = &fold;
    controls[4] = &shape;
    parameterGroup.add(&shape);
    parameterGroup.add(&fold);
    parameterGroup.add(&smoothing);
    parameterGroup.add(&frequency);
    parameterGroup.add(&clockMult);
    trig.setChoices({"-", "seq reset", "note", "sync"}, -1, false);
    shape.setChoices({"sine", "rising", "falling", "square", "random"}, -1, false);
    range.setChoices({"normal", "invert", "positive", "negative"}, -1, false);
}

float BasicLFO::syncedPhase(float multiplier, double beats) {
    double p = double(multiplier) * beats;
    p -= std::trunc(p);
    if (p < 0.0)
        p += 1.0;
    const float q = float(p);
    return q < 1.0f && q >= 0.0f ? q : 0.0f;  // rounding up to 1 wraps; NaN reads 0
}

float BasicLFO::_shaped(int32_t s, float f, float p, float held, OnePoleState& smoother) {
    float x;
    switch (s) {
    case Rising:
        x = 2.0f * p - 1.0f;
        break;
    case Falling:
        x = 1.0f - 2.0f * p;
        break;
    case Square:
        x = p <= 0.5f ? 1.0f : -1.0f;
        break;
    case RandomSteps:
        x = held;
        break;
    default: {
        // Folded sine: a small g is normalised back to full amplitude.
        const float g = std::max(2.0f * f, 0.01f);
        const float n = g < 0.25f ? tableSine(g) : 1.0f;
        return tableSine(g * tableSine(p)) / n;
    }
    }
    return smoother.step(x);
}

float BasicLFO::process(uint32_t channel, bool trigA, bool trigB) {
    Phasor& phasor = phasors[channel];
    if (_triggered(trigA, trigB))
        phasor.phase = 0.0f;
    phasor.setBlockFrequency(frequency.getModulated(channel, trigA, trigB, 0.0f));
    OnePoleState& smoother = smoothers[channel];
    smoother.setCutoff(smoothing.getModulated(channel, trigA, trigB, 0.0f));
    const float f = fold.getModulated(channel, trigA, trigB, 0.0f);

    float p;
    if (trig.value.load(std::memory_order_relaxed) == kTrigSync) {
        const float m =
            snapToDivision(kMaxDivision, clockMult.getModulated(channel, trigA, trigB, 0.0f), kMultStep);
        // "sync" follows the main clock's tempo counter, in beats.
        p = syncedPhase(m, DSP::mainClock.tempoBeats());
    } else {
        p = phasor.next();
    }

    const int32_t s = shape.getModulated(channel, trigA, trigB, 0.0f);
    if (s == RandomSteps && lastPhase[channel] - p > 0.5f)  // wrapped since the last block
        heldRandom[channel] = DSP::noise.next();
    float v = _shaped(s, f, p, heldRandom[channel], smoother);

    switch (range.value.load(std::memory_order_relaxed)) {
    case Invert:
        v = -v;
        break;
    case Positive:
        v = 0.5f * v + 0.5f;
        break;
    case Negative:
        v = 0.5f * (v - 1.0f);
        break;
    default:
        break;
    }
    lastPhase[channel] = p;
    storeOutput(channel, v);
    return v * amount.getModulated(channel, trigA, trigB, 0.0f);
}

void BasicLFO::refreshControls() {
    controls[1] = shape.value.load() == Sine ? static_cast<Parameter*>(&fold) : &smoothing;
    controls[0] = trig.value.load() == kTrigSync ? static_cast<Parameter*>(&clockMult) : &frequency;
}

void BasicLFO::_drawGFX(MonoGFX* gfx, unsigned x, unsigned y, unsigned w, unsigned h) {
    if (!gfx)
        return;
    gfx->setColour(15);
    previewSmoother.setCutoff(8.0f * std::max(float(smoothing.converted), 0.5f));
    previewSmoother.state = 0.0f;
    // A box larger than the screen is cut to it, so the loop stays short.
    w = std::min(w, kMaxPictureWidth);
    h = std::min(h, kMaxPictureHeight);
    if (w <= 2)
        return;
    const int32_t s = shape.value.load();
    const float f = fold.getValue();
    const int half = int(h / 2);
    const int centre = int(y) + half;
    int previous = centre;
    for (unsigned i = 1; i + 2 <= w; ++i) {
        const float p = float(i) / float(w);
        const float held = kPreviewSteps[std::min<size_t>(i / 8, kPreviewSteps.size() - 1)];
        const float v = _shaped(s, f, p, held, previewSmoother);
        const int row = int(lroundf(float(centre) - v * float(half)));
        gfx->drawLine(int(x + i), previous, int(x + i + 1), row);
        previous = row;
    }
}
