// The one owner of every loaded sample and every sample list, and the
// "Sample lists" page that edits them. Samples are kept by path, lists by
// name; the choice lists of the engines' sample-list parameters follow the
// lists ("none" first, then the names in order). A background worker,
// "corvane-sample-worker", analyses new samples and rebuilds feature trees.
//
// Threads: the interface thread loads, edits and runs the page; the worker
// analyses and rebuilds; the audio thread (getResource, getGroupEntry) and
// the grain look-up task (getGroupEntriesByFeature) read. The two maps are
// immutable snapshots that the interface thread replaces whole, so a reader
// never sees one half-changed; the worker takes its queues in one batch, so
// what arrives meanwhile waits for the next run. The page's encoder handler
// runs on the audio thread, its key handler where the editor requests are
// carried out (the interface task): each only posts a request into a ring of
// its own, and update() carries both out on the interface thread in the
// order they came.
#pragma once

#include "gui/GuiEditor.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterFraction.h"
#include "parameters/ParameterInt.h"
#include "parameters/Snapshot.h"
#include "platform/AuxiliaryTask.h"
#include "dsp/TwoProducerInbox.h"
#include "samples/AudioResource.h"
#include "samples/AudioSampleGroup.h"
#include "samples/SamplePool.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class AudioRecorder;
class MonoGFX;

// What the pool needs of the instrument core, installed by its set-up (tests
// install doubles): telling the voice manager that a list changed, and
// starting and stopping a recording through it.
struct SamplePoolLinks {
    std::function<void(const std::string& list)> listChanged;
    // mode, first channel, channel count, track; an empty path receives the file name.
    std::function<bool(std::string& path, uint32_t mode, uint32_t first, uint32_t count, uint32_t track)>
        startRecording;
    std::function<void()> stopRecording;
    AudioRecorder* recorder = nullptr;
};

class AudioResourcePool : public SamplePool, public GuiEditor {
public:
    using ResourceMap = std::map<std::string, std::shared_ptr<AudioResource>, std::less<>>;
    using GroupMap = std::map<std::string, std::shared_ptr<AudioSampleGroup>, std::less<>>;

    static constexpr int kWorkerPriority = 40;
    static constexpr const char* kNoList = "none";
    static constexpr const char* kSampleRoot = "/home/corvane/";
    static constexpr uint32_t kNameLength = 7;
    static constexpr uint32_t kMaxSlices = 16;

    struct Source {
        const char* name;
        uint32_t mode, first, count, track;
    };
    static const std::array<Source, 12>& recordingSourceTable();

    AudioResourcePool();
    ~AudioResourcePool() override;
    AudioResourcePool(const AudioResourcePool&) = delete;
    AudioResourcePool& operator=(const AudioResourcePool&) = delete;

    // Start-up: the worker task, then the choice lists. Without a task (tests)
    // the caller runs the worker itself.
    bool setup(bool withTask = true);
    // Shut-down, before the platform stops its tasks: the worker task is
    // forgotten (what is queued waits for the next set-up's worker).
    void releaseTask() { task_.store(nullptr, std::memory_order_release); }
    void setLinks(SamplePoolLinks links) { links_ = std::move(links); }

    // ---- the store (interface thread unless said otherwise)
    bool loadSample(const std::string& path) override;
    int loadSamples(const std::vector<std::string>& paths) override;
    // Any thread; on the audio thread without waiting.
    std::shared_ptr<AudioResource> getResource(const std::string& path) override;
    // Null when missing and not created. The pointer is good until the list
    // is deleted, which only the interface thread does.
    AudioSampleGroup* getGroup(const std::string& name, bool create);
    // Not the audio thread: a list kept alive while it is used.
    std::shared_ptr<AudioSampleGroup> sharedGroup(std::string_view name) const;
    // Interface task: the pointer is good until the list is deleted, which
    // only the interface task does.
    const AudioSampleGroup* findGroup(std::string_view name) const override { return sharedGroup(name).get(); }
    AudioSampleGroupEntryPtr getGroupEntry(std::string_view list, int32_t step, uint32_t order) override;
    std::vector<FeatureHit> getGroupEntriesByFeature(std::string_view list, float a, float b, float radius) override;
    void registerListParameter(ParameterInt* parameter) override;
    void unregisterListParameter(ParameterInt* parameter) override;
    void updateListParameters();
    void queueTreeRebuilds();
    void deleteList(const std::string& name);
    // False, and nothing changes, for a refused or taken new name.
    bool renameList(const std::string& oldName, const std::string& newName);
    void _copySampleSelection(int32_t index, const std::string& fromList, const std::string& toList);
    void sliceEntry(uint32_t index, uint32_t slices, const std::string& fromList, const std::string& toList);
    void unloadMarked();
    void removeUnloadedEntries();
    void reset();
    std::string suggestListName();

    // "none" followed by the list names in order.
    std::vector<std::string> listNames() const;
    size_t groupCount() const { return groups_.get()->size(); }
    size_t resourceCount() const { return resources_.get()->size(); }
    SampleSource& samples() { return *this; }
    const std::vector<std::string>& newSamples() const { return newSamples_; }
    bool newSamplesPending() const { return newSamplesPending_; }
    bool isAnalysing() const { return analysing_.load(std::memory_order_acquire); }
    bool isRebuilding() const { return rebuilding_.load(std::memory_order_acquire); }
    size_t analysisQueued() const;

