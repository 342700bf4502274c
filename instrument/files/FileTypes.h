// The vocabulary of every file operation: kinds of file, the entry of a
// folder listing, and the results of loading and saving with their texts.
#pragma once

#include <cstdint>
#include <map>
#include <string>

enum FileType : uint32_t {
    FileTypeNone = 0,
    FileTypeOther = 1,
    FileTypeProject = 2,
    FileTypeSequencer = 4,
    FileTypeInstrument = 8,
    FileTypeNoteLists = 16,
    FileTypeSampleLists = 32,
    FileTypeMotion = 64,
    FileTypeTuning = 128,
    FileTypeAudio = 256,
    FileTypeConfig = 512,
};

inline FileType operator&(FileType a, FileType b) { return FileType(uint32_t(a) & uint32_t(b)); }
inline FileType operator|(FileType a, FileType b) { return FileType(uint32_t(a) | uint32_t(b)); }
inline bool hasFileType(FileType a, FileType b) { return (uint32_t(a) & uint32_t(b)) != 0; }

// Name shown by the file browser -> type.
const std::map<std::string, FileType>& fileTypes();
// "proj", "seq", ...; empty for the kinds without an extension.
std::string fileTypeExtension(FileType type);

enum LoadResult : int32_t {
    LoadSuccess = 0,
    LoadFileMissing = 1,
    LoadOpenFailed = 2,
    LoadParseFailed = 3,
    LoadFileEmpty = 4,
    LoadInterpretFailed = 5,
    LoadMissingParameters = 6,
    LoadSamplesMissing = 7,
    LoadDependencyFailed = 8,
};

enum SaveResult : int32_t {
    SaveSuccess = 0,
    SaveNothing = 1,
    SaveCreateFailed = 2,
    SaveProjectFailed = 3,
    SaveFolderFailed = 4,
};

const char* loadResultText(LoadResult result);
const char* saveResultText(SaveResult result);

// False for the empty path; existence only. Paths are the instrument's own
// ("/home/corvane/..."), mapped into the data root here.
bool fileExists(const std::string& path);

// True when the result was an error: the console line and a warning
// notification name the file and the result's text.
bool logReadResult(const std::string& path, LoadResult result);
bool logWriteResult(const std::string& path, SaveResult result);

// Reads one scale file into the scale registry.
LoadResult readTuning(const std::string& path);

// One file of a folder listing.
struct FileEntry {
    static constexpr const char* kEmptyFolderName = "folder does not contain files..";

    std::string folder;
    std::string name;
    FileType type = FileTypeNone;
    int64_t size = 0;
    std::string date;
    std::string engine;
    uint8_t marked = 0;
    int32_t channels = 0;
    uint32_t frames = 0;
    int32_t sampleRate = 0;
    int32_t minutes = 0;
    int32_t seconds = 0;
    int32_t milliseconds = 0;

    // The placeholder of an empty folder.
    FileEntry();
    FileEntry(const std::string& folder, const std::string& name);
};
