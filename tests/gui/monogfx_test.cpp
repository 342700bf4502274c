#include "gui/FontGlyphs.h"
#include "gui/MonoGFX.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <set>
#include <string>
#include <vector>

namespace {

class Surface : public ::testing::Test {
protected:
    void SetUp() override { gfx.init(256, 64); }

    int litCount() const {
        int n = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 256; ++x)
                n += gfx.pixel(x, y) != 0;
        return n;
    }
    // Lit pixels outside x0..x1 by y0..y1.
    int litOutside(int x0, int y0, int x1, int y1) const {
        int n = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 256; ++x)
                if ((x < x0 || x > x1 || y < y0 || y > y1) && gfx.pixel(x, y))
                    ++n;
        return n;
    }
    std::vector<uint8_t> bytes() const { return {gfx.framebuffer(), gfx.framebuffer() + gfx.framebufferSize()}; }

    MonoGFX gfx;
};

TEST_F(Surface, PixelsLandInTheDisplayByteOrderAndNeverOutsideTheImage) {
    ASSERT_EQ(gfx.framebufferSize(), 8192u);
    gfx.setColour(0xA);
    gfx.setPixel(0, 0);
    gfx.setColour(0x5);
    gfx.setPixel(1, 0);
    EXPECT_EQ(gfx.framebuffer()[0], 0xA5);
    gfx.setColour(15);
    gfx.setPixel(255, 63);
    EXPECT_EQ(gfx.framebuffer()[8191], 0x0F);
    gfx.setPixel(2, 1);
    EXPECT_EQ(gfx.framebuffer()[1 + 128], 0xF0);

    const auto before = bytes();
    for (auto [x, y] : std::vector<std::pair<int, int>>{{256, 0}, {0, 64}, {-1, 0}, {0, -1}, {INT_MAX, INT_MAX}, {INT_MIN, 5}})
        gfx.setPixel(x, y);
    EXPECT_EQ(bytes(), before);

    // Colours are four bits.
    gfx.setColour(16);
    EXPECT_EQ(gfx.colour(), 0u);
    gfx.setColour(31);
    EXPECT_EQ(gfx.colour(), 15u);
}

TEST_F(Surface, NothingIsDrawnBeforeInit) {
    MonoGFX fresh;
    fresh.setPixel(0, 0);
    fresh.fillRect(0, 0, 10, 10);
    fresh.drawText(0, 0, "x");
    EXPECT_EQ(fresh.framebufferSize(), 0u);
}

TEST_F(Surface, ClipWindowIsHonouredAndCutToTheImage) {
    gfx.setClip(10, 20, 30, 40);
    gfx.fillRect(0, 0, 255, 63);
    EXPECT_EQ(litCount(), 21 * 21);
    EXPECT_EQ(litOutside(10, 20, 30, 40), 0);

    // A clip reaching past the screen must not let writes past the buffer.
    gfx.clear();
    gfx.setClip(-50, -50, 1000, 100000);
    gfx.fillRect(INT_MIN, INT_MIN, INT_MAX, INT_MAX);
    EXPECT_EQ(litCount(), 256 * 64);

    gfx.clear();
    gfx.setClip(300, 0, 400, 63);  // wholly off the screen: nothing
    gfx.fillRect(0, 0, 255, 63);
    gfx.drawText(0, 10, "clipped");
    EXPECT_EQ(litCount(), 0);
}

TEST_F(Surface, FillRectTakesCornersInAnyOrderAndClipsNegativeCorners) {
    gfx.fillRect(5, 5, 2, 2);
    const auto reversed = bytes();
    gfx.clear();
    gfx.fillRect(2, 2, 5, 5);
    EXPECT_EQ(bytes(), reversed);
    EXPECT_EQ(litCount(), 16);
    EXPECT_TRUE(gfx.pixel(2, 2) && gfx.pixel(5, 5) && gfx.pixel(2, 5) && gfx.pixel(5, 2));

    gfx.clear();
    gfx.fillRect(-5, -5, 3, 3);  // the part on screen is 0..3
    EXPECT_EQ(litCount(), 16);
    EXPECT_EQ(litOutside(0, 0, 3, 3), 0);
}