    // The worker's run.
    void runWorker();

    // ---- the page
    void encoder(int index, int delta, bool pushed) override;
    void button(int key, int event) override;
    void open() override;
    bool close() override;
    bool isOpen() override { return viewState_.load(std::memory_order_acquire) != 0; }
    bool isOpen() const override { return viewState_.load(std::memory_order_acquire) != 0; }
    void draw(MonoGFX& window) override;
    void update() override;
    int32_t selectedEntryIndex() const override;
    void selectEntryForEditing();
    void deleteSelectedEntry();
    void addNewSamplesToList(const std::string& name);

    uint32_t viewState() const { return viewState_.load(std::memory_order_acquire); }
    uint32_t pendingDialog() const { return pendingDialog_; }
    AudioSampleGroupEntryPtr editingEntry() const { return editingEntry_; }
    // The recording the page waits to load (instrument path), empty when none.
    const std::string& recordingPath() const { return recordingPath_; }
    bool loadRecordingPending() const { return loadRecordingPending_; }

    // Page parameters, in order.
    ParameterInt cursor;
    ParameterInt parSampleList;
    ParameterInt sample;
    ParameterInt copyInsert;
    ParameterInt data;
    ParameterFloat start;
    ParameterFloat end;
    ParameterFraction rate;
    ParameterFloat volume;

    static constexpr float kMinRate = 1.0f / 64.0f;
    static constexpr float kMaxRate = 64.0f;

private:
    // One key or encoder event, posted by the audio thread.
    struct Request {
        uint8_t encoder;  // 1 encoder, 0 key
        uint8_t pushed;
        uint8_t held;  // bits: keys 0, 5, 10, 15 held at the time
        uint8_t index;
        int32_t value;  // encoder ticks or key event
    };
    static constexpr size_t kRequests = 64;

    enum Data : int32_t { DataStart = 0, DataEnd = 1, DataRate = 2, DataVolume = 3 };

    static bool _hostFile(const std::string& path, std::string& hostFile);
    void _publishGroups(const std::function<void(GroupMap&)>& change);
    std::shared_ptr<AudioSampleGroup> _shownGroup() const;
    std::string _shownName() const;
    void _schedule();
    void _handle(const Request& r);
    void _handleButton(int key, uint8_t held);
    void _handleEncoder(int index, int delta, bool pushed, uint8_t held);
    void _editValue(int delta, bool pushed);
    void _dialogs();
    void _recordingDone();
    void _pendingOpen(uint32_t dialog);
    // Ends a pending dialog once it is answered; true when it was accepted.
    bool _answered(int answer);
    void _publishSelection();
    void _drawRows(MonoGFX& window, bool overview);
    void _drawPanel(MonoGFX& window);

    // ---- store
    Snapshot<ResourceMap> resources_;
    Snapshot<GroupMap> groups_;
    std::vector<std::string> listNames_;
    std::mutex parametersLock_;
    std::vector<ParameterInt*> listParameters_;
    std::atomic<bool> analysing_{false};
    std::atomic<bool> rebuilding_{false};
    mutable std::mutex queueLock_;  // interface thread and worker only
    std::vector<std::string> analysisQueue_;
    std::vector<std::string> rebuildQueue_;
    std::map<char, std::vector<char>> nameChain_;
    std::vector<std::string> newSamples_;
    std::string copySource_;
    bool newSamplesPending_ = false;
    std::atomic<AuxiliaryTask> task_{nullptr};  // made anew at each set-up
    SamplePoolLinks links_;

    // ---- page
    bool loadRecordingPending_ = false;
    std::atomic<uint32_t> viewState_{0};
    uint32_t pendingDialog_ = 0;
    bool copySelectionOnly_ = false;
    bool insertConfirmed_ = false;
    AudioSampleGroupEntryPtr editingEntry_;
    std::string recordingPath_;
    uint32_t markerStep_ = 20;
    uint32_t startEditAge_ = 0;
    uint32_t endEditAge_ = 0;
    uint32_t panelDelay_ = 10;
    uint32_t panelAge_ = 0;
    bool lastPitchTracking_ = false;
    bool lastLooping_ = false;
    bool lastStartFromZero_ = false;
    bool lastSelected_ = false;
    std::atomic<bool> zoomHeld_{false};
    // What selectedEntryIndex answers; kept by the interface thread, read by the audio thread's key handling.
    std::atomic<int32_t> selectedEntry_{-1};
    // Encoder turns from the audio thread, keys from the interface; a full
    // ring drops what comes.
    TwoProducerInbox<Request, kRequests> requests_;
};

namespace DSP {
extern AudioResourcePool audioPool;
}

// "mic in 1" .. "main output": the sources a recording can take.
extern const std::vector<std::string> recordingSources;

// The worker task's entry (argument: the pool, or none for the global one).
void audioPoolBackgroundFunc(void* arg);
