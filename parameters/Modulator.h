// The abstract modulation source that parameters read per voice channel.
// Kinds derive from it; they are created only by the track's
// ModulationManager and held by shared pointers.
#pragma once

#include "instrument/FileVersion.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterGroup.h"
#include "parameters/ParameterInt.h"
#include "parameters/Relaxed.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class MonoGFX;

using ModulatorType = uint32_t;

// "none" for 0 and every value that names no kind.
std::string modulatorTypeName(ModulatorType type);
// Exact, case-sensitive; 0 when nothing matches.
ModulatorType modulatorTypeFromName(const std::string& name);

// Recent outputs of one channel for the page's scope: a ring filled in
// descending index order, the newest at writeIndex. The page reads it while
// the audio thread writes (a scope may mix two blocks), so the words are
// relaxed atomics.
struct ModulatorHistory {
    static constexpr int32_t kSize = 20;
    Relaxed<int32_t> writeIndex{0};
    std::array<Relaxed<float>, kSize> values{};
};

class Modulator {
public:
    static constexpr unsigned kControls = 6;
    // Panel slots: 0..2 for encoders 29..31, 3..5 for buttons 5, 10, 15.
    static constexpr unsigned kFirstEncoder = 29;

    Modulator(uint32_t channelCount, const std::string& targetName, const std::string& targetGroupName);
    virtual ~Modulator();
    Modulator(const Modulator&) = delete;
    Modulator& operator=(const Modulator&) = delete;

    // Audio thread: the value for one voice channel in the current block;
    // channel < channelCount (Parameter::getModulated checks it).
    virtual float process(uint32_t channel, bool trigA, bool trigB) = 0;
    // Re-points the panel slots to fit the current choices.
    virtual void refreshControls() {}
    // A picture of the kind's shape in the box; the base draws nothing.
    virtual void _drawGFX(MonoGFX* gfx, unsigned x, unsigned y, unsigned w, unsigned h) {}

    // Audio thread: the channel's value for the block `block` of the
    // parameter it is attached to. The kind runs at most once per block and
    // channel, however often the parameter is read; a restart that comes
    // with a later read of the same block runs it again, so a note that
    // starts there still restarts it.
    float step(uint32_t channel, bool trigA, bool trigB, uint32_t block) {
        const bool restart = _triggered(trigA, trigB);
        BlockStep& s = steps_[channel];
        if (s.block != block || (restart && !s.restarted)) {
            s.value = process(channel, trigA, trigB);
            s.block = block;
            s.restarted = restart;
        }
        return s.value;
    }

    // Records the channel's new output for the scope; returns it.
    float storeOutput(uint32_t channel, float value);

    // "modulator type" and the group's stored parameters.
    void toJson(nlohmann::json& j);
    void fromJson(nlohmann::json& j, ModulationManager* manager, FileVersion version);

    // Header, channel scopes, choice row and picture (interface task).
    void drawPage(MonoGFX* g, uint32_t x, uint32_t y);

    std::string typeName() const { return modulatorTypeName(type); }

    // Read by the interface task while a button press re-points them.
    std::array<Relaxed<Parameter*>, kControls> controls{};
    ParameterGroup parameterGroup;
    ModulatorType type = 0;
    // Its place in a chain: 1 on a track's own control, one more for each
    // modulator whose control it sits on. Set once, when it is attached.
    uint32_t nesting = 1;
    uint32_t channelCount = 0;
    std::string targetName;
    std::string targetGroupName;
    ParameterInt trig;
    ParameterInt range;
    ParameterFloat amount;
    std::vector<float> outputs;
    std::vector<ModulatorHistory> history;
    std::vector<Relaxed<bool>> written;
    std::vector<uint32_t> storeCounts;

protected:
    struct BlockStep {
        uint32_t block = 0;  // no parameter's block count is 0
        bool restarted = false;
        float value = 0.0f;
    };
    std::vector<BlockStep> steps_;

    // A trigger restarts the kind when the flag its "trig" choice names is set.
    bool _triggered(bool trigA, bool trigB) const {
        const int32_t t = trig.value.load(std::memory_order_relaxed);
        return (trigA && t == kTrigSeqReset) || (trigB && t == kTrigNote);
    }
    static constexpr int32_t kTrigSeqReset = 1;
    static constexpr int32_t kTrigNote = 2;
};
