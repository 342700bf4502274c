#include "parameters/Modulator.h"

#include <array>

namespace {
constexpr const char* kTypeKey = "modulator type";
// Index = ModulatorType.
constexpr std::array<const char*, 5> kTypeNames = {"none", "LFO", "AD env", "random", "offset"};
}  // namespace

std::string modulatorTypeName(ModulatorType type) {
    return type < kTypeNames.size() ? kTypeNames[type] : kTypeNames[0];
}

ModulatorType modulatorTypeFromName(const std::string& name) {
    // Matched in this order, as older code did.
    static constexpr std::array<ModulatorType, 4> order = {2, 1, 3, 4};
    for (ModulatorType t : order)
        if (name == kTypeNames[t])
            return t;
    return 0;
}

Modulator::Modulator(uint32_t channelCount, const std::string& targetName, const std::string& targetGroupName)
    : channelCount(channelCount), targetName(targetName), targetGroupName(targetGroupName) {
    parameterGroup.ownerName.assign(1, '/');  // a modulator has no track name
}

Modulator::~Modulator() = default;

void Modulator::toJson(nlohmann::json& j) {
    j[kTypeKey] = typeName();
    parameterGroup.toJson(j);
}

void Modulator::fromJson(nlohmann::json& j, ModulationManager* manager, FileVersion version) {
    parameterGroup.fromJson(j, manager, version);
}
