// The named set of one owner's parameters: found by name, driven from MIDI,
// morphed, snapshotted, slot-switched and updated together, saved and
// restored as one JSON object. The group holds plain pointers; the owner
// holds the parameters.
#pragma once

#include "instrument/FileVersion.h"
#include "parameters/Parameter.h"
#include "parameters/Snapshot.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

struct MidiMessage;

struct MidiMappingKey {
    int32_t channel = -1;  // 0-based
    int32_t cc = -1;       // -1 for a note key
    int32_t note = -1;     // -1 for a controller key

    bool operator<(const MidiMappingKey& o) const {
        return std::tie(channel, cc, note) < std::tie(o.channel, o.cc, o.note);
    }
    bool operator==(const MidiMappingKey& o) const {
        return channel == o.channel && cc == o.cc && note == o.note;
    }
};

// "CC 7 (ch 1)", "note 60 (ch 1)", or "..." while nothing was learnt.
std::string midiMappingToString(const MidiMappingKey& key);

class ParameterGroup {
public:
    using json = nlohmann::json;
    using MidiMap = std::map<MidiMappingKey, std::vector<Parameter*>>;

    ParameterGroup() = default;
    explicit ParameterGroup(const std::string& name) : name(name) {}
    ParameterGroup(const ParameterGroup&) = delete;
    ParameterGroup& operator=(const ParameterGroup&) = delete;

    void add(Parameter* p);
    void setName(const std::string& newName);
    void setOwnerName(const std::string& newOwnerName);
    void clear();
    Parameter* find(const std::string& parameterName) const;

    void resetToDefaults();
    void morphXY(float x, float y);
    void storeSnapshot(unsigned index);
    void clearOverrides();
    void resetSnapshots();
    void selectSlot(unsigned index);
    void copySlot(unsigned from, unsigned to);
    void updateBlock();

    // Audio thread; true when the message's key was mapped.
    bool applyMidi(MidiMessage message);
    bool addMidiMapping(const MidiMappingKey& key, const std::string& parameterName);
    bool removeMidiMapping(const std::string& parameterName);
    void clearMidiMappings();
    // The current map; replaced whole by every change.
    std::shared_ptr<const MidiMap> midiMappings() const { return midiMap.get(); }

    void toJson(json& j) const;
    void fromJson(json& j, ModulationManager* manager, FileVersion version);

    std::string name;
    std::string ownerName;
    std::vector<Parameter*> parameters;
    std::map<std::string, Parameter*> parametersByName;
    std::vector<Parameter*> morphParameters;
    std::vector<Parameter*> storedParameters;
    std::vector<Parameter*> slotParameters;
    std::vector<Parameter*> blockParameters;
    Snapshot<MidiMap> midiMap;
};
