// A project: a folder of part files and one project file naming them.
#pragma once

#include "instrument/FileVersion.h"
#include "instrument/files/FileTypes.h"

#include <nlohmann/json.hpp>

#include <array>
#include <string>

class TrackFiles;

namespace ProjectFolder {
constexpr const char* kTemplatePath = "/home/corvane/projects/template-project/template.proj";
constexpr const char* kFolderSuffix = "-project/";
constexpr const char* kSampleListsName = "samplelists";
constexpr const char* kNoteListsName = "notelists";
constexpr const char* kMorphingName = "morphing";

// The part-file base names of the five tracks: each name cleaned so it
// stays inside the folder, and made unique with the track number where
// names are empty or collide.
std::array<std::string, 5> trackFileNames(const std::array<std::string, 5>& trackNames);
}  // namespace ProjectFolder

SaveResult saveProject(const std::string& path, bool createFolder);
// 0 when every part loaded, 1 when any failed.
int loadProject(nlohmann::json& document, const std::string& path, const FileVersion& version);
SaveResult saveByFileType(const std::string& path, FileType type, TrackFiles& track, bool inPlace, bool alone);
