// The note-list editor page of NoteManager: cursor, note entry from the
// panel and MIDI, field editing, the pop-up actions, previews and the
// piano roll.
#include "drivers/KeyDebouncer.h"
#include "engines/SynthVoiceCommon.h"
#include "gui/GuiNotify.h"
#include "gui/ListSelect.h"
#include "gui/MonoGFX.h"
#include "sequencing/Corvane.h"
#include "sequencing/NoteManager.h"
#include "sequencing/PitchScale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

constexpr int kShiftKey = 0;
constexpr int kMenuKey = 1;
constexpr int kDeleteKey = 2;
constexpr int kConfirmKey = 3;
constexpr int kListKey = 9;
constexpr int kPreviewKey = 15;
constexpr int kOctaveDownKey = 25;
constexpr int kOctaveUpKey = 26;
constexpr int kFirstNoteKey = 27;
constexpr int kLastNoteKey = 51;
constexpr int kCursorEncoder = 12;
constexpr int kValueEncoder = 28;

constexpr const char* kMenuTitle = "Edit note list";
constexpr const char* kTransposeTitle = "Transpose list";
constexpr const char* kTuningTitle = "Set tuning for the current list";
constexpr const char* kEmptyCopy = "List is empty so there is nothing to copy...";
constexpr const char* kEmptyShuffle = "List is empty so there is nothing to shuffle...";
constexpr const char* kEmptyTranspose = "List is empty so there is nothing to transpose...";
constexpr const char* kCopyBox = "Set list and position to copy notes to";

const std::vector<std::string>& menuItems() {
    static const std::vector<std::string> items = {"copy notes", "shuffle", "transpose", "change tuning"};
    return items;
}
const std::vector<std::string>& channelNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n = {"all"};
        for (int c = 1; c <= 16; ++c)
            n.push_back(std::to_string(c));
        return n;
    }();
    return names;
}
const std::vector<std::string>& dataNames() {
    static const std::vector<std::string> names = {"pitch", "octave", "type", "dBFS", "chance"};
    return names;
}
const std::vector<std::string>& typeNames() {
    static const std::vector<std::string> names = {"NoteOn", "NoteOnSlide", "NoteSlide", "Skip", "NoteOffAll"};
    return names;
}
const std::vector<std::string>& boolNames() {
    static const std::vector<std::string> names = {"false", "true"};
    return names;
}

constexpr NoteType kChoiceTypes[] = {NoteType::NoteOn, NoteType::NoteOnSlide, NoteType::NoteSlide, NoteType::Skip,
                                     NoteType::NoteOffAll};

int32_t choiceOfType(NoteType t) {
    for (int32_t i = 0; i < 5; ++i)
        if (kChoiceTypes[i] == t)
            return i;
    return 0;
}

int32_t get(const ParameterInt& p) { return p.values[p.activeSlot]; }

int pitchOf(const Note& n, int32_t perOctave) { return n.symbol + n.octave * perOctave; }

// Floor division and a remainder that is never negative.
void split(int32_t d, int32_t n, int32_t& degree, int32_t& octave) {
    octave = int32_t(std::floor(float(d) / float(n)));
    degree = ((d % n) + n) % n;
}

}  // namespace

void NoteManager::_setupPage() {
    notePreview.setChoices(boolNames(), 1);
    addWithMidi.setChoices(boolNames(), 1);
    midiChannel.setChoices(channelNames(), 0);
    data.setChoices(dataNames(), 0);
    type.setChoices(typeNames(), 0);
}

void NoteManager::_resetPage() {
    for (Parameter* p : std::initializer_list<Parameter*>{&item, &itemSymbol, &symbol, &octave, &type, &amp, &chance})
        p->resetToDefault();
}

bool NoteManager::_held(int key) const {
    if (links.keyHeld)
        return links.keyHeld(key);
    return key >= 0 && size_t(key) < Key::key.size() && Key::key[size_t(key)].held();
}

uint32_t NoteManager::_block() const { return links.blockCounter ? links.blockCounter() : 0; }

const PitchScaleManager& NoteManager::_scales() const { return links.scales ? *links.scales : DSP::scaleManager; }

const NoteStep* NoteManager::_step(const NoteList& list, int step) {
    return step >= 0 && size_t(step) < list.steps.size() ? &list.steps[size_t(step)] : nullptr;
}

