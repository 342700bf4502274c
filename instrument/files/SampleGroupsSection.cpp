#include "instrument/files/SampleGroupsSection.h"

#include "gui/GuiNotify.h"
#include "instrument/files/FileTargets.h"
#include "instrument/files/PartFile.h"
#include "platform/RtPrintf.h"
#include "samples/AudioSampleGroup.h"

#include <stdexcept>

namespace Driver {
extern GuiNotify guiNotify;
}

using json = nlohmann::json;

namespace {
constexpr const char* kNoNameWarning = "Sample list without a name refused";
}

void writeSampleGroupsSection(json& document) {
    SampleGroupStore* store = fileTargets().sampleGroups;
    if (!store || store->groupCount() == 0)
        return;
    const std::vector<std::string> names = store->listNames();
    // The first choice is "none", no group; a list without a name could not
    // be read back.
    for (size_t i = 1; i < names.size(); ++i)
        if (AudioSampleGroup* group = names[i].empty() ? nullptr : store->getGroup(names[i], false))
            document[PartFile::kSampleGroupsKey][names[i]] = group->toJson();
}

void readSampleGroupsSection(json& document) {
    SampleGroupStore* store = fileTargets().sampleGroups;
    if (!store)
        return;
    auto source = document.find(PartFile::kSampleGroupsKey);
    if (source == document.end())
        source = document.find(PartFile::kSampleListKey);
    if (source == document.end())
        return;
    if (!source->is_object())
        throw std::runtime_error("\"sample groups\" is not an object");
    int missing = 0;
    size_t read = 0;
    for (auto& [name, value] : source->items()) {
        // A grain request carries the name in a fixed field: a longer name
        // could never be looked up, so such a group is refused; so is one
        // without a name, which no list could show or choose.
        if (name.empty() || AudioSampleGroup::listNameFor(name) != name) {
            rt_printf("[FileReadWrite] sample list [%s] refused: the name is empty, reserved or longer than %zu\n",
                      name.c_str(), AudioSampleGroup::kMaxNameLength);
            Driver::guiNotify.warning(name.empty() ? std::string(kNoNameWarning)
                                                   : "Sample list name too long: " + name.substr(0, 20));
            continue;
        }
        if (read == SampleGroupsSection::kMaxGroups) {
            rt_printf("[FileReadWrite] more than %zu sample lists, the rest are skipped\n", SampleGroupsSection::kMaxGroups);
            break;
        }
        AudioSampleGroup* group = store->getGroup(name, true);
        if (!group)
            continue;
        ++read;
        missing += group->fromJson(value, store->samples());
    }
    if (missing > 0)
        rt_printf("[FileReadWrite] %d samples could not be found\n", missing);
    store->updateListParameters();
    store->queueTreeRebuilds();
}
