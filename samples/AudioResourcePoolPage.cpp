// The "Sample lists" page of the sample pool.
#include "samples/AudioResourcePool.h"

#include "drivers/KeyDebouncer.h"
#include "dsp/Utilities.h"
#include "gui/Confirm.h"
#include "gui/GuiNotify.h"
#include "gui/ListSelect.h"
#include "gui/MonoGFX.h"
#include "gui/Numpad.h"
#include "gui/PageWidgets.h"
#include "samples/AudioRecorder.h"
#include "samples/DiskRecorder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr uint32_t kKeyDown = 2;
constexpr unsigned kNameMode = 3;
constexpr int kEncoderList = 12;
constexpr int kEncoderValue = 28;
// Held-key bits a request carries: the flag keys paint while held.
constexpr int kFlagKeys[4] = {0, 5, 10, 15};

constexpr const char* kEdit = "Edit";
constexpr const char* kRecordAudio = "record audio";
constexpr const char* kStopRecording = "stop recording";
constexpr const char* kCopyList = "copy list";
constexpr const char* kRenameList = "rename list";
constexpr const char* kCopySamples = "copy samples";
constexpr const char* kShuffleList = "shuffle list";
constexpr const char* kSliceSample = "slice sample";
constexpr const char* kCreateNewList = "create new list";
constexpr const char* kNameOfNewList = "Name of new list:";

int32_t valueOf(const ParameterInt& p) { return p.values[p.activeSlot]; }

std::string fileNameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string stemOf(const std::string& path) {
    std::string name = fileNameOf(path);
    if (const size_t dot = name.rfind('.'); dot != std::string::npos)
        name.erase(dot);
    return name;
}

// -1 still open, 0 cancelled or gone, 1 accepted.
int listAnswer() {
    const uint32_t r = Driver::listSelection.result();
    return r == kPopupAccepted ? 1 : r == kPopupCancelled || r == kPopupIdle ? 0 : -1;
}

int confirmAnswer() {
    const uint32_t r = Driver::confirm.result();
    return r == kPopupAccepted ? 1 : r == kPopupCancelled || r == kPopupIdle ? 0 : -1;
}

int numpadAnswer() {
    if (Driver::numpad.isOpen())
        return -1;
    if (Driver::numpad.accepted.exchange(0) != 0)
        return 1;
    Driver::numpad.takeCancelled();
    return 0;
}

}  // namespace

// ---- shown list

std::string AudioResourcePool::_shownName() const { return parSampleList.choiceName(valueOf(parSampleList)); }

std::shared_ptr<AudioSampleGroup> AudioResourcePool::_shownGroup() const { return sharedGroup(_shownName()); }

int32_t AudioResourcePool::selectedEntryIndex() const {
    // Asked by the track's key handling on the audio thread: no look-up there.
    return viewState_.load(std::memory_order_acquire) == 2 ? selectedEntry_.load(std::memory_order_acquire) : -1;
}

void AudioResourcePool::_publishSelection() {
    const auto group = _shownGroup();
    const int32_t index = valueOf(sample);
    selectedEntry_.store(group && index >= 0 && size_t(index) < group->size() ? index : -1,
                         std::memory_order_release);
}

void AudioResourcePool::selectEntryForEditing() {
    const auto group = _shownGroup();
    const int32_t index = valueOf(sample);
    AudioSampleGroupEntryPtr entry = group && index >= 0 ? group->entryAt(size_t(index)) : nullptr;
    // Start and end need two frames between them: a shorter sample has no range to edit.
    if (!entry || entry->frames < 2 || !(entry->sampleRate > 0.0f)) {
        editingEntry_.reset();
        return;
    }
    editingEntry_ = entry;
    const float msPerFrame = 1.0f / (entry->sampleRate * 0.001f);
    const float length = float(entry->frames) * msPerFrame;
    start.setMax(length - msPerFrame);
    start.setValue(float(entry->startFrame.load()) * msPerFrame, false);
    end.setMin(std::min(start.getValue() + 1.0f, length));
    end.setMax(length);
    end.setValue(float(entry->endFrame.load()) * msPerFrame, false);
    rate.setValue(std::clamp(entry->rate.load(), kMinRate, kMaxRate), false);
    volume.setValue(entry->volume.load(), false);
}