const Note* NoteManager::_note(const NoteList& list, int step, int note) {
    const NoteStep* s = _step(list, step);
    return s && note >= 0 && note < s->size() ? &(*s)[note] : nullptr;
}

// Where the routing calls them (render, or the interface task for keys): only requests.

void NoteManager::open() {
    open_.store(true, std::memory_order_release);
    midiFilter.reset();
    if (get(addWithMidi) != 0) {
        midiFilter.setChannel(get(midiChannel) - 1);
        midiFilter.setTypes(MIDIMsgType::NoteOn | MIDIMsgType::NoteOff);
    }
    // The list and cursor are set up by the interface task.
    openRequested_.store(true, std::memory_order_release);
}

bool NoteManager::close() {
    open_.store(false, std::memory_order_release);
    return true;
}

bool NoteManager::midiNoteIn(const MidiMessage& message) {
    if (!isOpen() || !midiFilter.matches(message))
        return false;
    if (!message.is(MIDIMsgType::NoteOn))
        return true;
    const NoteList* current = rtList(get(listIndex));
    const int32_t n = current && current->stepsPerOctave > 0 ? current->stepsPerOctave : 12;
    Request r;
    r.kind = kNoteRequest;
    split(int32_t(message.data1) - 60, n, r.a, r.b);
    r.key0 = _held(kShiftKey);
    r.block = _block();
    requests_.postFromAudio(r);
    return true;
}

void NoteManager::button(int key, int event) {
    Request r;
    r.kind = kKeyRequest;
    r.a = key;
    r.b = event;
    r.key0 = _held(kShiftKey);
    r.key9 = _held(kListKey);
    r.block = _block();
    requests_.postFromInterface(r);
}

void NoteManager::encoder(int index, int delta, bool pushed) {
    Request r;
    r.kind = kEncoderRequest;
    r.a = index;
    r.b = delta;
    r.pushed = pushed;
    r.key0 = _held(kShiftKey);
    r.block = _block();
    requests_.postFromAudio(r);
}

void NoteManager::renderPreviews() {
    NoteEvent e;
    while (previews_.pop(e))
        if (links.scheduler)
            links.scheduler->scheduleNote(e);
}

// Interface task from here on.

void NoteManager::serviceRequests() {
    if (openRequested_.exchange(false, std::memory_order_acq_rel))
        _openNow();
    // One publication per list for the whole batch: each one waits out an
    // audio block, and MIDI can bring several notes in every block.
    batching_ = true;
    Request r;
    while (requests_.pop(r))
        _apply(r);
    batching_ = false;
    _flushDraft();
}

void NoteManager::_flushDraft() {
    if (!draft_)
        return;
    std::unique_ptr<NoteList> done = std::move(draft_);
    lists_[size_t(draftIndex_)].publish(std::shared_ptr<const NoteList>(std::move(done)));
    draftIndex_ = -1;
}

std::shared_ptr<const NoteList> NoteManager::_current() const {
    const int index = listIndex.value;
    if (draft_ && draftIndex_ == index)
        return std::shared_ptr<const NoteList>(std::shared_ptr<const NoteList>{}, draft_.get());  // a view
    return list(index);
}

void NoteManager::_openNow() {
    int32_t n = get(listIndex);
    if (links.currentTrack && links.sequencer)
        if (Corvane* seq = links.sequencer(links.currentTrack()))
            n = get(seq->noteList);
    listIndex.setValue(n, false);
    const auto current = _current();
    item.setValue(current ? int32_t(current->steps.size()) - 1 : -1, false);
    loadEditorFromCursor();
    changed.store(true, std::memory_order_release);
}

void NoteManager::loadEditorFromCursor() {
    const auto current = _current();
    const Note* note = current ? _note(*current, get(item), get(itemSymbol)) : nullptr;
    if (!note)
        return;
    symbol.setValue(note->symbol, false);
    octave.setValue(note->octave, false);
    amp.setValue(note->dbfs, false);
    type.setValue(choiceOfType(note->type), false);
    chance.setValue(note->chance, false);
}

void NoteManager::_apply(const Request& r) {
    changed.store(true, std::memory_order_release);
    if (r.kind == kNoteRequest) {
        const bool chord = r.key0 || r.block - lastEntryBlock < kChordWindow;
        _addNote(chord, Note{NoteType::NoteOn, r.a, r.b, amp.getValue(), get(chance)}, r.block);
    } else if (r.kind == kKeyRequest) {
        _button(r);
    } else if (r.kind == kEncoderRequest) {
        _encoder(r);
    }
}

