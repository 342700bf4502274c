#include "parameters/ParameterInt.h"

#include "gui/ListSelect.h"
#include "gui/Numpad.h"
#include "platform/RtPrintf.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr size_t kTextBuffer = 20;

int32_t saturate(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// Nearest integer, or false when there is none in range.
bool roundedInt(double v, int32_t& out) {
    if (!std::isfinite(v))
        return false;
    double r = std::round(v);
    if (r < double(INT32_MIN) || r > double(INT32_MAX))
        return false;
    out = int32_t(r);
    return true;
}

std::shared_ptr<const ChoiceList> initialChoices(uint32_t displayMode) {
    auto list = std::make_shared<ChoiceList>();
    if (displayMode == ParameterInt::ChoiceMode)
        list->names = {"false", "true"};
    return list;
}

}  // namespace

ParameterInt::ParameterInt(const std::string& parameterName, uint32_t mode, ParameterFlags flags, int32_t def,
                           int32_t min, int32_t max)
    : displayMode(mode), choiceList(initialChoices(mode)) {
    name = parameterName;
    _applyFlags(flags);
    values.assign(multiSlot ? kMultiSlots : xyMorph ? kMorphSlots : 1, Relaxed(def));
    switch (displayMode) {
    case PlainInt:
        fineStep = 1, coarseStep = 8;
        break;
    case Multiplicative:
        fineStep = 2, coarseStep = 1;
        modulationMode = 1;
        modulationDepth = 3.0f;
        break;
    case ChoiceMode:
        fineStep = 1, coarseStep = 1;
        setMin(0);
        setMax(1);
        wrap = true;
        break;
    case Samples:
        fineStep = 1, coarseStep = 48;
        setMin(0);
        break;
    default:
        break;
    }
    if (min != kNoMinimum) {
        values[activeSlot] = def;
        setMin(min);
    }
    if (max != kNoMaximum) {
        values[activeSlot] = def;
        setMax(max);
    }
    // A modulator output of 1.0 spans the whole range.
    if (channelCount != 0 && modulationMode == 0 && min != kNoMinimum && max != kNoMaximum)
        modulationDepth = float(max) - float(min);
    if (displayMode != ChoiceMode)
        constrain();
    defaultValue = def;
}

int32_t ParameterInt::_limited(int64_t v) const {
    if (!wrap) {
        v = std::max<int64_t>(v, minimum);
        if (v >= maximum)
            v = maximum;
    } else {
        if (v > maximum)
            v = minimum;
        else if (v < minimum)
            v = maximum;
    }
    return saturate(v);
}

void ParameterInt::constrain() {
    // Every slot, so that selecting another slot never shows one out of range.
    for (auto& v : values) {
        const int32_t limited = _limited(v);
        if (limited != v)
            v = limited;
    }
}

void ParameterInt::setMin(int32_t v) {
    minimum = modulationMinInt = v;
    modulationMin = float(v);
    constrain();
}

void ParameterInt::setMax(int32_t v) {
    maximum = modulationMaxInt = v;
    modulationMax = float(v);
    constrain();
}

int32_t ParameterInt::setValue(int32_t v, bool markOverride) {
    const int32_t old = values[activeSlot];
    values[activeSlot] = _limited(v);
    if (markOverride && values[activeSlot] != old)
        overridden = true;
    return values[activeSlot];
}

bool ParameterInt::changeBy(int ticks, bool alternate, bool force) {
    if (locked)
        return false;
    const int32_t old = values[activeSlot];
    if (ticks != 0 && _countTicks(ticks, force)) {
        // In 64 bits, so a step past the ends cannot overflow.
        int64_t v = old;
        if (displayMode != Multiplicative)
            v += int64_t(alternate ? coarseStep : fineStep) * ticks;
        else if (v == 0 || alternate)
            v += int64_t(coarseStep) * ticks;  // 0 leaves 0 by adding
        else if (ticks >= 1)
            v = v * (int64_t(fineStep) * ticks);
        else
            v = v / (-int64_t(ticks) * fineStep);
        values[activeSlot] = _limited(v);
    }
    constrain();
    if (values[activeSlot] != old) {
        overridden = true;
        return true;
    }
    return false;
}

void ParameterInt::setNormalised(float x) {
    if (std::isnan(x))
        return;
    x = std::clamp(x, 0.0f, 1.0f);
    const float v = float(maximum) * x + float(minimum) * (1.0f - x);
    // float(2147483646) is 2^31: saturate before converting.
    setValue(saturate(int64_t(std::trunc(double(v)))), true);
}

