#include "gui/FileBrowser.h"

#include "drivers/KeyDebouncer.h"
#include "gui/Confirm.h"
#include "gui/GuiNotify.h"
#include "gui/ListSelect.h"
#include "gui/MonoGFX.h"
#include "gui/Numpad.h"
#include "instrument/MainClock.h"
#include "instrument/files/FileTargets.h"
#include "instrument/files/PartFile.h"
#include "instrument/files/ProjectFolder.h"
#include "platform/Paths.h"
#include "samples/SamplePool.h"
#include "samples/SamplePreview.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace DSP {
extern MainClock mainClock;
}

namespace {

constexpr const char* kParent = "..";
constexpr const char* kLostFound = "lost+found";
constexpr const char* kSaveNewFile = "save new file";
constexpr const char* kOverwrite = "overwrite";
constexpr const char* kYes = "yes";
constexpr const char* kNo = "no";
constexpr const char* kSaveTypeTitle = "Select file type to save";
constexpr const char* kSaveTypes[] = {"project",    "sequencer",    "instrument",
                                      "note lists", "sample lists", "motion recordings"};
constexpr int kTrackKeys[5] = {7, 12, 17, 6, 11};

constexpr uint32_t kBrowserIcon = 12;
constexpr uint32_t kFolderIcon = 11;
constexpr uint32_t kParentIcon = 10;
constexpr uint32_t kCheckIcon = 1;
constexpr uint32_t kSelectIcon = 3;
constexpr uint32_t kPreviewIcon = 26;
constexpr uint32_t kAudioIcon = 36;

// The icon of a kind of file; 0 for the kinds without one.
uint32_t typeIcon(uint32_t type) {
    switch (type) {
    case FileTypeProject: return 29;
    case FileTypeSequencer: return 30;
    case FileTypeInstrument: return 32;
    case FileTypeNoteLists: return 34;
    case FileTypeSampleLists: return 35;
    case FileTypeTuning: return 33;
    case FileTypeAudio: return kAudioIcon;
    default: return 0;
    }
}

bool isMarkable(uint32_t type) { return type == FileTypeTuning || type == FileTypeAudio; }

// Byte by byte after lower-casing; a prefix sorts first.
bool lessNoCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

std::string fileNameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// "/a/b/c/" -> "/a/b/": cut after the second-to-last slash.
std::string parentOf(const std::string& folder) {
    if (folder.size() < 2)
        return folder;
    const size_t slash = folder.rfind('/', folder.size() - 2);
    return slash == std::string::npos ? folder : folder.substr(0, slash + 1);
}

// A file name typed for saving: something, no folder, nothing hidden.
bool isUsableName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos && name.front() != '.';
}

FileBrowserServices defaultServices() {
    FileBrowserServices s;
    s.readFile = [](const std::string& path, int track) {
        TrackFiles* target = fileTargets().tracks[size_t(std::clamp(track, 1, 5) - 1)];
        return target ? readFile(path, *target, false) : LoadOpenFailed;
    };
    s.readTuning = [](const std::string& path) { return readTuning(path); };
    s.save = [](const std::string& path, FileType type, int track, bool overwrite) {
        TrackFiles* source = fileTargets().tracks[size_t(std::clamp(track, 1, 5) - 1)];
        return source ? saveByFileType(path, type, *source, overwrite, true) : SaveCreateFailed;
    };
    s.loadSamples = [](const std::vector<std::string>& paths) {
        if (SamplePool* pool = DSP::samplePool.load(std::memory_order_acquire))
            pool->loadSamples(paths);
    };
    s.queueTreeRebuilds = [] {
        if (SampleGroupStore* store = fileTargets().sampleGroups)
            store->queueTreeRebuilds();
    };
    s.clockRunning = [] { return DSP::mainClock.isRunning(); };
    return s;
}

}  // namespace