void AudioResourcePool::deleteSelectedEntry() {
    const auto group = _shownGroup();
    if (!group)
        return;
    group->remove(uint32_t(std::max(0, valueOf(sample))));
    if (group->size() > 0)
        sample.setMax(int32_t(group->size()) - 1);
    else
        viewState_.store(1, std::memory_order_release);
    queueTreeRebuilds();
}

void AudioResourcePool::addNewSamplesToList(const std::string& name) {
    AudioSampleGroup* group = getGroup(name, false);
    if (!group)
        return;
    if (copySource_.empty()) {
        const int32_t at = valueOf(copyInsert);
        uint32_t i = 0;
        for (const auto& path : newSamples_) {
            const auto resource = getResource(path);
            if (!resource)
                continue;
            group->insert(path, resource->frameCount(), uint32_t(at) + i++, resource->sampleRate, resource->pitch);
        }
    } else {
        if (!copySelectionOnly_)
            if (const auto source = sharedGroup(copySource_))
                for (const auto& entry : *source->entries.get())
                    entry->selected = true;
        _copySampleSelection(valueOf(copyInsert), copySource_, name);
    }
    updateListParameters();
    if (!parSampleList.setFromString(name))
        std::printf("parSampleList.setValueByString() failed after adding to existing group!\n");
    parSampleList.constrain();
    newSamples_.clear();
}

// ---- opening and closing

void AudioResourcePool::open() {
    viewState_.store(1, std::memory_order_release);
    pendingDialog_ = 0;
    editorState.store(0, std::memory_order_release);
    cursor.setMax(std::max<int32_t>(0, int32_t(resourceCount()) - 1));
    if (newSamplesPending_) {
        copySource_.clear();
        if (groups_.get()->empty()) {
            Driver::numpad.open(kNameMode, kNameOfNewList, suggestListName(), kNameLength);
            pendingDialog_ = 5;
        } else {
            auto items = listNames();
            items[0] = kCreateNewList;
            Driver::listSelection.open("Select list to add samples to:", items, false);
            pendingDialog_ = 3;
        }
        newSamplesPending_ = false;
    }
}

bool AudioResourcePool::close() {
    if (pendingDialog_ != 0)
        return false;
    viewState_.store(0, std::memory_order_release);
    queueTreeRebuilds();
    return true;
}

// ---- input: posted on the audio thread, carried out by update

void AudioResourcePool::encoder(int index, int delta, bool pushed) {
    if (index == kEncoderValue)
        zoomHeld_.store(pushed, std::memory_order_relaxed);
    if (!_inputAccepted() || index < 0 || index > 255)
        return;
    uint8_t held = 0;
    for (int i = 0; i < 4; ++i)
        held |= uint8_t(Key::key[size_t(kFlagKeys[i])].held() ? 1 << i : 0);
    requests_.postFromAudio({1, uint8_t(pushed), held, uint8_t(index), delta});
}

void AudioResourcePool::button(int key, int event) {
    if (event != int(kKeyDown) || !_inputAccepted() || key < 0 || key > 255)
        return;
    requests_.postFromInterface({0, 0, 0, uint8_t(key), event});
}

bool AudioResourcePool::_answered(int answer) {
    if (answer < 0)
        return false;  // still open
    pendingDialog_ = 0;
    return answer > 0;
}

void AudioResourcePool::_pendingOpen(uint32_t dialog) {
    pendingDialog_ = dialog;
    editorState.store(0, std::memory_order_release);
}

void AudioResourcePool::_handle(const Request& r) {
    if (r.encoder)
        _handleEncoder(r.index, r.value, r.pushed != 0, r.held);
    else
        _handleButton(r.index, r.held);
}