void NoteManager::addNote(bool chord, const Note& note) { _addNote(chord, note, _block()); }

void NoteManager::_addNote(bool chord, const Note& note, uint32_t block) {
    const int index = get(listIndex);
    const int32_t cursor = get(item);
    int32_t previewStep = -1, previewIndex = 0;
    editList(index, [&](NoteList& list) {
        const int32_t count = int32_t(list.steps.size());
        if (chord && cursor >= 0 && cursor < count) {
            NoteStep& step = list.steps[size_t(cursor)];
            if (step.full())
                return;
            int at = 0;
            while (at < step.size() && (step[at].octave < note.octave ||
                                        (step[at].octave == note.octave && step[at].symbol < note.symbol)))
                ++at;
            step.insert(at, note);
            previewStep = cursor;
            previewIndex = at;
            return;
        }
        if (list.steps.size() >= NoteList::kMaxSteps)
            return;
        const int32_t position = chord ? count : std::min(cursor + 1, count);
        NoteStep step;
        step.add(note);
        list.steps.insert(list.steps.begin() + std::max(0, position), step);
        previewStep = std::max(0, position);
        previewIndex = -1;
    });
    if (previewStep < 0)
        return;
    if (previewIndex >= 0) {
        itemSymbol.setValue(previewIndex, false);
    } else {
        item.setValue(get(item) + 1, false);
        itemSymbol.setValue(0, false);
        previewIndex = 0;
    }
    lastEntryBlock = block;
    // The cursor moved onto the new note: the value encoder edits that one.
    loadEditorFromCursor();
    if (get(notePreview) != 0)
        previewNote(previewStep, previewIndex);
}

void NoteManager::_enterKey(int k, bool chord, uint32_t block) {
    const auto current = _current();
    const int32_t n = current && current->stepsPerOctave > 0 ? current->stepsPerOctave : 12;
    _addNote(chord, Note{NoteType::NoteOn, k % n, get(keyboardOctave) + k / n, amp.getValue(), get(chance)}, block);
}

void NoteManager::_chooseList(int n) {
    const auto before = _current();
    listIndex.setValue(n, false);
    const auto now = _current();
    if (!now)
        return;
    if (now->steps.empty()) {
        item.setValue(-1, false);
        itemSymbol.setValue(0, false);
        if (before)
            editList(n, [&](NoteList& list) {
                list.tuning = before->tuning;
                list.stepsPerOctave = before->stepsPerOctave;
            });
    } else {
        const int32_t count = int32_t(now->steps.size());
        if (get(item) < 0 || count < get(item))
            item.setValue(count - 1, false);
        itemSymbol.setValue(0, false);
    }
    loadEditorFromCursor();
}

void NoteManager::deleteAtCursor() {
    const auto current = _current();
    if (!current)
        return;
    const int32_t count = int32_t(current->steps.size());
    const int32_t position = get(item) == count ? count - 1 : get(item);
    const NoteStep* step = _step(*current, position);
    if (!step)
        return;
    if (step->size() < 2) {
        editList(get(listIndex), [&](NoteList& list) {
            if (size_t(position) < list.steps.size())
                list.steps.erase(list.steps.begin() + position);
        });
        item.setValue(get(item) - 1, false);
        itemSymbol.setValue(0, false);
    } else {
        const int32_t note = get(itemSymbol);
        if (note < 0 || note >= step->size())
            return;
        editList(get(listIndex), [&](NoteList& list) {
            if (size_t(position) < list.steps.size() && note < list.steps[size_t(position)].size())
                list.steps[size_t(position)].erase(note);
        });
        itemSymbol.setValue(std::max(0, note - 1), false);
    }
    loadEditorFromCursor();
}

void NoteManager::_sortStep(NoteList& list, int step) const {
    if (step < 0 || size_t(step) >= list.steps.size())
        return;
    const int32_t n = list.stepsPerOctave;
    NoteStep& s = list.steps[size_t(step)];
    std::stable_sort(s.begin(), s.end(), [n](const Note& a, const Note& b) { return pitchOf(a, n) < pitchOf(b, n); });
}

