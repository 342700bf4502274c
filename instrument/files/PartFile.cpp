#include "instrument/files/PartFile.h"

#include "engines/SynthEngineType.h"
#include "gui/GuiNotify.h"
#include "instrument/files/ConfigSection.h"
#include "instrument/files/EffectsSection.h"
#include "instrument/files/FileTargets.h"
#include "instrument/files/MorphSection.h"
#include "instrument/files/NoteListSection.h"
#include "instrument/files/ProjectFolder.h"
#include "instrument/files/SampleGroupsSection.h"
#include "instrument/files/SequencerSection.h"
#include "instrument/files/SynthesisSection.h"
#include "parameters/ModulationManager.h"
#include "platform/Paths.h"
#include "platform/RtPrintf.h"
#include "sequencing/NoteManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>

namespace Driver {
extern GuiNotify guiNotify;
}

using json = nlohmann::json;

namespace PartFile {
void (*gBeforeRename)(const std::string&) = nullptr;
}

namespace {

// Writes all of text to fd, retrying short writes.
bool writeAll(int fd, const std::string& text) {
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = ENOSPC;
        if (n <= 0)
            return false;
        p += n;
        left -= size_t(n);
    }
    return true;
}

bool syncFolder(const std::string& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Temporary files of earlier saves of the same file that never reached
// their rename (the power went, the process was killed).
void removeLeftovers(const std::string& folder, const std::string& prefix) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir))
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0)
            ::unlink((folder + entry->d_name).c_str());
    ::closedir(dir);
}

// Temporary file beside the target, synced and closed, then renamed over it:
// the target holds the old content or the new one, never a part of either.
SaveResult replaceFile(const std::string& target, const std::string& text) {
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temporary = folder + "." + base + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        rt_printf("[FileReadWrite] can't create a file in [%s]: %s\n", folder.c_str(), std::strerror(errno));
        return SaveCreateFailed;
    }
    int error = 0;
    auto step = [&error](bool done) {
        if (!done && error == 0)
            error = errno ? errno : EIO;
        return done;
    };
    bool ok = step(::fchmod(fd, 0644) == 0) && step(writeAll(fd, text)) && step(::fsync(fd) == 0);
    ok = step(::close(fd) == 0) && ok;
    if (ok && PartFile::gBeforeRename)
        PartFile::gBeforeRename(temporary);
    ok = ok && step(::rename(temporary.c_str(), target.c_str()) == 0);
    if (!ok) {
        rt_printf("[FileReadWrite] writing [%s] failed: %s\n", target.c_str(), std::strerror(error));
        ::unlink(temporary.c_str());
        return SaveCreateFailed;
    }
    // The rename itself reaches the disk with the folder.
    syncFolder(folder);
    removeLeftovers(folder, "." + base + ".tmp-");
    return SaveSuccess;
}

static_assert(PartFile::kDeepestWritten == 4 + 3 * ModulationManager::kMaxNesting + 1,
              "the deepest file follows the longest chain of modulators");
static_assert(PartFile::kDeepestWritten <= PartFile::kMaxDepth, "every saved file loads back");

// Builds the document like the library's own parser, and stops at the value
// count or nesting limit before the document grows any further.
class CountingDomParser : public nlohmann::detail::json_sax_dom_parser<json> {
public:
    using Base = nlohmann::detail::json_sax_dom_parser<json>;
    explicit CountingDomParser(json& out) : Base(out, true) {}

    bool null() { return _count() && Base::null(); }
    bool boolean(bool v) { return _count() && Base::boolean(v); }
    bool number_integer(json::number_integer_t v) { return _count() && Base::number_integer(v); }
    bool number_unsigned(json::number_unsigned_t v) { return _count() && Base::number_unsigned(v); }
    bool number_float(json::number_float_t v, const std::string& s) { return _count() && Base::number_float(v, s); }
    bool string(json::string_t& v) { return _count() && Base::string(v); }
    bool binary(json::binary_t& v) { return _count() && Base::binary(v); }
    bool start_object(std::size_t n) { return _count() && _enter() && Base::start_object(n); }
    bool start_array(std::size_t n) { return _count() && _enter() && Base::start_array(n); }
    bool end_object() {
        --depth_;
        return Base::end_object();
    }
    bool end_array() {
        --depth_;
        return Base::end_array();
    }

