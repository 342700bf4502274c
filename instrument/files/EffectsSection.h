// "effects": an effect chain, a track's or the master output chain.
#pragma once

#include "instrument/FileVersion.h"

#include <nlohmann/json.hpp>

class EffectChain;
class ModulationManager;
class TrackFiles;

void writeEffectsSection(nlohmann::json& document, EffectChain& chain);
// An "effects" that is not an array changes nothing. Entries of unknown
// types and entries past the chain's room are skipped; a JSON error raises.
void readEffectsSection(nlohmann::json& document, EffectChain& chain, ModulationManager* manager,
                        const FileVersion& version);
void readTrackEffectsSection(nlohmann::json& document, TrackFiles& track, const FileVersion& version);