FileBrowser::FileBrowser()
    : cursor("cursor", ParameterInt::PlainInt, ParameterFlags(0), 0, 0),
      track("track", ParameterInt::PlainInt, ParameterFlags(0), 1, 1, 5),
      trackEnabled{ParameterInt("track 1", ParameterInt::ChoiceMode, ParameterFlags(0), 1),
                   ParameterInt("track 2", ParameterInt::ChoiceMode, ParameterFlags(0), 1),
                   ParameterInt("track 3", ParameterInt::ChoiceMode, ParameterFlags(0), 1),
                   ParameterInt("track 4", ParameterInt::ChoiceMode, ParameterFlags(0), 1),
                   ParameterInt("track 5", ParameterInt::ChoiceMode, ParameterFlags(0), 1)},
      preview("preview", ParameterInt::PlainInt, ParameterFlags(0), 1),
      lastProject("last project", ParameterString::Text, Stored, ""),
      services(defaultServices()) {
    for (ParameterInt& p : trackEnabled)
        p.resetToDefault();
}

// One kind at a time: a single bit from project to audio.
bool FileBrowser::isLoadable(uint32_t type) {
    return type >= FileTypeProject && type <= FileTypeAudio && (type & (type - 1)) == 0;
}

bool FileBrowser::isOverwritable(uint32_t type) { return isLoadable(type) && type <= FileTypeMotion; }

