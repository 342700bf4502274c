#include "parameters/ParameterGroup.h"

#include "connectivity/MidiMessage.h"
#include "platform/RtPrintf.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {
constexpr float kMidiValueScale = 0.007874016f;  // 1/127
constexpr const char* kMidiInputKey = "MIDI input";

// Integers, booleans and floating-point numbers (fraction dropped, limited
// to the 32-bit range); the library's type error for anything else.
int32_t jsonInt(const nlohmann::json& j) {
    if (j.is_boolean())
        return j.get<bool>() ? 1 : 0;
    if (j.is_number_float()) {
        const double d = j.get<double>();
        if (std::isnan(d))
            return 0;
        return d >= 2147483647.0 ? INT32_MAX : d <= -2147483648.0 ? INT32_MIN : int32_t(d);
    }
    if (j.is_number_unsigned())
        return int32_t(std::min<uint64_t>(j.get<uint64_t>(), INT32_MAX));
    if (j.is_number_integer())
        return int32_t(std::clamp<int64_t>(j.get<int64_t>(), INT32_MIN, INT32_MAX));
    return j.get<int32_t>();
}
}  // namespace

std::string midiMappingToString(const MidiMappingKey& key) {
    if (key.channel == -1)
        return "...";
    const std::string channel = " (ch " + std::to_string(key.channel + 1) + ")";
    if (key.cc >= 0)
        return "CC " + std::to_string(key.cc) + channel;
    if (key.cc == -1 && key.note >= 0)
        return "note " + std::to_string(key.note) + channel;
    return "...";
}

void ParameterGroup::add(Parameter* p) {
    if (!p)
        return;
    p->groupName = name;
    p->group = this;
    parameters.push_back(p);
    parametersByName.emplace(p->name, p);  // the first under a name stays
    if (p->xyMorph)
        morphParameters.push_back(p);
    if (p->stored)
        storedParameters.push_back(p);
    if (p->multiSlot)
        slotParameters.push_back(p);
    if (p->smoothing || p->channelCount != 0)
        blockParameters.push_back(p);
}

void ParameterGroup::setName(const std::string& newName) {
    name = newName;
    for (Parameter* p : parameters) {
        p->groupName = name;
        p->group = this;
    }
}

void ParameterGroup::setOwnerName(const std::string& newOwnerName) {
    ownerName = newOwnerName;
    for (Parameter* p : parameters)
        p->ownerName = ownerName;
}

void ParameterGroup::clear() {
    parameters.clear();
    parametersByName.clear();
    morphParameters.clear();
    storedParameters.clear();
    slotParameters.clear();
    blockParameters.clear();
}

Parameter* ParameterGroup::find(const std::string& parameterName) const {
    auto it = parametersByName.find(parameterName);
    return it == parametersByName.end() ? nullptr : it->second;
}

void ParameterGroup::resetToDefaults() {
    for (Parameter* p : parameters)
        p->resetToDefault();
}

void ParameterGroup::morphXY(float x, float y) {
    for (Parameter* p : morphParameters)
        p->morphXY(x, y);
}

void ParameterGroup::storeSnapshot(unsigned index) {
    for (Parameter* p : morphParameters)
        p->storeSnapshot(index);
}

void ParameterGroup::clearOverrides() {
    for (Parameter* p : morphParameters)
        p->clearOverride();
}

void ParameterGroup::resetSnapshots() {
    for (Parameter* p : morphParameters)
        p->resetSnapshots();
}

void ParameterGroup::selectSlot(unsigned index) {
    for (Parameter* p : slotParameters)
        p->selectSlot(index);
}

void ParameterGroup::copySlot(unsigned from, unsigned to) {
    for (Parameter* p : slotParameters)
        p->copySlot(from, to);
}

void ParameterGroup::updateBlock() {
    for (Parameter* p : blockParameters)
        p->updateBlock();
}

