#include "instrument/files/SequencerSection.h"

#include "instrument/files/FileTargets.h"
#include "instrument/files/PartFile.h"
#include "parameters/ParameterGroup.h"
#include "parameters/ParameterInt.h"

using json = nlohmann::json;

void writeSequencerSection(json& document, TrackFiles& track) {
    json section = json::object();
    track.sequencerGroup().toJson(section);
    document[PartFile::kSequencerKey] = std::move(section);
}

void readSequencerSection(json& document, TrackFiles& track, const FileVersion& version) {
    track.resetSequencer();
    ParameterGroup& group = track.sequencerGroup();
    group.fromJson(document.at(PartFile::kSequencerKey), track.modulationManager(), version);
    if (auto* pattern = dynamic_cast<ParameterInt*>(group.find("pattern")))
        track.selectPattern(pattern->value.load(std::memory_order_acquire), false);
}