std::string FileBrowser::insideRoot(const std::string& path) {
    if (path.empty() || path.front() != '/')
        return {};
    std::vector<std::string> parts;
    size_t i = 1;
    while (i <= path.size()) {
        size_t next = path.find('/', i);
        if (next == std::string::npos)
            next = path.size();
        const std::string part = path.substr(i, next - i);
        if (part == "..") {
            if (parts.empty())
                return {};
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = next + 1;
    }
    std::string out;
    for (const std::string& part : parts)
        out += "/" + part;
    if (path.back() == '/' || out.empty())
        out += "/";
    const std::string root = kRootFolder;
    if (out + "/" == root)
        return root;
    return out.rfind(root, 0) == 0 ? out : std::string();
}

bool FileBrowser::trackChosen(int index) const {
    return index >= 0 && index < 5 && trackEnabled[size_t(index)].value.load(std::memory_order_relaxed) != 0;
}

// ---- input: posted by the audio thread, applied by update ----

void FileBrowser::encoder(int index, int delta, bool) {
    if (index != 12 || editorState.load(std::memory_order_acquire) != kAcceptsInput)
        return;
    inputs_.postFromAudio(Input{InputEncoder, uint8_t(Key::key[0].held()), int16_t(index), delta});
}

void FileBrowser::button(int key, int event) {
    if (event == 3 || key < 0 || key > 17 || editorState.load(std::memory_order_acquire) != kAcceptsInput)
        return;
    inputs_.postFromInterface(Input{InputKey, 0, int16_t(key), event});
}

void FileBrowser::_applyInput() {
    Input input{};
    while (inputs_.pop(input)) {
        // Input that came before a change of folder or mode is stale.
        if (!_inputAccepted())
            continue;
        if (input.kind == InputEncoder)
            _encoder(input.value, input.keyZeroHeld != 0);
        else
            _button(input.index);
    }
}

bool FileBrowser::_inputAccepted() {
    return editorState.load(std::memory_order_acquire) == kAcceptsInput && listedFolder == requestedFolder;
}

// ---- GuiEditor ----

void FileBrowser::open() {
    mode.store(Browsing, std::memory_order_release);
    editorState.store(0, std::memory_order_release);
    track.setValue(int32_t(GUI::currentTrack.load(std::memory_order_relaxed)) + 1, false);
    rootFailed_.store(false, std::memory_order_release);
    reload.store(true, std::memory_order_release);
}

bool FileBrowser::close() {
    if (mode.load(std::memory_order_acquire) != Browsing)
        return false;
    mode.store(Closed, std::memory_order_release);
    if (previewer)
        previewer->stop();
    return true;
}

void FileBrowser::_closeSelf() {
    mode.store(Closed, std::memory_order_release);
    GUI::currentEditor.store(nullptr, std::memory_order_release);
    setRedrawPending();
}

void FileBrowser::update() {
    if (editorState.load(std::memory_order_acquire) == 0) {
        // Freshly opened or a new dialogue step: earlier input is dropped.
        inputs_.clear();
        editorState.store(1, std::memory_order_release);
    }
    _applyInput();
    if (requestedFolder != listedFolder || reload.load(std::memory_order_acquire)) {
        _list();
        if (previewer)
            previewer->stop();
    }
    _runDialogue();
    uint32_t one = 1;
    editorState.compare_exchange_strong(one, kAcceptsInput, std::memory_order_acq_rel);
}

// ---- listing ----

void FileBrowser::_list() {
    if (rootFailed_.load(std::memory_order_acquire))
        return;
    // Only ever the data folder and what lies below it.
    const std::string folder = insideRoot(requestedFolder);
    if (folder.empty() || folder.back() != '/') {
        requestedFolder = rootFolder;
        reload.store(true, std::memory_order_release);
        return;
    }
    requestedFolder = folder;
    DIR* dir = opendir(host::hostPath(requestedFolder).c_str());
    if (!dir) {
        _listFailed();
        return;
    }
    const bool keepCursor = reload.load(std::memory_order_acquire);
    files.clear();
    folders.clear();
    markedCount = 0;
    if (mode.load(std::memory_order_acquire) == Browsing)
        markedType = 0;  // a load asked for meanwhile keeps its kind
    folders.emplace_back(kParent);
    const std::string hostFolder = host::hostPath(requestedFolder);
    while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name.empty() || name.front() == '.')
            continue;
        unsigned char kind = e->d_type;
        if (kind == DT_UNKNOWN) {
            // lstat: a link is never followed, wherever it points.
            struct stat st;
            if (lstat((hostFolder + name).c_str(), &st) != 0)
                continue;
            kind = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
        }
        if (kind == DT_DIR && name != kLostFound)
            folders.push_back(name);
        else if (kind == DT_REG)
            files.emplace_back(requestedFolder, name);
    }
    closedir(dir);
    std::sort(folders.begin() + 1, folders.end(), lessNoCase);
    std::sort(files.begin(), files.end(), [](const FileEntry& a, const FileEntry& b) { return lessNoCase(a.name, b.name); });
    if (files.empty())
        files.emplace_back();
    _setCursorMax();
    if (!keepCursor) {
        int32_t c = 1;
        for (size_t k = 0; k < files.size(); ++k) {
            if (files[k].type == FileTypeProject) {
                c = int32_t(folders.size() + k);
                break;
            }
        }
        cursor.setValue(c, false);
    }
    listedFolder = requestedFolder;
    reload.store(false, std::memory_order_release);
}

void FileBrowser::_listFailed() {
    if (requestedFolder == rootFolder) {
        for (const std::string& f : {rootFolder, recordingsFolder}) {
            if (!host::makeFolders(host::hostPath(f))) {
                // Once per open, not once per frame.
                Driver::guiNotify.warning("Failed to create: " + f);
                rootFailed_.store(true, std::memory_order_release);
                return;
            }
        }
        reload.store(true, std::memory_order_release);
        return;
    }
    const std::string last = requestedFolder.substr(parentOf(requestedFolder).size());
    Driver::guiNotify.warning("Failed to load folder: " + last);
    if (listedFolder.find(last) == std::string::npos) {
        requestedFolder = listedFolder;
        reload.store(true, std::memory_order_release);
    } else {
        requestedFolder = parentOf(listedFolder);
    }
    // Never above the data folder, whatever the texts had in common.
    if (insideRoot(requestedFolder).empty())
        requestedFolder = rootFolder;
}

