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