void NoteManager::_button(const Request& r) {
    const int key = r.a;
    const int32_t state = pageState.load(std::memory_order_acquire);
    if (r.b == KeyDebouncer::kRepeat) {
        if (key == kDeleteKey && state == StateIdle)
            deleteAtCursor();
        return;
    }
    if (r.b != KeyDebouncer::kKeyDown)
        return;
    const int listNumber = get(listIndex);
    if (key >= kFirstNoteKey && key <= kLastNoteKey) {
        if (r.key9)
            _chooseList(key - kFirstNoteKey);
        else if (state == StateIdle)
            _enterKey(key - kFirstNoteKey, r.key0 || r.block - lastEntryBlock < kChordWindow, r.block);
        return;
    }
    if (state == StateCopyChoose) {
        if (key == kDeleteKey) {
            pageState.store(StateIdle);
        } else if (key == kConfirmKey) {
            copyDestination = listNumber;
            copyPosition = get(item) + 1;
            pageState.store(StateCopyReady);
        }
        return;
    }
    if (state != StateIdle)
        return;
    switch (key) {
    case kShiftKey: {
        const int32_t cursor = get(item);
        editList(listNumber, [&](NoteList& list) {
            if (cursor >= 0 && size_t(cursor) < list.steps.size()) {
                NoteStep& s = list.steps[size_t(cursor)];
                s.selected = s.selected ? 0 : 1;
                lastSelection = s.selected;
            }
        });
        break;
    }
    case kMenuKey:
        if (Driver::listSelection.open(kMenuTitle, menuItems(), true))
            pageState.store(StateMenu);
        break;
    case kDeleteKey:
        deleteAtCursor();
        break;
    case kConfirmKey: {
        const int32_t cursor = get(item);
        editList(listNumber, [&](NoteList& list) {
            _sortStep(list, cursor);
            list.rebuildTransitions();
        });
        GUI::closeEditor();
        break;
    }
    case kPreviewKey:
        notePreview.setValue(get(notePreview) ? 0 : 1, false);
        break;
    case kOctaveDownKey:
    case kOctaveUpKey:
        if (r.key0)
            pageState.store(key == kOctaveDownKey ? StateMoveLater : StateMoveEarlier);
        else
            keyboardOctave.setValue(get(keyboardOctave) + (key == kOctaveUpKey ? 1 : -1), false);
        break;
    default:
        break;
    }
}

void NoteManager::_encoder(const Request& r) {
    const int32_t state = pageState.load(std::memory_order_acquire);
    const int delta = r.b;
    if (r.a == kCursorEncoder && r.pushed) {
        data.changeBy(delta, false, false);
        return;
    }
    if (r.a == kValueEncoder) {
        _changeField(delta);
        return;
    }
    if (r.a != kCursorEncoder)
        return;
    const auto current = _current();
    if (!current)
        return;
    const int32_t count = int32_t(current->steps.size());
    const int listNumber = get(listIndex);
    // Turns go through the parameters: a step takes several encoder ticks.
    if (state == StateCopyChoose) {
        if (!item.changeBy(delta, false, false))
            return;
        item.setValue(std::clamp(get(item), -1, count - 1), false);
        itemSymbol.setValue(0, false);
        loadEditorFromCursor();
        return;
    }
    if (state != StateIdle || count == 0)
        return;
    const int32_t cursor = get(item);
    if (!itemSymbol.changeBy(delta, false, false))
        return;
    const int32_t target = get(itemSymbol);
    const NoteStep* step = _step(*current, cursor);
    if (target < 0) {
        if (cursor >= 0) {
            editList(listNumber, [&](NoteList& list) { _sortStep(list, cursor); });
            item.setValue(cursor - 1, false);
            const NoteStep* previous = _step(*_current(), cursor - 1);
            itemSymbol.setValue(previous ? previous->size() - 1 : 0, false);
        } else {
            itemSymbol.setValue(0, false);
        }
    } else if (!step || target >= step->size()) {
        if (cursor + 1 < count) {
            editList(listNumber, [&](NoteList& list) { _sortStep(list, cursor); });
            item.setValue(cursor + 1, false);
            itemSymbol.setValue(0, false);
        } else if (step) {
            itemSymbol.setValue(step->size() - 1, false);
        }
    } else {
        itemSymbol.setValue(target, false);
    }
    if (r.key0) {
        const int32_t now = get(item);
        editList(listNumber, [&](NoteList& list) {
            if (now >= 0 && size_t(now) < list.steps.size())
                list.steps[size_t(now)].selected = lastSelection;
        });
    }
    loadEditorFromCursor();
    if (get(notePreview) != 0)
        previewNote(get(item), get(itemSymbol));
}

