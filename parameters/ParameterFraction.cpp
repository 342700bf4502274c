#include "parameters/ParameterFraction.h"

#include "gui/Numpad.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {
constexpr float kDefaultRange = 48.0f;
constexpr size_t kMaxText = 15;
}  // namespace

ParameterFraction::ParameterFraction(const std::string& parameterName, uint32_t mode, ParameterFlags flags,
                                     float def, float min, float max)
    : displayMode(mode) {
    name = parameterName;
    ticksPerStep = 3;
    _applyFlags(flags);
    values.assign(multiSlot ? kMultiSlots : xyMorph ? kMorphSlots : 1, Relaxed(def));
    _derive(def);
    if (displayMode <= Halves) {
        setMin(kDefaultRange);
        setMax(kDefaultRange);
        if (displayMode == Ratio)
            step = 0.5f, alternateStep = 0.01f;
        else if (displayMode == Integer)
            step = 1.0f, alternateStep = 4.0f;
        else
            step = 0.5f, alternateStep = 2.0f;
        modulationMode = 1;
        modulationDepth = 2.0f;
    }
    if (min != -FLT_MAX)
        setMin(min);
    if (max != FLT_MAX)
        setMax(max);
    constrain();
    defaultValue = def;
}

void ParameterFraction::_derive(float v) {
    if (!(v > 0.0f)) {
        // 1/0: the largest denominator once constrained
        numerator = 1.0f;
        denominator = std::numeric_limits<float>::infinity();
        inverted = true;
    } else if (v < 1.0f) {
        numerator = 1.0f;
        denominator = 1.0f / v;
        inverted = true;
    } else {
        numerator = v;
        denominator = 1.0f;
        inverted = false;
    }
}

float ParameterFraction::_snap(float v) const {
    if (displayMode == Integer)
        return std::round(v);
    if (displayMode == Halves)
        return std::round(2.0f * v) * 0.5f;
    return v;
}

void ParameterFraction::constrain() {
    denominator = std::min(denominator, maxDenominator);
    numerator = std::min(numerator, maxNumerator);
    values[activeSlot] = numerator / denominator;
}

void ParameterFraction::setMin(float v) {
    if (!(v >= 1.0f))
        v = 1.0f;  // no division by zero below
    maxDenominator = v;
    modulationMin = 1.0f / v;
    constrain();
}

void ParameterFraction::setMax(float v) {
    if (!(v >= 1.0f))
        v = 1.0f;
    maxNumerator = v;
    modulationMax = v;
    constrain();
}

void ParameterFraction::setValue(float v, bool markOverride) {
    if (!std::isfinite(v))
        return;
    const float old = values[activeSlot];
    if (v < 0.0f) {
        values[activeSlot] = 0.0f;
        _derive(0.0f);
    } else {
        values[activeSlot] = v;
        _derive(v);
    }
    constrain();
    if (markOverride && values[activeSlot] != old)
        overridden = true;
}

bool ParameterFraction::changeBy(int ticks, bool alternate, bool) {
    if (locked)
        return false;
    const float old = values[activeSlot];
    if (ticks != 0 && _countTicks(ticks, false)) {
        const float s = alternate ? alternateStep : step;
        const float d = float(ticks);
        if (!inverted) {
            float r = _snap(numerator + d * s);
            numerator = r;
            if (r < 1.0f) {
                inverted = true;
                if (r <= 0.0f)
                    numerator = 1.0f, denominator = 2.0f;
                else
                    numerator = 1.0f, denominator = 2.0f - r;
            }
        } else {
            float r = _snap(denominator - d * s);
            denominator = r;
            if (r <= 1.005f) {
                inverted = false;
                if (r <= 0.0f)
                    numerator = 2.0f, denominator = 1.0f;
                else
                    denominator = 1.0f, numerator = 2.0f - r;
            }
        }
    }
    constrain();
    if (values[activeSlot] != old) {
        overridden = true;
        return true;
    }
    return false;
}