TEST_F(Surface, LinesFollowBresenhamAndStopWhereTheyLeaveTheImage) {
    gfx.drawLine(10, 10, 10, 10);
    EXPECT_EQ(litCount(), 1);
    EXPECT_TRUE(gfx.pixel(10, 10));

    gfx.clear();
    gfx.setDotted(true);
    gfx.drawLine(0, 0, 9, 0);
    gfx.setDotted(false);
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(gfx.pixel(x, 0) != 0, x % 2 == 0) << x;

    gfx.clear();
    gfx.drawLine(300, 5, 0, 5);
    EXPECT_EQ(litCount(), 0);

    gfx.clear();
    gfx.drawLine(250, 5, 270, 5);
    EXPECT_EQ(litCount(), 6);
    EXPECT_EQ(litOutside(250, 5, 255, 5), 0);

    // End points of a diagonal, drawn both ways round.
    gfx.clear();
    gfx.drawLine(0, 0, 20, 10);
    EXPECT_TRUE(gfx.pixel(0, 0) && gfx.pixel(20, 10));
    EXPECT_EQ(litCount(), 21);
    const auto forward = litCount();
    gfx.clear();
    gfx.drawLine(20, 10, 0, 0);
    EXPECT_EQ(litCount(), forward);

    // A line towards a negative end draws up to the edge and stops; extreme
    // coordinates end at once instead of running for billions of steps.
    gfx.clear();
    gfx.drawLine(10, 10, -5, 10);
    EXPECT_EQ(litCount(), 11);
    gfx.drawLine(0, 0, INT_MAX, INT_MAX);
    gfx.drawLine(INT_MIN, INT_MIN, INT_MAX, INT_MAX);
    gfx.drawLine(5, 63, 5, INT_MIN);
    EXPECT_TRUE(gfx.pixel(5, 0));

    gfx.clear();
    gfx.drawRect(10, 10, 20, 15);
    EXPECT_EQ(litCount(), 2 * 11 + 2 * 4);
    EXPECT_TRUE(gfx.pixel(10, 10) && gfx.pixel(20, 15));
    EXPECT_FALSE(gfx.pixel(15, 12));
}

TEST_F(Surface, CirclesAreSymmetricAndBoundedWhateverTheRadius) {
    gfx.drawCircle(100, 30, 10);
    EXPECT_TRUE(gfx.pixel(110, 30) && gfx.pixel(90, 30) && gfx.pixel(100, 20) && gfx.pixel(100, 40));
    EXPECT_FALSE(gfx.pixel(100, 30));
    EXPECT_EQ(litOutside(90, 20, 110, 40), 0);

    gfx.clear();
    gfx.fillCircle(100, 30, 10);
    EXPECT_TRUE(gfx.pixel(100, 30) && gfx.pixel(110, 30) && gfx.pixel(90, 30));
    EXPECT_EQ(litOutside(90, 20, 110, 40), 0);

    // A filled circle crossing the right edge keeps its middle rows.
    gfx.clear();
    gfx.fillCircle(250, 30, 10);
    EXPECT_TRUE(gfx.pixel(255, 30) && gfx.pixel(240, 30) && gfx.pixel(250, 30));

    gfx.clear();
    gfx.drawCircle(-3, -3, 5);  // partly visible at the top-left corner
    EXPECT_TRUE(gfx.pixel(0, 1) && gfx.pixel(1, 0));
    EXPECT_EQ(litOutside(0, 0, 2, 2), 0);
    gfx.drawCircle(0, 0, INT_MAX);
    gfx.fillCircle(INT_MIN, INT_MAX, INT_MAX);
    gfx.drawCircle(10, 10, -1);
}

TEST_F(Surface, DimHalvesBothPixelsOfEveryByte) {
    gfx.setColour(15);
    gfx.fillRect(0, 0, 1, 0);
    gfx.dim();
    EXPECT_EQ(gfx.framebuffer()[0], 0x77);
    gfx.dim();
    EXPECT_EQ(gfx.framebuffer()[0], 0x33);
}

