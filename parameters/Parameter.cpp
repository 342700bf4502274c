#include "parameters/Parameter.h"

#include "parameters/ModulationManager.h"
#include "parameters/Modulator.h"
#include "parameters/ParameterGroup.h"
#include "platform/Audio.h"
#include "platform/Osc.h"
#include "platform/RtPrintf.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cfloat>
#include <cstdlib>
#include <cmath>
#include <cstring>

namespace {
constexpr const char* kEditorTitle = "edit value: ";
}

Parameter::Parameter() { modulators.reserve(kMaxModulators); }

Parameter::~Parameter() = default;

Parameter::ModulatorListEdit::ModulatorListEdit(Parameter& p) : p_(p) {
    const std::thread::id self = std::this_thread::get_id();
    if (p_.listEditor.load(std::memory_order_acquire) == self) {
        nested_ = true;
        return;
    }
    bool expected = false;
    while (!p_.busy.compare_exchange_weak(expected, true, std::memory_order_seq_cst)) {
        expected = false;
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    p_.listEditor.store(self, std::memory_order_release);
    Bela_blockFence();
}

Parameter::ModulatorListEdit::~ModulatorListEdit() {
    if (nested_)
        return;
    p_.listEditor.store(std::thread::id{}, std::memory_order_release);
    p_.busy.store(false, std::memory_order_seq_cst);
}

bool Parameter::setFromString(const std::string&, int) { return false; }

bool Parameter::setFromOSC(const oscpkt::Message&) { return false; }

void Parameter::selectSlot(unsigned index) {
    if (multiSlot && index < slotCount())
        activeSlot = index;
}

float Parameter::_modulated(uint32_t channel, bool trigA, bool trigB, float extra, bool listFree) {
    float v = output;
    const uint32_t block = blockCount;
    if (modulationMode == 0) {
        if (listFree)
            for (const auto& m : modulators)
                if (channel < m->channelCount)
                    v += m->step(channel, trigA, trigB, block) * modulationDepth;
        v += extra * modulationDepth;
    } else if (modulationMode == 1) {
        // One power of two for the product of all: 2^a x 2^b = 2^(a + b).
        float exponent = extra;
        if (listFree)
            for (const auto& m : modulators)
                if (channel < m->channelCount)
                    exponent += m->step(channel, trigA, trigB, block);
        if (exponent != 0.0f)
            v *= exp2f(exponent * modulationDepth);
    }
    return _clampModulated(v);
}

bool Parameter::addModulator(std::shared_ptr<Modulator> modulator) {
    if (!modulator)
        return false;
    size_t attached;
    {
        ModulatorListEdit edit(*this);
        attached = modulators.size();
        if (attached < kMaxModulators)
            modulators.push_back(modulator);
    }
    if (attached >= kMaxModulators) {
        rt_printf("[Parameter][%s] can't add modulator [%s]: %zu are attached already\n", name.c_str(),
                  modulator->typeName().c_str(), attached);
        return false;
    }
    rt_printf("[Parameter][%s] added modulator [%s]\n", name.c_str(), modulator->typeName().c_str());
    return true;
}

std::shared_ptr<Modulator> Parameter::removeModulator(unsigned index) {
    ModulatorListEdit edit(*this);
    if (index >= modulators.size())
        return {};
    std::shared_ptr<Modulator> removed = modulators[index];
    modulators.erase(modulators.begin() + index);
    return removed;
}

std::string Parameter::modulatorName(unsigned index) const {
    if (busy.load(std::memory_order_seq_cst) || index >= modulators.size())
        return "";
    return modulators[index]->typeName();
}

void Parameter::clearOverride() {
    overridden = false;
    if (!busy.load(std::memory_order_seq_cst))
        for (const auto& m : modulators)
            m->parameterGroup.clearOverrides();
}

bool Parameter::setMidiMapped() { return !midiMapped.exchange(true); }

bool Parameter::clearMidiMapped() { return midiMapped.exchange(false); }

void Parameter::_applyFlags(ParameterFlags flags) {
    xyMorph = flags & XYMorph;
    smoothing = flags & Smoothed;
    stored = flags & Stored;
    multiSlot = flags & MultiSlot;
    locked = flags & Locked;
    wrap = flags & Wrap;
    if (flags & PerChannel)
        channelCount = kVoiceChannels;
    if (multiSlot)
        xyMorph = false;
}

bool Parameter::_countTicks(int ticks, bool force) {
    if (ticks == 0)
        return false;
    // Equal, not at least: a fast turn in one call only steps when forced.
    int64_t count = ticks == lastTicks ? int64_t(tickAccumulator) + ticks : ticks;
    if (count > INT32_MAX || count < INT32_MIN)
        count = ticks;
    tickAccumulator = int32_t(count);
    lastTicks = ticks;
    if (count == ticksPerStep || count == -int64_t(ticksPerStep) || force) {
        tickAccumulator = 0;
        return true;
    }
    return false;
}

float Parameter::_smooth(float target) {
    float d = smoothed < target ? riseDivisor : fallDivisor;
    smoothed = smoothed + (target - smoothed) / d;
    return smoothed;
}

void Parameter::_releaseModulators() {
    if (modulators.empty())
        return;
    std::vector<std::shared_ptr<Modulator>> released;
    released.reserve(kMaxModulators);
    {
        ModulatorListEdit edit(*this);
        released.swap(modulators);
        modulators.reserve(kMaxModulators);
    }
    // The references go here, on this side, after the audio block has passed.
}

void Parameter::_updateModulators() {
    const uint32_t next = blockCount + 1u;
    blockCount = next != 0u ? next : 1u;  // 0 marks a modulator that never ran
    if (!busy.load(std::memory_order_seq_cst))
        for (const auto& m : modulators)
            m->parameterGroup.updateBlock();
}

void Parameter::_morphModulators(float x, float y) {
    if (!busy.load(std::memory_order_seq_cst))
        for (const auto& m : modulators)
            m->parameterGroup.morphXY(x, y);
}

void Parameter::_storeModulatorSnapshots(unsigned index) {
    if (!busy.load(std::memory_order_seq_cst))
        for (const auto& m : modulators)
            m->parameterGroup.storeSnapshot(index);
}

void Parameter::_resetModulatorSnapshots() {
    if (!busy.load(std::memory_order_seq_cst))
        for (const auto& m : modulators)
            m->parameterGroup.resetSnapshots();
}

bool Parameter::_readOverride(json& j) {
    if (!xyMorph)
        return true;
    return j.value("override", true);
}

void Parameter::_writeModulators(json& j) const {
    if (modulators.empty())
        return;
    json list = json::array();
    for (const auto& m : modulators) {
        json entry = json::object();
        m->toJson(entry);
        list.push_back(std::move(entry));
    }
    j["modulator"] = std::move(list);
}

void Parameter::_restoreModulators(json& j, ModulationManager* manager, FileVersion version) {
    _releaseModulators();
    if (!manager || !j.is_object())
        return;
    auto it = j.find("modulator");
    if (it == j.end() || !it->is_array())
        return;
    for (json& entry : *it) {
        std::string type = entry["modulator type"].get<std::string>();
        // Refused (no channels, list full) like the menu refuses it.
        std::shared_ptr<Modulator> m = manager->addModulatorTo(type, *this);
        if (!m)
            continue;
        json copy = entry;
        m->fromJson(copy, manager, version);
    }
}

void Parameter::_readFloatSlots(json& value, std::vector<Relaxed<float>>& values, bool clamp, float lo, float hi) {
    auto store = [&](size_t slot, const json& number) {
        float v;
        if (_finiteFloat(_jsonNumber(number), v))
            values[slot] = clamp ? std::clamp(v, std::min(lo, hi), std::max(lo, hi)) : v;
    };
    if (value.is_array()) {
        const size_t n = std::min(value.size(), values.size());
        for (size_t i = 0; i < n; ++i)
            store(i, value[i]);
    } else {
        _jsonNumber(value);  // a type error before any slot changes
        for (size_t i = 0; i < values.size(); ++i)
            store(i, value);
    }
}

bool Parameter::_parseFloat(const std::string& text, float& out) {
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    const float v = std::strtof(start, &end);
    if (end == start || errno == ERANGE || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

std::string Parameter::_editorTitle() const { return kEditorTitle + name; }

bool Parameter::_readOscNumber(const oscpkt::Message& message, OscNumber& out) {
    if (!message.isOk() || message.typeTags().empty())
        return false;
    const std::vector<uint8_t>& data = message.argumentData();
    auto bigEndian = [&](size_t bytes) -> uint64_t {
        if (data.size() < bytes)
            return 0;  // a tag without its data reads 0
        uint64_t v = 0;
        for (size_t i = 0; i < bytes; ++i)
            v = (v << 8) | data[i];
        return v;
    };
    out = OscNumber{};
    out.tag = message.typeTags()[0];
    switch (out.tag) {
    case 'i':
        out.integer = int32_t(uint32_t(bigEndian(4)));
        out.real = double(out.integer);
        return true;
    case 'h':
        out.integer = int64_t(bigEndian(8));
        out.real = double(out.integer);
        return true;
    case 'f': {
        uint32_t bits = uint32_t(bigEndian(4));
        float f;
        std::memcpy(&f, &bits, 4);
        out.real = f;
        return true;
    }
    case 'd': {
        uint64_t bits = bigEndian(8);
        double d;
        std::memcpy(&d, &bits, 8);
        out.real = d;
        return true;
    }
    default:
        return false;
    }
}

bool Parameter::_finiteFloat(double d, float& out) {
    if (!std::isfinite(d) || std::fabs(d) > double(FLT_MAX))
        return false;
    out = float(d);
    return true;
}

double Parameter::_jsonNumber(const json& j) {
    if (j.is_boolean())
        return j.get<bool>() ? 1.0 : 0.0;
    return j.get<double>();
}

Parameter::json Parameter::_valueOf(json& j) {
    if (j.is_object()) {
        auto it = j.find("value");
        return it != j.end() ? *it : json();
    }
    return j.is_null() ? json() : j["value"];
}