bool ParameterGroup::applyMidi(MidiMessage message) {
    // The map is never changed in place: this block's copy stays valid and
    // setNormalised cannot disturb the walk.
    const MidiMap* map = midiMap.rt();
    if (map->empty() || message.type == 0)
        return false;
    MidiMappingKey key;
    key.channel = int32_t(message.channel);
    if (message.is(MIDIMsgType::NoteOff) || message.is(MIDIMsgType::NoteOn))
        key.note = int32_t(message.data1);
    else if (message.is(MIDIMsgType::ControlChange))
        key.cc = int32_t(message.data1);
    else
        return false;
    auto it = map->find(key);
    if (it == map->end())
        return false;
    const float x = float(int32_t(message.data2)) * kMidiValueScale;
    for (Parameter* p : it->second)
        p->setNormalised(x);
    return true;
}

bool ParameterGroup::addMidiMapping(const MidiMappingKey& key, const std::string& parameterName) {
    Parameter* p = find(parameterName);
    if (!p || !p->setMidiMapped()) {
        rt_printf("[ParameterGroup] Couldn't create MIDI mapping from [%s] to [%s] because given parameter is not in "
                  "group??\n",
                  midiMappingToString(key).c_str(), parameterName.c_str());
        return false;
    }
    size_t mapped = 0, keys = 0;
    midiMap.update([&](MidiMap& map) {
        auto& list = map[key];
        list.push_back(p);
        mapped = list.size();
        keys = map.size();
    });
    rt_printf("[ParameterGroup] MIDI %s is now mapped to %u parameters (map size = %u)\n",
              midiMappingToString(key).c_str(), unsigned(mapped), unsigned(keys));
    return true;
}

bool ParameterGroup::removeMidiMapping(const std::string& parameterName) {
    Parameter* p = find(parameterName);
    if (!p || !p->clearMidiMapped())
        return false;
    bool removed = false;
    size_t left = 0, keys = 0;
    midiMap.update([&](MidiMap& map) {
        for (auto it = map.begin(); it != map.end(); ++it) {
            auto& list = it->second;
            auto at = std::find(list.begin(), list.end(), p);
            if (at == list.end())
                continue;
            list.erase(at);
            left = list.size();
            if (list.empty())
                map.erase(it);
            removed = true;
            break;
        }
        keys = map.size();
    });
    if (!removed)
        return false;
    rt_printf("[ParameterGroup] Removed MIDI mapping from parameter [%s] (message still mapped to %u parameters, map "
              "size = %u)\n",
              p->name.c_str(), unsigned(left), unsigned(keys));
    return true;
}

void ParameterGroup::clearMidiMappings() {
    if (!midiMap.get()->empty())
        midiMap.publish(std::make_shared<const MidiMap>());
    for (Parameter* p : parameters)
        p->clearMidiMapped();
}

void ParameterGroup::toJson(json& j) const {
    if (storedParameters.empty() && midiMap.get()->empty())
        return;
    if (j.is_null())
        j = json::object();
    for (Parameter* p : storedParameters)
        j[p->name] = p->toJson();
    auto map = midiMap.get();
    for (const auto& [key, list] : *map) {
        for (Parameter* p : list) {
            json input = json::object();
            input["channel"] = key.channel + 1;
            if (key.cc == -1)
                input["note"] = key.note;
            else
                input["CC"] = key.cc;
            j[p->name][kMidiInputKey] = std::move(input);
        }
    }
}

void ParameterGroup::fromJson(json& j, ModulationManager* manager, FileVersion version) {
    clearMidiMappings();
    for (Parameter* p : storedParameters) {
        if (j.is_object() && j.contains(p->name)) {
            json entry = j[p->name];
            p->fromJson(entry, manager, version);
            json& saved = j[p->name];
            if (saved.is_object() && saved.contains(kMidiInputKey)) {
                json& input = saved[kMidiInputKey];
                MidiMappingKey key;
                key.channel = int32_t(std::max<int64_t>(int64_t(jsonInt(input["channel"])) - 1, INT32_MIN));
                if (input.contains("CC"))
                    key.cc = jsonInt(input["CC"]);
                else
                    key.note = jsonInt(input["note"]);
                if (!addMidiMapping(key, p->name))
                    rt_printf("[ParameterGroup] couldn't restore MIDI input mapping from file: %s -> %s\n",
                              midiMappingToString(key).c_str(), p->name.c_str());
            }
        } else {
            rt_printf("Parameter [%s] not found in file\n", p->name.c_str());
            p->resetToDefault();
        }
    }
}
