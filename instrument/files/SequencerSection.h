// "sequencer": one track's sequencer settings.
#pragma once

#include "instrument/FileVersion.h"

#include <nlohmann/json.hpp>

class TrackFiles;

void writeSequencerSection(nlohmann::json& document, TrackFiles& track);
void readSequencerSection(nlohmann::json& document, TrackFiles& track, const FileVersion& version);
