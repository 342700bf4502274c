// What the file layer reads and writes of the instrument, as small
// interfaces: the instrument installs its objects once at set-up, tests
// install their own. Section readers and writers reach nothing else.
#pragma once

#include "instrument/FileVersion.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class AudioSampleGroup;
class EffectChain;
class ModulationManager;
class NoteManager;
class ParameterGroup;
class PitchScaleManager;
class SampleSource;

// One track, as its part files see it.
class TrackFiles {
public:
    virtual ~TrackFiles() = default;

    // Held from the first section read into the track to the last: the
    // audio thread skips the track meanwhile. Nests.
    virtual void beginLoad() {}
    virtual void endLoad() {}

    // Its "name" parameter's text.
    virtual std::string name() const = 0;
    virtual ParameterGroup& trackGroup() = 0;
    virtual ModulationManager* modulationManager() = 0;

    virtual ParameterGroup& sequencerGroup() = 0;
    virtual void resetSequencer() = 0;
    virtual void selectPattern(int32_t pattern, bool force) = 0;

    // The "synthesis" choice: its index (0 is "none") and text.
    virtual int32_t synthesisIndex() const = 0;
    virtual std::string synthesisName() const = 0;
    // Sets the choice from its text; false when no choice has that text.
    virtual bool setSynthesisName(const std::string& name) = 0;
    // Switches the engine to the chosen one.
    virtual void applySynthesis() = 0;
    // The current engine's group.
    virtual ParameterGroup& engineGroup() = 0;
    virtual void refreshEnvSlot() = 0;
    virtual void refreshSlotChoices() = 0;
    // Every engine's parameters to defaults, the choice to the track's default.
    virtual void resetSynthesis() = 0;
    // The current engine's type id.
    virtual uint32_t engineType() const = 0;

    virtual EffectChain& effectChain() = 0;
    // Empties the chain (dropping modulators nothing holds any more), then
    // adds the track's default effect when asked.
    virtual void resetEffects(bool withDefault) = 0;
    // The type id of that default effect ("stereo" unless the track says).
    virtual int32_t defaultEffectType() const { return kStereoEffect; }

    static constexpr int32_t kStereoEffect = 4;
};

// The motion recorder's 25 slots.
class MotionRecordings {
public:
    static constexpr int kSlots = 25;
    virtual ~MotionRecordings() = default;
    virtual bool isEmpty(int slot) const = 0;
    virtual nlohmann::json toJson(int slot) const = 0;
    // A null element leaves the slot empty.
    virtual void fromJson(int slot, const nlohmann::json& recording) = 0;
    // Any of slots 1..24 holds points (slot 0 does not count).
    virtual bool hasRecordings() const = 0;
    virtual void clear() = 0;
};

// The sample pool's lists.
class SampleGroupStore {
public:
    virtual ~SampleGroupStore() = default;
    virtual size_t groupCount() const = 0;
    // The list choices: "none" first, then the group names in list order.
    virtual std::vector<std::string> listNames() const = 0;
    // Null when missing and not created.
    virtual AudioSampleGroup* getGroup(const std::string& name, bool create) = 0;
    virtual SampleSource& samples() = 0;
    virtual void reset() = 0;
    virtual void updateListParameters() = 0;
    virtual void queueTreeRebuilds() = 0;
};

struct FileTargets {
    static constexpr int kTracks = 5;

    std::array<TrackFiles*, kTracks> tracks{};
    ParameterGroup* clock = nullptr;    // the main clock's group
    ParameterGroup* project = nullptr;  // the instrument's "project" group
    ParameterGroup* config = nullptr;   // the instrument's "config" group
    std::function<void()> runApplyCallbacks;
    EffectChain* outputChain = nullptr;  // the master output chain
    std::function<void()> resetOutputFX;
    SampleGroupStore* sampleGroups = nullptr;
    MotionRecordings* motion = nullptr;
    // The file browser's "track 1".."track 5" choices; every track when empty.
    std::function<bool(int track)> trackChoice;
    NoteManager* notes = nullptr;         // DSP::noteManager when null
    PitchScaleManager* scales = nullptr;  // DSP::scaleManager when null

    NoteManager& noteManager() const;
    PitchScaleManager& scaleManager() const;
    bool trackChosen(int track) const { return !trackChoice || trackChoice(track); }
};

// The objects the file layer works on: the instrument's own until something
// else is installed (tests).
FileTargets& fileTargets();
// The instrument's objects: the five tracks of DSP::track and the main clock.
FileTargets instrumentFileTargets();

// Holds a track for a load while in scope.
class TrackLoad {
public:
    explicit TrackLoad(TrackFiles& track) : track_(track) { track_.beginLoad(); }
    ~TrackLoad() { track_.endLoad(); }
    TrackLoad(const TrackLoad&) = delete;
    TrackLoad& operator=(const TrackLoad&) = delete;

private:
    TrackFiles& track_;
};

// The version every file this firmware writes carries.
const FileVersion& firmwareVersion();
