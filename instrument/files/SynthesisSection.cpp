#include "instrument/files/SynthesisSection.h"

#include "engines/SynthEngineType.h"
#include "instrument/files/EffectsSection.h"
#include "instrument/files/FileTargets.h"
#include "instrument/files/PartFile.h"
#include "instrument/files/SampleGroupsSection.h"
#include "parameters/ParameterGroup.h"
#include "platform/RtPrintf.h"

#include <utility>

using json = nlohmann::json;

namespace {

constexpr const char* kEngineKey = "synth engine";
constexpr const char* kOldDataKey = "data";
constexpr const char* kQuadEngine = "quad engine";

using KeyCopies = std::initializer_list<std::pair<const char*, const char*>>;  // new key, old key

// Subtractive parameters renamed in 0.1.17.
const FileVersion kSubtractiveRenamed{"", 0, 1, 17};
const KeyCopies kSubtractiveCopies = {
    {"filt shape", "type"},    {"filt freq", "freq"},     {"filt reso", "peak"},   {"filt type", "filt model"},
    {"3 attack", "4 attack"},  {"3 hold", "4 hold"},      {"3 decay", "4 decay"},
};
const KeyCopies kQuadSampleCopies = {
    {"4 volume", "3 volume"}, {"4 rate", "3 rate"}, {"4 samples", "3 samples"},
};
const KeyCopies kAnadrumCopies = {
    {"1 volume", "kick vol"},  {"1 snap", "pitch env"},  {"1 snap dec", "pitch dec"}, {"2 volume", "snare vol"},
    {"2 tone/nse", "tone/noise"}, {"2 nse dec", "noise dec"}, {"3 volume", "clap vol"}, {"3 ratchet", "ratchet"},
    {"3 HPF", "HPF"},          {"4 volume", "hat vol"},   {"4 color", "hat color"},
};

// Copies old keys to their new names inside "synthesis". Only a saved
// parameter (an object) is copied: a missing or odd old key leaves the new
// one to its default instead of failing the whole instrument.
void copyKeys(json& synthesis, const KeyCopies& copies) {
    if (!synthesis.is_object())
        return;
    for (const auto& [to, from] : copies) {
        auto it = synthesis.find(from);
        if (it != synthesis.end() && it->is_object())
            synthesis[to] = *it;
    }
}

std::string engineName(const json& document) {
    auto synthesis = document.find(PartFile::kSynthesisKey);
    if (synthesis != document.end() && synthesis->is_object() && synthesis->contains(kEngineKey))
        return synthesis->at(kEngineKey).get<std::string>();
    return document.at(kOldDataKey).at(PartFile::kSynthesisKey).get<std::string>();
}

}  // namespace

void writeSynthesisSection(json& document, TrackFiles& track, bool alone) {
    const std::string name = track.synthesisName();
    json synthesis = json::object();
    synthesis[kEngineKey] = name;
    track.engineGroup().toJson(synthesis);
    document[PartFile::kSynthesisKey] = std::move(synthesis);
    writeEffectsSection(document, track.effectChain());
    if (alone) {
        if (isSampleEngine(engineTypeFromName(name)))
            writeSampleGroupsSection(document);
    } else {
        json group = json::object();
        track.trackGroup().toJson(group);
        document[PartFile::kTrackKey] = std::move(group);
    }
}

void readSynthesisSection(json& document, TrackFiles& track, const FileVersion& version) {
    track.resetSynthesis();
    std::string name = engineName(document);
    json& synthesis = document[PartFile::kSynthesisKey];
    if (version < firmwareVersion()) {
        if (name == "subtractive" && version < kSubtractiveRenamed) {
            copyKeys(synthesis, kSubtractiveCopies);
        } else if (name == "quadsample") {
            name = kQuadEngine;
            copyKeys(synthesis, kQuadSampleCopies);
            rt_printf("Converted [quadsample] to [quad engine]\n");
        } else if (name == "anadrum") {
            name = kQuadEngine;
            copyKeys(synthesis, kAnadrumCopies);
            rt_printf("Converted [anadrum] to [quad engine]\n");
        }
    }
    if (track.setSynthesisName(name)) {
        track.applySynthesis();
        track.engineGroup().fromJson(synthesis, track.modulationManager(), version);
        track.refreshEnvSlot();
        track.refreshSlotChoices();
    }
    auto group = document.find(PartFile::kTrackKey);
    if (group != document.end())
        track.trackGroup().fromJson(*group, nullptr, version);
}

std::string instrumentEngineName(const std::string& path) {
    json document;
    if (parseJsonFile(path, document) != LoadSuccess)
        return "";
    auto synthesis = document.is_object() ? document.find(PartFile::kSynthesisKey) : document.end();
    if (synthesis == document.end() || !synthesis->is_object())
        return "";
    auto engine = synthesis->find(kEngineKey);
    return engine != synthesis->end() && engine->is_string() ? engine->get<std::string>() : "";
}
