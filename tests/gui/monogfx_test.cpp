#include "gui/FontGlyphs.h"
#include "gui/MonoGFX.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>
#include <vector>

namespace {

class Surface : public ::testing::Test {
protected:
    void SetUp() override { gfx.init(256, 64); }
    // Lit pixels outside x0..x1 by y0..y1 (all of them with the defaults).
    int lit(int x0 = 1 << 20, int y0 = 0, int x1 = -1, int y1 = -1) const {
        int n = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 256; ++x)
                n += (x < x0 || x > x1 || y < y0 || y > y1) && gfx.pixel(x, y);
        return n;
    }
    bool glyphAt(int x, int y, const uint8_t* columns, int n) const {
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < 8; ++j)
                if ((gfx.pixel(x + i, y + j) != 0) != (((columns[i] >> j) & 1) != 0))
                    return false;
        return true;
    }
    MonoGFX gfx;
};

TEST_F(Surface, PixelsUseTheDisplayByteOrderAndStayInsideTheImage) {
    ASSERT_EQ(gfx.framebufferSize(), 8192u);
    gfx.setColour(0xA);
    gfx.setPixel(0, 0);
    gfx.setColour(31);  // four bits: 15
    gfx.setPixel(1, 0);
    gfx.setPixel(255, 63);
    EXPECT_EQ(gfx.framebuffer()[0], 0xAF);
    EXPECT_EQ(gfx.framebuffer()[8191], 0x0F);
    for (auto [x, y] : std::vector<std::pair<int, int>>{{256, 0}, {0, 64}, {-1, 0}, {INT_MAX, INT_MAX}, {INT_MIN, 5}})
        gfx.setPixel(x, y);
    EXPECT_EQ(lit(), 3);

    MonoGFX fresh;  // nothing can be drawn before init
    fresh.fillRect(0, 0, 10, 10);
    EXPECT_EQ(fresh.framebufferSize(), 0u);
}

TEST_F(Surface, ClipWindowsAreCutToTheImage) {
    gfx.setClip(10, 20, 30, 40);
    gfx.fillRect(0, 0, 255, 63);
    EXPECT_EQ(lit(), 21 * 21);
    EXPECT_EQ(lit(10, 20, 30, 40), 0);

    gfx.clear();
    gfx.setClip(-50, -50, 1000, 100000);  // must not reach past the buffer
    gfx.fillRect(INT_MIN, INT_MIN, INT_MAX, INT_MAX);
    EXPECT_EQ(lit(), 256 * 64);

    gfx.clear();
    gfx.setClip(300, 0, 400, 63);
    gfx.fillRect(0, 0, 255, 63);
    EXPECT_EQ(lit(), 0);
}

TEST_F(Surface, RectanglesTakeCornersInAnyOrder) {
    gfx.fillRect(5, 5, 2, 2);
    EXPECT_EQ(lit(), 16);
    EXPECT_EQ(lit(2, 2, 5, 5), 0);
    gfx.clear();
    gfx.fillRect(-5, -5, 3, 3);
    EXPECT_EQ(lit(0, 0, 3, 3), 0);
    EXPECT_EQ(lit(), 16);
    gfx.clear();
    gfx.drawRect(10, 10, 20, 15);
    EXPECT_EQ(lit(), 2 * 11 + 2 * 4);
    EXPECT_FALSE(gfx.pixel(15, 12));
}

