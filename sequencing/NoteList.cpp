#include "sequencing/NoteList.h"

#include "sequencing/PitchScale.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <stdexcept>
#include <string>

namespace {

const char* const kNoteTypeNames[] = {"NoteOn", "NoteOnSlide", "NoteSlide", "Skip", "NoteOff", "NoteOffAll"};
constexpr const char* kDefaultTuning = "12 edo";
constexpr const char* kScaleExtension = ".scl";

using json = nlohmann::json;

// Writes one field of every step: a value for a single note, an array for a
// chord (and for an empty step, so that it reads back as one).
template <typename F>
json perStep(const NoteList& list, F&& value) {
    json out = json::array();
    for (const NoteStep& step : list.steps) {
        if (step.size() == 1) {
            out.push_back(value(step[0]));
        } else {
            json chord = json::array();
            for (const Note& note : step)
                chord.push_back(value(note));
            out.push_back(std::move(chord));
        }
    }
    return out;
}

json typeJson(NoteType type) {
    const char* name = noteTypeName(type);
    return name ? json(name) : json(nullptr);
}

NoteType typeFromJson(const json& value) {
    return value.is_string() ? noteTypeFromName(value.get<std::string>()) : NoteType::None;
}

Note noteFromJson(const json& element, size_t step, const size_t* chordIndex) {
    auto field = [&](const char* key) -> const json& {
        const json& v = element.at(key).at(step);
        return chordIndex ? v.at(*chordIndex) : v;
    };
    // The library would wrap or saturate a number its type cannot hold (an
    // octave of 1e20 as -2147483648): such a note is refused instead.
    auto whole = [&](const char* key) -> int32_t {
        const json& v = field(key);
        const double d = v.get<double>();
        if (!(d >= double(INT32_MIN) && d <= double(INT32_MAX)))
            throw std::out_of_range(std::string("\"") + key + "\" out of range at step " + std::to_string(step));
        return v.is_number_integer() ? int32_t(v.get<int64_t>()) : int32_t(d);
    };
    Note note;
    note.type = typeFromJson(field("type"));
    note.symbol = whole("symbol");
    note.octave = whole("octave");
    const double dbfs = field("dbfs").get<double>();
    if (!(std::fabs(dbfs) <= double(FLT_MAX)))
        throw std::out_of_range("\"dbfs\" out of range at step " + std::to_string(step));
    note.dbfs = float(dbfs);
    note.chance = whole("chance");
    return note;
}

}  // namespace

const char* noteTypeName(NoteType type) {
    const int v = int(type);
    return v >= 0 && v < 6 ? kNoteTypeNames[v] : nullptr;
}

NoteType noteTypeFromName(const std::string& name) {
    for (int v = 0; v < 6; ++v)
        if (name == kNoteTypeNames[v])
            return NoteType(v);
    return NoteType::None;
}

bool NoteStep::insert(int index, const Note& note) {
    if (full() || index < 0 || index > count_)
        return false;
    for (int i = count_; i > index; --i)
        notes_[size_t(i)] = notes_[size_t(i - 1)];
    notes_[size_t(index)] = note;
    ++count_;
    return true;
}

void NoteStep::erase(int index) {
    if (index < 0 || index >= count_)
        return;
    for (int i = index; i + 1 < count_; ++i)
        notes_[size_t(i)] = notes_[size_t(i + 1)];
    --count_;
}

bool NoteStepPitchLess::operator()(const NoteStep& a, const NoteStep& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](const Note& x, const Note& y) {
        return x.octave != y.octave ? x.octave < y.octave : x.symbol < y.symbol;
    });
}

void NoteList::rebuildTransitions() {
    transitions.clear();
    const size_t count = steps.size();
    for (size_t i = 0; i < count; ++i)
        transitions[steps[i]].push_back(steps[(i + 1) % count]);
}

json noteListToJson(const NoteList& list, const PitchScaleManager& scales) {
    json out = json::object();
    const PitchScale* scale = scales.getScale(list.tuning);
    out["tuning"] = scale && !scale->name.empty() ? scale->name : list.tuning;
    out["type"] = perStep(list, [](const Note& n) { return typeJson(n.type); });
    out["symbol"] = perStep(list, [](const Note& n) { return json(n.symbol); });
    out["octave"] = perStep(list, [](const Note& n) { return json(n.octave); });
    out["dbfs"] = perStep(list, [](const Note& n) { return json(n.dbfs); });
    out["chance"] = perStep(list, [](const Note& n) { return json(n.chance); });
    return out;
}

bool noteListFromJson(const json& element, NoteList& list, std::string& scalePath, std::string& error) {
    scalePath.clear();
    NoteList read;
    try {
        std::string tuning = kDefaultTuning;
        if (element.is_object() && element.contains("tuning")) {
            tuning = element.at("tuning").get<std::string>();
            if (tuning == "MIDI" || tuning == "midi")
                tuning = kDefaultTuning;
        }
        const std::string extension = kScaleExtension;
        if (tuning.size() > extension.size() &&
            tuning.compare(tuning.size() - extension.size(), extension.size(), extension) == 0) {
            scalePath = tuning;
            tuning = tuning.substr(tuning.rfind('/') + 1);  // npos + 1 == 0
        }
        read.tuning = tuning;

        if (element.is_object() && element.contains("symbol") && !element.at("symbol").is_null()) {
            const json& symbols = element.at("symbol");
            if (!symbols.is_array()) {
                error = "\"symbol\" is not an array";
                return false;
            }
            read.steps.resize(std::min(symbols.size(), NoteList::kMaxSteps));
            for (size_t s = 0; s < read.steps.size(); ++s) {
                NoteStep& step = read.steps[s];
                if (symbols[s].is_array()) {
                    // A chord beyond the step's capacity keeps its first notes.
                    for (size_t k = 0; k < symbols[s].size() && !step.full(); ++k)
                        step.add(noteFromJson(element, s, &k));
                } else {
                    step.add(noteFromJson(element, s, nullptr));
                }
            }
        }
    } catch (const std::exception& e) {  // the library's errors and out-of-range numbers
        scalePath.clear();
        error = e.what();
        return false;
    }
    read.stepsPerOctave = list.stepsPerOctave;
    list.steps = std::move(read.steps);
    list.tuning = std::move(read.tuning);
    return true;
}
