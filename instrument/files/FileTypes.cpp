#include "instrument/files/FileTypes.h"

#include "gui/GuiNotify.h"
#include "instrument/files/FileTargets.h"
#include "instrument/files/PartFile.h"
#include "instrument/files/SynthesisSection.h"
#include "platform/Paths.h"
#include "platform/RtPrintf.h"
#include "sequencing/PitchScale.h"
#include "sequencing/SclReader.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>

namespace Driver {
extern GuiNotify guiNotify;
}

namespace {

const char* const kLoadTexts[] = {
    "success",
    "file does not exist",
    "opening file failed",
    "parsing JSON failed",
    "file is empty",
    "error while interpreting file",
    "file is missing parameters",
    "some samples could not be found",
    "error in project dependency",
};

const char* const kSaveTexts[] = {
    "success", "nothing to save", "creating file failed", "error while saving project", "couldn't create project folder",
};

// The kinds a listing recognises by extension, in the order they are tried.
constexpr FileType kListedByExtension[] = {
    FileTypeProject, FileTypeSequencer, FileTypeInstrument, FileTypeNoteLists,
    FileTypeSampleLists, FileTypeMotion, FileTypeTuning,
};

std::string fileNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool logResult(const char* format, const std::string& path, const char* text) {
    const std::string name = fileNameOf(path);
    const std::string message = name + ": " + text;
    rt_printf(format, message.c_str());
    // A notice holds GuiNotify::kMaxText characters: a long name is cut
    // (marked "..") so that the result still shows.
    constexpr const char* kCut = "..: ";
    if (message.size() <= GuiNotify::kMaxText) {
        Driver::guiNotify.warning(message);
    } else {
        const size_t keep = GuiNotify::kMaxText - std::strlen(kCut) - std::strlen(text);
        Driver::guiNotify.warning(name.substr(0, keep) + kCut + text);
    }
    return true;
}

}  // namespace

const std::map<std::string, FileType>& fileTypes() {
    static const std::map<std::string, FileType> types = {
        {"project", FileTypeProject},         {"sequencer", FileTypeSequencer},
        {"instrument", FileTypeInstrument},   {"note lists", FileTypeNoteLists},
        {"sample lists", FileTypeSampleLists}, {"motion recordings", FileTypeMotion},
        {"tuning", FileTypeTuning},           {"audio", FileTypeAudio},
    };
    return types;
}

std::string fileTypeExtension(FileType type) {
    switch (type) {
        case FileTypeProject: return "proj";
        case FileTypeSequencer: return "seq";
        case FileTypeInstrument: return "inst";
        case FileTypeNoteLists: return "nts";
        case FileTypeSampleLists: return "sl";
        case FileTypeMotion: return "mot";
        case FileTypeTuning: return "scl";
        default: return "";
    }
}

const char* loadResultText(LoadResult result) {
    const auto i = uint32_t(result);
    return i < std::size(kLoadTexts) ? kLoadTexts[i] : kLoadTexts[0];
}

const char* saveResultText(SaveResult result) {
    const auto i = uint32_t(result);
    return i < std::size(kSaveTexts) ? kSaveTexts[i] : kSaveTexts[0];
}

bool fileExists(const std::string& path) {
    if (path.empty())
        return false;
    struct stat st;
    return stat(host::hostPath(path).c_str(), &st) == 0;
}

bool logReadResult(const std::string& path, LoadResult result) {
    if (result == LoadSuccess)
        return false;
    return logResult("[FileReadWrite] read error: %s\n", path, loadResultText(result));
}

bool logWriteResult(const std::string& path, SaveResult result) {
    if (result == SaveSuccess)
        return false;
    return logResult("[FileReadWrite] write error: %s\n", path, saveResultText(result));
}

LoadResult readTuning(const std::string& path) {
    rt_printf("readTuning(%s)\n", host::hostPath(path).c_str());
    // As for the JSON files: none larger than any scale a player could mean.
    if (const LoadResult readable = checkReadableFile(path); readable != LoadSuccess)
        return readable;
    std::ifstream in(host::hostPath(path));
    if (!in)
        return LoadOpenFailed;
    std::string error;
    try {
        SclParseResult parsed = parseSclFile(in);
        if (parsed.ok())
            fileTargets().scaleManager().addScale(path, parsed.ratios, &error);
        else
            error = parsed.error;
    } catch (const std::exception& e) {
        error = e.what();
    }
    if (!error.empty()) {
        rt_printf("Exception during reading data from [%s] \n%s\n", host::hostPath(path).c_str(), error.c_str());
        return LoadInterpretFailed;
    }
    return LoadSuccess;
}

FileEntry::FileEntry() : name{kEmptyFolderName} {}

FileEntry::FileEntry(const std::string& folderIn, const std::string& nameIn) : folder{folderIn}, name{nameIn} {
    const std::string full = folder + "/" + name;
    const std::string hostFull = host::hostPath(full);
    struct stat st;
    const bool haveStatus = stat(hostFull.c_str(), &st) == 0;
    // Only regular files are opened: a FIFO or a device node would block the listing.
    const bool regular = haveStatus && S_ISREG(st.st_mode);

    SF_INFO info{};
    SNDFILE* audio = regular ? sf_open(hostFull.c_str(), SFM_READ, &info) : nullptr;
    if (audio) {
        type = FileTypeAudio;
        channels = info.channels;
        frames = uint32_t(info.frames);
        sampleRate = info.samplerate;
        if (sampleRate > 0) {
            const uint32_t total = frames / uint32_t(sampleRate);
            minutes = int32_t(total / 60);
            seconds = int32_t(total % 60);
            const uint32_t perMs = uint32_t(sampleRate) / 1000;
            milliseconds = perMs > 0 ? int32_t((frames / perMs) % 1000) : 0;
        }
        sf_close(audio);
    } else {
        // Typed by its name; an entry that is no regular file is never
        // opened here (a FIFO would block), the loader refuses it.
        const size_t dot = name.rfind('.');
        const std::string extension = dot == std::string::npos ? name : name.substr(dot + 1);
        type = FileTypeOther;
        for (FileType t : kListedByExtension) {
            if (extension == fileTypeExtension(t)) {
                type = t;
                break;
            }
        }
        if (type == FileTypeOther && extension == "sg")
            type = FileTypeSampleLists;
        if (type == FileTypeInstrument && regular)
            engine = instrumentEngineName(full);
    }

    if (!haveStatus)
        return;
    size = int64_t(st.st_size);
    struct tm local;
    const time_t modified = st.st_mtime;
    // Locales differ in the length of "%x": a buffer with room to spare, and
    // an empty text when even that does not fit.
    char text[64];
    if (localtime_r(&modified, &local) && std::strftime(text, sizeof text, "%x %R", &local) > 0)
        date = text;
}
