#include "gui/ParameterCell.h"

#include "gui/MonoGFX.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr int kLeft = 67;
constexpr int kColumnStep = 47;
constexpr int kRowStep = 22;
constexpr uint32_t kIconMarkerA = 39;
constexpr uint32_t kIconMarkerB = 40;
}  // namespace

void GUI::drawParameterCell(MonoGFX& g, uint32_t index, std::string_view name, std::string_view value, bool markerA,
                            bool markerB, bool selected, bool highlighted, float normalised) {
    const int x = kColumnStep * int(index & 3) + kLeft;
    const int y = kRowStep * int((index >> 2) & 3);
    if (highlighted) {
        g.setColour(2);
        g.fillRect(x, y, x + 45, y + 20);
    }
    const uint32_t text = selected ? 15 : highlighted ? 10 : 8;
    g.setColour(text);
    g.setFont(&font_compact, 1, 0);
    g.drawText(x + 1, y, name);
    if (markerA || markerB) {
        g.setColour(15);
        g.drawText(x + 7, y + 11, value);
        g.setColour(8);
        if (markerA)
            g.drawIcon(x + 1, y + 11, kIconMarkerA);
        if (markerB)
            g.drawIcon(x + 1, y + 11, kIconMarkerB);
    } else {
        g.setFont(&font_default, 1, 0);
        g.setColour(15);
        g.drawText(x + 3, y + 11, value);
    }
    g.setColour(highlighted ? 0 : 2);
    g.drawLine(x + 1, y + 9, x + 44, y + 9);
    // A value outside 0..1 (or NaN) keeps the bar inside its cell.
    const float v = std::isfinite(normalised) ? std::clamp(normalised, 0.0f, 1.0f) : 0.0f;
    g.setColour(12);
    g.drawLine(x + 1, y + 9, int(float(x + 1) + v * 43.0f), y + 9);
}
