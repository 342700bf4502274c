// "note list": the note manager's lists.
#pragma once

#include <nlohmann/json.hpp>

void writeNoteListSection(nlohmann::json& document);
void readNoteListSection(nlohmann::json& document);
