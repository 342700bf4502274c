// The engine of a track that plays nothing: its page says so, it has no
// voices, and its only parameter is "track volume".
#pragma once

#include "engines/SynthVoiceCommon.h"

class NoneCommon : public SynthVoiceCommon {
public:
    NoneCommon();

    void drawOverview(MonoGFX& gfx, uint32_t pageA, uint32_t pageB, int x, int y) override;
    uint32_t envSlots() const override { return 0; }
};
