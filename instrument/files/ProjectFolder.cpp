#include "instrument/files/ProjectFolder.h"

#include "effects/EffectChain.h"
#include "gui/GuiNotify.h"
#include "instrument/files/ConfigSection.h"
#include "instrument/files/EffectsSection.h"
#include "instrument/files/FileTargets.h"
#include "instrument/files/MorphSection.h"
#include "instrument/files/NoteListSection.h"
#include "instrument/files/PartFile.h"
#include "instrument/files/SampleGroupsSection.h"
#include "instrument/files/SequencerSection.h"
#include "instrument/files/SynthesisSection.h"
#include "parameters/ParameterGroup.h"
#include "platform/Paths.h"
#include "platform/RtPrintf.h"
#include "sequencing/NoteManager.h"

#include <sys/stat.h>

#include <algorithm>

namespace Driver {
extern GuiNotify guiNotify;
}

using json = nlohmann::json;

namespace {

constexpr const char* kSeqEntry = "seq";
constexpr const char* kInstEntry = "inst";
constexpr const char* kSampleListsEntry = "sg";
constexpr const char* kNoteListsEntry = "nts";
constexpr const char* kMotionEntry = "mot";
constexpr const char* kClockKey = "clock";
constexpr const char* kProjectKey = "project";

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string resolve(const std::string& folder, const std::string& entry) {
    return !entry.empty() && entry[0] == '/' ? entry : folder + entry;
}

// A track is saved when it has an engine, or a chain other than the one it
// gets back on a reset: without an engine it still runs its chain on the
// audio inputs routed to it. The chains are compared as they would be saved,
// so a changed setting, a modulator or a learnt control counts.
bool trackInUse(TrackFiles& track) {
    if (track.synthesisIndex() != 0)
        return true;
    // A part file carries no "effects" for an empty chain, so loading it
    // would leave the chain of the project before; unsaved, the track is
    // reset on load as it always was.
    if (track.effectChain().effectCount() == 0)
        return false;
    json current = json::object();
    track.effectChain().toJson(current);
    EffectChain defaults;
    defaults.insertEffect(AudioEffectType(track.defaultEffectType()), 0);
    json reset = json::object();
    defaults.toJson(reset);
    return current != reset;
}

// Writes one part; on success names it in "files".
bool savePart(json& part, const std::string& folder, const std::string& fileName, const std::string& projectPath,
              json& entry) {
    const SaveResult result = writeFile(folder + fileName, part);
    logWriteResult(projectPath, result);
    if (result != SaveSuccess)
        return false;
    entry = fileName;
    return true;
}

// Reads one part named by a project; false when it failed.
bool loadPart(const std::string& folder, const std::string& entry, TrackFiles& track) {
    const std::string path = resolve(folder, entry);
    return !logReadResult(path, readFile(path, track, true));
}

// The entry of track i in a "seq" or "inst" array; a shorter array reads as null.
const json& trackEntry(const json& list, size_t i) {
    static const json kNull;
    return i < list.size() ? list[i] : kNull;
}

}  // namespace

namespace ProjectFolder {

std::array<std::string, 5> trackFileNames(const std::array<std::string, 5>& trackNames) {
    std::array<std::string, 5> names;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string name;
        for (char c : trackNames[i])
            if (c != '/' && c != '\\' && c != '\0')
                name += c;
        for (size_t p; (p = name.find("..")) != std::string::npos;)
            name.erase(p, 2);
        name.erase(0, name.find_first_not_of('.') == std::string::npos ? name.size() : name.find_first_not_of('.'));
        const std::string number = std::to_string(i + 1);
        if (name.empty())
            name = "track-" + number;
        while (std::find(names.begin(), names.begin() + long(i), name) != names.begin() + long(i))
            name += "-" + number;
        names[i] = name;
    }
    return names;
}

}  // namespace ProjectFolder