TEST_F(Surface, BlinkAlternateAndPulseFollowTheFrameCounter) {
    std::vector<uint32_t> seen;
    for (int frame = 0; frame < 16; ++frame) {
        gfx.setColourBlink(3, 12);
        seen.push_back(gfx.colour());
        gfx.nextFrame();
    }
    EXPECT_EQ(seen, (std::vector<uint32_t>{12, 12, 12, 12, 3, 3, 3, 3, 12, 12, 12, 12, 3, 3, 3, 3}));
    EXPECT_EQ(gfx.setColourBlink(3, 12), 2u);  // counter 16 / period 8

    gfx.setColourAlternate(1, 2);
    EXPECT_EQ(gfx.colour(), 1u);  // counter 16 is even
    gfx.nextFrame();
    gfx.setColourAlternate(1, 2);
    EXPECT_EQ(gfx.colour(), 2u);

    EXPECT_FLOAT_EQ(gfx.pulse(), 0.5f + 0.5f * std::sin(17.0f * 0.33333334f));
    // Pulsing stays within the two levels whichever is larger.
    for (int frame = 0; frame < 40; ++frame) {
        gfx.setColourPulse(8, 15);
        EXPECT_GE(gfx.colour(), 8u);
        gfx.setColourPulse(15, 8);
        EXPECT_GE(gfx.colour(), 8u);
        gfx.nextFrame();
    }
    EXPECT_EQ(gfx.nextFrame(), gfx.framebuffer());
}

TEST_F(Surface, GlyphsDrawTheirColumnBytes) {
    // "A" of the default font: c0 38 26 38 c0.
    EXPECT_EQ(gfx.drawChar(0, 0, 'A'), 6);
    const uint8_t columns[5] = {0xc0, 0x38, 0x26, 0x38, 0xc0};
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 8; ++j)
            EXPECT_EQ(gfx.pixel(i, j) != 0, ((columns[i] >> j) & 1) != 0) << i << "," << j;
    EXPECT_EQ(litOutside(0, 0, 4, 7), 0);

    // Scale 3: each glyph pixel a 3 x 3 block.
    gfx.clear();
    gfx.setFont(&font_default, 3, 0);
    EXPECT_EQ(gfx.drawChar(10, 10, 'A'), 18);
    EXPECT_TRUE(gfx.pixel(10, 10 + 6 * 3) && gfx.pixel(12, 10 + 7 * 3 + 2));
    EXPECT_FALSE(gfx.pixel(10, 10 + 5 * 3 + 2));

    // Style 2 keeps only the top row of each block, style 4 a checkerboard.
    gfx.clear();
    gfx.setFont(&font_default, 3, 2);
    gfx.drawChar(0, 0, 'A');
    EXPECT_TRUE(gfx.pixel(0, 18) && gfx.pixel(2, 18));
    EXPECT_FALSE(gfx.pixel(0, 19));
    gfx.clear();
    gfx.setFont(&font_default, 2, 4);
    gfx.drawChar(0, 0, 'A');
    EXPECT_TRUE(gfx.pixel(0, 12) && gfx.pixel(1, 13));
    EXPECT_FALSE(gfx.pixel(1, 12) || gfx.pixel(0, 13));
    gfx.clear();
    gfx.setFont(&font_default, 1, 1);
    gfx.drawChar(0, 0, 'A');
    EXPECT_EQ(litCount(), 0);

    // Vertical text turns the glyph a quarter anticlockwise: column i goes up.
    gfx.clear();
    gfx.setFont(&font_default, 1, 0);
    gfx.setTextMode(3);
    gfx.drawChar(20, 40, 'A');
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 8; ++j)
            EXPECT_EQ(gfx.pixel(20 + j, 40 - i) != 0, ((columns[i] >> j) & 1) != 0);
}

