// The 25 note lists of the instrument and the operations on whole lists.
//
// The audio thread plays the lists while the interface thread shuffles,
// transposes, copies and loads them, so every list is an immutable snapshot:
// a change builds a new list off the audio thread and swaps it in whole.
#pragma once

#include "parameters/ParameterInt.h"
#include "parameters/Snapshot.h"
#include "sequencing/NoteList.h"

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

class PitchScaleManager;

class NoteManager {
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
    template <typename F>
    bool editList(int index, F&& change) {
        if (!_valid(index))
            return false;
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

    // Octave of the 25 note keys; the track steps it with keys 25 and 26
    // and raises `changed` so the page redraws.
    ParameterInt keyboardOctave{"keyboard octave", ParameterInt::PlainInt, NoFlags, -1, -5, 5};
    std::atomic<bool> changed{false};

private:
    static bool _valid(int index) { return index >= 0 && index < kListCount; }
    void _notify(int kind, const std::string& text) const;

    std::array<Snapshot<NoteList>, kListCount> lists_;
};

namespace DSP {
extern NoteManager noteManager;
}
