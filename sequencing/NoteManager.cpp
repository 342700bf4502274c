#include "sequencing/NoteManager.h"

#include "dsp/Random.h"
#include "gui/GuiNotify.h"
#include "sequencing/PitchScale.h"

#include <utility>
#include <vector>

namespace {

constexpr const char* kShuffledAll = "Shuffled all notes";
constexpr const char* kShuffleHint = "Select 2+ notes to shuffle (or none to shuffle all notes)";
constexpr const char* kShuffled = "Shuffled ";
constexpr const char* kNotes = " notes";
constexpr const char* kTransposedAll = "Tranposed all notes with ";
constexpr const char* kTransposed = "Tranposed ";
constexpr const char* kNotesWith = " notes with ";

}  // namespace

NoteManager::NoteManager() {
    _setupPage();
    NoteList first;
    NoteStep step;
    step.add(Note{});
    first.steps.push_back(step);
    lists_[0].publish(std::make_shared<const NoteList>(std::move(first)));
}

const NoteList* NoteManager::rtList(int index) const { return _valid(index) ? lists_[size_t(index)].rt() : nullptr; }

std::shared_ptr<const NoteList> NoteManager::list(int index) const {
    return _valid(index) ? lists_[size_t(index)].get() : nullptr;
}

void NoteManager::setList(int index, NoteList list) {
    if (_valid(index))
        lists_[size_t(index)].publish(std::make_shared<const NoteList>(std::move(list)));
}

void NoteManager::reset() {
    for (int i = 0; i < kListCount; ++i)
        editList(i, [](NoteList& list) { list.clear(); });
    keyboardOctave.resetToDefault();
    _resetPage();
}

void NoteManager::applyTunings() { applyTunings(DSP::scaleManager); }

void NoteManager::applyTunings(const PitchScaleManager& scales) {
    for (int i = 0; i < kListCount; ++i) {
        editList(i, [&](NoteList& list) {
            list.rebuildTransitions();
            if (const PitchScale* scale = scales.getScale(list.tuning))
                list.stepsPerOctave = scale->stepsPerOctave();
        });
    }
}

void NoteManager::rebuildTransitions(int index) {
    editList(index, [](NoteList& list) {
        // An emptied list drops its table too, so nothing plays from it.
        list.rebuildTransitions();
    });
}

void NoteManager::shuffle(int index) {
    std::string notice;
    int kind = kNoticeSuccess;
    editList(index, [&](NoteList& list) {
        if (list.steps.empty())
            return;
        std::vector<size_t> positions;
        for (size_t i = 0; i < list.steps.size(); ++i)
            if (list.steps[i].selected)
                positions.push_back(i);
        if (positions.size() == 1) {
            kind = kNoticeInfo;
            notice = kShuffleHint;
            return;
        }
        if (positions.empty()) {
            notice = kShuffledAll;
            for (size_t i = 0; i < list.steps.size(); ++i)
                positions.push_back(i);
        } else {
            notice = kShuffled + std::to_string(positions.size()) + kNotes;
        }
        // Fisher-Yates over the chosen positions; marks move with their steps.
        for (size_t m = positions.size() - 1; m >= 1; --m) {
            const size_t j = DSP::random.nextHigh() % (m + 1);
            std::swap(list.steps[positions[m]], list.steps[positions[j]]);
        }
    });
    if (!notice.empty())
        _notify(kind, notice);
}

bool NoteManager::transpose(int index, int amount) {
    if (amount == 0 || !_valid(index))
        return false;
    size_t selectedCount = 0;
    editList(index, [&](NoteList& list) {
        for (const NoteStep& step : list.steps)
            selectedCount += step.selected ? 1 : 0;
        const int32_t n = list.stepsPerOctave;
        for (NoteStep& step : list.steps) {
            if (selectedCount > 0 && !step.selected)
                continue;
            for (Note& note : step) {
                note.symbol += amount;
                // Folds any distance, not just one octave, should a list hold
                // degrees beyond its tuning.
                if (n > 0) {
                    while (note.symbol >= n) {
                        note.symbol -= n;
                        ++note.octave;
                    }
                    while (note.symbol < 0) {
                        note.symbol += n;
                        --note.octave;
                    }
                }
            }
        }
        list.rebuildTransitions();
    });
    if (selectedCount > 0)
        _notify(kNoticeSuccess, kTransposed + std::to_string(selectedCount) + kNotesWith + std::to_string(amount));
    else
        _notify(kNoticeSuccess, kTransposedAll + std::to_string(amount));
    return true;
}

void NoteManager::copyNotes(int source, int destination, int position) {
    if (!_valid(source) || !_valid(destination))
        return;
    std::vector<NoteStep> copies;
    editList(source, [&](NoteList& list) {
        bool any = false;
        for (const NoteStep& step : list.steps)
            any = any || step.selected;
        for (NoteStep& step : list.steps) {
            if (!any || step.selected)
                copies.push_back(step);
            step.selected = 0;
        }
    });
    for (NoteStep& step : copies)
        step.selected = 0;
    editList(destination, [&](NoteList& list) {
        const bool inside = position >= 0 && size_t(position) < list.steps.size();
        list.steps.insert(inside ? list.steps.begin() + position : list.steps.end(), copies.begin(), copies.end());
        list.rebuildTransitions();
    });
}

void NoteManager::_notify(int kind, const std::string& text) const {
    if (notify)
        notify(kind, text);
    else
        Driver::guiNotify.post(text, 0, uint32_t(kind));
}
