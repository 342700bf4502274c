#include "engines/subtractive/SubtractiveCommon.h"

#include "samples/SamplePool.h"
#include "engines/SynthEngineType.h"
#include "gui/MonoGFX.h"

#include <cfloat>
#include <cmath>

namespace {
constexpr ParameterFlags kAllFour = XYMorph | Stored | Smoothed | PerChannel;
constexpr ParameterFlags kPerVoice = XYMorph | Stored | PerChannel;
constexpr float kNoMin = -FLT_MAX;
constexpr float kNoMax = FLT_MAX;
}  // namespace

SubtractiveCommon::SubtractiveCommon()
    : a("A", ParameterInt::ChoiceMode, Stored, 0),
      filtType("filt type", ParameterInt::ChoiceMode, Stored, 0),
      sourceB("B", ParameterInt::ChoiceMode, Stored, 0),
      mix("1/2 mix", ParameterFloat::Percent, kAllFour, 0.5f, kNoMin, kNoMax),
      shape1("1 shape", ParameterFloat::Percent, kAllFour, 0.25f, kNoMin, kNoMax),
      sawSquare2("2 saw/sqr", ParameterFloat::Percent, kAllFour, 0.0f, kNoMin, kNoMax),
      offset1("1 offset", ParameterFloat::Hertz, kAllFour, 0.5f, 0.01f, 20.0f),
      ratio1("1 ratio", ParameterFraction::Ratio, kAllFour, 1.0f, kNoMin, kNoMax),
      ratio2("2 ratio", ParameterFraction::Ratio, kPerVoice, 1.0f, kNoMin, kNoMax),
      filtShape("filt shape", ParameterFloat::Plain, kAllFour, 0.0f, 0.0f, 4.0f),
      filtFreq("filt freq", ParameterFloat::Hertz, kAllFour, 19000.0f, 10.0f, kNoMax),
      filtReso("filt reso", ParameterFloat::Percent, kAllFour, 0.3f, kNoMin, kNoMax),
      filtEnv("filt env", ParameterFloat::Percent, kAllFour, 0.5f, -1.0f, 1.0f),
      samples("samples", ParameterInt::ChoiceMode, kPerVoice, 0),
      volumeB("B vol", ParameterFloat::Decibels, kAllFour, -96.0f, -96.0f, 6.0f) {
    engineType = EngineSubtractive;
    parameters.setName(engineTypeName(EngineSubtractive));
    settingsGroup.setName(engineTypeName(EngineSubtractive));

    for (Parameter* p : {static_cast<Parameter*>(&a), static_cast<Parameter*>(&filtType),
                         static_cast<Parameter*>(&sourceB), static_cast<Parameter*>(&mix),
                         static_cast<Parameter*>(&shape1), static_cast<Parameter*>(&sawSquare2),
                         static_cast<Parameter*>(&offset1), static_cast<Parameter*>(&ratio1),
                         static_cast<Parameter*>(&ratio2), static_cast<Parameter*>(&filtShape),
                         static_cast<Parameter*>(&filtFreq), static_cast<Parameter*>(&filtReso),
                         static_cast<Parameter*>(&filtEnv), static_cast<Parameter*>(&volumeB),
                         static_cast<Parameter*>(&samples)})
        parameters.add(p);

    const std::array<Parameter*, kExposed> places = {&offset1,  &mix,       &filtShape,    &volumeB,
                                                     &ratio1,   &ratio2,    &filtFreq,     nullptr,
                                                     &shape1,   &sawSquare2, &filtReso,    &detune,
                                                     nullptr,   &envAttack[0], &envHold[0], &envDecay[0]};
    for (uint32_t i = 0; i < kExposed; ++i)
        exposedParameters[i] = places[i];

    const float times[kEnvelopeBanks][3] = {{0, 100, 200}, {0, 100, 200}, {0, 0, 200}, {0, 0, 200}};
    for (uint32_t i = 0; i < kEnvelopeBanks; ++i) {
        envAttack[i].setDefault(times[i][0]);
        envHold[i].setDefault(times[i][1]);
        envDecay[i].setDefault(times[i][2]);
    }
    detune.setDefault(10.0f);

    envSlotNames = {"env 1", "env 2", "env 3"};

    a.setChoices({"quad RM"});
    filtType.setChoices({"12dB SVF", "24dB LPF"});
    sourceB.setChoices({"noise", "sample"});
    // The pool fills the real lists once registered; until then "none", not
    // the switch's "false"/"true", which could name a list.
    samples.setChoices({"none"});
}

SubtractiveCommon::~SubtractiveCommon() {
    if (SamplePool* pool = DSP::samplePool.load(std::memory_order_acquire)) pool->unregisterListParameter(&samples);
}

void SubtractiveCommon::registerSampleLists() {
    if (SamplePool* pool = DSP::samplePool.load(std::memory_order_acquire)) pool->registerListParameter(&samples);
}

void SubtractiveCommon::_stepChoice(ParameterInt& p) {
    // Limited before it is stored: the voices read the slot as it changes.
    p.setValue(int32_t(p.values[p.activeSlot]) + 1, false);
    p.overridden = true;
}

void SubtractiveCommon::handleAction(int32_t key, int32_t event) {
    (void)event;
    if (key == kActionFilterType)
        _stepChoice(filtType);
    else if (key == kActionSourceB)
        _stepChoice(sourceB);
    else
        return;
    refreshEnvSlot();
}

void SubtractiveCommon::refreshEnvSlot() {
    exposedParameters[kFilterShapePlace] = filtType.value == Ladder24dB ? nullptr : &filtShape;
    exposedParameters[kSamplesPlace] = sourceB.value == SampleSource ? &samples : nullptr;
}

void SubtractiveCommon::drawOverview(MonoGFX& gfx, uint32_t pageA, uint32_t pageB, int x, int y) {
    (void)pageA;
    (void)pageB;
    gfx.setFont(&font_compact, 1, 0);
    gfx.setColour(8);
    gfx.setTextMode(1);
    gfx.drawText(x + 44, y, "subtract.");
    gfx.setTextMode(0);

    gfx.setColour(8);
    int w = gfx.drawText(x + 2, y + 11, "A: ");
    gfx.setColour(15);
    gfx.drawText(x + 2 + w, y + 11, a.toString());

    gfx.setColour(12);
    if (filtType.value == Ladder24dB) {
        gfx.drawIcon(x + 4, y + 24, 41);
        gfx.drawText(x + 16, y + 24, "24dB");
    } else {
        const float shape = filtShape.getValue();
        gfx.setColour(4);
        gfx.drawLine(x + 5, y + 24, x + 41, y + 24);
        gfx.setColour(15);
        const int p = int(lroundf(shape * 9.0f));
        gfx.drawLine(x + 5 + p, y + 23, x + 5 + p, y + 25);
        static const uint32_t icons[5] = {41, 42, 43, 44, 41};
        const long lo = lroundf(shape - 0.45f), hi = lroundf(shape + 0.45f);
        for (int i = 0; i < 5; ++i) {
            gfx.setColour(i == lo || i == hi ? 15 : 8);
            gfx.drawIcon(x + 2 + 9 * i, y + 25, icons[i]);
        }
    }

    gfx.setColour(8);
    w = gfx.drawText(x + 2, y + 34, "B: ");
    gfx.setColour(15);
    gfx.drawText(x + 2 + w, y + 34, sourceB.toString());
}