void AudioResourcePool::_handleButton(int key, uint8_t) {
    const uint32_t view = viewState_.load(std::memory_order_acquire);
    const bool recording = links_.recorder && links_.recorder->isRecording();
    const bool lists = !groups_.get()->empty();
    if (view == 1) {
        if (key == 1) {
            std::vector<std::string> items{recording ? kStopRecording : kRecordAudio};
            if (lists) {
                items.emplace_back(kCopyList);
                items.emplace_back(kRenameList);
            }
            Driver::listSelection.open(kEdit, items, false);
            _pendingOpen(1);
        } else if (key == 2 && lists) {
            Driver::confirm.open("delete sample list " + _shownName() + "?", "yes", "no");
            _pendingOpen(11);
        } else if (key == 3 && lists) {
            const auto group = _shownGroup();
            if (group && group->size() > 0) {
                viewState_.store(2, std::memory_order_release);
                sample.setMax(int32_t(group->size()) - 1);
                selectEntryForEditing();
            }
        }
        return;
    }
    if (view != 2)
        return;
    const auto group = _shownGroup();
    const auto entry = group ? group->entryAt(size_t(std::max(0, valueOf(sample)))) : nullptr;
    switch (key) {
        case 0:
            if (entry)
                entry->selected = lastSelected_ = !entry->selected.load();
            break;
        case 1:
            Driver::listSelection.open(kEdit, {recording ? kStopRecording : kRecordAudio, kCopySamples, kShuffleList,
                                               kSliceSample},
                                       false);
            _pendingOpen(2);
            break;
        case 2:
            if (pendingDialog_ == 4)
                pendingDialog_ = 0;
            else
                _pendingOpen(16);
            break;
        case 3:
            if (pendingDialog_ == 4) {
                insertConfirmed_ = true;
            } else {
                viewState_.store(1, std::memory_order_release);
                if (group && group->dirty.load())
                    queueTreeRebuilds();
            }
            break;
        case 5:
            if (entry)
                entry->pitchTracking = lastPitchTracking_ = !entry->pitchTracking.load();
            break;
        case 10:
            if (entry)
                entry->looping = lastLooping_ = !entry->looping.load();
            break;
        case 15:
            if (entry)
                entry->startFromZero = lastStartFromZero_ = !entry->startFromZero.load();
            break;
        case 25:
            if (pendingDialog_ == 0)
                _pendingOpen(15);
            break;
        case 26:
            if (pendingDialog_ == 0)
                _pendingOpen(14);
            break;
        default:
            break;
    }
}

// Choices count their ticks as every list does: a detent brings two, so a
// forced step per tick would pass over every other entry, field and list.
void AudioResourcePool::_handleEncoder(int index, int delta, bool pushed, uint8_t held) {
    const uint32_t view = viewState_.load(std::memory_order_acquire);
    if (view == 1 && index == kEncoderList) {
        const int32_t before = valueOf(parSampleList);
        parSampleList.changeBy(delta, pushed, false);
        if (valueOf(parSampleList) != before) {
            sample.setValue(0, false);
            const auto group = _shownGroup();
            sample.setMax(std::max<int32_t>(0, int32_t(group ? group->size() : 0) - 1));
        }
        return;
    }
    if (view != 2)
        return;
    if (index == kEncoderList) {
        if (pendingDialog_ == 4) {
            copyInsert.changeBy(delta, pushed, false);
        } else if (!pushed) {
            const int32_t before = valueOf(sample);
            sample.changeBy(delta, false, false);
            if (valueOf(sample) != before) {
                selectEntryForEditing();
                // A held flag key paints its last value over the entries passed.
                if (const auto entry = editingEntry_ ? editingEntry_ : nullptr) {
                    if (held & 2) entry->pitchTracking = lastPitchTracking_;
                    if (held & 4) entry->looping = lastLooping_;
                    if (held & 8) entry->startFromZero = lastStartFromZero_;
                    if (held & 1) entry->selected = lastSelected_;
                }
                panelAge_ = 0;
            }
        } else {
            data.changeBy(delta, false, false);
        }
    } else if (index == kEncoderValue) {
        _editValue(delta, pushed);
    }
}