void FileBrowser::_setCursorMax() {
    cursor.setMax(std::max(_rows() - 1, 0));
}

int FileBrowser::_fileAt(int row) const {
    const int f = row - int(folders.size());
    return f >= 0 && f < int(files.size()) ? f : -1;
}

// ---- keys and encoder (interface task) ----

void FileBrowser::_encoder(int delta, bool keyZeroHeld) {
    if (mode.load(std::memory_order_acquire) != Browsing)
        return;
    const int32_t before = cursor.value.load(std::memory_order_relaxed);
    cursor.changeBy(delta, false, false);
    const int32_t now = cursor.value.load(std::memory_order_relaxed);
    if (now == before)
        return;
    const int f = _fileAt(now);
    if (f < 0)
        return;
    FileEntry& entry = files[size_t(f)];
    if (keyZeroHeld && entry.type == markedType && isLoadable(markedType) && entry.marked != lastMark) {
        entry.marked = lastMark;
        markedCount = lastMark ? markedCount + 1 : markedCount - 1;
        if (markedCount == 0)
            markedType = 0;
    }
    if (entry.type == FileTypeAudio && preview.value.load(std::memory_order_relaxed) != 0 && previewer &&
        !(services.clockRunning && services.clockRunning()))
        previewer->play(entry.folder + entry.name);
}

void FileBrowser::_button(int key) {
    const int32_t row = cursor.value.load(std::memory_order_relaxed);
    const bool onFolder = row >= 0 && row < int32_t(folders.size());
    switch (key) {
    case 0: {
        const int f = _fileAt(row);
        if (f < 0)
            break;
        FileEntry& entry = files[size_t(f)];
        if (!isMarkable(entry.type) || (markedType != 0 && markedType != entry.type))
            break;
        entry.marked = entry.marked ? 0 : 1;
        lastMark = entry.marked;
        markedType = entry.type;
        markedCount = entry.marked ? markedCount + 1 : markedCount - 1;
        break;
    }
    case 1: _actionList(); break;
    case 2: _back(); break;
    case 3:
        if (onFolder)
            _enter();
        else
            _loadRequest();
        break;
    default:
        for (int k = 0; k < 5; ++k)
            if (kTrackKeys[k] == key)
                trackEnabled[size_t(k)].setValue(trackChosen(k) ? 0 : 1, false);
        break;
    }
    if (markedCount == 0)
        markedType = 0;
}

void FileBrowser::_back() {
    if (requestedFolder == rootFolder) {
        _closeSelf();
        return;
    }
    requestedFolder = parentOf(listedFolder);
    if (insideRoot(requestedFolder).empty())
        requestedFolder = rootFolder;
}

void FileBrowser::_enter() {
    const int32_t row = cursor.value.load(std::memory_order_relaxed);
    if (row == 0) {
        if (requestedFolder != rootFolder)
            _back();
    } else {
        requestedFolder += folders[size_t(row)] + "/";
    }
    cursor.setValue(1, false);
}

// ---- dialogues ----

void FileBrowser::_actionList() {
    const int32_t row = cursor.value.load(std::memory_order_relaxed);
    if (row <= 0)
        return;
    if (row < int32_t(folders.size())) {
        if (Driver::listSelection.open("Folder: " + folders[size_t(row)], {kSaveNewFile}, false)) {
            mode.store(FolderActions, std::memory_order_release);
            editorState.store(0, std::memory_order_release);
        }
        return;
    }
    const int f = _fileAt(row);
    if (f >= 0 && Driver::listSelection.open("File: " + files[size_t(f)].name, {kSaveNewFile, kOverwrite}, true)) {
        mode.store(FileActions, std::memory_order_release);
        editorState.store(0, std::memory_order_release);
    }
}

