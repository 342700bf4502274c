// What a track holds when no engine is chosen: no voices, a page that says
// so, and the track volume as its only parameter.
#pragma once

#include "engines/SynthVoiceCommon.h"

class NoneCommon : public SynthVoiceCommon {
public:
    NoneCommon();
    ~NoneCommon() override;

    void drawOverview(MonoGFX& gfx, uint32_t pageA, uint32_t pageB, int x, int y) override;
    uint32_t envSlots() const override { return 0; }
};