void NoteManager::_changeField(int delta) {
    const auto current = _current();
    if (!current || !_note(*current, get(item), get(itemSymbol)))
        return;
    const int32_t n = current->stepsPerOctave > 0 ? current->stepsPerOctave : 12;
    bool changedValue = false;
    switch (get(data)) {
    case 0: {
        const int32_t before = get(symbol), octaveBefore = get(octave);
        if (!symbol.changeBy(delta, false, false))
            break;
        int32_t s = get(symbol), o = octaveBefore;
        if (s < 0) {
            s = n - 1;
            --o;
        } else if (s >= n) {
            s = 0;
            ++o;
        }
        o = std::clamp(o, -5, 5);
        changedValue = s != before || o != octaveBefore;
        symbol.setValue(s, false);
        octave.setValue(o, false);
        break;
    }
    case 1:
        changedValue = octave.changeBy(delta, false, false);
        break;
    case 2:
        changedValue = type.changeBy(delta, false, false);
        break;
    case 3:
        changedValue = amp.changeBy(delta, false, false);
        break;
    case 4:
        changedValue = chance.changeBy(delta, false, false);
        break;
    default:
        break;
    }
    if (!changedValue)
        return;
    const int32_t step = get(item), index = get(itemSymbol), field = get(data);
    editList(get(listIndex), [&](NoteList& list) {
        if (step < 0 || size_t(step) >= list.steps.size() || index < 0 || index >= list.steps[size_t(step)].size())
            return;
        Note& note = list.steps[size_t(step)][index];
        if (field == 0 || field == 1) {
            note.symbol = get(symbol);
            note.octave = get(octave);
        } else if (field == 2) {
            const int32_t t = get(type);
            note.type = kChoiceTypes[t >= 0 && t < 5 ? t : 0];
        } else if (field == 3) {
            note.dbfs = amp.getValue();
        } else {
            note.chance = get(chance);
        }
        list.rebuildTransitions();
    });
    if (get(notePreview) != 0)
        previewNote(step, index);
}

void NoteManager::previewNote(int stepIndex, int noteIndex) {
    const auto current = _current();
    if (!current)
        return;
    const Note* note = _note(*current, stepIndex, noteIndex);
    if (!note || (links.clockRunning && links.clockRunning()))
        return;
    const PitchScale* scale = _scales().getScale(current->tuning);
    if (!scale || !links.currentTrack || !links.engine)
        return;
    const int track = links.currentTrack();
    SynthVoiceCommon* engine = links.engine(track);
    Corvane* seq = links.sequencer ? links.sequencer(track) : nullptr;
    if (!engine)
        return;
    NoteEvent e;
    e.type = uint32_t(note->type == NoteType::NoteSlide ? NoteType::NoteOnSlide : note->type);
    e.engine = engine;
    e.track = uint32_t(std::max(0, track));
    const int32_t lane = seq ? get(seq->laneChoice) : 0;
    e.lane = uint32_t(std::max(0, lane));
    const int32_t laneOctave = seq && lane >= 0 && lane < Corvane::kLanes ? get(seq->lanes[size_t(lane)].octave) : 0;
    e.frequency = scale->frequency(note->symbol, note->octave + laneOctave);
    e.gain = std::pow(10.0f, note->dbfs * 0.05f);
    e.delay = 0;
    e.flags = 0;
    for (int32_t j = 0, copies = get(engine->unison); j < copies; ++j) {
        e.unisonIndex = uint32_t(j);
        previews_.push(e);
    }
}

