// The base of every control value: value slots (in the kinds), encoder
// stepping, text, normalised and OSC input, per-block smoothing, XY-morph
// snapshots, the attached modulators and the JSON form.
#pragma once

#include "instrument/FileVersion.h"
#include "parameters/Relaxed.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace oscpkt {
class Message;
}
class Modulator;
class ModulationManager;
class ParameterGroup;

enum ParameterFlags : uint32_t {
    NoFlags = 0,
    XYMorph = 1,
    Stored = 2,
    Smoothed = 4,
    MultiSlot = 8,
    Locked = 16,
    Wrap = 32,
    PerChannel = 128,
};
constexpr ParameterFlags operator|(ParameterFlags a, ParameterFlags b) {
    return static_cast<ParameterFlags>(static_cast<uint32_t>(a) | static_cast<uint32_t>(b));
}
constexpr ParameterFlags operator&(ParameterFlags a, ParameterFlags b) {
    return static_cast<ParameterFlags>(static_cast<uint32_t>(a) & static_cast<uint32_t>(b));
}

class Parameter {
public:
    using json = nlohmann::json;

    static constexpr size_t kMaxModulators = 8;
    static constexpr unsigned kMultiSlots = 25;
    static constexpr unsigned kMorphSlots = 5;
    static constexpr uint32_t kVoiceChannels = 8;

    Parameter();
    virtual ~Parameter();
    Parameter(const Parameter&) = delete;
    Parameter& operator=(const Parameter&) = delete;

    virtual bool changeBy(int ticks, bool alternate, bool force) = 0;
    virtual void constrain() = 0;
    virtual void resetToDefault() = 0;
    virtual void setNormalised(float x) = 0;
    virtual bool setFromString(const std::string& text, int slot = -1);
    virtual bool setFromOSC(const oscpkt::Message& message);
    virtual void morphXY(float x, float y) = 0;
    virtual void storeSnapshot(unsigned index) = 0;
    virtual void resetSnapshots() = 0;
    virtual void selectSlot(unsigned index);
    virtual void copySlot(unsigned from, unsigned to) = 0;
    virtual json toJson() const = 0;
    virtual void fromJson(json& j, ModulationManager* manager, FileVersion version) = 0;
    virtual std::string toString(bool alternate = false) const = 0;
    virtual float getNormalised() const = 0;
    virtual void updateBlock() = 0;
    virtual void openEditor() = 0;

    // Audio thread, per voice channel and block. A voice reads some twenty
    // of these per block, most without modulators: that case stays inline.
    float getModulated(uint32_t channel, bool trigA, bool trigB, float extra = 0.0f) {
        const bool listFree = !busy.load(std::memory_order_seq_cst);
        if (listFree && !modulators.empty())
            return _modulated(channel, trigA, trigB, extra, listFree);
        if (modulationMode == 0)
            return _clampModulated(output + extra * modulationDepth);
        if (modulationMode == 1 && extra != 0.0f)  // also NaN
            return _modulated(channel, trigA, trigB, extra, false);
        return _clampModulated(output);
    }

    // Attaching and detaching go through the busy hand-over, so the audio
    // thread never walks a list that is being changed. At most
    // kMaxModulators are attached; the list never reallocates. False when
    // refused.
    bool addModulator(std::shared_ptr<Modulator> modulator);
    std::shared_ptr<Modulator> removeModulator(unsigned index);
    std::string modulatorName(unsigned index) const;
    size_t modulatorCount() const { return modulators.size(); }

    void clearOverride();
    bool setMidiMapped();
    bool clearMidiMapped();

    // Number of value slots (1, 5 with XYMorph, 25 with MultiSlot).
    virtual unsigned slotCount() const = 0;

    uint32_t modulationMode = 0;
    std::atomic<bool> busy{false};
    std::vector<std::shared_ptr<Modulator>> modulators;
    // The thread inside a list edit, so that an edit may nest in its own
    // thread while another thread's edit waits for it.
    std::atomic<std::thread::id> listEditor{};
    uint32_t channelCount = 0;
    float modulationDepth = 1.0f;
    // Bounds and values below are read by the audio thread while other
    // threads set them.
    Relaxed<float> modulationMax{0.0f};
    Relaxed<float> modulationMin{0.0f};
    Relaxed<int32_t> modulationMaxInt{0};
    Relaxed<int32_t> modulationMinInt{0};
    int32_t tickAccumulator = 0;
    int32_t lastTicks = 0;
    int32_t ticksPerStep = 5;
    std::string name;
    std::string groupName;
    ParameterGroup* group = nullptr;
    std::string ownerName = "/ ? /";
    std::atomic<bool> midiMapped{false};
    bool locked = false;
    bool xyMorph = false;
    std::atomic<bool> overridden{true};
    bool wrap = false;
    bool smoothing = false;
    float riseDivisor = 25.0f;
    float fallDivisor = 25.0f;
    float smoothed = 0.0f;
    Relaxed<float> output{0.0f};
    bool stored = false;
    bool multiSlot = false;
    Relaxed<uint32_t> activeSlot{0u};
    // Counts this parameter's blocks (updateBlock); the attached modulators
    // step once per count, however often the parameter is read in it.
    Relaxed<uint32_t> blockCount{1u};

protected:
    float _modulated(uint32_t channel, bool trigA, bool trigB, float extra, bool listFree);
    float _clampModulated(float v) const {
        const float lo = modulationMin, hi = modulationMax;
        if (lo >= v)
            v = lo;
        // NaN fails both comparisons and ends at the maximum.
        return v <= hi ? v : hi;
    }

