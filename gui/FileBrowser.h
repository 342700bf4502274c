// The page through which the user walks the instrument's data folder, marks
// and previews files, and loads and saves projects and their parts. Encoder
// 12 arrives on the audio thread, keys where the editor requests are carried
// out; each only posts a fixed-size record into a ring of its own thread. The
// interface task lists, applies the input in the order it came, runs the
// dialogues and draws, so the listing has one writer. No folder outside the data folder is ever
// listed, read or written.
#pragma once

#include "gui/GuiEditor.h"
#include "instrument/files/FileTypes.h"
#include "parameters/ParameterInt.h"
#include "parameters/ParameterString.h"
#include "dsp/TwoProducerInbox.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class MonoGFX;
class SamplePreview;

// The work the browser hands on: the file layer, the sample pool and its page.
// The defaults call the instrument's own; tests put doubles in.
struct FileBrowserServices {
    // track: 1..5
    std::function<LoadResult(const std::string& path, int track)> readFile;
    std::function<LoadResult(const std::string& path)> readTuning;
    std::function<SaveResult(const std::string& path, FileType type, int track, bool overwrite)> save;
    std::function<void(const std::vector<std::string>& paths)> loadSamples;
    std::function<void()> queueTreeRebuilds;
    std::function<bool()> clockRunning;
};

class FileBrowser : public GuiEditor {
public:
    enum Mode : uint32_t {
        Closed = 0,
        Browsing = 1,
        FileActions = 2,
        FolderActions = 3,
        LoadConfirm = 4,
        TypeList = 5,
        NameEntry = 6,
        SaveConfirm = 7,
    };
    static constexpr const char* kRootFolder = "/home/corvane/";
    static constexpr size_t kQueueSize = 64;
    static constexpr int kRows = 5;

    FileBrowser();

    void encoder(int index, int delta, bool pushed) override;
    void button(int key, int event) override;
    void open() override;
    bool close() override;
    bool isOpen() override { return mode.load(std::memory_order_acquire) != Closed; }
    void draw(MonoGFX& window) override;
    bool _inputAccepted() override;
    void update() override;

    // Interface task: asks to reload the project last loaded or saved here.
    void loadLastProject();
    // Whether a project load replaces track index 0..4.
    bool trackChosen(int index) const;

    // The exit saves the configuration only after a load or save under way
    // here has ended with "last project" set, and none starts after that:
    // closeFileWork waits for it (clean-up), openFileWork allows them again
    // (set-up).
    void closeFileWork();
    void openFileWork();

    static bool isLoadable(uint32_t type);
    static bool isOverwritable(uint32_t type);
    // The folder (ending in a slash) with "." and ".." resolved; empty when
    // it is not inside the data folder.
    static std::string insideRoot(const std::string& path);

    ParameterInt cursor;
    ParameterInt track;
    std::array<ParameterInt, 5> trackEnabled;
    ParameterInt preview;
    ParameterString lastProject;

    const std::string rootFolder = kRootFolder;
    const std::string recordingsFolder = std::string(kRootFolder) + "recordings/";
    std::string listedFolder = "/";
    std::string requestedFolder = kRootFolder;
    std::atomic<bool> reload{false};
    std::atomic<uint32_t> mode{Closed};
    uint32_t markedType = 0;
    bool deferredArmed = false;
    uint32_t markedCount = 0;
    std::vector<FileEntry> files;
    std::vector<std::string> folders;
    std::vector<std::string> loadList;
    std::string targetPath;
    bool overwrite = false;
    uint32_t saveType = 0;
    uint8_t lastMark = 0;

    FileBrowserServices services;
    SamplePreview* previewer = nullptr;
    // The sample pool's page, opened after audio files were loaded.
    GuiEditor* samplePoolPage = nullptr;

private:
    enum FileWork : uint32_t { FileWorkIdle, FileWorkBusy, FileWorkClosed };
    // Clears the busy state however the work ends.
    class FileWorkGuard {
    public:
        explicit FileWorkGuard(FileBrowser& browser);
        ~FileWorkGuard();
        FileWorkGuard(const FileWorkGuard&) = delete;
        FileWorkGuard& operator=(const FileWorkGuard&) = delete;
        // False once the exit has closed the browser's file work.
        bool entered() const { return entered_; }

    private:
        FileBrowser& browser_;
        bool entered_;
    };

    enum InputKind : uint8_t { InputKey, InputEncoder };
    struct Input {
        uint8_t kind;
        uint8_t keyZeroHeld;
        int16_t index;
        int32_t value;  // key event or encoder delta
    };

    void _applyInput();
    void _button(int key);
    void _encoder(int delta, bool keyZeroHeld);
    void _list();
    void _listFailed();
    void _back();
    void _enter();
    void _actionList();
    void _loadRequest();
    void _runDialogue();
    bool _load();
    bool _save();
    void _toBrowsing();
    void _closeSelf();
    void _recountMarks();
    void _setCursorMax();
    void _drawHint(MonoGFX& w);
    void _drawRow(MonoGFX& w, int index, int y);
    // -1 when the row is not a file.
    int _fileAt(int row) const;
    int _rows() const { return int(folders.size() + files.size()); }

    // Encoder turns from the audio thread, keys from the interface; a full
    // ring drops what comes.
    TwoProducerInbox<Input, kQueueSize> inputs_;
    // A root that could not be made is tried again at the next open.
    std::atomic<bool> rootFailed_{false};
    std::atomic<uint32_t> fileWork_{FileWorkIdle};
};

namespace Driver {
extern FileBrowser fileBrowser;
}
