#include "instrument/files/EffectsSection.h"

#include "effects/EffectChain.h"
#include "instrument/files/FileTargets.h"

#include <stdexcept>

using json = nlohmann::json;

void writeEffectsSection(json& document, EffectChain& chain) {
    if (chain.effectCount() == 0)
        return;
    if (document.is_null())
        document = json::object();
    chain.toJson(document);
}

void readEffectsSection(json& document, EffectChain& chain, ModulationManager* manager, const FileVersion& version) {
    // The chain inserts each entry at its current end and checks that the
    // effect exists, so one unknown or surplus entry never drops the rest.
    std::string error;
    if (!chain.fromJson(document, manager, version, &error))
        throw std::runtime_error(error);
}

void readTrackEffectsSection(json& document, TrackFiles& track, const FileVersion& version) {
    track.resetEffects(false);
    readEffectsSection(document, track.effectChain(), track.modulationManager(), version);
    track.refreshSlotChoices();
}
