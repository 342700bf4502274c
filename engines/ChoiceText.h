// The shown text of a choice parameter's active slot, read in place: what a
// voice on the audio thread names a sample list or a kind by. Nothing is
// built or copied; the view holds until the list is replaced, so use it
// within the block.
#pragma once

#include "parameters/ParameterInt.h"

#include <string_view>

inline std::string_view activeChoiceText(const ParameterInt& p) {
    const ChoiceList* choices = p.choiceList.rt();
    const int32_t index = p.values[p.activeSlot];
    if (!choices || index < 0 || size_t(index) >= choices->names.size()) return {};
    return choices->names[size_t(index)];
}
