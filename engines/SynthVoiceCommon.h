// The per-track half of a sound engine: its parameters, the sixteen places
// of its page, its envelope slots and its settings. The voices of the track
// read the parameters once per block.
#pragma once

#include "instrument/Settings.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterGroup.h"
#include "parameters/ParameterInt.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class MonoGFX;

// Times of one envelope slot for the page's envelope graph.
struct EnvelopeInfo {
    float attack = 0.0f;
    float hold = 0.0f;
    float decay = 0.0f;
    float extra = 0.0f;
};

class SynthVoiceCommon {
public:
    static constexpr uint32_t kExposed = 16;
    static constexpr uint32_t kEnvelopeBanks = 4;
    // The page places that follow the selected envelope slot.
    static constexpr uint32_t kEnvAttackPlace = 13;

    SynthVoiceCommon();
    virtual ~SynthVoiceCommon();
    SynthVoiceCommon(const SynthVoiceCommon&) = delete;
    SynthVoiceCommon& operator=(const SynthVoiceCommon&) = delete;

    virtual void registerSampleLists() {}
    // pageA and pageB come from the track page; engines here ignore them.
    virtual void drawOverview(MonoGFX& gfx, uint32_t pageA, uint32_t pageB, int x, int y) = 0;
    virtual void handleAction(int32_t key, int32_t event) {
        (void)key;
        (void)event;
    }
    virtual void selectEnvSlot(uint32_t slot);
    // Audio thread, once per block for the track's current engine.
    virtual void controlTick() {}
    virtual void refreshEnvSlot() { selectEnvSlot(selectedEnvSlot); }
    virtual uint32_t envSlots() const = 0;
    // One record per slot below envSlots(); returns envSlots().
    virtual uint32_t envInfo(std::array<EnvelopeInfo, kEnvelopeBanks>& out);

    void morphXY(float x, float y) { parameters.morphXY(x, y); }
    void storeSnapshot(unsigned slot) { parameters.storeSnapshot(slot); }
    void resetSnapshots() { parameters.resetSnapshots(); }
    void updateBlock() { parameters.updateBlock(); }
    // -1: every XY-morph member; 0..15: that page place when it morphs;
    // anything else (the effect rows' indices) does nothing here.
    void clearOverrides(int32_t index);

    // The page's sixteen places; rewritten by page actions on the audio thread
    // while the interface task draws them, so each place is one atomic word.
    std::array<std::atomic<Parameter*>, kExposed> exposedParameters{};
    ParameterGroup parameters;
    std::vector<std::string> envSlotNames;
    ParameterFloat trackVolume;
    ParameterFloat auxSend;
    ParameterFloat detune;
    ParameterFloat slide;
    ParameterInt polyphony;
    ParameterInt unison;
    ParameterInt oscRetrig;
    uint32_t engineType = 0;
    float maxEnvelopeTime = 60000.0f;
    // Members, not arrays: a parameter has no default constructor and each
    // needs its own name.
    ParameterFloat envAttack[kEnvelopeBanks];
    ParameterFloat envHold[kEnvelopeBanks];
    ParameterFloat envDecay[kEnvelopeBanks];
    SettingsGroup settingsGroup;
    uint32_t selectedEnvSlot = 0;
};
