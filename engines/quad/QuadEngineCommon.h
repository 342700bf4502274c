// The quad engine of a track: four sub-engines of selectable kinds side by
// side, one per pulse lane (lane k plays sub-engine k + 1). Each column of
// the page shows one sub-engine's "volume" and two parameters of its kind;
// envelope k belongs to sub-engine k + 1. QuadEngineVoice plays the notes.
#pragma once

#include "engines/SynthVoiceCommon.h"
#include "engines/quad/MiniEngine.h"

#include <array>
#include <atomic>
#include <cstdint>

class QuadEngineCommon : public SynthVoiceCommon {
public:
    static constexpr uint32_t kSubEngines = 4;
    // Actions that open the editor of "1 type" .. "4 type".
    static constexpr int32_t kFirstTypeAction = 10;
    // Selected page indices above this highlight the envelope slot's column.
    static constexpr uint32_t kLastEncoderIndex = 27;

    QuadEngineCommon();
    ~QuadEngineCommon() override;

    void registerSampleLists() override;
    // pageB is the selected page index.
    void drawOverview(MonoGFX& gfx, uint32_t pageA, uint32_t pageB, int x, int y) override;
    void handleAction(int32_t key, int32_t event) override;
    // Applies the four type texts to the page (not the envelope slot's places).
    void refreshEnvSlot() override;
    uint32_t envSlots() const override { return kSubEngines; }

    // Places 0..11: row r of column c is sub-engine c's page slot r.
    void mapEncoders();

    std::array<MiniEngine, kSubEngines> subEngines{MiniEngine(0), MiniEngine(1), MiniEngine(2), MiniEngine(3)};
    std::array<ParameterInt, kSubEngines> typeParameters;
    // The type values last applied by the overview.
    std::array<std::atomic<int32_t>, kSubEngines> appliedTypes{};

private:
    // The type parameter's current value as its choice maps it.
    int32_t _typeValue(uint32_t i) const;
};
