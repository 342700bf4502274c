// "sample groups": the sample pool's lists.
#pragma once

#include <nlohmann/json.hpp>

namespace SampleGroupsSection {
// The pool keeps at most this many lists from one file.
constexpr size_t kMaxGroups = 256;
}

void writeSampleGroupsSection(nlohmann::json& document);
void readSampleGroupsSection(nlohmann::json& document);
