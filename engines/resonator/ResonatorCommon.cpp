#include "engines/resonator/ResonatorCommon.h"

#include "engines/SynthEngineType.h"
#include "gui/MonoGFX.h"
#include "samples/SamplePool.h"

#include <cfloat>

namespace {
constexpr ParameterFlags kAllFour = XYMorph | Stored | Smoothed | PerChannel;
}  // namespace

ResonatorCommon::ResonatorCommon()
    : noiseVolume("noise vol", ParameterFloat::Decibels, kAllFour, 0.0f, -96.0f, 6.0f),
      // No maximum of their own: the frequency range's 19000 Hz holds.
      noiseFilter("noise filt", ParameterFloat::Hertz, kAllFour, 2000.0f, 10.0f, FLT_MAX),
      ratchet("ratchet", ParameterFloat::Percent, kAllFour, 0.0f, 0.0f, 1.0f),
      sampleVolume("smp vol", ParameterFloat::Decibels, kAllFour, 0.0f, -96.0f, 18.0f),
      sampleFilter("smp filt", ParameterFloat::Hertz, kAllFour, 2000.0f, 10.0f, FLT_MAX),
      samples("samples", ParameterInt::ChoiceMode, Stored, 0),
      dampening("dampening", ParameterFloat::Percent, kAllFour, 0.0f, 0.0f, 1.0f),
      bitDepth("bit depth", ParameterInt::PlainInt, XYMorph | Stored | PerChannel, 32, 4, 32),
      posNeg("pos/neg", ParameterFloat::Percent, kAllFour, 0.0f, 0.0f, 1.0f),
      posDecay("pos decay", ParameterFloat::Percent, kAllFour, 0.8f, 0.0f, 1.0f),
      negDecay("neg decay", ParameterFloat::Percent, kAllFour, 0.9f, 0.0f, 1.0f) {
    engineType = EngineResonator;
    parameters.setName(engineTypeName(EngineResonator));
    settingsGroup.setName(engineTypeName(EngineResonator));

    for (Parameter* p :
         {static_cast<Parameter*>(&noiseVolume), static_cast<Parameter*>(&noiseFilter),
          static_cast<Parameter*>(&ratchet), static_cast<Parameter*>(&sampleVolume),
          static_cast<Parameter*>(&sampleFilter), static_cast<Parameter*>(&samples),
          static_cast<Parameter*>(&dampening), static_cast<Parameter*>(&posNeg), static_cast<Parameter*>(&posDecay),
          static_cast<Parameter*>(&negDecay), static_cast<Parameter*>(&bitDepth)})
        parameters.add(p);

    const std::array<Parameter*, kExposed> places = {&noiseVolume, &sampleVolume, &posDecay, &negDecay,
                                                     &noiseFilter, &sampleFilter, &dampening, &posNeg,
                                                     &ratchet,     &samples,      &bitDepth,  &detune,
                                                     nullptr,      nullptr,       nullptr,    nullptr};
    for (uint32_t i = 0; i < kExposed; ++i) exposedParameters[i] = places[i];

    const float times[2][3] = {{0.0f, 0.0f, 100.0f}, {10.0f, 50.0f, 100.0f}};
    for (uint32_t i = 0; i < 2; ++i) {
        envAttack[i].setDefault(times[i][0]);
        envHold[i].setDefault(times[i][1]);
        envDecay[i].setDefault(times[i][2]);
    }
    envSlotNames = {"env nse", "env smp"};
    // The pool fills the real lists once registered.
    samples.setChoices({"none"});
    selectEnvSlot(0);
}

ResonatorCommon::~ResonatorCommon() {
    if (SamplePool* pool = DSP::samplePool.load(std::memory_order_acquire)) pool->unregisterListParameter(&samples);
}

void ResonatorCommon::registerSampleLists() {
    if (SamplePool* pool = DSP::samplePool.load(std::memory_order_acquire)) pool->registerListParameter(&samples);
}

void ResonatorCommon::drawOverview(MonoGFX& gfx, uint32_t pageA, uint32_t pageB, int x, int y) {
    (void)pageA;
    (void)pageB;
    gfx.setFont(&font_compact, 1, 0);
    gfx.setColour(8);
    gfx.setTextMode(1);
    gfx.drawText(x + 44, y, "resonator");
    gfx.setTextMode(0);
}