void AudioResourcePool::_editValue(int delta, bool pushed) {
    const auto group = _shownGroup();
    if (!group || group->size() == 0)
        return;
    const auto entry = group->entryAt(size_t(std::max(0, valueOf(sample))));
    if (!entry || entry->frames < 2 || !(entry->sampleRate > 0.0f))
        return;  // no range to edit in a sample shorter than two frames
    editingEntry_ = entry;
    const float framesPerMs = entry->sampleRate * 0.001f;
    const uint32_t lastFrame = entry->frames - 1;
    auto endFrameFor = [&](uint32_t startFrame) {
        const float wanted = std::max(0.0f, end.getValue() * framesPerMs);
        return std::clamp<uint32_t>(uint32_t(std::min(wanted, float(lastFrame))), startFrame + 1, lastFrame);
    };
    switch (valueOf(data)) {
        case DataRate: {
            if (!rate.changeBy(delta, pushed, false))
                return;
            // Never 0 or below: 0 would freeze a voice, below 0 read before the sample.
            const float r = std::clamp(rate.getValue(), kMinRate, kMaxRate);
            if (r != rate.getValue())
                rate.setValue(r, false);
            entry->setRate(r);
            break;
        }
        case DataVolume:
            if (!volume.changeBy(delta, pushed, false))
                return;
            entry->setVolume(volume.getValue());
            break;
        case DataEnd:
            if (!end.changeBy(delta, pushed, false))
                return;
            entry->endFrame = endFrameFor(entry->startFrame.load());
            endEditAge_ = 0;
            startEditAge_ += markerStep_;
            panelAge_ += panelDelay_;
            break;
        case DataStart: {
            if (!start.changeBy(delta, pushed, false))
                return;
            // Start stays at least one frame before the end.
            const uint32_t first =
                std::min(uint32_t(std::max(0.0f, start.getValue() * framesPerMs)), lastFrame - 1);
            entry->startFrame = first;
            end.setMin(std::min(start.getValue() + 1.0f, float(entry->frames) / framesPerMs));
            entry->endFrame = endFrameFor(first);
            startEditAge_ = 0;
            endEditAge_ += markerStep_;
            panelAge_ += panelDelay_;
            break;
        }
        default:
            return;
    }
    group->dirty = true;
}

// ---- update: requests, the recording to load, the dialogs

void AudioResourcePool::update() {
    Request r{};
    while (requests_.pop(r)) {
        // What arrived after a pop-up opened was meant for nobody.
        if (editorState.load(std::memory_order_acquire) == kAcceptsInput)
            _handle(r);
    }
    if (loadRecordingPending_) {
        // Only a closed file has its header written.
        if (links_.recorder && links_.recorder->isFileOpen())
            return;
        _recordingDone();
    }
    if (editorState.load(std::memory_order_acquire) == 0)
        editorState.store(1, std::memory_order_release);
    _dialogs();
    if (editorState.load(std::memory_order_acquire) == 1)
        editorState.store(kAcceptsInput, std::memory_order_release);
    _publishSelection();
}

void AudioResourcePool::_recordingDone() {
    loadSamples({recordingPath_});
    Driver::guiNotify.dismiss(false);
    pendingDialog_ = 0;
    open();
    loadRecordingPending_ = false;
}