void ParameterFraction::setNormalised(float x) {
    if (std::isnan(x))
        return;
    float v;
    if (x < 0.0f)
        v = 1.0f / maxDenominator;
    else if (x < 0.5f)
        v = 1.0f / (2.0f * x + (1.0f - 2.0f * x) * maxDenominator);
    else if (x <= 1.0f)
        v = 1.0f + 2.0f * (x - 0.5f) * (maxNumerator - 1.0f);
    else
        v = maxNumerator;
    setValue(v, true);
}

float ParameterFraction::getNormalised() const {
    // A range of 1 on either side has only the middle.
    if (inverted)
        return maxDenominator != 1.0f ? 0.5f * (denominator - maxDenominator) / (1.0f - maxDenominator) : 0.5f;
    return maxNumerator != 1.0f ? 0.5f + 0.5f * (numerator - 1.0f) / (maxNumerator - 1.0f) : 0.5f;
}

bool ParameterFraction::setFromString(const std::string& text, int) {
    float v;
    if (!_parseFloat(text, v))
        return false;
    setValue(v, false);
    return true;
}

bool ParameterFraction::setFromOSC(const oscpkt::Message& message) {
    OscNumber n;
    float v;
    if (!_readOscNumber(message, n) || !_finiteFloat(n.real, v))
        return false;
    setValue(v, true);
    return true;
}

void ParameterFraction::morphXY(float x, float y) {
    if (xyMorph && !overridden && values.size() >= kMorphSlots && std::isfinite(x) && std::isfinite(y)) {
        values[0] = _bilinear(values, x, y);
        _derive(values[0]);
    }
    _morphModulators(x, y);
}

void ParameterFraction::storeSnapshot(unsigned index) { _storeSnapshotIn(values, index); }

void ParameterFraction::resetSnapshots() { _resetSnapshotsIn(values); }

void ParameterFraction::selectSlot(unsigned index) {
    if (multiSlot && index < values.size()) {
        activeSlot = index;
        _derive(values[index]);
    }
}

void ParameterFraction::copySlot(unsigned from, unsigned to) { _copySlotIn(values, from, to); }

void ParameterFraction::resetToDefault() {
    _resetSlotsTo(values, defaultValue);
    _derive(defaultValue);
    constrain();
}

void ParameterFraction::updateBlock() {
    const float target = values[activeSlot];
    output = smoothing ? _smooth(target) : target;
    _updateModulators();
}

std::string ParameterFraction::toString(bool) const {
    if (displayMode > Halves)
        return "";
    const float n = inverted ? denominator : numerator;
    const char* fraction = displayMode == Ratio ? "%.2f" : displayMode == Integer ? "%.0f" : "%.1f";
    char text[64];
    const char* prefix = inverted ? "1/" : "";
    if (std::fabs(n) < float(INT_MAX) && n - std::trunc(n) < 0.005f)
        std::snprintf(text, sizeof text, "%s%d", prefix, int(n));
    else {
        char number[56];
        std::snprintf(number, sizeof number, fraction, n);
        std::snprintf(text, sizeof text, "%s%s", prefix, number);
    }
    std::string s(text);
    if (s.size() > kMaxText)
        s.resize(kMaxText);
    return s;
}

void ParameterFraction::openEditor() {
    if (locked)
        return;
    // Only ratios are typed in; mode 0 leaves the pad closed.
    Driver::numpad.open(displayMode == Ratio ? Numpad::kNumber : Numpad::kClosed, _editorTitle(), toString(false), 32);
    Driver::numpad.target = this;
}

Parameter::json ParameterFraction::toJson() const {
    return _slotsJson(values, [](float v) { return json(v); });
}

void ParameterFraction::fromJson(json& j, ModulationManager* manager, FileVersion version) {
    overridden = _readOverride(j);
    _readFloatSlots(j["value"], values, false, 0.0f, 0.0f);
    _derive(values[activeSlot]);
    _restoreModulators(j, manager, version);
    constrain();
}
