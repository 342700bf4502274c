// One of the quad engine's four sub-engines: a kind (kick, snare, ratchet,
// metal, sample, two samples, saw stack, FM, or the silent "physical"), its
// eighteen parameters named with the slot's number ("1 volume", "3 freq")
// and the three page places its kind shows under "volume".
#pragma once

#include "parameters/ParameterFloat.h"
#include "parameters/ParameterFraction.h"
#include "parameters/ParameterInt.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum MiniEngineType : uint32_t {
    MiniNone = 0,
    MiniKick = 1,
    MiniSnare = 2,
    MiniRatchet = 3,
    MiniMetal = 4,
    MiniSample = 5,
    MiniDoubleSample = 6,
    MiniSawStack = 7,
    MiniPhysical = 8,
    MiniFM = 9,
};
constexpr uint32_t kMiniEngineTypes = 10;

// The kind of a name; MiniNone for a name no kind has. Real-time safe.
MiniEngineType miniEngineTypeFromName(std::string_view name);
// The kinds a type parameter offers, in choice order ("physical" is not one).
const std::vector<std::string>& offeredMiniEngineNames();
// The overview icon of a kind.
uint32_t miniEngineIcon(uint32_t kind);

class MiniEngine {
public:
    static constexpr uint32_t kPageSlots = 4;
    static constexpr uint32_t kParameters = 18;

    explicit MiniEngine(uint32_t slot);
    MiniEngine(const MiniEngine&) = delete;
    MiniEngine& operator=(const MiniEngine&) = delete;

    // Points the page places at the kind's parameters; values and sounding
    // voices are left alone. An unknown kind shows nothing.
    void setType(uint32_t kind);
    void setTypeByName(std::string_view name);
    MiniEngineType kind() const { return MiniEngineType(type.load(std::memory_order_acquire)); }
    // In table order: volume, rate, freq, detune, ... FM envelope.
    std::array<Parameter*, kParameters> all();

    std::array<std::atomic<Parameter*>, kPageSlots> pageParameters{};
    ParameterFloat volume;
    ParameterFraction rate;
    ParameterFloat freq;
    ParameterFloat detune;
    ParameterFloat snap;
    ParameterFloat snapDecay;
    ParameterFloat toneNoise;
    ParameterFloat noiseDecay;
    ParameterFloat ratchet;
    ParameterFloat color;
    ParameterInt samples;
    ParameterInt samples2;
    ParameterFloat feedback;
    ParameterFloat damping;
    ParameterInt polarity;
    ParameterFraction ratio;
    ParameterFloat fmAmount;
    ParameterInt fmEnvelope;
    uint32_t slotIndex;
    std::atomic<uint32_t> type{MiniNone};

private:
    // "1 volume" for slot 0: the number, one blank, the name.
    void _prefixNames();
};