void AudioResourcePool::_dialogs() {
    const std::string shown = _shownName();
    switch (pendingDialog_) {
        case 1:
        case 2: {
            if (!_answered(listAnswer()))
                return;
            const auto& items = Driver::listSelection.items();
            const int32_t chosen = Driver::listSelection.chosen();
            if (chosen < 0 || size_t(chosen) >= items.size())
                return;
            const std::string item = items[size_t(chosen)];
            if (item == kRecordAudio) {
                Driver::listSelection.open("What to record?", recordingSources, false);
                _pendingOpen(6);
            } else if (item == kStopRecording) {
                pendingDialog_ = 8;
            } else if (item == kCopyList || item == kCopySamples) {
                copySource_ = shown;
                copySelectionOnly_ = item == kCopySamples;
                newSamples_.clear();
                auto names = listNames();
                names[0] = kCreateNewList;
                Driver::listSelection.open(
                    copySelectionOnly_ ? "Select list to copy selection to:" : "Select list to copy samples to:", names,
                    false);
                _pendingOpen(3);
            } else if (item == kRenameList) {
                Driver::numpad.open(kNameMode, "Rename " + shown + " to:", shown, kNameLength);
                _pendingOpen(10);
            } else if (item == kShuffleList) {
                pendingDialog_ = 12;
            } else if (item == kSliceSample) {
                Driver::listSelection.open("Slice sample into", {"2 slices", "4 slices", "8 slices", "16 slices"},
                                           false);
                _pendingOpen(13);
            }
            return;
        }
        case 3: {
            if (!_answered(listAnswer()))
                return;
            const int32_t chosen = Driver::listSelection.chosen();
            if (chosen == 0) {
                Driver::numpad.open(kNameMode, kNameOfNewList, suggestListName(), kNameLength);
                _pendingOpen(5);
                return;
            }
            const auto names = listNames();
            const std::string name = chosen > 0 && size_t(chosen) < names.size() ? names[size_t(chosen)] : "";
            const auto group = sharedGroup(name);
            if (!group) {
                std::printf("User selected invalid list to add samples to (%s)\n", name.c_str());
                return;
            }
            parSampleList.setFromString(name);
            parSampleList.constrain();
            insertConfirmed_ = false;
            copyInsert.setMax(int32_t(group->size()));
            copyInsert.setValue(int32_t(group->size()), false);
            viewState_.store(2, std::memory_order_release);
            pendingDialog_ = 4;
            return;
        }
        case 4:
            if (!insertConfirmed_)
                return;
            addNewSamplesToList(shown);
            insertConfirmed_ = false;
            pendingDialog_ = 0;
            selectEntryForEditing();
            Driver::guiNotify.success("Added samples to list!");
            queueTreeRebuilds();
            return;
        case 5: {
            if (!_answered(numpadAnswer()))
                return;
            const std::string name = AudioSampleGroup::listNameFor(Driver::numpad.text);
            // "none" is the engines' "no list" choice: a list of that name could never be chosen.
            if (name.empty() || sharedGroup(name)) {
                Driver::guiNotify.warning("Another list already has that name ");
                Driver::numpad.open(kNameMode, kNameOfNewList, suggestListName(), kNameLength);
                _pendingOpen(5);
                return;
            }
            getGroup(name, true);
            updateListParameters();
            copyInsert.setValue(0, false);
            addNewSamplesToList(name);
            viewState_.store(1, std::memory_order_release);
            selectEntryForEditing();
            Driver::guiNotify.success("Added samples to " + name + "!");
            queueTreeRebuilds();
            return;
        }
        case 6: {
            if (!_answered(listAnswer()))
                return;
            const int32_t chosen = Driver::listSelection.chosen();
            const auto& table = recordingSourceTable();
            if (chosen < 0 || size_t(chosen) >= table.size() || !links_.startRecording)
                return;
            const Source& s = table[size_t(chosen)];
            std::string path;
            if (links_.startRecording(path, s.mode, s.first, s.count, s.track))
                recordingPath_ = !path.empty() && path[0] == '/' ? path : DiskRecorder::kRecordingsFolder + path;
            return;
        }
        case 8:
            if (links_.stopRecording)
                links_.stopRecording();
            Driver::confirm.open("Load " + fileNameOf(recordingPath_) + "?", "yes", "no");
            _pendingOpen(9);
            return;
        case 9: {
            const int answer = confirmAnswer();
            if (!_answered(answer)) {
                if (answer == 0)
                    Driver::guiNotify.info("Recording stored as " + fileNameOf(recordingPath_));
                return;
            }
            Driver::guiNotify.busy("Loading " + fileNameOf(recordingPath_));
            loadRecordingPending_ = true;
            return;
        }
        case 10: {
            if (!_answered(numpadAnswer()))
                return;
            const std::string wanted = Driver::numpad.text;
            if (wanted == shown)
                return;
            if (!renameList(shown, wanted))
                Driver::guiNotify.info("Sample list called " + wanted + " already exists");
            else {
                parSampleList.setFromString(wanted);
                parSampleList.constrain();
            }
            return;
        }
        case 11:
            if (!_answered(confirmAnswer()))
                return;
            Driver::guiNotify.success(shown + " deleted!");
            deleteList(shown);
            return;
        case 12:
            if (const auto group = _shownGroup())
                group->shuffle();
            pendingDialog_ = 0;
            return;
        case 13: {
            if (!_answered(listAnswer()))
                return;
            const int32_t chosen = Driver::listSelection.chosen();
            if (chosen >= 0 && chosen < 4) {
                sliceEntry(uint32_t(std::max(0, valueOf(sample))), 2u << chosen, shown, kNoList);
                selectEntryForEditing();
            }
            return;
        }
        case 14:
        case 15: {
            const auto group = _shownGroup();
            const int32_t at = valueOf(sample);
            const int32_t to = pendingDialog_ == 14 ? at + 1 : at - 1;
            if (group && group->size() >= 2 && to >= 0 && size_t(to) < group->size() &&
                group->swap(uint32_t(at), uint32_t(to))) {
                sample.setValue(to, false);
                selectEntryForEditing();
            }
            pendingDialog_ = 0;
            return;
        }
        case 16:
            deleteSelectedEntry();
            selectEntryForEditing();
            pendingDialog_ = 0;
            return;
        default:
            return;
    }
}

