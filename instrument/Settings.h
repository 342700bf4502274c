// A named list of parameters shown together on a settings page. The page,
// the instrument and every engine object hold these; the parameters belong
// to their owners, not to the group.
#pragma once

#include <string>
#include <vector>

class Parameter;

class SettingsGroup {
public:
    SettingsGroup() = default;
    SettingsGroup(const std::string& name, std::vector<Parameter*> parameters);

    void setName(const std::string& newName) { name = newName; }

    std::vector<Parameter*> parameters;
    std::string name;
};