SaveResult saveProject(const std::string& path, bool createFolder) {
    FileTargets& targets = fileTargets();
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t nameEnd = dot == std::string::npos || dot < nameStart ? path.size() : dot;
    const std::string projectName = path.substr(nameStart, nameEnd - nameStart);

    std::string folder;
    if (createFolder) {
        folder = path.substr(0, nameEnd) + ProjectFolder::kFolderSuffix;
        if (::mkdir(host::hostPath(folder).c_str(), 0755) != 0)
            return SaveFolderFailed;
    } else {
        folder = folderOf(path);
    }
    const std::string projectPath = folder + projectName + "." + fileTypeExtension(FileTypeProject);

    std::array<bool, FileTargets::kTracks> saved{};
    std::array<std::string, FileTargets::kTracks> trackNames;
    const bool isTemplate = projectPath == ProjectFolder::kTemplatePath;
    if (isTemplate)
        rt_printf("Saving template project\n");
    for (int i = 0; i < FileTargets::kTracks; ++i) {
        if (TrackFiles* track = targets.tracks[size_t(i)]) {
            trackNames[size_t(i)] = track->name();
            saved[size_t(i)] = isTemplate || trackInUse(*track);
        }
    }
    const auto fileNames = ProjectFolder::trackFileNames(trackNames);

    bool failed = false;
    json project = json::object();
    json& files = project[PartFile::kFilesKey] = json::object();
    // The arrays end at the last saved track; earlier unsaved tracks are null.
    for (const auto& [entryKey, extension] :
         {std::pair{kSeqEntry, FileTypeSequencer}, std::pair{kInstEntry, FileTypeInstrument}}) {
        for (int i = 0; i < FileTargets::kTracks; ++i) {
            if (!saved[size_t(i)])
                continue;
            TrackFiles& track = *targets.tracks[size_t(i)];
            json part;
            if (extension == FileTypeSequencer)
                writeSequencerSection(part, track);
            else
                writeSynthesisSection(part, track, false);
            json entry;
            failed |= !savePart(part, folder, fileNames[size_t(i)] + "." + fileTypeExtension(extension), projectPath,
                                entry);
            files[entryKey][size_t(i)] = entry;
        }
    }
    if (targets.sampleGroups && targets.sampleGroups->groupCount() > 0) {
        json part;
        writeSampleGroupsSection(part);
        failed |= !savePart(part, folder, std::string(ProjectFolder::kSampleListsName) + "." +
                                              fileTypeExtension(FileTypeSampleLists),
                            projectPath, files[kSampleListsEntry]);
    }
    {
        json part;
        writeNoteListSection(part);
        // No list with a step is nothing to save, not a failure.
        if (!part.is_null())
            failed |= !savePart(part, folder, std::string(ProjectFolder::kNoteListsName) + "." +
                                                  fileTypeExtension(FileTypeNoteLists),
                                projectPath, files[kNoteListsEntry]);
    }
    if (targets.motion && targets.motion->hasRecordings()) {
        json part;
        writeMorphSection(part);
        // Named with the note-list extension, as projects always have been.
        failed |= !savePart(part, folder, std::string(ProjectFolder::kMorphingName) + "." +
                                              fileTypeExtension(FileTypeNoteLists),
                            projectPath, files[kMotionEntry]);
    }
    // An entry whose write failed stays out of "files".
    for (auto it = files.begin(); it != files.end();)
        it = it->is_null() ? files.erase(it) : std::next(it);

    json& clock = project[kClockKey] = json::object();
    if (targets.clock)
        targets.clock->toJson(clock);
    json& projectGroup = project[kProjectKey] = json::object();
    if (targets.project)
        targets.project->toJson(projectGroup);
    if (targets.outputChain)
        writeEffectsSection(project, *targets.outputChain);

    const SaveResult result = writeFile(projectPath, project);
    logWriteResult(projectPath, result);
    return failed || result != SaveSuccess ? SaveProjectFailed : SaveSuccess;
}

