// The engine kinds a track can play, by id (as stored and switched) and by
// name (as shown and as the engine's parameter and settings groups are named).
#pragma once

#include <cstdint>
#include <string>

enum SynthEngineType : uint32_t {
    EngineNone = 0,
    EngineFM = 1,
    EngineAdditive = 2,
    EngineResonator = 3,
    EngineSubtractive = 4,
    EngineQuad = 5,
    EngineGranular = 6,
    EngineModular = 7,
};

constexpr uint32_t kEngineTypeCount = 8;

// "none" for an id outside the table, so a damaged word never indexes past it.
const char* engineTypeName(uint32_t id);
// The modular engine is chosen by "eurorack" although its name is "modular";
// a name outside the table gives EngineNone.
uint32_t engineTypeFromName(const std::string& name);
// Engines whose voices play from a sample list.
bool isSampleEngine(uint32_t id);
