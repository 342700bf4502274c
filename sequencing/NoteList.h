// Note lists: steps of notes or chords written as scale degrees of a named
// tuning, and the table of which steps follow which.
#pragma once

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class PitchScaleManager;

enum class NoteType : int32_t {
    None = -1,
    NoteOn = 0,
    NoteOnSlide = 1,
    NoteSlide = 2,
    Skip = 3,
    NoteOff = 4,
    NoteOffAll = 5,
};

// "NoteOn" .. "NoteOffAll"; nullptr for None and values outside the table.
const char* noteTypeName(NoteType type);
// The type of a name; None for anything else.
NoteType noteTypeFromName(const std::string& name);

struct Note {
    NoteType type = NoteType::NoteOn;
    int32_t symbol = 0;  // scale degree from the tuning's octave base
    int32_t octave = 0;
    float dbfs = -6.0f;
    int32_t chance = 10;  // tenths
};

// One step: up to eight notes played together. Fixed capacity, so that the
// audio thread copies steps without allocating.
class NoteStep {
public:
    static constexpr int kMaxNotes = 8;

    uint8_t selected = 0;

    int size() const { return count_; }
    bool empty() const { return count_ == 0; }
    bool full() const { return count_ == kMaxNotes; }
    Note& operator[](int i) { return notes_[size_t(i)]; }
    const Note& operator[](int i) const { return notes_[size_t(i)]; }
    Note* begin() { return notes_.data(); }
    Note* end() { return notes_.data() + count_; }
    const Note* begin() const { return notes_.data(); }
    const Note* end() const { return notes_.data() + count_; }

    // False (and nothing changes) when the step is full.
    bool add(const Note& note) { return insert(count_, note); }
    bool insert(int index, const Note& note);
    void erase(int index);
    void clear() { count_ = 0; }

private:
    std::array<Note, kMaxNotes> notes_{};
    uint8_t count_ = 0;
};

// Orders steps by their pitches only: notes compared by octave, then degree,
// a step that is a prefix of another first.
struct NoteStepPitchLess {
    bool operator()(const NoteStep& a, const NoteStep& b) const;
};

struct NoteList {
    // A list read from a file keeps at most this many steps.
    static constexpr size_t kMaxSteps = 4096;

    std::vector<NoteStep> steps;
    std::string tuning = "12 edo";
    int32_t stepsPerOctave = 12;
    std::map<NoteStep, std::vector<NoteStep>, NoteStepPitchLess> transitions;

    // Empties the steps; tuning and transitions stay.
    void clear() { steps.clear(); }
    // Each step's successors in list order, the last followed by the first.
    void rebuildTransitions();
};

// The list's part of a note-list file: "tuning" and the five per-step arrays.
// The tuning is written as the scale file's path when it came from one.
nlohmann::json noteListToJson(const NoteList& list, const PitchScaleManager& scales);

// Reads one list element of a note-list file into `list` (its steps and
// tuning; steps per octave are left for the tunings to set; at most
// kMaxSteps steps). A tuning that
// names a scale file is stored by file name and its path returned in
// `scalePath`. On malformed content returns false with a message, and `list`
// is left as it was.
bool noteListFromJson(const nlohmann::json& element, NoteList& list, std::string& scalePath, std::string& error);