TEST_F(Surface, LinesEndWhereTheyLeaveTheImage) {
    gfx.drawLine(10, 10, 10, 10);
    EXPECT_EQ(lit(), 1);
    gfx.clear();
    gfx.setDotted(true);
    gfx.drawLine(0, 0, 9, 0);
    gfx.setDotted(false);
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(gfx.pixel(x, 0) != 0, x % 2 == 0) << x;

    gfx.clear();
    gfx.drawLine(300, 5, 0, 5);
    EXPECT_EQ(lit(), 0);
    gfx.drawLine(250, 5, 270, 5);
    EXPECT_EQ(lit(), 6);
    EXPECT_EQ(lit(250, 5, 255, 5), 0);

    gfx.clear();
    gfx.drawLine(20, 10, 0, 0);
    EXPECT_TRUE(gfx.pixel(0, 0) && gfx.pixel(20, 10));
    EXPECT_EQ(lit(), 21);

    // Towards a negative end the line runs to the edge; extreme ends stop at once.
    gfx.clear();
    gfx.drawLine(10, 10, -5, 10);
    EXPECT_EQ(lit(), 11);
    gfx.drawLine(INT_MIN, INT_MIN, INT_MAX, INT_MAX);
    gfx.drawLine(0, 0, INT_MAX, INT_MAX);
    gfx.drawLine(5, 63, 5, INT_MIN);
    EXPECT_TRUE(gfx.pixel(5, 0));
}

TEST_F(Surface, CirclesAreSymmetricAndBounded) {
    gfx.drawCircle(100, 30, 10);
    EXPECT_TRUE(gfx.pixel(110, 30) && gfx.pixel(90, 30) && gfx.pixel(100, 20) && gfx.pixel(100, 40));
    EXPECT_FALSE(gfx.pixel(100, 30));
    EXPECT_EQ(lit(90, 20, 110, 40), 0);
    gfx.clear();
    gfx.drawCircle(-3, -3, 5);
    EXPECT_TRUE(gfx.pixel(0, 1) && gfx.pixel(1, 0));
    EXPECT_EQ(lit(0, 0, 2, 2), 0);

    // A filled circle over the right edge keeps its middle rows.
    gfx.clear();
    gfx.fillCircle(250, 30, 10);
    EXPECT_TRUE(gfx.pixel(255, 30) && gfx.pixel(240, 30) && gfx.pixel(250, 20));
    EXPECT_EQ(lit(240, 20, 255, 40), 0);
    gfx.drawCircle(0, 0, INT_MAX);
    gfx.fillCircle(INT_MIN, INT_MAX, INT_MAX);
    gfx.drawCircle(10, 10, -1);
}

TEST_F(Surface, DimBlinkAndPulse) {
    gfx.fillRect(0, 0, 1, 0);
    gfx.dim();
    EXPECT_EQ(gfx.framebuffer()[0], 0x77);
    gfx.dim();
    EXPECT_EQ(gfx.framebuffer()[0], 0x33);

    std::vector<uint32_t> seen;
    for (int frame = 0; frame < 16; ++frame, gfx.nextFrame()) {
        gfx.setColourBlink(3, 12);
        seen.push_back(gfx.colour());
    }
    EXPECT_EQ(seen, (std::vector<uint32_t>{12, 12, 12, 12, 3, 3, 3, 3, 12, 12, 12, 12, 3, 3, 3, 3}));
    EXPECT_EQ(gfx.setColourBlink(3, 12), 2u);
    for (int frame = 0; frame < 40; ++frame, gfx.nextFrame()) {
        gfx.setColourPulse(15, 8);  // either order stays within the two levels
        EXPECT_GE(gfx.colour(), 8u);
    }
}