// ---- drawing

void AudioResourcePool::_drawRows(MonoGFX& window, bool overview) {
    const auto map = groups_.get();
    const auto shown = _shownGroup();
    const int32_t listIndex = valueOf(parSampleList);
    const int32_t selected = valueOf(sample);
    constexpr int kRows = 5;
    if (overview) {
        const int first = std::max(0, listIndex - (kRows - 1));
        int row = 0, i = 0;
        for (const auto& [name, group] : *map) {
            if (i++ < first)
                continue;
            if (row == kRows)
                break;
            const int y = 12 + 10 * row++;
            if (i - 1 == listIndex) {
                window.setColour(2);
                window.fillRect(0, y, 35, y + 9);
            }
            window.setColour(i - 1 == listIndex ? 15 : 8);
            window.setClip(0, y, 35, y + 9);
            window.drawText(1, y + 1, name);
            window.resetClip();
        }
        window.setColour(8);
        window.setDotted(true);
        window.drawLine(40, 12, 40, 63);
        window.setDotted(false);
    }
    if (!shown)
        return;
    const auto entries = shown->entries.get();
    const int left = overview ? 42 : 0;
    const int visible = overview ? kRows : 3;
    const int first = std::max(0, std::min(selected, int32_t(entries->size()) - 1) - (visible - 1));
    for (int row = 0; row < visible && size_t(first + row) < entries->size(); ++row) {
        const auto& e = (*entries)[size_t(first + row)];
        const int y = 12 + 10 * row;
        const bool current = !overview && first + row == selected;
        if (current) {
            window.setColour(2);
            window.fillRect(left, y, 255, y + 9);
        }
        const uint32_t ink = current ? 15 : 8;
        window.setColour(e->selected.load() ? ink : 4);
        window.fillRect(left + 1, y + 3, left + 4, y + 6);
        window.setColour(ink);
        window.setClip(left + 12, y, 131, y + 9);
        window.drawText(left + 12, y + 1, stemOf(e->sample));
        window.resetClip();
        // Range bar: start and end as fractions of the sample.
        const float length = float(std::max<uint32_t>(1, e->frames));
        const int x0 = 134 + int(40.0f * float(e->startFrame.load()) / length);
        const int x1 = 134 + int(40.0f * float(e->endFrame.load()) / length);
        window.setColour(current && (valueOf(data) == DataStart || valueOf(data) == DataEnd) ? 15 : 4);
        window.drawRect(134, y + 2, 174, y + 7);
        window.fillRect(x0, y + 3, std::max(x0, x1), y + 6);
        window.setColour(current && valueOf(data) == DataRate ? 15 : ink);
        window.drawText(178, y + 1, rateToString(e->rate.load()));
        char text[16];
        std::snprintf(text, sizeof(text), "%+.1f", e->volume.load());
        window.setColour(current && valueOf(data) == DataVolume ? 15 : ink);
        window.drawText(204, y + 1, text);
        const bool flags[3] = {e->pitchTracking.load(), e->looping.load(), e->startFromZero.load()};
        for (int f = 0; f < 3; ++f) {
            window.setColour(flags[f] ? ink : 4);
            window.fillRect(225 + 10 * f, y + 2, 231 + 10 * f, y + 7);
        }
    }
    if (pendingDialog_ == 4) {
        const int y = 12 + 10 * std::clamp(valueOf(copyInsert) - first, 0, visible);
        window.setColour(15);
        window.drawLine(left, y, 255, y);
    }
    if (!overview) {
        window.setColour(8);
        window.drawText(0, 43, "x scroll  y value");
        window.drawText(0, 53, "+/- move sample up/down");
    }
}