    // Sets busy and waits out the audio block in progress; clears busy when
    // it goes, whatever happens in between. An edit from another thread
    // waits for the one under way; one nested in the same thread goes on.
    class ModulatorListEdit {
    public:
        explicit ModulatorListEdit(Parameter& p);
        ~ModulatorListEdit();
        ModulatorListEdit(const ModulatorListEdit&) = delete;
        ModulatorListEdit& operator=(const ModulatorListEdit&) = delete;

    private:
        Parameter& p_;
        bool nested_ = false;
    };

    // Option fields from the flags (every kind but the text kind).
    void _applyFlags(ParameterFlags flags);
    // The shared encoder rule: true when a step is due.
    bool _countTicks(int ticks, bool force);
    float _smooth(float target);
    // Releases every attached modulator under the hand-over.
    void _releaseModulators();
    // A new block: counts it, then the recursion into the groups of the
    // attached modulators.
    void _updateModulators();
    void _morphModulators(float x, float y);
    void _storeModulatorSnapshots(unsigned index);
    void _resetModulatorSnapshots();
    // JSON parts shared by the kinds.
    bool _readOverride(json& j);
    // The "value" of a parameter's JSON: null when an object has none; a
    // document that is neither object nor null raises the library's type error.
    static json _valueOf(json& j);
    void _writeModulators(json& j) const;
    void _restoreModulators(json& j, ModulationManager* manager, FileVersion version);
    bool _validSlot(int slot) const { return slot >= 0 && unsigned(slot) < slotCount(); }

    // Slot work shared by the numeric kinds.
    template <typename T>
    void _storeSnapshotIn(std::vector<Relaxed<T>>& values, unsigned index) {
        if (values.size() >= kMorphSlots)
            values[(index & 3) + 1] = values[0];
        overridden = false;
        _storeModulatorSnapshots(index);
    }
    template <typename T>
    void _resetSnapshotsIn(std::vector<Relaxed<T>>& values) {
        if (overridden && values.size() >= kMorphSlots) {
            for (unsigned i = 1; i < kMorphSlots; ++i)
                values[i] = values[0];
            overridden = false;
        }
        _resetModulatorSnapshots();
    }
    template <typename T>
    void _copySlotIn(std::vector<Relaxed<T>>& values, unsigned from, unsigned to) {
        if (multiSlot && from < values.size() && to < values.size())
            values[to] = values[from];
    }
    template <typename T>
    void _resetSlotsTo(std::vector<Relaxed<T>>& values, T value) {
        for (auto& v : values)
            v = value;
        overridden = false;
        _releaseModulators();
    }
    // The XY mix of the four snapshots (slots 1-4), unclamped.
    template <typename T>
    static float _bilinear(const std::vector<Relaxed<T>>& v, float x, float y) {
        const float bottom = float(T(v[1])) * (1.0f - x) + float(T(v[2])) * x;
        const float top = float(T(v[3])) * (1.0f - x) + float(T(v[4])) * x;
        return top * y + bottom * (1.0f - y);
    }
    // The value object: "value" (one entry or an array), "override" with
    // XYMorph, "modulator" when any are attached.
    template <typename T, typename Entry>
    json _slotsJson(const std::vector<Relaxed<T>>& values, Entry entry) const {
        json j = json::object();
        if (values.size() == 1) {
            j["value"] = entry(T(values[0]));
        } else {
            json list = json::array();
            for (const auto& v : values)
                list.push_back(entry(T(v)));
            j["value"] = std::move(list);
        }
        if (xyMorph)
            j["override"] = bool(overridden);
        _writeModulators(j);
        return j;
    }
    // "value" into float slots: a number (or boolean) for every slot, or an
    // array for the first ones. Numbers that do not fit a float keep their
    // slot; with clamp, the others are limited to lo..hi.
    void _readFloatSlots(json& value, std::vector<Relaxed<float>>& values, bool clamp, float lo, float hi);
    // Standard text-to-float reading without exceptions: false for no
    // number, an overflow or a non-finite value.
    static bool _parseFloat(const std::string& text, float& out);
    // First argument of an OSC message by its type tag ('i', 'h', 'f', 'd',
    // big-endian); a tag without data reads 0. False for any other tag, an
    // empty tag list or a message in its error state.
    struct OscNumber {
        char tag = 0;
        int64_t integer = 0;
        double real = 0.0;
    };
    static bool _readOscNumber(const oscpkt::Message& message, OscNumber& out);
    // False for NaN, infinities and numbers beyond the float range.
    static bool _finiteFloat(double d, float& out);
    // A JSON number or boolean (false 0, true 1); the library's type error
    // for anything else.
    static double _jsonNumber(const json& j);
    // Title of the value editors.
    std::string _editorTitle() const;
};