TEST_F(Surface, GlyphsInEveryStyleScaleAndMode) {
    const uint8_t* A = kGlyphsDefault + ('A' - 32) * 5;
    EXPECT_EQ(gfx.drawChar(0, 0, 'A'), 6);
    EXPECT_TRUE(glyphAt(0, 0, A, 5));
    EXPECT_EQ(lit(0, 0, 4, 7), 0);

    gfx.clear();
    gfx.setFont(&font_default, 3, 0);  // 3 x 3 blocks; row 6 of column 0 is set, row 5 is not
    EXPECT_EQ(gfx.drawChar(10, 10, 'A'), 18);
    EXPECT_TRUE(gfx.pixel(10, 28) && gfx.pixel(12, 30));
    EXPECT_FALSE(gfx.pixel(10, 27));
    gfx.clear();
    gfx.setFont(&font_default, 3, 2);  // top row of each block
    gfx.drawChar(0, 0, 'A');
    EXPECT_TRUE(gfx.pixel(2, 18) && !gfx.pixel(0, 19));
    gfx.clear();
    gfx.setFont(&font_default, 2, 4);  // checkerboard
    gfx.drawChar(0, 0, 'A');
    EXPECT_TRUE(gfx.pixel(0, 12) && gfx.pixel(1, 13) && !gfx.pixel(1, 12));
    gfx.clear();
    gfx.setFont(&font_default, 1, 1);
    gfx.drawChar(0, 0, 'A');
    EXPECT_EQ(lit(), 0);

    gfx.setFont(&font_default, 1, 0);
    gfx.setTextMode(3);  // a quarter turn anticlockwise: column i runs up
    gfx.drawChar(20, 40, 'A');
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 8; ++j)
            EXPECT_EQ(gfx.pixel(20 + j, 40 - i) != 0, ((A[i] >> j) & 1) != 0);
}

TEST_F(Surface, WidthsOfBothFonts) {
    EXPECT_EQ(gfx.textWidth(" "), 2);
    EXPECT_EQ(gfx.textWidth("0"), 6);
    EXPECT_EQ(gfx.drawChar(0, 0, 160), 2);  // seven bits: a space
    EXPECT_EQ(gfx.drawChar(0, 0, 1), 2);
    EXPECT_EQ(lit(), 0);
    gfx.setFont(&font_default, 2, 0);
    EXPECT_EQ(gfx.textWidth(" "), 4);
    gfx.setFont(&font_compact, 1, 0);
    EXPECT_EQ(gfx.textWidth("0"), 5);
    EXPECT_EQ(gfx.textWidth(""), 0);
    // Where the fonts differ: "<" filled in one, open in the other.
    EXPECT_NE(kGlyphsDefault[('<' - 32) * 5 + 1], kGlyphsCompact[('<' - 32) * 5 + 1]);
}

TEST_F(Surface, TextModesPlaceAndMeasure) {
    const int w = gfx.textWidth("ab");
    gfx.setTextMode(1);
    EXPECT_EQ(gfx.drawText(100, 10, "ab"), -w);
    EXPECT_EQ(lit(100 - w, 0, 99, 63), 0);
    EXPECT_TRUE(gfx.pixel(99, 14));  // the last column of "b"

    gfx.clear();
    gfx.setTextMode(0);
    EXPECT_EQ(gfx.drawText(10, 10, "ab"), w);
    const std::vector<uint8_t> left(gfx.framebuffer(), gfx.framebuffer() + 8192);
    gfx.clear();
    gfx.setTextMode(2);
    EXPECT_EQ(gfx.drawText(10 + (w >> 1), 10, "ab"), w - (w >> 1));
    EXPECT_EQ(std::vector<uint8_t>(gfx.framebuffer(), gfx.framebuffer() + 8192), left);

    gfx.clear();
    gfx.setTextMode(4);
    EXPECT_EQ(gfx.drawText(10, 10, "ab"), 0);
    EXPECT_EQ(lit(), 0);
}

TEST_F(Surface, TextBeyondTheScreenIsClippedAtAnyScale) {
    const std::string wide(200, 'W');
    EXPECT_EQ(gfx.drawText(-40, 0, wide), gfx.textWidth(wide));
    EXPECT_EQ(lit(0, 0, 255, 7), 0);
    gfx.setTextMode(3);
    gfx.drawText(250, 5, wide);

    gfx.clear();
    gfx.setTextMode(0);
    gfx.setFont(&font_default, 1u << 20, 0);
    gfx.drawText(0, -(1 << 20), "M");  // column 0, row 1 of "M" covers the screen
    EXPECT_EQ(lit(), 256 * 64);
    gfx.clear();
    gfx.setFont(&font_default, 1u << 20, 4);
    gfx.drawText(0, -(1 << 20), "M");
    EXPECT_EQ(lit(), 256 * 64 / 2);
}

