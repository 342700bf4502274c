// One cell of the page's 4 x 4 parameter grid: name, value text, a bar of
// the normalised value and two marker icons.
#pragma once

#include <cstdint>
#include <string_view>

class MonoGFX;

namespace GUI {
// Cells 0..11 lie on the screen (rows at y 0, 22, 44); 12..15 are clipped.
void drawParameterCell(MonoGFX& g, uint32_t index, std::string_view name, std::string_view value, bool markerA,
                       bool markerB, bool selected, bool highlighted, float normalised);
}  // namespace GUI
