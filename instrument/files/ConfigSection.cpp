#include "instrument/files/ConfigSection.h"

#include "instrument/files/FileTargets.h"
#include "instrument/files/PartFile.h"
#include "parameters/ParameterGroup.h"

using json = nlohmann::json;

void writeConfigSection(json& document) {
    ParameterGroup* group = fileTargets().config;
    if (!group)
        return;
    json section = json::object();
    group->toJson(section);
    document[PartFile::kConfigKey] = std::move(section);
}

void readConfigSection(json& document, const FileVersion& version) {
    if (ParameterGroup* group = fileTargets().config)
        group->fromJson(document.at(PartFile::kConfigKey), nullptr, version);
}
