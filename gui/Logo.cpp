// The start-up logo: an orb with a notch beside the name, over a rule that
// runs through every grey level. Computed at compile time from the glyphs.
#include "gui/FontGlyphs.h"
#include "gui/MonoGFX.h"

#include <array>

namespace {

constexpr uint32_t kLogoWidth = 238;
constexpr uint32_t kLogoHeight = 40;

constexpr std::array<uint8_t, kLogoWidth * kLogoHeight> makeLogo() {
    std::array<uint8_t, kLogoWidth * kLogoHeight> px{};
    auto at = [&px](int x, int y) -> uint8_t& { return px[size_t(y) * kLogoWidth + size_t(x)]; };

    // Orb: brightest in the middle, fading out towards its rim (twice the
    // resolution so the centre falls between pixels).
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 40; ++x) {
            const int dx = 2 * x - 39, dy = 2 * y - 39;
            const int d2 = dx * dx + dy * dy;
            if (d2 > 39 * 39)
                continue;
            int level = 15 - d2 * 14 / (39 * 39);
            if (dx > 0 && dy > -10 && dy < 10)
                level = 0;  // the notch
            at(x, y) = uint8_t(level);
        }
    }

    // The name, four pixels per glyph pixel, shaded from the top down.
    constexpr char kName[] = "CORVANE";
    constexpr int kScale = 4, kLeft = 48;
    for (int k = 0; k < 7; ++k) {
        const uint8_t* glyph = kGlyphsDefault + (kName[k] - 32) * 5;
        for (int i = 0; i < 5; ++i)
            for (int j = 0; j < 8; ++j)
                if ((glyph[i] >> j) & 1)
                    for (int a = 0; a < kScale; ++a)
                        for (int b = 0; b < kScale; ++b) {
                            const int x = kLeft + k * 6 * kScale + i * kScale + a, y = j * kScale + b;
                            at(x, y) = uint8_t(15 - (y - 4) / 4);
                        }
    }

    // The rule under the name, from level 1 on the left to 15 on the right.
    for (int x = kLeft; x < kLeft + 168; ++x)
        for (int y = 36; y < 39; ++y)
            at(x, y) = uint8_t(1 + (x - kLeft) * 15 / 168);
    return px;
}

constexpr auto kLogoPixels = makeLogo();

}  // namespace

const GreyBitmap corvane_logo = {kLogoWidth, kLogoHeight, kLogoPixels.data()};
