#include "gui/MonoGFX.h"

#include "gui/FontGlyphs.h"
#include "platform/Audio.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// Larger circles cannot be of use on a 256 x 64 screen; refusing them keeps
// the stepping loops short whatever a caller computes.
constexpr int64_t kMaxRadius = 1 << 14;

int clampToInt(int64_t v) {
    return int(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

}  // namespace

const FontDescriptor font_compact = {0, 5, 8, 1, kGlyphsCompact};
const FontDescriptor font_default = {0, 5, 8, 1, kGlyphsDefault};

MonoGFX::MonoGFX() : font_(&font_default) {}

void MonoGFX::init(uint32_t width, uint32_t height) {
    width_ = uint16_t(std::min<uint32_t>(width, 0xFFFE));
    height_ = uint16_t(std::min<uint32_t>(height, 0xFFFE));
    framebuffer_.resize(size_t(height_) * (width_ >> 1), 0);
    resetClip();
}

void MonoGFX::setClip(int x0, int y0, int x1, int y1) {
    // The clip is what keeps every write inside the framebuffer, so it never
    // reaches beyond the image.
    const int64_t maxX = int64_t(width_ >> 1) * 2 - 1;
    const int64_t maxY = int64_t(height_) - 1;
    const int64_t lx = std::max<int64_t>(x0, 0), hx = std::min<int64_t>(x1, maxX);
    const int64_t ly = std::max<int64_t>(y0, 0), hy = std::min<int64_t>(y1, maxY);
    if (lx > hx || ly > hy) {
        clipX0_ = clipY0_ = 1;
        clipX1_ = clipY1_ = 0;
        return;
    }
    clipX0_ = uint16_t(lx);
    clipX1_ = uint16_t(hx);
    clipY0_ = uint16_t(ly);
    clipY1_ = uint16_t(hy);
}

void MonoGFX::resetClip() { setClip(0, 0, INT_MAX, INT_MAX); }

void MonoGFX::setColour(uint32_t level) { colour_ = uint8_t(level & 15); }

uint32_t MonoGFX::setColourBlink(uint32_t first, uint32_t second) {
    const uint32_t period = blinkPeriod_ ? blinkPeriod_ : 1;
    colour_ = uint8_t(((frameCounter_ % period) < period / 2 ? second : first) & 15);
    return frameCounter_ / period;
}

void MonoGFX::setColourAlternate(uint32_t first, uint32_t second) {
    setColour((frameCounter_ & 1) ? second : first);
}

void MonoGFX::setColourPulse(uint32_t first, uint32_t second) {
    float v;
    if (first <= second)
        v = float(first) + float(second - first) * pulse_;
    else
        v = float(second) + float(first - second) * (1.0f - pulse_);
    colour_ = uint8_t(std::min<uint32_t>(uint32_t(v), 15));
}

void MonoGFX::setPixel(int x, int y) {
    if (x < clipX0_ || x > clipX1_ || y < clipY0_ || y > clipY1_)
        return;
    uint8_t& byte = framebuffer_[size_t(x >> 1) + size_t(y) * (width_ >> 1)];
    if ((x & 1) == 0)
        byte = uint8_t((byte & 0x0F) | (colour_ << 4));
    else
        byte = uint8_t((byte & 0xF0) | colour_);
}

uint32_t MonoGFX::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= int(width_ >> 1) * 2 || y >= int(height_))
        return 0;
    const uint8_t byte = framebuffer_[size_t(x >> 1) + size_t(y) * (width_ >> 1)];
    return (x & 1) ? (byte & 15u) : (byte >> 4);
}

void MonoGFX::_plot(int64_t x, int64_t y) {
    if (x < clipX0_ || x > clipX1_ || y < clipY0_ || y > clipY1_)
        return;
    setPixel(int(x), int(y));
}