TEST_F(Surface, AdvancesAndWidthsOfBothFonts) {
    gfx.setFont(&font_default, 1, 0);
    EXPECT_EQ(gfx.textWidth(" "), 2);
    EXPECT_EQ(gfx.textWidth("0"), 6);
    EXPECT_EQ(gfx.textWidth(""), 0);
    gfx.setFont(&font_default, 2, 0);
    EXPECT_EQ(gfx.textWidth(" "), 4);
    gfx.setFont(&font_compact, 1, 0);
    EXPECT_EQ(gfx.textWidth("0"), 5);
    EXPECT_EQ(gfx.textWidth("i"), 2);
    // Codes wrap to seven bits, controls are spaces.
    EXPECT_EQ(gfx.drawChar(0, 0, 160), 2);
    EXPECT_EQ(gfx.drawChar(0, 0, 1), 2);
    EXPECT_EQ(gfx.drawChar(0, 0, 'A' + 128), gfx.textWidth("A"));

    // The two fonts differ where they should: "<" filled in one, open in the other.
    EXPECT_NE(kGlyphsDefault[('<' - 32) * 5 + 1], kGlyphsCompact[('<' - 32) * 5 + 1]);
    EXPECT_EQ(kGlyphsDefault[('A' - 32) * 5], kGlyphsCompact[('A' - 32) * 5]);
}

TEST_F(Surface, TextModesPlaceAndMeasure) {
    gfx.setFont(&font_default, 1, 0);
    const int w = gfx.textWidth("ab");
    gfx.setTextMode(1);
    EXPECT_EQ(gfx.drawText(100, 10, "ab"), -w);
    EXPECT_EQ(litOutside(100 - w, 0, 99, 63), 0);
    bool column99 = false;
    for (int y = 0; y < 64; ++y)
        column99 |= gfx.pixel(99, y) != 0;
    EXPECT_TRUE(column99);

    gfx.clear();
    gfx.setTextMode(0);
    EXPECT_EQ(gfx.drawText(10, 10, "ab"), w);
    const auto left = bytes();
    gfx.clear();
    gfx.setTextMode(2);
    EXPECT_EQ(gfx.drawText(10 + (w >> 1), 10, "ab"), w - (w >> 1));
    EXPECT_EQ(bytes(), left);

    gfx.clear();
    gfx.setTextMode(4);
    EXPECT_EQ(gfx.drawText(10, 10, "ab"), 0);
    EXPECT_EQ(litCount(), 0);

    gfx.setTextMode(3);
    EXPECT_EQ(gfx.drawText(10, 60, "ab"), w);
    EXPECT_EQ(litOutside(10, 60 - w, 17, 60), 0);
}

TEST_F(Surface, TextBeyondTheScreenIsClippedAtAnyScale) {
    const std::string wide(200, 'W');
    gfx.setFont(&font_default, 1, 0);
    EXPECT_EQ(gfx.drawText(-40, 0, wide), gfx.textWidth(wide));
    EXPECT_GT(litCount(), 0);
    gfx.setTextMode(1);
    gfx.drawText(10, 70, wide);
    gfx.setTextMode(3);
    gfx.drawText(250, 5, wide);
    // Huge scales stay bounded by the screen.
    gfx.clear();
    gfx.setFont(&font_default, 1u << 20, 0);
    gfx.drawText(-100, -100, "MW");
    EXPECT_EQ(litCount(), 0);  // row 0 of "M" is empty: the first block starts far below
    gfx.drawText(0, -(1 << 20), "M");
    EXPECT_EQ(litCount(), 256 * 64);
    gfx.clear();
    gfx.setFont(&font_default, 1u << 20, 4);
    gfx.drawText(0, -(1 << 20), "M");
    EXPECT_EQ(gfx.pixel(255, 63), 15u);
    EXPECT_EQ(gfx.pixel(254, 63), 0u);
}

TEST_F(Surface, IconsLightExactlyTheirBits) {
    gfx.drawIcon(0, 0, 1);
    EXPECT_EQ(litCount(), 14);
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j)
            EXPECT_EQ(gfx.pixel(i, j) != 0, ((kIcons[0][i] >> j) & 1) != 0);

    gfx.clear();
    gfx.drawIcon(0, 0, 0);
    gfx.drawIcon(0, 0, 55);
    EXPECT_EQ(litCount(), 0);

    // Clear bits leave what is below.
    gfx.setColour(3);
    gfx.fillRect(0, 0, 255, 63);
    gfx.setColour(15);
    gfx.drawIcon(250, 60, 54);
    EXPECT_EQ(gfx.pixel(250, 60), 3u);
    EXPECT_EQ(gfx.pixel(250, 62), 15u);
}