void NoteManager::_popupResults() {
    const int32_t state = pageState.load(std::memory_order_acquire);
    if (state != StateMenu && state != StateTranspose && state != StateTuning)
        return;
    const uint32_t result = Driver::listSelection.result();
    if (result == kPopupCancelled) {
        pageState.store(StateIdle);
        return;
    }
    if (result != kPopupAccepted)
        return;
    const int32_t chosen = Driver::listSelection.chosen();
    const int listNumber = get(listIndex);
    const auto current = _current();
    const bool empty = !current || current->steps.empty();
    pageState.store(StateIdle);
    if (state == StateMenu) {
        if (chosen == 0) {
            if (empty) {
                Driver::guiNotify.info(kEmptyCopy);
            } else {
                copySource = listNumber;
                pageState.store(StateCopyChoose);
            }
        } else if (chosen == 1) {
            if (empty)
                Driver::guiNotify.info(kEmptyShuffle);
            else
                shuffle(listNumber);
        } else if (chosen == 2) {
            if (empty) {
                Driver::guiNotify.info(kEmptyTranspose);
            } else {
                const int32_t n = current->stepsPerOctave;
                if (Driver::listSelection.openRange(kTransposeTitle, -n, n, true))
                    pageState.store(StateTranspose);
            }
        } else if (chosen == 3) {
            if (Driver::listSelection.open(kTuningTitle, _scales().scaleNames(), true))
                pageState.store(StateTuning);
        }
    } else if (state == StateTranspose) {
        transpose(listNumber, chosen);
    } else if (state == StateTuning) {
        const auto& items = Driver::listSelection.items();
        if (chosen >= 0 && size_t(chosen) < items.size()) {
            const std::string name = items[size_t(chosen)];
            if (const PitchScale* scale = _scales().getScale(name)) {
                const int32_t n = scale->stepsPerOctave();
                editList(listNumber, [&](NoteList& list) {
                    list.tuning = name;
                    list.stepsPerOctave = n;
                });
                _notify(kNoticeSuccess, "Set tuning to " + name + " for note list " + listIndex.toString());
            }
        }
    }
}

void NoteManager::_pendingStates() {
    const int32_t state = pageState.load(std::memory_order_acquire);
    if (state == StateCopyReady) {
        copyNotes(copySource, copyDestination, copyPosition);
        pageState.store(StateIdle);
    } else if (state == StateMoveEarlier || state == StateMoveLater) {
        const int32_t cursor = get(item);
        const int32_t other = cursor + (state == StateMoveEarlier ? -1 : 1);
        bool moved = false;
        editList(get(listIndex), [&](NoteList& list) {
            const int32_t count = int32_t(list.steps.size());
            if (cursor < 0 || cursor >= count || other < 0 || other >= count)
                return;
            std::swap(list.steps[size_t(cursor)], list.steps[size_t(other)]);
            moved = true;
        });
        if (moved)
            item.setValue(other, false);
        pageState.store(StateIdle);
    }
}

void NoteManager::draw(MonoGFX& w) {
    serviceRequests();
    _popupResults();
    _pendingStates();
    _drawPage(w);
}

