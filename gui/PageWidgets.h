// Shared pieces of the track pages: the 4 x 4 parameter grid's cells, the
// page indicator and the slot overlay shown while a slot key is held.
#pragma once

#include <cstdint>
#include <string_view>

class MonoGFX;

namespace GUI {

constexpr int kCellLeft = 67;
constexpr int kCellWidth = 47;
constexpr int kCellHeight = 22;

// Cell index 0..15: column index & 3, row index >> 2.
void drawParameterCell(MonoGFX& window, uint32_t cell, std::string_view name, std::string_view value,
                       bool modulated, bool midiMapped, bool selected, bool highlighted, float normalised);
// page -1 shows no page number.
void drawPageIndicator(MonoGFX& window, int x, int y, uint32_t firstCell, uint32_t count, int page);
// While a slot key (4, 9 or 19) is held: the screen dimmed and a box titled
// "pattern", "note list" or "motion loop" with the slot number.
void drawSlotOverlay(MonoGFX& window, int32_t slot = -1);

}  // namespace GUI