    bool tooMany = false;
    bool tooDeep = false;

private:
    bool _enter() {
        if (++depth_ <= PartFile::kMaxDepth)
            return true;
        tooDeep = true;
        return false;
    }
    bool _count() {
        if (++values_ <= PartFile::kMaxValues)
            return true;
        tooMany = true;
        return false;
    }
    uint64_t values_ = 0;
    uint32_t depth_ = 0;
};

struct Sections {
    bool files = false, sampleGroups = false, sequencer = false, synthesis = false, effects = false,
         noteList = false, morph = false, config = false;
};

// Sample lists that an instrument opened on its own brings replace the pool's
// when no other track plays samples.
void dropUnusedSampleLists(TrackFiles& target) {
    FileTargets& t = fileTargets();
    if (!t.sampleGroups || t.sampleGroups->groupCount() == 0)
        return;
    for (TrackFiles* track : t.tracks)
        if (track && track != &target && isSampleEngine(track->engineType()))
            return;
    t.sampleGroups->reset();
    rt_printf("Removed existing sample lists because no other tracks we're using them\n");
    Driver::guiNotify.info("Removed unused sample lists");
}

// Puts back to defaults what a failed file was loading into.
void resetAfterFailure(const Sections& s, TrackFiles& target) {
    if (s.sequencer)
        target.resetSequencer();
    if (s.synthesis)
        target.resetSynthesis();
    // A project's "effects" is the master chain: the target track's own chain
    // was never touched and stays.
    if (s.effects && !s.files)
        target.resetEffects(true);
    if (s.noteList)
        fileTargets().noteManager().reset();
}

LoadResult interpret(const std::string& path, json& document, TrackFiles& target, bool partOfProject, Sections& s) {
    if (!document.is_object()) {
        rt_printf("[FileReadWrite] [%s] is not a JSON object\n", host::hostPath(path).c_str());
        return LoadInterpretFailed;
    }
    if (!document.contains(PartFile::kVersionKey))
        document[PartFile::kVersionKey] = "0.0.0";
    const json& versionValue = document[PartFile::kVersionKey];
    if (!versionValue.is_string() || !FileVersion::isWellFormed(versionValue.get<std::string>())) {
        rt_printf("[FileReadWrite] [%s] has no valid \"%s\"\n", host::hostPath(path).c_str(), PartFile::kVersionKey);
        return LoadInterpretFailed;
    }
    const FileVersion version = FileVersion::fromText(versionValue.get<std::string>(), "");
    if (version < firmwareVersion())
        rt_printf("readFile(%s) file is created by older firmware [%s]\n", host::hostPath(path).c_str(),
                  version.toString().c_str());

    // A part of a project never names parts of its own: a "files" there would
    // lead back into the project.
    s.files = !partOfProject && document.contains(PartFile::kFilesKey);
    s.sampleGroups = document.contains(PartFile::kSampleGroupsKey) || document.contains(PartFile::kSampleListKey);
    s.sequencer = document.contains(PartFile::kSequencerKey);
    s.synthesis = document.contains(PartFile::kSynthesisKey);
    s.effects = document.contains(PartFile::kEffectsKey);
    s.noteList = document.contains(PartFile::kNoteListKey);
    s.morph = document.contains(PartFile::kMorphKey);
    s.config = document.contains(PartFile::kConfigKey);

    // A "files" that names nothing the loader can read is a damaged project,
    // not an empty one: refused before anything changes.
    if (s.files && !document[PartFile::kFilesKey].is_object()) {
        rt_printf("[FileReadWrite] [%s] has no valid \"%s\"\n", host::hostPath(path).c_str(), PartFile::kFilesKey);
        return LoadInterpretFailed;
    }

    if (s.sampleGroups && s.synthesis && !partOfProject)
        dropUnusedSampleLists(target);

    bool dependencyFailed = false;
    if (s.files)
        dependencyFailed = loadProject(document, path, version) != 0;
    if (s.sampleGroups)
        readSampleGroupsSection(document);
    if (s.sequencer)
        readSequencerSection(document, target, version);
    if (s.synthesis)
        readSynthesisSection(document, target, version);
    if (s.effects && !s.files)
        readTrackEffectsSection(document, target, version);
    if (s.noteList)
        readNoteListSection(document);
    if (s.morph)
        readMorphSection(document);
    if (s.config)
        readConfigSection(document, version);
    return dependencyFailed ? LoadDependencyFailed : LoadSuccess;
}

}  // namespace

