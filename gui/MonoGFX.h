// Software drawing surface of the 256 x 64 grey OLED: 4 bits per pixel in the
// byte order of the display controller, so a frame goes out unconverted.
// Pixel (x, y) is byte (x >> 1) + 128 y, the even x in the high nibble.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

// A bitmap font: 96 glyphs (codes 32..127), one byte per column, bit 0 on top.
struct FontDescriptor {
    uint8_t fixed;    // non-zero: every glyph uses all columns
    uint8_t columns;
    uint8_t rows;
    uint8_t gap;      // blank columns after each glyph
    const uint8_t* glyphs;
};

// Row-major grey picture, one level 0..15 per byte.
struct GreyBitmap {
    uint32_t width;
    uint32_t height;
    const uint8_t* pixels;
};

extern const FontDescriptor font_default;
extern const FontDescriptor font_compact;
extern const GreyBitmap corvane_logo;

class MonoGFX {
public:
    MonoGFX();

    void init(uint32_t width, uint32_t height);

    // Coordinates are pixels; values that do not fit the window (negative
    // ones included) are clipped, never wrapped into it.
    void setClip(int x0, int y0, int x1, int y1);
    void resetClip();

    void setColour(uint32_t level);
    uint32_t setColourBlink(uint32_t first, uint32_t second);
    void setColourAlternate(uint32_t first, uint32_t second);
    void setColourPulse(uint32_t first, uint32_t second);
    void setDotted(bool dotted) { dotted_ = dotted ? 1 : 0; }

    void setPixel(int x, int y);
    void fillRect(int x0, int y0, int x1, int y1);
    void drawLine(int x0, int y0, int x1, int y1);
    void drawRect(int x0, int y0, int x1, int y1);
    void drawCornerFrame(int x0, int y0, int x1, int y1, int n);
    void drawCircle(int cx, int cy, int r);
    void fillCircle(int cx, int cy, int r);
    int drawScrollBar(int x, int y, int h, int cursor, int total, int rows);

    void dim();
    void clear();

    void setFont(const FontDescriptor* font, uint32_t scale, uint32_t pixelStyle);
    void setTextMode(uint32_t mode) { textMode_ = mode; }
    int drawChar(int x, int y, uint8_t c);
    int textWidth(std::string_view text) const;
    int drawText(int x, int y, std::string_view text);

    void drawGlyph8(int x, int y, std::array<uint8_t, 8> columns);
    void drawIcon(int x, int y, uint32_t id);
    void drawBitmap(int x, int y, const GreyBitmap& bitmap);
    void drawMessageBox(std::string_view text, uint32_t icon, uint32_t horizontal, uint32_t vertical);

    // Advances the frame counter and the pulse; returns the frame bytes.
    const uint8_t* nextFrame();

    const uint8_t* framebuffer() const { return framebuffer_.data(); }
    size_t framebufferSize() const { return framebuffer_.size(); }
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    uint32_t colour() const { return colour_; }
    uint32_t textMode() const { return textMode_; }
    uint32_t frameCounter() const { return frameCounter_; }
    float pulse() const { return pulse_; }
    const FontDescriptor* font() const { return font_; }
    // Grey level of a pixel, 0 outside the image.
    uint32_t pixel(int x, int y) const;

private:
    int _glyphColumns(uint8_t c, const uint8_t** glyph) const;
    // Fills the block of whole pixels x0..x1 by y0..y1 cut to the clip window.
    void _fillClipped(int64_t x0, int64_t y0, int64_t x1, int64_t y1);
    void _plot(int64_t x, int64_t y);

    uint16_t width_ = 0;
    uint16_t height_ = 0;
    // An empty window (x0 > x1) until init: nothing can be drawn before.
    uint16_t clipX0_ = 1, clipX1_ = 0, clipY0_ = 1, clipY1_ = 0;
    uint8_t colour_ = 15;
    const FontDescriptor* font_;
    uint32_t scale_ = 1;
    uint32_t pixelStyle_ = 0;
    uint32_t textMode_ = 0;
    uint8_t dotted_ = 0;
    std::vector<uint8_t> framebuffer_;
    uint32_t frameCounter_ = 0;
    uint32_t blinkPeriod_ = 8;
    float pulse_ = 0.0f;
};

extern MonoGFX mainWindow;
extern MonoGFX screensaverWindow;
