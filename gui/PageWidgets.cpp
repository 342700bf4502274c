#include "gui/PageWidgets.h"

#include "drivers/KeyDebouncer.h"
#include "gui/MonoGFX.h"

#include <algorithm>
#include <string>

namespace GUI {

void drawParameterCell(MonoGFX& window, uint32_t cell, std::string_view name, std::string_view value,
                       bool modulated, bool midiMapped, bool selected, bool highlighted, float normalised) {
    const int x = kCellLeft + kCellWidth * int(cell & 3);
    const int y = kCellHeight * int(cell >> 2);
    if (highlighted) {
        window.setColour(2);
        window.fillRect(x, y, x + kCellWidth - 2, y + kCellHeight - 2);
    }
    window.setFont(&font_compact, 1, 0);
    window.setTextMode(0);
    window.setColour(selected ? 15 : (highlighted ? 10 : 8));
    window.drawText(x + 1, y + 1, name);
    window.drawText(x + 1, y + 10, value);
    // Value bar along the cell's foot.
    const float n = std::clamp(normalised == normalised ? normalised : 0.0f, 0.0f, 1.0f);
    window.setColour(4);
    window.drawLine(x + 1, y + kCellHeight - 3, x + 1 + int(n * float(kCellWidth - 4)), y + kCellHeight - 3);
    window.setColour(12);
    if (modulated)
        window.fillRect(x + kCellWidth - 5, y + 1, x + kCellWidth - 3, y + 3);
    if (midiMapped)
        window.drawRect(x + kCellWidth - 5, y + 6, x + kCellWidth - 3, y + 8);
}

void drawPageIndicator(MonoGFX& window, int x, int y, uint32_t firstCell, uint32_t count, int page) {
    // Two rows of sixteen dots, one per encoder; the page's encoders lit.
    for (uint32_t e = 0; e < 32; ++e) {
        const bool lit = e >= firstCell && e < firstCell + count;
        window.setColour(lit ? 15 : 3);
        window.setPixel(x + 2 * int(e & 15), y + 2 * int(e >> 4));
    }
    if (page >= 0) {
        window.setFont(&font_compact, 1, 0);
        window.setTextMode(0);
        window.setColour(8);
        window.drawText(x + 34, y - 2, std::to_string(page));
    }
}

void drawSlotOverlay(MonoGFX& window, int32_t slot) {
    const char* title = nullptr;
    if (Key::key[4].held())
        title = "pattern";
    else if (Key::key[9].held())
        title = "note list";
    else if (Key::key[19].held())
        title = "motion loop";
    if (!title)
        return;
    window.dim();
    window.setColour(0);
    window.fillRect(60, 8, 195, 55);
    window.setColour(15);
    window.drawRect(60, 8, 195, 55);
    window.setFont(&font_default, 1, 0);
    window.setTextMode(0);
    window.drawText(64, 10, title);
    if (slot >= 0)
        window.drawText(170, 10, std::to_string(slot + 1));
    // The 25 slots as a 5 x 5 grid, the current one bright.
    for (int32_t i = 0; i < 25; ++i) {
        const int cx = 64 + 12 * (i % 5), cy = 22 + 6 * (i / 5);
        window.setColour(i == slot ? 15 : 3);
        window.fillRect(cx, cy, cx + 9, cy + 3);
    }
}

}  // namespace GUI
