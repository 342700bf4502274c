#include "engines/SynthEngineType.h"

namespace {
const char* const kEngineNames[kEngineTypeCount] = {
    "none", "FM", "additive", "resonator", "subtractive", "quad engine", "granular", "modular",
};

struct NamedType {
    const char* name;
    uint32_t id;
};
// Tried in this order: the track's engine switch and project files use these.
const NamedType kSelectableNames[] = {
    {"none", EngineNone},        {"quad engine", EngineQuad},     {"subtractive", EngineSubtractive},
    {"FM", EngineFM},            {"additive", EngineAdditive},    {"resonator", EngineResonator},
    {"granular", EngineGranular}, {"eurorack", EngineModular},
};
}  // namespace

const char* engineTypeName(uint32_t id) {
    return id < kEngineTypeCount ? kEngineNames[id] : kEngineNames[EngineNone];
}

uint32_t engineTypeFromName(const std::string& name) {
    for (const NamedType& n : kSelectableNames)
        if (name == n.name) return n.id;
    return EngineNone;
}

bool isSampleEngine(uint32_t id) {
    return id == EngineResonator || id == EngineSubtractive || id == EngineQuad || id == EngineGranular;
}
