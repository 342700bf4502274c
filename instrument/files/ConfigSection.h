// "config": the instrument's configuration (the whole of "corvane.json").
#pragma once

#include "instrument/FileVersion.h"

#include <nlohmann/json.hpp>

void writeConfigSection(nlohmann::json& document);
void readConfigSection(nlohmann::json& document, const FileVersion& version);
