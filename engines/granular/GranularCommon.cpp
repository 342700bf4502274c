#include "engines/granular/GranularCommon.h"

#include "engines/SynthEngineType.h"
#include "gui/MonoGFX.h"
#include "samples/SamplePool.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace {
constexpr ParameterFlags kMorphStored = XYMorph | Stored;
constexpr ParameterFlags kPerVoice = XYMorph | Stored | PerChannel;
constexpr int kSquare = 28;           // pixels across the feature square
constexpr uint32_t kBusyIcon = 7;

// Pixel of a float coordinate: truncated, negative gives 0, too large saturates.
int pixel(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 4294967295.0f) return int(INT32_MAX);
    const uint32_t u = uint32_t(v);
    return u > uint32_t(INT32_MAX) ? int(INT32_MAX) : int(u);
}
int nearest(float v) { return int(std::lround(v)); }
}  // namespace

GranularCommon::GranularCommon()
    : volume("volume", ParameterFloat::Decibels, XYMorph | Stored | Smoothed | PerChannel, 12.0f, -96.0f, 36.0f),
      samples("samples", ParameterInt::ChoiceMode, kMorphStored, 0),
      loudness("loudness", ParameterFloat::Percent, kPerVoice, 0.5f, 0.0f, 1.0f),
      brightness("brightness", ParameterFloat::Percent, kPerVoice, 0.5f, 0.0f, 1.0f),
      variation("variation", ParameterFloat::Percent, kPerVoice, 0.0f, 0.0f, 1.0f),
      offset("offset", ParameterFloat::Milliseconds, kPerVoice, 0.0f, -2000.0f, 2000.0f),
      ratio("ratio", ParameterFraction::Ratio, kPerVoice, 1.0f, 48.0f, 48.0f),
      envShape("env shape", ParameterFloat::Plain, kPerVoice, 0.6f, 0.0f, 1.0f) {
    engineType = EngineGranular;
    parameters.setName(engineTypeName(EngineGranular));
    settingsGroup.setName(engineTypeName(EngineGranular));

    for (Parameter* p : {static_cast<Parameter*>(&loudness), static_cast<Parameter*>(&brightness),
                         static_cast<Parameter*>(&samples), static_cast<Parameter*>(&variation),
                         static_cast<Parameter*>(&offset), static_cast<Parameter*>(&envShape),
                         static_cast<Parameter*>(&volume), static_cast<Parameter*>(&ratio)})
        parameters.add(p);

    const std::array<Parameter*, kExposed> places = {&loudness,  &offset,   nullptr,  &volume,
                                                     &brightness, &envShape, nullptr,  &ratio,
                                                     &variation, &samples,  nullptr,  &detune,
                                                     nullptr,    &envAttack[0], &envHold[0], &envDecay[0]};
    for (uint32_t i = 0; i < kExposed; ++i) exposedParameters[i] = places[i];

    envAttack[kGrainWindow].setDefault(50.0f);
    envAttack[kGrainWindow].setMax(kMaxGrainTime);
    envHold[kGrainWindow].setMin(kMinGrainHold);
    envHold[kGrainWindow].setDefault(50.0f);
    envHold[kGrainWindow].setMax(kMaxGrainTime);
    envDecay[kGrainWindow].setDefault(50.0f);
    envDecay[kGrainWindow].setMax(kMaxGrainTime);
    envAttack[kAmplitude].setDefault(10.0f);
    envHold[kAmplitude].setDefault(250.0f);
    envDecay[kAmplitude].setDefault(750.0f);
    envSlotNames = {"grain", "env amp"};
    // The pool fills the real lists once registered.
    samples.setChoices({"none"});
    selectEnvSlot(0);
}

GranularCommon::~GranularCommon() {
    if (SamplePool* pool = DSP::samplePool.load(std::memory_order_acquire)) pool->unregisterListParameter(&samples);
}

void GranularCommon::registerSampleLists() {
    if (SamplePool* pool = DSP::samplePool.load(std::memory_order_acquire)) pool->registerListParameter(&samples);
}

float GranularCommon::previewBend(float v, float shape) {
    const float c = std::clamp(shape, 0.05f, 0.95f);
    return v < 1.0f - c ? v * c / (1.0f - c) : 1.0f + (v - 1.0f) * (1.0f - c) / c;
}

void GranularCommon::drawOverview(MonoGFX& gfx, uint32_t pageA, uint32_t pageB, int x, int y) {
    (void)pageA;
    (void)pageB;
    gfx.setFont(&font_compact, 1, 0);
    gfx.setColour(8);
    gfx.setTextMode(3);
    gfx.drawText(x + 2, y + 38, "granular");
    gfx.setTextMode(0);

    const int left = x + 14, top = y + 1;
    gfx.setColour(4);
    gfx.drawRect(x + 13, y, x + 43, y + 30);
    gfx.setClip(left, top, x + 42, y + 29);
    const float a = loudness.getValue(), b = brightness.getValue();
    const int cx = pixel(float(left) + a * kSquare), cy = pixel(float(top) + (1.0f - b) * kSquare);
    gfx.setColour(2);
    gfx.fillCircle(cx, cy, nearest(variation.getValue() * kSquare));
    gfx.resetClip();
    gfx.setColour(8);
    gfx.drawLine(cx, y, cx, y + 30);
    gfx.drawLine(x + 13, cy, x + 43, cy);

    const SamplePool* pool = DSP::samplePool.load(std::memory_order_acquire);
    const AudioSampleGroup* group = pool ? pool->findGroup(samples.choiceName(samples.values[samples.activeSlot])) : nullptr;
    if (group) {
        if (group->dirty.load(std::memory_order_acquire)) {
            gfx.setColourBlink(8, 15);
            gfx.drawIcon(x + 25, y + 11, kBusyIcon);
        } else if (auto set = group->features()) {
            // The set is an immutable snapshot: the worker replaces it whole.
            gfx.setColour(15);
            for (const KDPoint& p : set->points)
                if (p.size() >= 2)
                    gfx.setPixel(pixel(float(left) + p[0] * kSquare), pixel(float(top) + (1.0f - p[1]) * kSquare));
        }
    }

    const float at = envAttack[kGrainWindow].getValue(), h = envHold[kGrainWindow].getValue(),
                d = envDecay[kGrainWindow].getValue();
    const float total = at + h + d;
    const float shape = envShape.getValue();
    gfx.setColour(4);
    for (int i = 0; i <= kSquare; ++i) {
        const float t = float(i) * 0.035714287f;
        float v;
        if (t < at / total)
            v = t / (at / total);
        else if (t <= 1.0f - d / total)
            v = 1.0f;
        else
            v = (1.0f - t) / (d / total);
        const int column = left + i;
        gfx.drawLine(column, y + 42 - nearest(previewBend(v, shape) * 10.0f), column, y + 42);
    }
}
