#include "engines/modular/ModularCommon.h"

#include "engines/SynthEngineType.h"
#include "gui/MonoGFX.h"

#include <cmath>

namespace {
constexpr ParameterFlags kMorphStored = XYMorph | Stored;
}  // namespace

ModularCommon::ModularCommon()
    : cvOut{{"CV out 9", ParameterFloat::Plain, kMorphStored, 0.0f, 0.0f, 4.0f},
            {"CV out 10", ParameterFloat::Plain, kMorphStored, 0.0f, 0.0f, 4.0f},
            {"CV out 11", ParameterFloat::Plain, kMorphStored, 0.0f, 0.0f, 4.0f},
            {"CV out 12", ParameterFloat::Plain, kMorphStored, 0.0f, 0.0f, 4.0f},
            {"CV out 13", ParameterFloat::Plain, kMorphStored, 0.0f, 0.0f, 4.0f},
            {"CV out 14", ParameterFloat::Plain, kMorphStored, 0.0f, 0.0f, 4.0f},
            {"CV out 15", ParameterFloat::Plain, kMorphStored, 0.0f, 0.0f, 4.0f},
            {"CV out 16", ParameterFloat::Plain, kMorphStored, 0.0f, 0.0f, 4.0f}},
      gateLength("gate length", ParameterFloat::Milliseconds, kMorphStored, 20.0f, 10.0f, 60000.0f) {
    engineType = EngineModular;
    parameters.setName(engineTypeName(EngineModular));
    settingsGroup.setName(engineTypeName(EngineModular));
    for (auto& p : cvOut) parameters.add(&p);
    parameters.add(&gateLength);
    polyphony.setMax(kMaxVoices);

    for (auto& place : exposedParameters) place = nullptr;
    for (uint32_t i = 0; i < kCvOuts; ++i) exposedParameters[i] = &cvOut[i];
    exposedParameters[8] = &gateLength;
    exposedParameters[11] = &detune;
}

ModularCommon::~ModularCommon() = default;

void ModularCommon::controlTick() {
    if (sendToggle) {
        if (OSCV* client = Driver::oscv.load(std::memory_order_acquire); client && client->isConnected()) {
            int32_t levels[kCvOuts];
            for (uint32_t i = 0; i < kCvOuts; ++i) levels[i] = int32_t(std::lround(cvOut[i].getValue() * 1000.0f));
            client->sendCvOuts(kFirstCvOut, levels);
        }
    }
    sendToggle ^= 1u;
}

void ModularCommon::drawOverview(MonoGFX& gfx, uint32_t pageA, uint32_t pageB, int x, int y) {
    (void)pageA;
    (void)pageB;
    gfx.setFont(&font_default, 1, 0);
    gfx.setColour(8);
    gfx.setTextMode(1);
    gfx.drawText(x + 44, y, "modular");
    gfx.setColour(15);
    gfx.setFont(&font_compact, 1, 0);
    const OSCV* client = Driver::oscv.load(std::memory_order_acquire);
    gfx.drawText(x + 44, y + 12, client && client->isConnected() ? "connected" : "...");
    gfx.setTextMode(0);
}