TEST_F(Surface, IconsAndBitmaps) {
    gfx.drawIcon(0, 0, 1);
    EXPECT_EQ(lit(), 14);
    EXPECT_TRUE(glyphAt(0, 0, kIcons[0], 8));
    gfx.drawIcon(100, 0, 0);
    gfx.drawIcon(100, 0, 55);
    EXPECT_EQ(lit(), 14);

    std::set<int> levels(corvane_logo.pixels, corvane_logo.pixels + 238 * 40);
    EXPECT_EQ(levels.size(), 16u);
    ASSERT_EQ(corvane_logo.width * corvane_logo.height, 238u * 40u);
    gfx.clear();
    gfx.drawBitmap(8, 12, corvane_logo);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 238; ++x)
            ASSERT_EQ(gfx.pixel(8 + x, 12 + y), corvane_logo.pixels[y * 238 + x]);
    EXPECT_EQ(lit(8, 12, 245, 51), 0);
    gfx.drawBitmap(-200, -30, corvane_logo);
    EXPECT_EQ(gfx.pixel(0, 0), corvane_logo.pixels[30 * 238 + 200]);
    const uint8_t loud[2] = {0xFF, 0x00};  // levels keep to their nibble
    gfx.drawBitmap(100, 0, GreyBitmap{2, 1, loud});
    EXPECT_EQ(gfx.framebuffer()[50], 0xF0);
}

TEST_F(Surface, MessageBoxesSitWhereTheyArePlaced) {
    gfx.drawMessageBox("", 0, 0, 0);
    EXPECT_EQ(lit(0, 0, 4, 14), 0);
    EXPECT_EQ(gfx.pixel(4, 14), 8u);

    gfx.clear();
    gfx.drawMessageBox("saved", 1, 2, 2);
    gfx.setFont(&font_compact, 1, 0);
    const int left = 255 - (gfx.textWidth("saved") + 14);
    EXPECT_EQ(gfx.pixel(left, 49), 8u);
    EXPECT_EQ(gfx.pixel(255, 63), 8u);
    EXPECT_EQ(lit(left, 49, 255, 63), 0);
    EXPECT_EQ(gfx.pixel(left + 4, 57), 15u);  // the check mark

    // Wider than the screen: a full-width box, the text cut inside it.
    gfx.clear();
    gfx.drawMessageBox(std::string(58, 'W'), 6, 1, 1);
    EXPECT_EQ(lit(0, 25, 255, 39), 0);
    EXPECT_EQ(gfx.pixel(255, 30), 8u);
    gfx.setPixel(0, 0);  // and the clip window is back
    EXPECT_TRUE(gfx.pixel(0, 0));
}

TEST_F(Surface, ScrollBarReturnsTheFirstVisibleRow) {
    EXPECT_EQ(gfx.drawScrollBar(200, 18, 38, 1, 10, 4), 0);
    gfx.clear();
    // Row 3 of 10 in 38 pixels: from 18 + 0.3 x 38 = 29 for 0.2 x 38 = 7.
    EXPECT_EQ(gfx.drawScrollBar(200, 18, 38, 5, 10, 4), 3);
    EXPECT_EQ(lit(200, 29, 200, 36), 0);
    EXPECT_EQ(lit(), 8);
    gfx.clear();
    EXPECT_EQ(gfx.drawScrollBar(10, 0, 20, 3, 0, 4), 1);
    EXPECT_EQ(lit(), 21);
    // Extreme arguments neither overflow nor run away.
    EXPECT_EQ(gfx.drawScrollBar(0, INT_MAX, INT_MAX, INT_MIN, 1, INT_MAX), 0);
    gfx.drawCornerFrame(0, 0, INT_MAX, INT_MAX, INT_MAX);
    EXPECT_TRUE(gfx.pixel(255, 0) && gfx.pixel(0, 63));
}

}  // namespace
