#include "instrument/Settings.h"

#include <utility>

SettingsGroup::SettingsGroup(const std::string& groupName, std::vector<Parameter*> list)
    : parameters(std::move(list)), name(groupName) {}
