#include "parameters/ParameterFloat.h"

#include "gui/Numpad.h"
#include "platform/RtPrintf.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr float kLog2Of10 = 3.321928f;
constexpr size_t kMaxText = 15;
const FileVersion kModAmountFixedIn{"", 0, 1, 26};
constexpr float kOldModAmountFactor = 0.27272728f;  // 3/11

float log2Of(float hz) { return log10f(hz) * kLog2Of10; }

std::string formatted(const char* format, double v) {
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    std::string s(text);
    if (s.size() > kMaxText)
        s.resize(kMaxText);
    return s;
}

}  // namespace

ParameterFloat::ParameterFloat(const std::string& parameterName, uint32_t mode, ParameterFlags flags, float def,
                               float min, float max)
    : displayMode(mode) {
    name = parameterName;
    _applyFlags(flags);
    if (displayMode == Hertz)
        def = log2Of(def);
    values.assign(multiSlot ? kMultiSlots : xyMorph ? kMorphSlots : 1, Relaxed(def));

    switch (displayMode) {
    case Plain:
        coarseStep = 0.02f, fineStep = 0.01f;
        break;
    case Semitones:
        coarseStep = 1.0f, fineStep = 0.01f;
        setMin(-128.0f);
        setMax(128.0f);
        break;
    case Hertz:
        coarseStep = 0.15f, fineStep = 0.05f;
        setMin(20.0f);
        setMax(19000.0f);
        modulationMode = 1, modulationDepth = 11.0f;
        break;
    case Milliseconds:
        coarseStep = 25.0f, fineStep = 2.0f;
        modulationDepth = 1000.0f;
        break;
    case Bpm:
        coarseStep = 1.0f, fineStep = 0.1f;
        setMin(0.0f);
        setMax(999.0f);
        break;
    case Decibels:
        coarseStep = 0.5f, fineStep = 0.1f;
        setMin(floorDb);
        setMax(12.0f);
        modulationMode = 1, modulationDepth = 3.0f;
        break;
    case Percent:
        coarseStep = 0.01f, fineStep = 0.002f;
        setMin(0.0f);
        setMax(1.0f);
        break;
    default:
        break;
    }
    if (min != -FLT_MAX) {
        values[activeSlot] = def;
        setMin(min);
    }
    if (max != FLT_MAX) {
        values[activeSlot] = def;
        setMax(max);
    }
    constrain();
    ticksPerStep = 1;
    defaultValue = def;
}

float ParameterFloat::convert(float v) const {
    switch (displayMode) {
    case Semitones:
        return exp2f(v * 0.083333336f);
    case Hertz:
        return exp2f(v);
    case Milliseconds:
        return 1000.0f / v;
    case Bpm:
        return v * 0.016666668f;
    case Decibels:
        return floorDb < v ? powf(10.0f, v * 0.05f) : 0.0f;
    case Percent:
        return v * 100.0f;
    default:
        return v;
    }
}

void ParameterFloat::constrain() {
    float v = values[activeSlot];
    if (std::isnan(v))
        v = std::clamp(defaultValue, std::min<float>(minimum, maximum), std::max<float>(minimum, maximum));
    if (!wrap) {
        if (v <= minimum)
            v = minimum;
        if (v > maximum)
            v = maximum;
    } else {
        if (v > maximum)
            v = minimum;
        else if (v < minimum)
            v = maximum;
    }
    values[activeSlot] = v;
    converted = convert(v);
}

void ParameterFloat::setValue(float v, bool markOverride) {
    if (!std::isfinite(v))
        return;
    const float old = values[activeSlot];
    if (displayMode == Hertz)
        values[activeSlot] = log2Of(std::max(v, 0.00001f));
    else if (displayMode == Percent)
        values[activeSlot] = v * 0.01f;
    else
        values[activeSlot] = v;
    constrain();
    if (markOverride && values[activeSlot] != old)
        overridden = true;
}

void ParameterFloat::setMin(float v) {
    // A frequency bound is taken as log2: it must be above 0 Hz.
    if (std::isnan(v) || (displayMode == Hertz && !(v > 0.0f)))
        return;
    if (displayMode == Hertz) {
        modulationMin = v;
        minimum = log2Of(v);
    } else if (displayMode == Decibels) {
        minimum = v;
        if (v < floorDb)
            floorDb = v - 1.0f;
        // "-inf dB" at the bottom is silence, not the floor's tiny level.
        modulationMin = v <= floorDb ? 0.0f : powf(10.0f, v * 0.05f);
    } else {
        minimum = modulationMin = v;
    }
    constrain();
}

void ParameterFloat::setMax(float v) {
    if (std::isnan(v) || (displayMode == Hertz && !(v > 0.0f)))
        return;
    if (displayMode == Hertz) {
        modulationMax = v;
        maximum = log2Of(v);
    } else if (displayMode == Decibels) {
        maximum = v;
        modulationMax = powf(10.0f, v * 0.05f);
    } else {
        maximum = modulationMax = v;
    }
    constrain();
}

void ParameterFloat::setDefault(float v) {
    setValue(v, false);
    defaultValue = values[activeSlot];
    std::fill(values.begin(), values.end(), defaultValue);
}

