// "morph": the motion recorder's recordings.
#pragma once

#include <nlohmann/json.hpp>

void writeMorphSection(nlohmann::json& document);
void readMorphSection(nlohmann::json& document);