void FileBrowser::_loadRequest() {
    const int f = _fileAt(cursor.value.load(std::memory_order_relaxed));
    if (f < 0)
        return;
    loadList.clear();
    for (const FileEntry& e : files)
        if (e.marked)
            loadList.push_back(e.folder + e.name);
    const FileEntry& entry = files[size_t(f)];
    if (loadList.empty() && isLoadable(entry.type)) {
        loadList.push_back(entry.folder + entry.name);
        markedCount = 1;
        markedType = entry.type;
    }
    if (loadList.empty() || !isLoadable(markedType))
        return;
    const std::string question = loadList.size() > 1 ? "Load " + std::to_string(loadList.size()) + " files?"
                                                     : "Load " + fileNameOf(loadList.front()) + "?";
    if (Driver::confirm.open(question, kYes, kNo)) {
        mode.store(LoadConfirm, std::memory_order_release);
        editorState.store(0, std::memory_order_release);
    } else {
        _recountMarks();
    }
}

void FileBrowser::loadLastProject() {
    const std::string path = lastProject.toString();
    // Read from the configuration file: a path that leads out of the data
    // folder is not even looked at.
    const std::string inside = insideRoot(path);
    if (inside.empty() || inside.back() == '/' || !fileExists(inside)) {
        Driver::guiNotify.warning("Could not load last project...");
        return;
    }
    if (GUI::currentEditor.load(std::memory_order_acquire) != this && !GUI::openEditor(this, false))
        return;
    if (mode.load(std::memory_order_acquire) != Browsing)
        return;  // a dialogue is under way
    loadList.assign(1, inside);
    markedType = FileTypeProject;
    requestedFolder = inside.substr(0, inside.rfind('/') + 1);
    if (Driver::confirm.open("Load " + fileNameOf(inside) + "?", kYes, kNo))
        mode.store(LoadConfirm, std::memory_order_release);
    editorState.store(0, std::memory_order_release);
}

void FileBrowser::_toBrowsing() {
    saveType = 0;
    deferredArmed = false;
    mode.store(Browsing, std::memory_order_release);
    editorState.store(0, std::memory_order_release);
}

void FileBrowser::_recountMarks() {
    // The count and type follow the marks themselves, whatever a load set.
    markedCount = 0;
    markedType = 0;
    for (const FileEntry& e : files) {
        if (e.marked) {
            ++markedCount;
            markedType = e.type;
        }
    }
}

