// The 25 note lists of the instrument and the operations on whole lists.
//
// The audio thread plays the lists while the interface thread shuffles,
// transposes, copies and loads them, so every list is an immutable snapshot:
// a change builds a new list off the audio thread and swaps it in whole.
#pragma once

#include "connectivity/MidiMessage.h"
#include "gui/GuiEditor.h"
#include "instrument/NoteEvent.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterInt.h"
#include "parameters/Snapshot.h"
#include "dsp/SpscRing.h"
#include "dsp/TwoProducerInbox.h"
#include "sequencing/NoteList.h"

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

class Corvane;
class PitchScaleManager;
class SynthVoiceCommon;

// What the note-list page reaches of the instrument around it.
struct NotePageLinks {
    NoteScheduler* scheduler = nullptr;          // previews (audio thread)
    std::function<bool()> clockRunning;          // MainClock::isRunning
    std::function<int()> currentTrack;           // GUI::currentTrack
    std::function<Corvane*(int)> sequencer;      // a track's sequencer
    std::function<SynthVoiceCommon*(int)> engine;  // a track's engine
    std::function<uint32_t()> blockCounter;      // the audio block counter
    std::function<bool(int)> keyHeld;            // panel keys; Key::key when empty
    const PitchScaleManager* scales = nullptr;   // DSP::scaleManager when null
};

// The note-list editor page.
//
// Threads: encoder turns and MIDI notes arrive in the audio thread (render),
// keys in the interface task (the editor requests); each only becomes a
// fixed-size request in the ring of its own thread. The interface task
// applies them in serviceRequests (every draw), in the order they came, so
// the lists and the cursor have one writer.
// Previews built there travel back as note events that the audio thread
// hands to the voice manager (renderPreviews).
class NoteManager : public GuiEditor {
public:
    static constexpr int kListCount = 25;
    // Notification kinds (their icon numbers).
    static constexpr int kNoticeSuccess = 1;
    static constexpr int kNoticeInfo = 8;

    NoteManager();
    NoteManager(const NoteManager&) = delete;
    NoteManager& operator=(const NoteManager&) = delete;

    int listCount() const { return kListCount; }
    // Audio thread: valid until the end of the block; null outside 0..24.
    const NoteList* rtList(int index) const;
    // Any other thread; null outside 0..24.
    std::shared_ptr<const NoteList> list(int index) const;

    // Replaces list `index` whole (file loads, page edits).
    void setList(int index, NoteList list);
    // Copies list `index`, lets `change` edit the copy and publishes it.
    // False for an index outside 0..24.
    // While the page applies a batch of requests, edits of one list go to a
    // working copy that is published once at the end of the batch.
    template <typename F>
    bool editList(int index, F&& change) {
        if (!_valid(index))
            return false;
        if (batching_) {
            if (draft_ && draftIndex_ != index)
                _flushDraft();
            if (!draft_) {
                draft_ = std::make_unique<NoteList>(*lists_[size_t(index)].get());
                draftIndex_ = index;
            }
            change(*draft_);
            return true;
        }
        lists_[size_t(index)].update(std::forward<F>(change));
        return true;
    }

    // Empties every list; tunings and steps per octave stay.
    void reset();
    // Rebuilds every list's transitions and takes each registered tuning's
    // degree count as its steps per octave.
    void applyTunings();
    void applyTunings(const PitchScaleManager& scales);
    void rebuildTransitions(int index);
    void shuffle(int index);
    bool transpose(int index, int amount);
    void copyNotes(int source, int destination, int position);

    // Where the operations post their notices (kind, text); the screen's
    // notifications when empty.
    std::function<void(int kind, const std::string& text)> notify;

    // GuiEditor (see the thread notes above).
    void encoder(int index, int delta, bool pushed) override;
    void button(int key, int event) override;
    void open() override;
    bool close() override;
    bool isOpen() override { return open_.load(std::memory_order_acquire); }
    void draw(MonoGFX& window) override;

    // Audio thread: true when the message was taken (NoteOff included).
    bool midiNoteIn(const MidiMessage& message);
    // Audio thread, once per block: queued previews to the voice manager.
    void renderPreviews();
    // Interface task: applies the queued keys, encoders and MIDI notes.
    void serviceRequests();

    // Interface task: the page's operations.
    void addNote(bool chord, const Note& note);
    void deleteAtCursor();
    void previewNote(int step, int note);
    void loadEditorFromCursor();