void MonoGFX::_fillClipped(int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
    x0 = std::max<int64_t>(x0, clipX0_);
    x1 = std::min<int64_t>(x1, clipX1_);
    y0 = std::max<int64_t>(y0, clipY0_);
    y1 = std::min<int64_t>(y1, clipY1_);
    for (int64_t x = x0; x <= x1; ++x)
        for (int64_t y = y0; y <= y1; ++y)
            setPixel(int(x), int(y));
}

void MonoGFX::fillRect(int x0, int y0, int x1, int y1) {
    _fillClipped(std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1));
}

void MonoGFX::drawLine(int x0, int y0, int x1, int y1) {
    int64_t x = x0, y = y0;
    const int64_t dx = std::llabs(int64_t(x1) - x0), dy = std::llabs(int64_t(y1) - y0);
    const int64_t sx = x1 > x0 ? 1 : -1, sy = y1 > y0 ? 1 : -1;
    int64_t err = dx - dy;
    uint32_t n = 0;
    // Both coordinates only move away from the start, and the line ends as
    // soon as it leaves the image, so the loop never runs longer than the
    // image is wide and high.
    for (;;) {
        if (!dotted_ || (n & 1) == 0)
            _plot(x, y);
        ++n;
        if (x == x1 && y == y1)
            break;
        const int64_t e2 = 2 * err;
        if (e2 >= -dy) {
            err -= dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
        if (x > width_ || y > height_ || x < 0 || y < 0)
            break;
    }
}

void MonoGFX::drawRect(int x0, int y0, int x1, int y1) {
    drawLine(x0, y0, x0, y1);
    drawLine(x1, y0, x1, y1);
    drawLine(x0, y0, x1, y0);
    drawLine(x0, y1, x1, y1);
}

void MonoGFX::drawCornerFrame(int x0, int y0, int x1, int y1, int n) {
    const int ax = clampToInt(int64_t(x0) + n), ay = clampToInt(int64_t(y0) + n);
    const int bx = clampToInt(int64_t(x1) - n), by = clampToInt(int64_t(y1) - n);
    drawLine(x0, y0, ax, y0);
    drawLine(x0, y0, x0, ay);
    drawLine(x1, y0, bx, y0);
    drawLine(x1, y0, x1, ay);
    drawLine(x0, y1, ax, y1);
    drawLine(x0, y1, x0, by);
    drawLine(x1, y1, bx, y1);
    drawLine(x1, y1, x1, by);
}

namespace {

// Midpoint stepping over one quadrant: visit(x, y) with x running from -r up
// to 0, ending early once the program is stopping.
template <typename Visit>
void circleSteps(int r, Visit visit) {
    if (r < 0 || r > kMaxRadius)
        return;
    int64_t x = -int64_t(r), y = 0, err = 2 - 2 * int64_t(r);
    do {
        visit(x, y);
        const int64_t e = err;
        if (e <= y) {
            ++y;
            err += 2 * y + 1;
        }
        if (e > x || err > y) {
            ++x;
            err += 2 * x + 1;
        }
    } while (x < 0 && !Bela_stopRequested());
}

}  // namespace

void MonoGFX::drawCircle(int cx, int cy, int r) {
    const int64_t X = cx, Y = cy;
    circleSteps(r, [&](int64_t x, int64_t y) {
        _plot(X - x, Y + y);
        _plot(X - y, Y - x);
        _plot(X + x, Y - y);
        _plot(X + y, Y + x);
    });
}

void MonoGFX::fillCircle(int cx, int cy, int r) {
    const int64_t X = cx, Y = cy;
    // Spans are cut at the clip window, so a circle crossing the right edge
    // keeps its middle rows.
    circleSteps(r, [&](int64_t x, int64_t y) {
        _fillClipped(X + x, Y - y, X - x, Y - y);
        _fillClipped(X + x, Y + y, X - x, Y + y);
    });
}

int MonoGFX::drawScrollBar(int x, int y, int h, int cursor, int total, int rows) {
    setColour(8);
    const int64_t half = int64_t(std::ceil(double(rows) * 0.5));
    const int first = clampToInt(std::max<int64_t>(int64_t(cursor) - (rows - half), 0));
    if (total <= 0) {
        drawLine(x, y, x, clampToInt(int64_t(y) + h));
    } else {
        // In floating point: first / total is a fraction of the bar.
        const double top = std::trunc(double(y) + (float(first) / float(total)) * float(h));
        const double length = std::trunc(std::min(float(half) / float(total), 1.0f) * float(h));
        const int64_t t = int64_t(std::clamp(top, double(INT_MIN), double(INT_MAX)));
        drawLine(x, int(t), x, int(std::min<int64_t>(t + int64_t(std::max(length, 0.0)), 64)));
    }
    return first;
}

void MonoGFX::dim() {
    for (uint8_t& b : framebuffer_)
        b = uint8_t((b >> 1) & 0x77);
}

void MonoGFX::clear() {
    std::fill(framebuffer_.begin(), framebuffer_.end(), 0);
    textMode_ = 0;
    resetClip();
}

void MonoGFX::setFont(const FontDescriptor* font, uint32_t scale, uint32_t pixelStyle) {
    font_ = font ? font : &font_default;
    scale_ = scale;
    pixelStyle_ = pixelStyle;
}

int MonoGFX::_glyphColumns(uint8_t c, const uint8_t** glyph) const {
    const int code = c & 127;
    const int index = code < 32 ? 0 : code - 32;
    const uint8_t* g = font_->glyphs + size_t(index) * font_->columns;
    if (glyph)
        *glyph = g;
    if (font_->fixed)
        return font_->columns;
    for (int i = font_->columns; i > 0; --i)
        if (g[i - 1])
            return i;
    return font_->gap;
}

int MonoGFX::drawChar(int x, int y, uint8_t c) {
    const uint8_t* glyph = nullptr;
    const int used = _glyphColumns(c, &glyph);
    const int64_t s = scale_;
    int64_t X = x;
    const int64_t Y = y;
    if (textMode_ == 1)
        X -= used * s;
    const int drawn = std::min<int>(used, font_->columns);  // an empty glyph's "gap" columns hold nothing
    const int rows = std::min<int>(font_->rows, 8);
    for (int i = 0; i < drawn; ++i) {
        for (int j = 0; j < rows; ++j) {
            if (!((glyph[i] >> j) & 1))
                continue;
            const int64_t bx = X + i * s, by = Y + j * s;
            switch (pixelStyle_) {
            case 0:
                if (textMode_ == 3)
                    _fillClipped(X + j * s, Y - i * s - (s - 1), X + j * s + s - 1, Y - i * s);
                else
                    _fillClipped(bx, by, bx + s - 1, by + s - 1);
                break;
            case 2:
                _fillClipped(bx, by, bx + s - 1, by);
                break;
            case 3:
                _fillClipped(bx, by, bx, by + s - 1);
                break;
            case 4: {
                const int64_t x0 = std::max<int64_t>(bx, clipX0_), x1 = std::min<int64_t>(bx + s - 1, clipX1_);
                const int64_t y0 = std::max<int64_t>(by, clipY0_), y1 = std::min<int64_t>(by + s - 1, clipY1_);
                for (int64_t px = x0; px <= x1; ++px)
                    for (int64_t py = y0; py <= y1; ++py)
                        if (((px - bx) & 1) == ((py - by) & 1))
                            setPixel(int(px), int(py));
                break;
            }
            default:
                break;
            }
        }
    }
    return clampToInt(s * (used + font_->gap));
}

int MonoGFX::textWidth(std::string_view text) const {
    int64_t total = 0;
    for (char c : text)
        total += int64_t(scale_) * (_glyphColumns(uint8_t(c), nullptr) + font_->gap);
    return clampToInt(total);
}

int MonoGFX::drawText(int x, int y, std::string_view text) {
    int64_t advance = 0;
    switch (textMode_) {
    case 0:
        for (char c : text)
            advance += drawChar(clampToInt(x + advance), y, uint8_t(c));
        return clampToInt(advance);
    case 1:
        for (size_t i = text.size(); i > 0; --i)
            advance += drawChar(clampToInt(x - advance), y, uint8_t(text[i - 1]));
        return clampToInt(-advance);
    case 2: {
        const int64_t offset = -(int64_t(textWidth(text)) >> 1);
        for (char c : text)
            advance += drawChar(clampToInt(x + offset + advance), y, uint8_t(c));
        return clampToInt(advance + offset);
    }
    case 3:
        for (char c : text)
            advance += drawChar(x, clampToInt(y - advance), uint8_t(c));
        return clampToInt(advance);
    default:
        return 0;
    }
}

void MonoGFX::drawGlyph8(int x, int y, std::array<uint8_t, 8> columns) {
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j)
            if ((columns[i] >> j) & 1)
                _plot(int64_t(x) + i, int64_t(y) + j);
}

