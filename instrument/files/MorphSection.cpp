#include "instrument/files/MorphSection.h"

#include "instrument/files/FileTargets.h"
#include "instrument/files/PartFile.h"

#include <algorithm>

using json = nlohmann::json;

namespace {
constexpr const char* kRecordingsKey = "recordings";
}

void writeMorphSection(json& document) {
    MotionRecordings* motion = fileTargets().motion;
    if (!motion)
        return;
    // The array ends at the last filled slot; writing past the end fills
    // the empty slots before it with null. No recording leaves the document
    // null: nothing to save.
    for (int s = 0; s < MotionRecordings::kSlots; ++s)
        if (!motion->isEmpty(s))
            document[PartFile::kMorphKey][kRecordingsKey][size_t(s)] = motion->toJson(s);
}

void readMorphSection(json& document) {
    MotionRecordings* motion = fileTargets().motion;
    const json& morph = document.at(PartFile::kMorphKey);
    if (!motion || !morph.is_object())
        return;
    auto recordings = morph.find(kRecordingsKey);
    if (recordings == morph.end() || !(recordings->is_array() || recordings->is_object()))
        return;
    // The recorder has 25 slots; later elements are ignored.
    const size_t count = std::min(recordings->size(), size_t(MotionRecordings::kSlots));
    for (size_t i = 0; i < count; ++i)
        motion->fromJson(int(i), recordings->at(i));
}