    NotePageLinks links;

    static constexpr uint32_t kChordWindow = 30;  // blocks: 40 ms
    enum PageState : int32_t {
        StateIdle = 0,
        StateMenu = 1,
        StateTranspose = 2,
        StateTuning = 3,
        StateCopyChoose = 4,
        StateCopyReady = 5,
        StateMoveEarlier = 7,
        StateMoveLater = 8,
    };

    ParameterInt notePreview{"note preview", ParameterInt::ChoiceMode, NoFlags, 1};
    ParameterInt addWithMidi{"add notes w/ MIDI", ParameterInt::ChoiceMode, NoFlags, 1};
    ParameterInt midiChannel{"MIDI in channel", ParameterInt::ChoiceMode, NoFlags, 0};
    // Octave of the 25 note keys; the track steps it with keys 25 and 26
    // and raises `changed` so the page redraws.
    ParameterInt keyboardOctave{"keyboard octave", ParameterInt::PlainInt, NoFlags, -1, -5, 5};
    ParameterInt item{"item", ParameterInt::PlainInt, NoFlags, 0, -1};
    ParameterInt itemSymbol{"item->symbol", ParameterInt::PlainInt, NoFlags, 0, -1, 8};
    ParameterInt data{"data", ParameterInt::ChoiceMode, NoFlags, 0};
    ParameterInt listIndex{"list", ParameterInt::PlainInt, NoFlags, 0, 0, 24};
    ParameterInt symbol{"symbol", ParameterInt::PlainInt, NoFlags, 0, -1};
    ParameterInt octave{"octave", ParameterInt::PlainInt, NoFlags, 0, -5, 5};
    ParameterInt type{"type", ParameterInt::ChoiceMode, NoFlags, 0};
    ParameterFloat amp{"amp", ParameterFloat::Decibels, NoFlags, -6.0f, -96.0f, 0.0f};
    ParameterInt chance{"chance", ParameterInt::PlainInt, NoFlags, 10, 0, 10};
    std::atomic<bool> changed{false};

    std::atomic<int32_t> pageState{StateIdle};
    int32_t copySource = 0, copyDestination = 0, copyPosition = 0;
    uint8_t lastSelection = 0;
    uint32_t lastEntryBlock = 0;
    MidiMessageFilter midiFilter;

private:
    // One key, encoder turn or MIDI note, as the audio thread saw it.
    struct Request {
        uint8_t kind = 0;  // kNoteRequest, kKeyRequest, kEncoderRequest
        uint8_t key0 = 0;  // key 0 held
        uint8_t key9 = 0;  // key 9 held
        uint8_t pushed = 0;
        int32_t a = 0;     // degree, key or encoder
        int32_t b = 0;     // octave, event or delta
        uint32_t block = 0;
    };
    static constexpr uint8_t kNoteRequest = 1, kKeyRequest = 2, kEncoderRequest = 3;

    static bool _valid(int index) { return index >= 0 && index < kListCount; }
    void _setupPage();
    void _resetPage();
    bool _held(int key) const;
    uint32_t _block() const;
    void _openNow();
    void _apply(const Request& r);
    void _button(const Request& r);
    void _encoder(const Request& r);
    void _enterKey(int k, bool chord, uint32_t block);
    void _addNote(bool chord, const Note& note, uint32_t block);
    void _chooseList(int n);
    void _popupResults();
    void _pendingStates();
    void _changeField(int delta);
    void _sortStep(NoteList& list, int step) const;
    void _drawPage(MonoGFX& w);
    // The list being edited: the working copy during a batch.
    std::shared_ptr<const NoteList> _current() const;
    // The cursor's step and note; null when the cursor is on none.
    static const NoteStep* _step(const NoteList& list, int step);
    static const Note* _note(const NoteList& list, int step, int note);
    const PitchScaleManager& _scales() const;

    void _flushDraft();

    bool batching_ = false;  // interface task only
    std::unique_ptr<NoteList> draft_;
    int draftIndex_ = -1;
    std::atomic<bool> open_{false};
    std::atomic<bool> openRequested_{false};

    // Encoders and MIDI notes from the audio thread, keys from the interface.
    TwoProducerInbox<Request, 256> requests_;
    SpscRing<NoteEvent, 64> previews_;
    void _notify(int kind, const std::string& text) const;

    std::array<Snapshot<NoteList>, kListCount> lists_;
};

namespace DSP {
extern NoteManager noteManager;
}