LoadResult checkReadableFile(const std::string& path) {
    if (!fileExists(path))
        return LoadFileMissing;
    struct stat st;
    // Only a regular file: a FIFO would block, a folder reads as nothing.
    if (stat(host::hostPath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return LoadOpenFailed;
    if (uint64_t(st.st_size) > PartFile::kMaxFileSize) {
        rt_printf("[FileReadWrite] [%s] is larger than %llu bytes, not read\n", host::hostPath(path).c_str(),
                  (unsigned long long)PartFile::kMaxFileSize);
        return LoadOpenFailed;
    }
    return LoadSuccess;
}

LoadResult parseJsonFile(const std::string& path, json& out) {
    if (const LoadResult readable = checkReadableFile(path); readable != LoadSuccess)
        return readable;
    std::ifstream in(host::hostPath(path), std::ios::binary);
    if (!in || in.fail())
        return LoadOpenFailed;
    if (in.peek() == std::ifstream::traits_type::eof())
        return LoadFileEmpty;
    json parsed;
    CountingDomParser sax(parsed);
    try {
        if (!json::sax_parse(in, &sax)) {
            if (sax.tooDeep) {
                rt_printf("[FileReadWrite] [%s] is nested deeper than %u levels, not read\n",
                          host::hostPath(path).c_str(), unsigned(PartFile::kMaxDepth));
                return LoadInterpretFailed;
            }
            rt_printf("[FileReadWrite] [%s] holds more than %llu values, not read\n", host::hostPath(path).c_str(),
                      (unsigned long long)PartFile::kMaxValues);
            return sax.tooMany ? LoadOpenFailed : LoadParseFailed;
        }
        out = std::move(parsed);
    } catch (const json::exception& e) {
        const size_t byte = [&]() -> size_t {
            if (auto* p = dynamic_cast<const json::parse_error*>(&e))
                return p->byte;
            return 0;
        }();
        rt_printf("JSON exception during parsing of [%s] \n%s\nid: %i at byte %zu\n", host::hostPath(path).c_str(),
                  e.what(), e.id, byte);
        return LoadParseFailed;
    } catch (const std::exception& e) {
        rt_printf("JSON exception during parsing of [%s] \n%s\n", host::hostPath(path).c_str(), e.what());
        return LoadParseFailed;
    }
    return LoadSuccess;
}

LoadResult readFile(const std::string& path, TrackFiles& target, bool partOfProject) {
    rt_printf("[FileReadWrite] readFile(%s)\n", host::hostPath(path).c_str());
    json document;
    const LoadResult parsed = parseJsonFile(path, document);
    if (parsed != LoadSuccess)
        return parsed;
    if (document.is_null())
        return LoadFileEmpty;
    Sections sections;
    // One guard from the first look at the document to the last reader: a
    // bad file ends in a result, never in the caller.
    try {
        TrackLoad hold(target);
        return interpret(path, document, target, partOfProject, sections);
    } catch (const std::exception& e) {
        rt_printf("JSON exception during reading data from [%s] \n%s\n", host::hostPath(path).c_str(), e.what());
    }
    try {
        TrackLoad hold(target);
        resetAfterFailure(sections, target);
    } catch (const std::exception& e) {
        rt_printf("[FileReadWrite] reset after a failed load: %s\n", e.what());
    }
    return LoadInterpretFailed;
}

SaveResult writeFile(const std::string& path, json& document) {
    rt_printf("writeFile(%s)\n", host::hostPath(path).c_str());
    if (document.is_null())
        return SaveNothing;
    if (!document.is_object())
        return SaveCreateFailed;
    document[PartFile::kVersionKey] = firmwareVersion().toString();
    std::string text;
    try {
        // One tab per level; a text that is not UTF-8 is saved with
        // replacement characters rather than not at all.
        text = document.dump(1, '\t', false, json::error_handler_t::replace);
    } catch (const std::exception& e) {
        rt_printf("[FileReadWrite] can't write [%s]: %s\n", host::hostPath(path).c_str(), e.what());
        return SaveCreateFailed;
    }
    text += '\n';
    return replaceFile(host::hostPath(path), text);
}