void MonoGFX::drawIcon(int x, int y, uint32_t id) {
    if (id < 1 || id > uint32_t(kIconCount))
        return;
    std::array<uint8_t, 8> columns;
    std::copy(kIcons[id - 1], kIcons[id - 1] + 8, columns.begin());
    drawGlyph8(x, y, columns);
}

void MonoGFX::drawBitmap(int x, int y, const GreyBitmap& bitmap) {
    if (!bitmap.pixels || bitmap.width == 0 || bitmap.height == 0)
        return;
    // Only the part inside the clip window is walked.
    const int64_t c0 = std::max<int64_t>(0, int64_t(clipX0_) - x);
    const int64_t c1 = std::min<int64_t>(int64_t(bitmap.width) - 1, int64_t(clipX1_) - x);
    const int64_t r0 = std::max<int64_t>(0, int64_t(clipY0_) - y);
    const int64_t r1 = std::min<int64_t>(int64_t(bitmap.height) - 1, int64_t(clipY1_) - y);
    for (int64_t c = c0; c <= c1; ++c) {
        for (int64_t r = r0; r <= r1; ++r) {
            setColour(bitmap.pixels[size_t(r) * bitmap.width + size_t(c)]);
            setPixel(int(x + c), int(y + r));
        }
    }
    setColour(bitmap.pixels[size_t(bitmap.height) * bitmap.width - 1]);
}