void FileBrowser::_runDialogue() {
    switch (mode.load(std::memory_order_acquire)) {
    case FileActions:
    case FolderActions: {
        const uint32_t r = Driver::listSelection.result();
        if (r == kPopupOpen)
            return;
        if (r != kPopupAccepted) {
            _toBrowsing();
            return;
        }
        const int32_t k = Driver::listSelection.chosen();
        const auto& items = Driver::listSelection.items();
        const std::string item = k >= 0 && size_t(k) < items.size() ? items[size_t(k)] : std::string();
        if (item == kSaveNewFile) {
            overwrite = false;
            if (Driver::listSelection.open(kSaveTypeTitle, std::vector<std::string>(std::begin(kSaveTypes), std::end(kSaveTypes)), true)) {
                mode.store(TypeList, std::memory_order_release);
                editorState.store(0, std::memory_order_release);
            } else {
                _toBrowsing();
            }
        } else if (item == kOverwrite) {
            const int f = _fileAt(cursor.value.load(std::memory_order_relaxed));
            if (f >= 0 && isOverwritable(files[size_t(f)].type)) {
                const FileEntry& e = files[size_t(f)];
                targetPath = e.folder + e.name;
                overwrite = true;
                saveType = e.type;
                if (Driver::confirm.open("Overwrite " + e.name + " with new save?", kYes, kNo)) {
                    mode.store(SaveConfirm, std::memory_order_release);
                    editorState.store(0, std::memory_order_release);
                } else {
                    _toBrowsing();
                }
            } else {
                Driver::guiNotify.warning("Cannot overwrite because file type is unsupported");
                _toBrowsing();
            }
        } else {
            _toBrowsing();
        }
        return;
    }
    case TypeList: {
        const uint32_t r = Driver::listSelection.result();
        if (r == kPopupOpen)
            return;
        const int32_t k = Driver::listSelection.chosen();
        if (r != kPopupAccepted || k < 0 || size_t(k) >= std::size(kSaveTypes)) {
            _toBrowsing();
            return;
        }
        const std::string name = kSaveTypes[k];
        const auto type = fileTypes().find(name);
        if (type == fileTypes().end() ||
            !Driver::numpad.open(Numpad::kName, "Save " + name + " as:", "", 32)) {
            _toBrowsing();
            return;
        }
        saveType = type->second;
        mode.store(NameEntry, std::memory_order_release);
        editorState.store(0, std::memory_order_release);
        return;
    }
    case NameEntry: {
        if (!Driver::numpad.takeAccepted()) {
            if (Driver::numpad.takeCancelled())
                _toBrowsing();
            return;
        }
        const std::string name = Driver::numpad.text;
        if (!isUsableName(name)) {
            Driver::guiNotify.warning("Invalid file name");
            _toBrowsing();
            return;
        }
        targetPath = listedFolder + name + "." + fileTypeExtension(FileType(saveType));
        if (Driver::confirm.open("Save file as " + fileNameOf(targetPath) + "?", kYes, kNo)) {
            mode.store(SaveConfirm, std::memory_order_release);
            editorState.store(0, std::memory_order_release);
        } else {
            _toBrowsing();
        }
        return;
    }
    case SaveConfirm: {
        const uint32_t r = Driver::confirm.result();
        if (r == kPopupAccepted) {
            Driver::guiNotify.busy("Saving file...");
            deferredArmed = true;
        } else if (r == kPopupCancelled) {
            _toBrowsing();
        } else if (r == kPopupIdle && deferredArmed) {
            deferredArmed = false;
            if (_save()) {
                _closeSelf();
            } else {
                _toBrowsing();
            }
        }
        return;
    }
    case LoadConfirm: {
        const uint32_t r = Driver::confirm.result();
        if (r == kPopupAccepted) {
            char text[48];
            std::snprintf(text, sizeof text, "Loading %u files...", unsigned(loadList.size()));
            Driver::guiNotify.busy(text);
            deferredArmed = true;
        } else if (r == kPopupCancelled) {
            _recountMarks();
            _toBrowsing();
        } else if (r == kPopupIdle && deferredArmed) {
            deferredArmed = false;
            const uint32_t type = markedType;
            const bool done = _load();
            _recountMarks();
            if (done) {
                _closeSelf();
                if (type == FileTypeAudio) {
                    if (samplePoolPage)
                        GUI::openEditor(samplePoolPage, false);
                    if (previewer)
                        previewer->stop();
                }
            } else {
                _toBrowsing();
            }
        }
        return;
    }
    default: return;
    }
}

FileBrowser::FileWorkGuard::FileWorkGuard(FileBrowser& browser) : browser_(browser) {
    uint32_t idle = FileWorkIdle;
    entered_ = browser_.fileWork_.compare_exchange_strong(idle, FileWorkBusy, std::memory_order_acq_rel);
}

FileBrowser::FileWorkGuard::~FileWorkGuard() {
    if (!entered_)
        return;
    browser_.fileWork_.store(FileWorkIdle, std::memory_order_release);
    browser_.fileWork_.notify_all();
}

void FileBrowser::closeFileWork() {
    bool said = false;
    for (;;) {
        uint32_t seen = FileWorkIdle;
        if (fileWork_.compare_exchange_strong(seen, FileWorkClosed, std::memory_order_acq_rel) ||
            seen == FileWorkClosed)
            return;
        if (!said) {
            printf("Waiting for the load or save under way to end\n");
            fflush(stdout);
            said = true;
        }
        fileWork_.wait(seen, std::memory_order_acquire);
    }
}