int loadProject(json& document, const std::string& path, const FileVersion& version) {
    FileTargets& targets = fileTargets();
    const std::string folder = folderOf(path);
    static const json kNone;

    auto section = [&](const char* key) -> json {
        auto it = document.find(key);
        return it == document.end() ? json() : *it;
    };
    if (targets.clock) {
        json clock = section(kClockKey);
        targets.clock->fromJson(clock, nullptr, version);
    }
    if (targets.project) {
        json project = section(kProjectKey);
        targets.project->fromJson(project, nullptr, version);
    }
    if (targets.runApplyCallbacks)
        targets.runApplyCallbacks();
    if (document.contains(PartFile::kEffectsKey)) {
        if (targets.outputChain)
            readEffectsSection(document, *targets.outputChain, nullptr, version);
    } else if (targets.resetOutputFX) {
        targets.resetOutputFX();
    }

    bool failed = false;
    const auto filesIt = document.find(PartFile::kFilesKey);
    const json& files = filesIt == document.end() ? kNone : *filesIt;
    const bool haveFiles = files.is_object();
    auto entry = [&](const char* key) -> const json& {
        if (!haveFiles)
            return kNone;
        auto it = files.find(key);
        return it == files.end() ? kNone : *it;
    };
    auto named = [&](const char* key) { return haveFiles && files.contains(key); };

    // Tracks past the end of an array load as null ones, so nothing of the
    // project loaded before stays behind; a sixth element has no track.
    auto loadTracks = [&](const json& list, auto&& resetTrack) {
        if (!list.is_null() && !list.is_array())
            return;
        for (size_t i = 0; i < size_t(FileTargets::kTracks); ++i) {
            TrackFiles* track = targets.tracks[i];
            if (!track || !targets.trackChosen(int(i)))
                continue;
            const json& part = list.is_array() ? trackEntry(list, i) : kNone;
            if (part.is_string())
                failed |= !loadPart(folder, part.get<std::string>(), *track);
            else if (part.is_null())
                resetTrack(*track);
        }
    };

    TrackFiles* first = targets.tracks[0];
    loadTracks(entry(kSeqEntry), [](TrackFiles& t) { t.resetSequencer(); });

    bool allChosen = true;
    for (int i = 0; i < FileTargets::kTracks; ++i)
        allChosen &= targets.trackChosen(i);
    if (allChosen && targets.sampleGroups && targets.sampleGroups->groupCount() > 0) {
        Driver::guiNotify.info("Removed unused sample lists");
        targets.sampleGroups->reset();
    }
    if (const json& sg = entry(kSampleListsEntry); sg.is_string() && first)
        failed |= !loadPart(folder, sg.get<std::string>(), *first);

    loadTracks(entry(kInstEntry), [](TrackFiles& t) {
        t.resetSynthesis();
        t.resetEffects(true);
    });

    // A project without the entry had nothing there; an entry that is no
    // file name changes nothing.
    const json& nts = entry(kNoteListsEntry);
    if (nts.is_string() && first)
        failed |= !loadPart(folder, nts.get<std::string>(), *first);
    else if (!named(kNoteListsEntry))
        targets.noteManager().reset();

    const json& mot = entry(kMotionEntry);
    if (mot.is_string() && first)
        failed |= !loadPart(folder, mot.get<std::string>(), *first);
    else if (!named(kMotionEntry) && targets.motion)
        targets.motion->clear();

    return failed ? 1 : 0;
}

SaveResult saveByFileType(const std::string& path, FileType type, TrackFiles& track, bool inPlace, bool alone) {
    if (hasFileType(type, FileTypeProject))
        return saveProject(path, !inPlace);
    json document;
    if (hasFileType(type, FileTypeSequencer))
        writeSequencerSection(document, track);
    else if (hasFileType(type, FileTypeInstrument))
        writeSynthesisSection(document, track, alone);
    else if (hasFileType(type, FileTypeNoteLists))
        writeNoteListSection(document);
    else if (hasFileType(type, FileTypeSampleLists))
        writeSampleGroupsSection(document);
    else if (hasFileType(type, FileTypeMotion))
        writeMorphSection(document);
    else if (hasFileType(type, FileTypeConfig))
        writeConfigSection(document);
    else
        return SaveSuccess;
    return writeFile(path, document);
}
