#include "parameters/ModulationManager.h"

#include "platform/RtPrintf.h"

std::shared_ptr<Modulator> ModulationManager::addModulator(const std::string& typeName, uint32_t channelCount,
                                                           const std::string& targetName,
                                                           const std::string& targetGroupName) {
    rt_printf("[ModulationManager] adding [%s] with %d channels to [%s: %s]. Track had %d modulators before this\n",
              typeName.c_str(), int(channelCount), targetGroupName.c_str(), targetName.c_str(),
              int(modulators.size()));
    ModulatorType type = modulatorTypeFromName(typeName);
    if (type == 0)
        return {};
    std::shared_ptr<Modulator> m = _create(type, channelCount, targetName, targetGroupName);
    if (!m)
        return {};
    modulators.push_back(m);
    return modulators.back();
}

std::shared_ptr<Modulator> ModulationManager::_create(ModulatorType, uint32_t, const std::string&,
                                                      const std::string&) {
    return {};
}

void ModulationManager::removeModulator(std::shared_ptr<Modulator>& modulator) {
    for (auto it = modulators.begin(); it != modulators.end(); ++it) {
        if (*it == modulator) {
            modulators.erase(it);
            return;
        }
    }
}

void ModulationManager::removeUnused() {
    for (size_t i = modulators.size(); i-- > 0;)
        if (modulators[i].use_count() <= 1)
            modulators.erase(modulators.begin() + std::ptrdiff_t(i));
}

void ModulationManager::removeAll() {
    while (!modulators.empty()) {
        std::shared_ptr<Modulator> m = modulators.back();
        removeModulator(m);
    }
}

std::string ModulationManager::typeNameAt(uint32_t index) const {
    return index < modulators.size() ? modulators[index]->typeName() : std::string();
}

ParameterGroup* ModulationManager::parameterGroupAt(uint32_t index) const {
    return index < modulators.size() ? &modulators[index]->parameterGroup : nullptr;
}

// The modulator kinds bring their page controls; until then no modulator
// has any.
Parameter* ModulationManager::encoderParameter(uint32_t, uint32_t) const { return nullptr; }

bool ModulationManager::changeParameter(uint32_t index, uint32_t slot, int ticks, bool fine) {
    Parameter* p = encoderParameter(index, 29 + slot);
    return p && p->changeBy(ticks, fine, false);
}

void ModulationManager::buttonPressed(uint32_t, int) {}

void ModulationManager::drawModulator(MonoGFX*, uint32_t, uint32_t, uint32_t, uint32_t) {}