void FileBrowser::openFileWork() { fileWork_.store(FileWorkIdle, std::memory_order_release); }

bool FileBrowser::_load() {
    if (loadList.empty())
        return false;
    const FileWorkGuard work(*this);
    if (!work.entered())
        return false;
    const std::string& first = loadList.front();
    const int t = track.value.load(std::memory_order_relaxed);
    switch (markedType) {
    case FileTypeProject:
    case FileTypeSequencer:
    case FileTypeInstrument:
    case FileTypeNoteLists:
    case FileTypeSampleLists:
    case FileTypeMotion: {
        const LoadResult r = services.readFile ? services.readFile(first, t) : LoadOpenFailed;
        if (r != LoadSuccess) {
            Driver::guiNotify.warning(std::string("Error while loading: ") + loadResultText(r));
            return r == LoadDependencyFailed;
        }
        Driver::guiNotify.success(fileNameOf(first) + " has been loaded.");
        if ((markedType == FileTypeSampleLists || markedType == FileTypeProject) && services.queueTreeRebuilds)
            services.queueTreeRebuilds();
        if (markedType == FileTypeProject && first != ProjectFolder::kTemplatePath)
            lastProject.setFromString(first);
        return true;
    }
    case FileTypeTuning: {
        // Every marked scale, not only the first.
        bool all = true;
        for (const std::string& path : loadList) {
            const LoadResult r = services.readTuning ? services.readTuning(path) : LoadOpenFailed;
            if (r == LoadSuccess) {
                Driver::guiNotify.success(fileNameOf(path) + " has been loaded.");
            } else {
                Driver::guiNotify.warning(std::string("Error while loading: ") + loadResultText(r));
                all = false;
            }
        }
        return all;
    }
    case FileTypeAudio:
        if (services.loadSamples)
            services.loadSamples(loadList);
        // The worker analyses the new samples on its next run.
        if (services.queueTreeRebuilds)
            services.queueTreeRebuilds();
        Driver::guiNotify.dismiss(false);
        return true;
    default: return false;
    }
}

bool FileBrowser::_save() {
    const FileWorkGuard work(*this);
    if (!work.entered())
        return false;
    const int t = track.value.load(std::memory_order_relaxed);
    const SaveResult r = services.save ? services.save(targetPath, FileType(saveType), t, overwrite) : SaveCreateFailed;
    if (r != SaveSuccess) {
        Driver::guiNotify.warning(std::string("Error while saving: ") + saveResultText(r));
        return false;
    }
    const std::string name = fileNameOf(targetPath);
    Driver::guiNotify.success(name + " has been saved.");
    if (saveType == FileTypeProject) {
        const std::string stem = name.substr(0, name.rfind('.'));
        lastProject.setFromString(overwrite ? targetPath : listedFolder + stem + "-project/" + name);
    }
    return true;
}

// ---- drawing ----

void FileBrowser::draw(MonoGFX& w) {
    update();
    w.clear();
    w.setColour(15);
    w.setFont(&font_compact, 1, 0);
    w.setTextMode(0);
    w.drawIcon(0, 0, kBrowserIcon);
    if (markedCount > 0 && markedType != FileTypeSampleLists && markedType != FileTypeMotion)
        w.drawIcon(10, 0, typeIcon(markedType));
    std::string relative = listedFolder.size() >= rootFolder.size() ? listedFolder.substr(rootFolder.size()) : "";
    if (relative.size() > 20)
        relative = "../" + relative.substr(parentOf(relative).size());
    w.drawText(20, 0, "../" + relative);
    w.setColour(8);
    w.setDotted(true);
    w.drawLine(0, 10, 255, 10);
    w.setDotted(false);
    _drawHint(w);

    const int total = _rows();
    const int32_t c = cursor.value.load(std::memory_order_relaxed);
    const int first = w.drawScrollBar(255, 12, 50, c, total, kRows);
    for (int i = 0; i < kRows; ++i)
        _drawRow(w, first + i, 12 + 10 * i);
    if (previewer && previewer->isPlaying())
        w.drawMessageBox("previewing sample", kPreviewIcon, 2, 2);
}

