// Each track's list of the modulators created for its parameters; the only
// creator of modulators, by type name.
#pragma once

#include "parameters/Modulator.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class MonoGFX;
class Parameter;

class ModulationManager {
public:
    virtual ~ModulationManager() = default;

    // Creates, lists and returns a modulator of the named kind; empty when
    // the name is no kind's.
    std::shared_ptr<Modulator> addModulator(const std::string& typeName, uint32_t channelCount,
                                                    const std::string& targetName,
                                                    const std::string& targetGroupName);
    // Drops that modulator from the list.
    void removeModulator(std::shared_ptr<Modulator>& modulator);
    // Drops every modulator that only the list still holds.
    void removeUnused();
    void removeAll();
    // "" when the index is out of range.
    std::string typeNameAt(uint32_t index) const;
    ParameterGroup* parameterGroupAt(uint32_t index) const;
    // The control of modulator `index` on encoder 29..31; null otherwise.
    Parameter* encoderParameter(uint32_t index, uint32_t encoder) const;
    bool changeParameter(uint32_t index, uint32_t slot, int ticks, bool fine);
    void buttonPressed(uint32_t index, int button);
    void drawModulator(MonoGFX* gfx, uint32_t x, uint32_t y, uint32_t index, uint32_t selectedEncoder);

    std::vector<std::shared_ptr<Modulator>> modulators;

protected:
    // The kind's object for types 1..4; empty while no kind is known.
    virtual std::shared_ptr<Modulator> _create(ModulatorType type, uint32_t channelCount,
                                               const std::string& targetName,
                                               const std::string& targetGroupName);
};