bool ParameterFloat::changeBy(int ticks, bool fine, bool force) {
    if (locked)
        return false;
    const float old = values[activeSlot];
    if (ticks != 0 && _countTicks(ticks, force)) {
        float d = float(ticks);
        float a = std::fabs(old);
        float step;
        if (displayMode == Milliseconds) {
            if (a < 50.0f)
                step = 1.0f;
            else if (a < 250.0f)
                step = fine ? 2.0f : 5.0f;
            else if (a < 2000.0f)
                step = fine ? fineStep : coarseStep;
            else
                step = fine ? coarseStep : 100.0f;
        } else {
            if (displayMode == Decibels && old <= -36.0f)
                d *= 2.0f;  // coarser where the ear hears little
            step = fine ? fineStep : coarseStep;
        }
        values[activeSlot] = old + step * d;
    }
    constrain();
    if (values[activeSlot] != old) {
        overridden = true;
        return true;
    }
    return false;
}

void ParameterFloat::setNormalised(float x) {
    if (std::isnan(x))
        return;
    x = std::clamp(x, 0.0f, 1.0f);
    const float old = values[activeSlot];
    values[activeSlot] = x * maximum + (1.0f - x) * minimum;
    constrain();
    if (values[activeSlot] != old)
        overridden = true;
}

float ParameterFloat::getNormalised() const {
    const float span = maximum - minimum;
    if (!(span > 0.0f) || !std::isfinite(span))
        return 0.0f;
    return (values[activeSlot] - minimum) / span;
}

bool ParameterFloat::setFromString(const std::string& text, int) {
    // Refused rather than thrown: the pad hands over whatever was typed.
    float v;
    if (!_parseFloat(text, v))
        return false;
    setValue(v, false);
    return true;
}

bool ParameterFloat::setFromOSC(const oscpkt::Message& message) {
    OscNumber n;
    if (!_readOscNumber(message, n))
        return false;
    float v;
    if (!_finiteFloat(n.real, v))
        return false;
    setValue(v, true);
    return true;
}

void ParameterFloat::morphXY(float x, float y) {
    if (xyMorph && !overridden && values.size() >= kMorphSlots && std::isfinite(x) && std::isfinite(y)) {
        values[0] = _bilinear(values, x, y);
        converted = convert(values[0]);
    }
    _morphModulators(x, y);
}

void ParameterFloat::storeSnapshot(unsigned index) { _storeSnapshotIn(values, index); }

void ParameterFloat::resetSnapshots() { _resetSnapshotsIn(values); }

void ParameterFloat::copySlot(unsigned from, unsigned to) { _copySlotIn(values, from, to); }

void ParameterFloat::resetToDefault() {
    _resetSlotsTo(values, defaultValue);
    constrain();
}

void ParameterFloat::updateBlock() {
    float target = (displayMode == Hertz || displayMode == Decibels) ? converted : values[activeSlot];
    output = smoothing ? _smooth(target) : target;
    _updateModulators();
}

std::string ParameterFloat::toString(bool alternate) const {
    const float v = values[activeSlot];
    switch (displayMode) {
    case Semitones:
        return alternate ? formatted("x%.3f", converted) : formatted("%+.2f", v);
    case Hertz: {
        const float f = exp2f(v);
        if (alternate)
            return formatted("%.2f ms", 1000.0f / f);  // the period
        if (f < 9.9f)
            return formatted("%.3f Hz", f);
        if (f < 99.9f)
            return formatted("%.2f Hz", f);
        if (f < 999.9f)
            return formatted("%.1f Hz", f);
        const float k = f * 0.001f;
        return formatted(f < 9999.0f ? "%.2f kHz" : "%.1f kHz", k);
    }
    case Milliseconds:
        if (alternate)
            return formatted("%.2f Hz", converted);
        return std::fabs(v) < 1000.0f ? formatted("%.0f ms", v) : formatted("%.2f s", v * 0.001f);
    case Bpm:
        return alternate ? formatted("%.2f Hz", converted) : formatted("%.1f", v);
    case Decibels:
        return v <= floorDb + 0.02f ? std::string("-inf dB") : formatted("%+.1f dB", v);
    case Percent:
        return formatted("%.1f %%", v * 100.0f);
    default:
        return formatted("%.2f", v);
    }
}

void ParameterFloat::openEditor() {
    if (locked)
        return;
    float initial = values[activeSlot];
    if (displayMode == Hertz)
        initial = converted;
    else if (displayMode == Percent)
        initial = initial * 100.0f;
    char text[64];
    std::snprintf(text, sizeof text, "%f", initial);
    Driver::numpad.open(Numpad::kNumber, _editorTitle(), text, 32);
    Driver::numpad.target = this;
}

Parameter::json ParameterFloat::toJson() const {
    return _slotsJson(values, [](float v) { return json(v); });
}

void ParameterFloat::fromJson(json& j, ModulationManager* manager, FileVersion version) {
    overridden = _readOverride(j);
    _readFloatSlots(j["value"], values, true, minimum, maximum);

    if (displayMode == Hertz && version < kModAmountFixedIn && j.is_object()) {
        auto it = j.find("modulator");
        if (it != j.end() && it->is_array()) {
            for (json& entry : *it) {
                json* amount = nullptr;
                if (entry.is_object() && entry.contains("amount") && entry["amount"].is_object() &&
                    entry["amount"].contains("value") && entry["amount"]["value"].is_array())
                    amount = &entry["amount"]["value"];
                if (amount) {
                    for (json& a : *amount)
                        a = a.get<float>() * kOldModAmountFactor;
                    rt_printf("[Old firmware fix] reduced mod amount to freq par [%s]\n", name.c_str());
                } else {
                    rt_printf("[Old firmware fix] can't reduce mod amount freq [%s]\n", name.c_str());
                }
            }
        }
    }
    _restoreModulators(j, manager, version);
    constrain();
}