void NoteManager::_drawPage(MonoGFX& w) {
    const auto current = _current();
    static const NoteList kNone;
    const NoteList& list = current ? *current : kNone;
    const int32_t n = list.stepsPerOctave > 0 ? list.stepsPerOctave : 12;
    const int32_t count = int32_t(list.steps.size());
    const int32_t cursor = get(item);
    const int32_t cursorNote = get(itemSymbol);
    const int32_t field = get(data);

    w.clear();
    w.setColour(15);
    w.setFont(&font_default, 1, 0);
    int x = w.drawText(0, 0, "Editing note list " + listIndex.toString());
    w.setFont(&font_compact, 1, 0);
    w.setColour(8);
    if (count == 0)
        x += w.drawText(x, 0, " (empty, " + list.tuning + ")");
    else
        x += w.drawText(x, 0, " (" + std::to_string(count) + (count == 1 ? " note, " : " notes, ") + list.tuning + ")");
    w.setColour(get(notePreview) ? 15 : 4);
    w.drawIcon(x + 2, 0, 34);
    w.setColour(8);
    w.setDotted(true);
    w.drawLine(0, 10, 255, 10);
    w.setDotted(false);

    w.setTextMode(1);
    w.setColour(15);
    const std::string dataText = data.toString();
    const int dataLeft = 255 - w.textWidth(dataText);
    w.drawText(255, 0, dataText);
    w.setColour(4);
    w.drawText(dataLeft, 0, "press+x  ");
    w.setTextMode(0);
    static constexpr int kUnderline[5][2] = {{190, 200}, {202, 210}, {212, 221}, {223, 243}, {245, 253}};
    if (field >= 0 && field < 5) {
        w.setColour(15);
        w.drawLine(kUnderline[field][0], 10, kUnderline[field][1], 10);
    }

    auto column = [](int32_t c) { return 2 * std::clamp(c, 0, 94); };
    const int32_t keysLow = get(keyboardOctave) * n + 47;
    w.setColour(15);
    w.drawLine(column(keysLow), 10, column(keysLow + 25) - 1, 10);
    w.setColour(2);
    w.setDotted(true);
    for (int k = -5; k <= 5; ++k) {
        const int32_t c = 47 + k * n;
        if (c >= 0 && c <= 94)
            w.drawLine(2 * c, 12, 2 * c, 64);
    }
    w.setDotted(false);

    const int first = w.drawScrollBar(255, 12, 52, std::max(cursor, 0), count, 5);
    (void)first;
    const int top = std::max(cursor - 2, 0);
    for (int row = 0; row < 5; ++row) {
        const int y = 12 + 11 * row;
        const int s = top + row;
        const NoteStep* step = _step(list, s);
        if (!step) {
            w.setColour(4);
            if (row == 3)
                w.drawText(191, 45, "x scroll");
            else if (row == 4)
                w.drawText(191, 56, "y value");
            continue;
        }
        const bool onCursor = s == cursor;
        if (onCursor) {
            w.setColour(2);
            w.drawRect(188, y, 254, y + 9);
        }
        if (s == cursor + 1) {
            w.setColourBlink(8, 15);
            w.drawLine(0, y - 1, 254, y - 1);
        }
        for (int i = 0; i < step->size(); ++i) {
            const Note& note = (*step)[i];
            const int32_t c = pitchOf(note, n) + 47;
            if (c < 0 || c > 94)
                continue;
            // A level above 0 dB (from a file) would pass 15 and wrap.
            const float level = std::isfinite(note.dbfs) ? std::clamp(note.dbfs, -96.0f, 0.0f) : 0.0f;
            uint32_t colour = uint32_t(std::clamp(int(std::lround(level)) + 15, 2, 15));
            if (note.type == NoteType::Skip || note.type == NoteType::NoteOffAll || note.chance == 0)
                colour = 2;
            if (onCursor && i == cursorNote)
                w.setColourBlink(colour / 2, colour);
            else
                w.setColour(colour);
            w.fillRect(2 * c, y, 2 * c + 1, y + 9);
        }
        if (onCursor) {
            w.setColour(4);
            w.drawText(0, 56, std::to_string(cursorNote + 1) + "/" + std::to_string(step->size()));
        }
        w.setColour(step->selected ? 15 : 4);
        w.drawIcon(179, y, 1);
        const Note* shown = onCursor ? _note(list, s, cursorNote) : nullptr;
        if (!shown && !step->empty())
            shown = &(*step)[0];
        if (!shown)
            continue;
        auto fieldColour = [&](int f) {
            if (onCursor && f == field)
                w.setColourBlink(8, 15);
            else
                w.setColour(onCursor ? 15 : 8);
        };
        char text[24];
        fieldColour(0);
        std::snprintf(text, sizeof text, "%d", int(shown->symbol));
        w.drawText(191, y + 1, text);
        fieldColour(1);
        std::snprintf(text, sizeof text, shown->octave >= 0 ? "+%d" : "%d", int(shown->octave));
        w.drawText(202, y + 1, text);
        fieldColour(2);
        uint32_t icon = 14;
        switch (shown->type) {
        case NoteType::NoteOnSlide: icon = 16; break;
        case NoteType::NoteSlide: icon = 17; break;
        case NoteType::Skip: icon = 19; break;
        case NoteType::NoteOff:
        case NoteType::NoteOffAll: icon = 20; break;
        default: break;
        }
        w.drawIcon(212, y + 1, icon);
        fieldColour(3);
        std::snprintf(text, sizeof text, "%.1f", double(shown->dbfs));
        w.drawText(223, y + 1, text);
        fieldColour(4);
        std::snprintf(text, sizeof text, "%u", unsigned(shown->chance));
        w.drawText(245, y + 1, text);
    }
    w.setColour(4);
    w.drawLine(188, 12, 188, 64);
    if (pageState.load(std::memory_order_acquire) == StateCopyChoose)
        w.drawMessageBox(kCopyBox, 1, 2, 2);
}
