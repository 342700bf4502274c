#include "instrument/files/NoteListSection.h"

#include "instrument/files/FileTargets.h"
#include "instrument/files/FileTypes.h"
#include "instrument/files/PartFile.h"
#include "sequencing/NoteManager.h"

#include <set>
#include <stdexcept>
#include <string>

using json = nlohmann::json;

void writeNoteListSection(json& document) {
    FileTargets& targets = fileTargets();
    NoteManager& notes = targets.noteManager();
    for (int i = 0; i < notes.listCount(); ++i) {
        auto list = notes.list(i);
        if (!list || list->steps.empty())
            continue;
        // Indexing past the end fills the lists between with null.
        document[PartFile::kNoteListKey][size_t(i)] = noteListToJson(*list, targets.scaleManager());
    }
}

void readNoteListSection(json& document) {
    FileTargets& targets = fileTargets();
    NoteManager& notes = targets.noteManager();
    notes.reset();
    const json& lists = document.at(PartFile::kNoteListKey);
    std::set<std::string> scaleFiles;  // once each, in path order
    if (lists.is_array()) {
        // Elements past the manager's lists are ignored.
        const size_t count = std::min(lists.size(), size_t(notes.listCount()));
        for (size_t i = 0; i < count; ++i) {
            NoteList list;
            if (auto current = notes.list(int(i)))
                list.stepsPerOctave = current->stepsPerOctave;
            std::string scalePath, error;
            if (!noteListFromJson(lists[i], list, scalePath, error))
                throw std::runtime_error("note list " + std::to_string(i) + ": " + error);
            if (!scalePath.empty())
                scaleFiles.insert(scalePath);
            notes.setList(int(i), std::move(list));
        }
    } else if (!lists.is_null()) {
        throw std::runtime_error("\"note list\" is not an array");
    }
    // A scale that cannot be read is named to the player; its lists keep the
    // file's name as their tuning and the rest of the file still loads.
    for (const std::string& path : scaleFiles)
        logReadResult(path, readTuning(path));
    notes.applyTunings(targets.scaleManager());
}