float ParameterInt::getNormalised() const {
    if (maximum <= minimum)
        return 0.0f;
    return float((double(values[activeSlot]) - minimum) / (double(maximum) - minimum));
}

int ParameterInt::_choiceIndex(const ChoiceList& list, const std::string& choice) const {
    for (size_t i = 0; i < list.names.size(); ++i)
        if (list.names[i] == choice)
            return int(i);
    return -1;
}

bool ParameterInt::setFromString(const std::string& text, int slot) {
    if (slot == -1)
        slot = int(activeSlot);
    if (!_validSlot(slot))
        return false;
    if (displayMode == ChoiceMode) {
        int index = _withChoices([&](const ChoiceList& list) { return _choiceIndex(list, text); });
        if (index < 0)
            return false;
        values[slot] = _limited(index);
        return true;
    }
    // Refused rather than thrown: text comes from the pad and from files.
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(start, &end, 10);
    if (end == start || errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
        return false;
    values[slot] = _limited(v);
    return true;
}

bool ParameterInt::setFromOSC(const oscpkt::Message& message) {
    OscNumber n;
    if (!_readOscNumber(message, n))
        return false;
    int32_t v = 0;
    switch (n.tag) {
    case 'i':
        v = int32_t(n.integer);
        break;
    case 'h':
        v = int32_t(uint32_t(uint64_t(n.integer)));  // the low 32 bits
        break;
    default:
        if (!roundedInt(n.real, v))
            return false;
        break;
    }
    setValue(v, true);
    return true;
}

void ParameterInt::morphXY(float x, float y) {
    if (xyMorph && !overridden && values.size() >= kMorphSlots && std::isfinite(x) && std::isfinite(y)) {
        int32_t v;
        if (roundedInt(_bilinear(values, x, y), v))
            values[0] = _limited(v);
    }
    _morphModulators(x, y);
}

void ParameterInt::storeSnapshot(unsigned index) { _storeSnapshotIn(values, index); }

void ParameterInt::resetSnapshots() { _resetSnapshotsIn(values); }

void ParameterInt::copySlot(unsigned from, unsigned to) { _copySlotIn(values, from, to); }

void ParameterInt::resetToDefault() {
    _resetSlotsTo(values, defaultValue);
    constrain();
}

void ParameterInt::updateBlock() {
    int32_t t = values[activeSlot];
    if (displayMode == ChoiceMode) {
        const ChoiceList* list = choiceList.rt();
        if (!list->values.empty() && t >= 0 && size_t(t) < list->values.size())
            t = list->values[size_t(t)];
    }
    output = smoothing ? _smooth(float(t)) : float(t);
    _updateModulators();
}

int32_t ParameterInt::getModulated(uint32_t channel, bool trigA, bool trigB, float extra) {
    const long v = lroundf(Parameter::getModulated(channel, trigA, trigB, extra));
    return int32_t(std::clamp<long>(v, modulationMinInt, std::max(modulationMinInt, modulationMaxInt)));
}

size_t ParameterInt::choiceCount() const {
    return _withChoices([](const ChoiceList& list) { return list.names.size(); });
}

std::string ParameterInt::choiceName(int32_t index) const {
    return _withChoices([&](const ChoiceList& list) -> std::string {
        if (index < 0 || size_t(index) >= list.names.size())
            return "";
        return list.names[size_t(index)];
    });
}

std::string ParameterInt::toString(bool alternate) const {
    char text[kTextBuffer];
    const int32_t v = values[activeSlot];
    switch (displayMode) {
    case ChoiceMode:
        std::snprintf(text, sizeof text, "%s", choiceName(v).c_str());
        break;
    case Samples:
        if (alternate)
            std::snprintf(text, sizeof text, "%.2f ms", double(v) / 48.0);
        else
            std::snprintf(text, sizeof text, "%d samples", v);
        break;
    default:
        std::snprintf(text, sizeof text, "%d", v);
        break;
    }
    return text;
}

void ParameterInt::openEditor() {
    if (locked)
        return;
    if (displayMode == ChoiceMode) {
        _withChoices([&](const ChoiceList& list) { return Driver::listSelection.open(_editorTitle(), list.names, false); });
        Driver::listSelection.target = this;
        return;
    }
    char text[kTextBuffer];
    std::snprintf(text, sizeof text, "%d", int32_t(values[activeSlot]));
    Driver::numpad.open(Numpad::kNumber, _editorTitle(), text, 32);
    Driver::numpad.target = this;
}

void ParameterInt::setChoices(const std::vector<std::string>& names, int selectIndex, bool warn) {
    _setChoices(names, nullptr, selectIndex, warn);
}

void ParameterInt::setChoicesWithValues(const std::vector<std::string>& names, const std::vector<int32_t>& choiceValues,
                                        int selectIndex, bool warn) {
    _setChoices(names, &choiceValues, selectIndex, warn);
}

void ParameterInt::_setChoices(const std::vector<std::string>& names, const std::vector<int32_t>* choiceValues,
                               int selectIndex, bool warn) {
    std::vector<std::string> previous(values.size());
    std::vector<bool> hadName(values.size(), false);
    {
        auto old = choiceList.get();
        for (size_t i = 0; i < values.size(); ++i)
            if (values[i] >= 0 && size_t(values[i]) < old->names.size()) {
                previous[i] = old->names[size_t(values[i])];
                hadName[i] = true;
            }
    }
    auto next = std::make_shared<ChoiceList>();
    next->names = names;
    if (next->names.empty())
        next->names.push_back("");
    if (choiceValues) {
        // A short value list would be read past its end: missing values are
        // the choice's index.
        next->values.resize(next->names.size());
        for (size_t i = 0; i < next->values.size(); ++i)
            next->values[i] = i < choiceValues->size() ? (*choiceValues)[i] : int32_t(i);
    }
    const int32_t last = int32_t(next->names.size()) - 1;
    choiceList.publish(std::move(next));
    setMin(0);
    setMax(last);
    if (selectIndex == -1) {
        auto list = choiceList.get();
        for (size_t i = 0; i < values.size(); ++i) {
            int index = hadName[i] ? _choiceIndex(*list, previous[i]) : -1;
            if (index >= 0) {
                values[i] = index;
            } else {
                values[i] = 0;
                if (warn)
                    rt_printf("Value not found for [%d][%s]\n", int(i), previous[i].c_str());
            }
        }
    } else {
        defaultValue = selectIndex;
        std::fill(values.begin(), values.end(), selectIndex);
    }
    constrain();  // the current value follows the slots just set
}

Parameter::json ParameterInt::toJson() const {
    return _slotsJson(values, [&](int32_t v) -> json {
        if (displayMode == ChoiceMode)
            return choiceName(v);  // lists are saved by name
        return v;
    });
}

void ParameterInt::fromJson(json& j, ModulationManager* manager, FileVersion version) {
    overridden = _readOverride(j);
    json value = _valueOf(j);
    auto number = [&](unsigned slot, const json& n) {
        int64_t v;
        if (n.is_number_integer())
            v = int32_t(uint32_t(n.get<uint64_t>()));  // the low 32 bits
        else {
            const double d = n.get<double>();
            if (std::isnan(d))
                return;
            v = d >= 2147483647.0 ? INT32_MAX : d <= -2147483648.0 ? INT32_MIN : int64_t(std::trunc(d));
        }
        values[slot] = int32_t(std::clamp<int64_t>(v, minimum, std::max(minimum, maximum)));
    };
    auto text = [&](unsigned slot, const std::string& t) {
        if (setFromString(t, int(slot)))
            return;
        // A name that left the list restores as the first entry; a text that
        // is no number makes the file one that cannot be interpreted, with
        // the error every reader already catches for a value of a wrong kind.
        if (displayMode != ChoiceMode)
            throw json::type_error::create(302, "\"" + t + "\" is no number for [" + name + "]", nullptr);
        values[slot] = 0;
    };
    if (value.is_array()) {
        const size_t n = std::min(value.size(), values.size());
        for (size_t i = 0; i < n; ++i) {
            if (value[i].is_number())
                number(unsigned(i), value[i]);
            else if (value[i].is_string())
                text(unsigned(i), value[i].get<std::string>());
        }
    } else if (value.is_number()) {
        for (unsigned i = 0; i < values.size(); ++i)
            number(i, value);
    } else if (value.is_string()) {
        const std::string t = value.get<std::string>();
        for (unsigned i = 0; i < values.size(); ++i)
            text(i, t);
    }
    _restoreModulators(j, manager, version);
    constrain();
}