void AudioResourcePool::_drawPanel(MonoGFX& window) {
    const auto entry = editingEntry_;
    if (!entry || panelAge_ <= panelDelay_)
        return;
    const auto resource = getResource(entry->sample);
    window.setColour(0);
    window.fillRect(0, 42, 255, 63);
    window.setColour(8);
    window.drawLine(0, 42, 255, 42);
    window.drawText(0, 44, "start: " + start.toString());
    window.drawText(0, 54, "end: " + end.toString());
    if (!resource)
        return;
    if (!resource->analysed.load(std::memory_order_acquire)) {
        window.drawText(64, 50, "waiting for analysis to finish...");
        return;
    }
    // The whole sample, or the marker last moved at the centre: 128 frames a
    // column while encoder 28 is held, three times that otherwise.
    int32_t zoom = 0, centre = -1;
    const int32_t first = int32_t(entry->startFrame.load()), last = int32_t(entry->endFrame.load());
    if (startEditAge_ < markerStep_ || endEditAge_ < markerStep_) {
        zoom = zoomHeld_.load(std::memory_order_relaxed) ? 1 : 3;
        centre = startEditAge_ < markerStep_ ? first : last;
    }
    GUI::drawWaveform(window, entry->sample, 54, 44, 255, 63, zoom, centre, first, last, this);
}

void AudioResourcePool::draw(MonoGFX& window) {
    update();
    window.clear();
    window.setFont(&font_compact, 1, 0);
    window.setTextMode(0);
    window.setColour(8);
    window.setDotted(true);
    window.drawLine(0, 10, 255, 10);
    window.setDotted(false);
    const bool overview = viewState_.load(std::memory_order_acquire) != 2;
    if (overview) {
        char title[48];
        std::snprintf(title, sizeof(title), "Sample lists: %u", unsigned(groupCount()));
        window.setColour(15);
        window.drawText(0, 1, title);
        window.setColour(8);
        window.drawText(180, 1, "delete");
        window.drawText(220, 1, "open");
        if (groupCount() == 0)
            window.drawText(0, 14, "press files to load samples");
    } else {
        const auto group = _shownGroup();
        window.setColour(8);
        int x = window.drawText(0, 1, "Editing ");
        window.setColour(15);
        x += window.drawText(x, 1, _shownName());
        char count[32];
        std::snprintf(count, sizeof(count), "%d/%u", valueOf(sample) + 1, unsigned(group ? group->size() : 0));
        window.drawText(x + 3, 1, count);
        window.setColour(8);
        if (pendingDialog_ == 4)
            window.drawText(150, 1, "set where to insert X  confirm");
        else
            window.drawText(150, 1, "delete  back  " + data.toString() + " press+x  ");
    }
    _drawRows(window, overview);
    if (!overview)
        _drawPanel(window);
    if (isAnalysing())
        window.drawMessageBox("Analyzing samples", 7, 1, 1);
    else if (isRebuilding())
        window.drawMessageBox("Processing list", 7, 1, 1);
    ++panelAge_;
    ++startEditAge_;
    ++endEditAge_;
}
