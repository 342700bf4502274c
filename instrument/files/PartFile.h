// Every JSON file the instrument saves is written by writeFile and read back
// by readFile, which hands each top-level section to its reader.
#pragma once

#include "instrument/files/FileTypes.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

class TrackFiles;

namespace PartFile {
constexpr const char* kVersionKey = "firmware version";
constexpr const char* kFilesKey = "files";
constexpr const char* kSampleGroupsKey = "sample groups";
constexpr const char* kSampleListKey = "sample list";  // older files
constexpr const char* kSequencerKey = "sequencer";
constexpr const char* kSynthesisKey = "synthesis";
constexpr const char* kEffectsKey = "effects";
constexpr const char* kNoteListKey = "note list";
constexpr const char* kMorphKey = "morph";
constexpr const char* kConfigKey = "config";
constexpr const char* kTrackKey = "track";
// Nothing the instrument writes comes near it; a larger file is refused
// before it is read into memory.
constexpr uint64_t kMaxFileSize = 32ull << 20;
// A parsed value costs many times its text: a document with more values is
// refused while it is read, so even a file at the size cap stays small in
// memory. Far above any file the instrument writes.
constexpr uint64_t kMaxValues = 1u << 20;
// Readers copy and walk documents recursively: a document nested deeper is
// refused while it is read, before any copy could run out of stack. It must
// still take every file the instrument writes. The deepest is a chain of
// modulators on a track effect's control: the document, "effects", the
// effect and the control make 4 levels; each modulator of the chain adds 3
// (the control's "modulator" list, the modulator, its control); a control's
// value array or MIDI input adds the last one. With the longest chain
// (ModulationManager::kMaxNesting) that is kDeepestWritten levels.
constexpr uint32_t kMaxDepth = 256;
constexpr uint32_t kDeepestWritten = 4 + 3 * 80 + 1;

// Test seam: called after the temporary file is written, synced and closed,
// before it replaces the target.
extern void (*gBeforeRename)(const std::string& temporaryPath);
}  // namespace PartFile

// Whether a file (an instrument path) may be read at all: it exists, is a
// regular file (a FIFO would block the load) and is within the size cap.
LoadResult checkReadableFile(const std::string& path);

// Reads one whole file (an instrument path) into out.
LoadResult parseJsonFile(const std::string& path, nlohmann::json& out);

// Loads a file into the instrument; target receives the per-track sections.
// partOfProject: called by the project loader for one of its parts.
LoadResult readFile(const std::string& path, TrackFiles& target, bool partOfProject);

// Stamps the firmware version into the document and writes it. The file is
// replaced only once the new content is safely on disk.
SaveResult writeFile(const std::string& path, nlohmann::json& document);
