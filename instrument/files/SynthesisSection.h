// "synthesis": a track's engine and its parameters, with the effects and
// either the track's own group or the sample lists the engine plays.
#pragma once

#include "instrument/FileVersion.h"

#include <nlohmann/json.hpp>

#include <string>

class TrackFiles;

void writeSynthesisSection(nlohmann::json& document, TrackFiles& track, bool alone);
void readSynthesisSection(nlohmann::json& document, TrackFiles& track, const FileVersion& version);
// The engine an instrument file names; empty when it cannot be read.
std::string instrumentEngineName(const std::string& path);
