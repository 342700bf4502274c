// Each track's list of the modulators created for its parameters; the only
// creator of modulators, by type name, and the server of the modulator page.
//
// The list is published as an immutable snapshot: edits (menu flows and file
// loads, off the audio thread) build a new list and swap it in, and the old
// one is dropped on the editing side after the audio block in progress. The
// audio thread reads the list through a plain pointer and never holds a
// reference, so no modulator is destroyed there; other readers (the OSC
// receiver) take a shared copy.
#pragma once

#include "parameters/Modulator.h"
#include "parameters/Snapshot.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class MonoGFX;
class Parameter;

class ModulationManager {
public:
    using List = std::vector<std::shared_ptr<Modulator>>;
    // The page's first encoder and the buttons of control slots 3, 4, 5.
    static constexpr uint32_t kFirstEncoder = 29;
    static constexpr uint32_t kSlotButtons[3] = {5, 10, 15};
    // Modulators on each other's controls: a chain at most this long. Each
    // link nests the saved file three levels deeper, and every file the
    // instrument saves must stay within the reader's depth limit.
    static constexpr uint32_t kMaxNesting = 80;

    ModulationManager() = default;
    virtual ~ModulationManager() = default;
    ModulationManager(const ModulationManager&) = delete;
    ModulationManager& operator=(const ModulationManager&) = delete;

    // Creates, lists and returns a modulator of the named kind; empty when
    // the name is no kind's or there are no channels to modulate.
    std::shared_ptr<Modulator> addModulator(const std::string& typeName, uint32_t channelCount,
                                            const std::string& targetName, const std::string& targetGroupName);
    // The menu's and the file reader's way: creates a modulator for the
    // target and attaches it. Refused, with a notice and nothing listed, when
    // the target takes no modulators, holds its maximum already or ends a
    // chain of kMaxNesting modulators.
    std::shared_ptr<Modulator> addModulatorTo(const std::string& typeName, Parameter& target);
    // Also drops the modulators attached to the modulator's own parameters,
    // and theirs.
    void removeModulator(std::shared_ptr<Modulator>& modulator);
    // Drops every modulator that only this list still holds.
    void removeUnused();
    void removeAll();

    // Any thread but the audio thread: the current list.
    std::shared_ptr<const List> list() const { return modulators.get(); }
    size_t size() const;

    // Page operations by position in the list; out of range: "", null, false
    // or nothing.
    std::string typeNameAt(size_t index) const;
    // The group stays valid while the returned pointer is held (OSC router).
    std::shared_ptr<ParameterGroup> parameterGroupAt(size_t index) const;
    Parameter* encoderParameter(size_t index, uint32_t encoder) const;
    bool changeParameter(size_t index, uint32_t slot, int ticks, bool fine);
    void buttonPressed(size_t index, uint32_t button);
    void drawModulator(MonoGFX* g, uint32_t x, uint32_t y, size_t index, uint32_t selectedEncoder);

    Snapshot<List> modulators;

protected:
    // The kind's object and its count in one allocation, for types 1..4.
    virtual std::shared_ptr<Modulator> _create(ModulatorType type, uint32_t channelCount,
                                               const std::string& targetName, const std::string& targetGroupName);

private:
    // Calls f with the modulator at index (null when out of range), through
    // the audio thread's pointer or a held copy.
    template <typename F>
    auto _withModulator(size_t index, F&& f) const {
        if (Bela_isAudioThread()) {
            const List* l = modulators.rt();
            return f(index < l->size() ? (*l)[index].get() : nullptr);
        }
        std::shared_ptr<const List> l = modulators.get();
        return f(index < l->size() ? (*l)[index].get() : nullptr);
    }
    std::shared_ptr<Modulator> _list(std::shared_ptr<Modulator> m);
    // The nesting a modulator on the target would have.
    uint32_t _nestingOn(const Parameter& target) const;
    void _refuse(const std::string& typeName, const Parameter& target, const char* why);

    // Edits of the list wait for each other, so none is lost.
    std::recursive_mutex edits_;
};
