#include "engines/additive/AdditiveCommon.h"

#include "dsp/WaveTable.h"
#include "engines/SynthEngineType.h"
#include "gui/MonoGFX.h"

#include <cmath>

namespace {
constexpr ParameterFlags kAllFour = XYMorph | Stored | Smoothed | PerChannel;
}  // namespace

AdditiveCommon::AdditiveCommon()
    : volume{{"1 volume", ParameterFloat::Decibels, kAllFour, 0.0f, -96.0f, 6.0f},
             {"2 volume", ParameterFloat::Decibels, kAllFour, 0.0f, -96.0f, 6.0f},
             {"3 volume", ParameterFloat::Decibels, kAllFour, 0.0f, -96.0f, 6.0f},
             {"4 volume", ParameterFloat::Decibels, kAllFour, 0.0f, -96.0f, 6.0f}},
      partials("partials", ParameterInt::PlainInt, XYMorph | Stored | PerChannel, 32, 1, 32),
      oddSpace("odd space", ParameterFloat::Percent, kAllFour, 1.0f, 0.0f, 2.0f),
      evenSpace("even space", ParameterFloat::Percent, kAllFour, 1.0f, 0.0f, 2.0f),
      peak("peak", ParameterFloat::Percent, kAllFour, 0.0f, 0.0f, 1.0f),
      comb("comb filt.", ParameterFloat::Percent, kAllFour, 1.0f, 0.0f, 1.0f),
      scatter("scatter", ParameterFloat::Milliseconds, XYMorph | Stored, 0.0f, 0.0f, 2500.0f) {
    engineType = EngineAdditive;
    parameters.setName(engineTypeName(EngineAdditive));
    settingsGroup.setName(engineTypeName(EngineAdditive));

    for (auto& p : volume) parameters.add(&p);
    for (Parameter* p : {static_cast<Parameter*>(&partials), static_cast<Parameter*>(&peak),
                         static_cast<Parameter*>(&comb), static_cast<Parameter*>(&oddSpace),
                         static_cast<Parameter*>(&evenSpace), static_cast<Parameter*>(&scatter)})
        parameters.add(p);

    const std::array<Parameter*, kExposed> places = {&volume[0], &volume[1], &volume[2], &volume[3],
                                                     &partials,  nullptr,    &oddSpace,  &evenSpace,
                                                     &peak,      &comb,      &scatter,   &detune,
                                                     nullptr,    nullptr,    nullptr,    nullptr};
    for (uint32_t i = 0; i < kExposed; ++i) exposedParameters[i] = places[i];
    // The base's envelope times (10, 0 and 200 ms) are this engine's too.
    envSlotNames = {"env 1", "env 2", "env 3", "env 4"};
    selectEnvSlot(0);
}

AdditiveCommon::~AdditiveCommon() = default;

float AdditiveCommon::partialAmplitude(uint32_t k, float combStep, float peakIndex) {
    float p = float(k) * combStep + 0.25f;
    p -= std::trunc(p);
    const float w = std::fabs(DSP::wavetable.sine(p));
    return w / (std::fabs(peakIndex - float(k)) + 1.0f);
}

void AdditiveCommon::drawOverview(MonoGFX& gfx, uint32_t pageA, uint32_t pageB, int x, int y) {
    (void)pageA;
    (void)pageB;
    const float combStep = (1.0f - comb.getValue()) * 0.2f, peakIndex = peak.getValue() * 31.0f;
    for (uint32_t k = 0; k < kPartials; ++k) amplitude[k] = partialAmplitude(k, combStep, peakIndex);

    gfx.setFont(&font_default, 1, 0);
    gfx.setColour(8);
    gfx.setTextMode(1);
    gfx.drawText(x + 44, y, "additive");
    gfx.setTextMode(0);

    gfx.setColour(4);
    gfx.setDotted(true);
    gfx.drawRect(x, y + 10, x + 44, y + 40);
    gfx.setDotted(false);

    gfx.setColour(15);
    const int32_t count = partials.value.load(std::memory_order_relaxed);
    const float odd = oddSpace.getValue(), even = evenSpace.getValue();
    for (int32_t k = 0; k < count && k < int32_t(kPartials); ++k) {
        // 0 dB on the frame's top line, -96 dB (and silence) on its bottom one.
        const float level = std::log10(amplitude[k]) * 0.20833334f;
        const uint32_t drop = level >= -1.0f ? uint32_t(-(level * 30.0f)) : 30u;
        const float column = std::round(float(k) * ((k & 1) ? even : odd));
        if (!(column >= 0.0f && column <= 44.0f)) continue;
        gfx.setPixel(x + int(column), y + 10 + int(drop));
    }
}