TEST_F(Surface, LogoIsAFullGreyPictureDrawnPixelExact) {
    ASSERT_EQ(corvane_logo.width, 238u);
    ASSERT_EQ(corvane_logo.height, 40u);
    std::set<int> levels;
    for (uint32_t i = 0; i < 238 * 40; ++i)
        levels.insert(corvane_logo.pixels[i]);
    EXPECT_EQ(levels.size(), 16u);
    EXPECT_EQ(*levels.rbegin(), 15);

    gfx.drawBitmap((255 - 238) >> 1, (64 - 40) >> 1, corvane_logo);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 238; ++x)
            ASSERT_EQ(gfx.pixel(8 + x, 12 + y), corvane_logo.pixels[y * 238 + x]);
    EXPECT_EQ(litOutside(8, 12, 8 + 237, 12 + 39), 0);
    EXPECT_EQ(gfx.colour(), corvane_logo.pixels[238 * 40 - 1]);

    // Off the edges only the visible part is drawn; levels above 15 stay in their nibble.
    gfx.clear();
    gfx.drawBitmap(-200, -30, corvane_logo);
    EXPECT_EQ(gfx.pixel(0, 0), corvane_logo.pixels[30 * 238 + 200]);
    const uint8_t loud[2] = {0xFF, 0x00};
    gfx.drawBitmap(100, 0, GreyBitmap{2, 1, loud});
    EXPECT_EQ(gfx.pixel(100, 0), 15u);
    EXPECT_EQ(gfx.pixel(101, 0), 0u);
}

TEST_F(Surface, MessageBoxesSitWhereTheyArePlaced) {
    gfx.drawMessageBox("", 0, 0, 0);
    EXPECT_EQ(litOutside(0, 0, 4, 14), 0);
    EXPECT_EQ(gfx.pixel(0, 0), 8u);
    EXPECT_EQ(gfx.pixel(4, 14), 8u);
    EXPECT_EQ(gfx.pixel(2, 7), 0u);

    gfx.clear();
    gfx.drawMessageBox("saved", 1, 2, 2);
    EXPECT_EQ(gfx.pixel(255, 49), 8u);
    EXPECT_EQ(gfx.pixel(255, 63), 8u);
    gfx.setFont(&font_compact, 1, 0);
    const int left = 255 - (gfx.textWidth("saved") + 14);
    EXPECT_EQ(gfx.pixel(left, 56), 8u);
    EXPECT_EQ(litOutside(left, 49, 255, 63), 0);
    // The check mark sits at left + 3 on the text row.
    EXPECT_EQ(gfx.pixel(left + 3 + 1, 52 + 5), 15u);

    // A text wider than the screen gets a full-width box with the text cut inside.
    gfx.clear();
    gfx.drawMessageBox(std::string(58, 'W'), 6, 1, 1);
    EXPECT_EQ(litOutside(0, 25, 255, 39), 0);
    EXPECT_EQ(gfx.pixel(0, 30), 8u);
    EXPECT_EQ(gfx.pixel(255, 30), 8u);
    // The caller's clip window is back afterwards.
    gfx.setColour(1);
    gfx.setPixel(0, 0);
    EXPECT_EQ(gfx.pixel(0, 0), 1u);
}

TEST_F(Surface, ScrollBarReturnsTheFirstVisibleRow) {
    EXPECT_EQ(gfx.drawScrollBar(200, 18, 38, 0, 10, 4), 0);
    EXPECT_EQ(gfx.drawScrollBar(200, 18, 38, 1, 10, 4), 0);
    EXPECT_EQ(gfx.drawScrollBar(200, 18, 38, 5, 10, 4), 3);
    gfx.clear();
    // Row 3 of 10 in a 38-pixel bar: top 18 + 0.3 x 38 = 29, length 0.2 x 38 = 7.
    gfx.drawScrollBar(200, 18, 38, 5, 10, 4);
    EXPECT_EQ(gfx.pixel(200, 29), 8u);
    EXPECT_EQ(gfx.pixel(200, 36), 8u);
    EXPECT_EQ(gfx.pixel(200, 28), 0u);
    EXPECT_EQ(gfx.pixel(200, 37), 0u);
    gfx.clear();
    EXPECT_EQ(gfx.drawScrollBar(10, 0, 20, 3, 0, 4), 1);
    EXPECT_EQ(litCount(), 21);
}

}  // namespace