void FileBrowser::_drawHint(MonoGFX& w) {
    const int32_t row = cursor.value.load(std::memory_order_relaxed);
    const uint32_t m = mode.load(std::memory_order_acquire);
    std::string hint;
    uint32_t icon = 0;
    if (row >= 0 && row < int32_t(folders.size())) {
        hint = " open folder ", icon = kCheckIcon;
    } else if (m == TypeList || m == NameEntry) {
        hint = "confirm ", icon = kCheckIcon;
    } else if (m != Browsing) {
        return;
    } else if (markedCount > 0) {
        hint = "load " + std::to_string(markedCount) + (markedCount > 1 ? " files " : " file ");
        icon = kCheckIcon;
    } else if (const int f = _fileAt(row); f >= 0) {
        switch (files[size_t(f)].type) {
        case FileTypeNone: return;
        case FileTypeOther: hint = "file unsupported.. "; break;
        case FileTypeProject:
            hint = "load proj ( ";
            for (int k = 0; k < 5; ++k)
                if (trackChosen(k))
                    hint += std::to_string(k + 1) + " ";
            hint += ") ";
            icon = kCheckIcon;
            break;
        case FileTypeTuning:
        case FileTypeAudio: hint = "select file ", icon = kSelectIcon; break;
        default: hint = "load file ", icon = kCheckIcon; break;
        }
    }
    w.setColour(8);
    w.setTextMode(1);
    w.drawText(247, 0, hint);
    w.setTextMode(0);
    if (icon)
        w.drawIcon(247, 0, icon);
}

void FileBrowser::_drawRow(MonoGFX& w, int index, int y) {
    if (index < 0 || index >= _rows())
        return;
    const bool atCursor = index == cursor.value.load(std::memory_order_relaxed);
    if (atCursor) {
        w.setColour(2);
        w.fillRect(0, y, 254, y + 9);
    }
    const int f = _fileAt(index);
    if (f < 0) {
        if (index == 0) {
            w.setColour(atCursor ? 15 : 8);
            w.drawIcon(12, y, kParentIcon);
            return;
        }
        w.setColour(atCursor ? 15 : 8);
        w.drawIcon(2, y + 1, kFolderIcon);
        w.drawText(12, y + 1, folders[size_t(index)]);
        return;
    }
    const FileEntry& e = files[size_t(f)];
    if (isMarkable(e.type)) {
        w.setColour(e.marked ? 15 : 4);
        w.drawIcon(1, y, kCheckIcon);
    }
    w.setColour(atCursor ? 15 : 8);
    w.drawText(12, y + 1, e.name);
    w.setTextMode(1);
    switch (e.type) {
    case FileTypeInstrument:
        w.setColour(8);
        w.drawText(245, y + 1, e.engine);
        [[fallthrough]];
    case FileTypeProject:
    case FileTypeSequencer:
    case FileTypeNoteLists:
    case FileTypeSampleLists:
    case FileTypeTuning:
        w.setColour(atCursor ? 15 : 8);
        w.drawIcon(247, y + 1, typeIcon(e.type));
        break;
    case FileTypeAudio: {
        char length[16];
        std::snprintf(length, sizeof length, "%02d:%02d:%03d", std::clamp(e.minutes, 0, 99),
                      std::clamp(e.seconds, 0, 59), std::clamp(e.milliseconds, 0, 999));
        w.setColour(8);
        w.drawText(243, y + 1, length);
        w.drawIcon(247, y + 1, kAudioIcon);
        break;
    }
    default: break;
    }
    w.setTextMode(0);
}
