// The abstract modulation source that parameters read per voice channel.
// Kinds derive from it; they are created only by the track's
// ModulationManager and held by shared pointers.
#pragma once

#include "instrument/FileVersion.h"
#include "parameters/ParameterGroup.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

using ModulatorType = uint32_t;

// "none" for 0 and every value that names no kind.
std::string modulatorTypeName(ModulatorType type);
// Exact, case-sensitive; 0 when nothing matches.
ModulatorType modulatorTypeFromName(const std::string& name);

class Modulator {
public:
    Modulator(uint32_t channelCount, const std::string& targetName, const std::string& targetGroupName);
    virtual ~Modulator();
    Modulator(const Modulator&) = delete;
    Modulator& operator=(const Modulator&) = delete;

    // Audio thread: the value for one voice channel in the current block;
    // channel < channelCount.
    virtual float process(uint32_t channel, bool trigA, bool trigB) = 0;

    // "modulator type" and the group's stored parameters.
    void toJson(nlohmann::json& j);
    void fromJson(nlohmann::json& j, ModulationManager* manager, FileVersion version);

    std::string typeName() const { return modulatorTypeName(type); }

    ParameterGroup parameterGroup;
    ModulatorType type = 0;
    uint32_t channelCount = 0;
    std::string targetName;
    std::string targetGroupName;
};