void MonoGFX::drawMessageBox(std::string_view text, uint32_t icon, uint32_t horizontal, uint32_t vertical) {
    setFont(&font_compact, 1, 0);
    int w = textWidth(text) + 4 + (icon ? 10 : 0);
    // A text wider than the screen gets a full-width box and is cut at its
    // inner edge instead of pushing the box off the screen.
    const bool tooWide = w > 255;
    if (tooWide)
        w = 255;
    int left, right;
    if (horizontal == 1) {
        left = (255 - w) >> 1;
        right = left + w;
    } else if (horizontal == 2) {
        left = 255 - w;
        right = 255;
    } else {
        left = 0;
        right = w;
    }
    int top, bottom, row;
    if (vertical == 1) {
        top = 25, bottom = 39, row = 28;
    } else if (vertical == 2) {
        top = 49, bottom = 63, row = 52;
    } else {
        top = 0, bottom = 14, row = 3;
    }
    setColour(0);
    fillRect(left, top, right, bottom);
    setColour(8);
    drawRect(left, top, right, bottom);
    setColour(15);

    const uint16_t saved[4] = {clipX0_, clipY0_, clipX1_, clipY1_};
    if (tooWide)
        setClip(std::max<int>(left + 1, clipX0_), std::max<int>(top + 1, clipY0_), std::min<int>(right - 1, clipX1_),
                std::min<int>(bottom - 1, clipY1_));
    if (icon) {
        drawIcon(left + 3, row, icon);
        drawText(left + 13, row, text);
    } else {
        drawText(left + 3, row, text);
    }
    clipX0_ = saved[0], clipY0_ = saved[1], clipX1_ = saved[2], clipY1_ = saved[3];
}

const uint8_t* MonoGFX::nextFrame() {
    ++frameCounter_;
    pulse_ = 0.5f + 0.5f * std::sin(float(frameCounter_) * 0.33333334f);
    return framebuffer_.data();
}
