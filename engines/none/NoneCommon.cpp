#include "engines/none/NoneCommon.h"

#include "engines/SynthEngineType.h"
#include "gui/MonoGFX.h"

NoneCommon::NoneCommon() {
    engineType = EngineNone;
    parameters.setName(engineTypeName(EngineNone));
    settingsGroup.setName(engineTypeName(EngineNone));
    for (auto& place : exposedParameters) place = nullptr;
    parameters.clear();
    parameters.add(&trackVolume);
}

NoneCommon::~NoneCommon() = default;

void NoneCommon::drawOverview(MonoGFX& gfx, uint32_t pageA, uint32_t pageB, int x, int y) {
    (void)pageA;
    (void)pageB;
    gfx.setFont(&font_compact, 1, 0);
    gfx.setColour(8);
    gfx.drawText(x + 2, y, "no synth");
    gfx.setColourBlink(4, 8);
    gfx.drawText(x + 2, y + 10, "edit+track");
}
