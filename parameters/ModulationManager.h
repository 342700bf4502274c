// Each track's list of the modulators created for its parameters; the only
// creator of modulators, by type name.
#pragma once

#include "parameters/Modulator.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class ModulationManager {
public:
    virtual ~ModulationManager() = default;

    // Creates, lists and returns a modulator of the named kind; empty when
    // the name is no kind's.
    std::shared_ptr<Modulator> addModulator(const std::string& typeName, uint32_t channelCount,
                                                    const std::string& targetName,
                                                    const std::string& targetGroupName);

    std::vector<std::shared_ptr<Modulator>> modulators;

protected:
    // The kind's object for types 1..4; empty while no kind is known.
    virtual std::shared_ptr<Modulator> _create(ModulatorType type, uint32_t channelCount,
                                               const std::string& targetName,
                                               const std::string& targetGroupName);
};
