#include "gui/PageWidgets.h"

#include "drivers/KeyDebouncer.h"
#include "gui/MonoGFX.h"
#include "samples/AudioResource.h"
#include "samples/SamplePool.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

namespace GUI {

namespace {
constexpr uint32_t kModulatedIcon = 39;
constexpr uint32_t kMappedIcon = 40;
// Left edge of each degree's key within an octave, and which are black.
constexpr int kKeyLeft[12] = {54, 59, 64, 69, 74, 84, 89, 94, 99, 104, 109, 114};
constexpr bool kBlackKey[12] = {false, true, false, true, false, false, true, false, true, false, true, false};
}  // namespace

void drawParameterCell(MonoGFX& w, uint32_t cell, std::string_view name, std::string_view value, bool modulated,
                       bool midiMapped, bool selected, bool highlighted, float normalised) {
    const int x = kCellLeft + kCellWidth * int(cell & 3);
    const int y = kCellHeight * int((cell & 15) >> 2);
    w.setTextMode(0);
    if (highlighted) {
        w.setColour(2);
        w.fillRect(x, y, x + 45, y + 20);
        w.setColour(selected ? 15 : 10);
    } else {
        w.setColour(selected ? 15 : 8);
    }
    w.setFont(&font_compact, 1, 0);
    w.drawText(x + 1, y, name);
    if (modulated || midiMapped) {
        w.setColour(15);
        w.drawText(x + 7, y + 11, value);
        w.setColour(8);
        if (modulated)
            w.drawIcon(x + 1, y + 11, kModulatedIcon);
        if (midiMapped)
            w.drawIcon(x + 1, y + 11, kMappedIcon);
    } else {
        w.setFont(&font_default, 1, 0);
        w.setColour(15);
        w.drawText(x + 3, y + 11, value);
    }
    // A value that is not a number draws as 0 rather than a wild bar.
    const float v = std::isnan(normalised) ? 0.0f : std::clamp(normalised, 0.0f, 1.0f);
    w.setColour(highlighted ? 0 : 2);
    w.drawLine(x + 1, y + 9, x + 44, y + 9);
    w.setColour(12);
    w.drawLine(x + 1, y + 9, int(float(x + 1) + v * 43.0f), y + 9);
}

void drawPageIndicator(MonoGFX& w, int x, int y, uint32_t first, uint32_t count, int page) {
    if (page > 0) {
        w.setFont(&font_default, 2, 4);
        w.setTextMode(0);
        w.setColour(15);
        w.drawText(x, y, std::to_string(page));
    }
    w.setColour(4);
    w.drawLine(x + 63, y, x + 63, y + 20);
    for (int k = 0; k < 5; ++k) {
        w.setColour(k == page - 1 ? 15 : 4);
        w.fillRect(x + 14 + 5 * k, y, x + 17 + 5 * k, y + 2);
    }
    for (uint32_t c = 0; c < 32; ++c) {
        const uint32_t inBlock = c & 15;
        const int bx = x + (c < 16 ? 14 : 27);
        const int u = int(inBlock & 3), r = int(inBlock >> 2);
        w.setColour(c >= first && uint64_t(c) < uint64_t(first) + count ? 15 : 4);
        w.drawRect(bx + 3 * u, y + 4 + 3 * r, bx + 3 * u + 1, y + 5 + 3 * r);
    }
    w.setColour(4);
    w.drawRect(x + 14, y + 16, x + 37, y + 18);
}

void drawSlotOverlay(MonoGFX& w, const SlotContent& content) {
    SlotContent::Kind kind;
    const char* title;
    if (Key::key[4].held()) {
        kind = SlotContent::Pattern, title = "pattern";
    } else if (Key::key[9].held()) {
        kind = SlotContent::NoteList, title = "note list";
    } else if (Key::key[14].held()) {
        return;
    } else if (Key::key[19].held()) {
        kind = SlotContent::MotionLoop, title = "motion loop";
    } else {
        return;
    }
    const int32_t current = content.currentSlot(kind);
    if (current < 0)
        return;
    w.dim();
    w.setColour(0);
    w.fillRect(52, 15, 204, 48);
    w.setColour(15);
    w.drawRect(52, 15, 204, 48);
    w.setFont(&font_default, 1, 0);
    w.setTextMode(0);
    w.drawText(55, 18, title);
    w.setTextMode(1);
    w.drawText(201, 18, std::to_string(current));
    w.setTextMode(0);
    for (int32_t k = 0; k < 25; ++k) {
        const int d = k % 12;
        const int left = 70 * (k / 12) + kKeyLeft[d];
        const int top = kBlackKey[d] ? 28 : 38;
        w.setColour(k == current ? 15 : 4);
        if (k == current || content.isSlotUsed(kind, k))
            w.fillRect(left, top, left + 8, top + 8);
        else
            w.drawRect(left, top, left + 8, top + 8);
    }
}

void drawWaveform(MonoGFX& w, std::string_view path, int x0, int y0, int x1, int y1, int32_t zoom, int32_t centre,
                  int32_t selectionStart, int32_t selectionEnd, SampleSource* pool) {
    if (!pool)
        pool = DSP::samplePool.load(std::memory_order_acquire);
    if (!pool)
        return;
    // Held for the drawing: the pool may drop the sample meanwhile.
    const std::shared_ptr<AudioResource> resource = pool->getResource(std::string(path));
    const int width = x1 - x0;
    if (!resource || width <= 0 || y1 < y0)
        return;
    const std::vector<float>& overview = resource->overview;
    const int64_t entries = int64_t(overview.size());
    int64_t first = 0;
    int64_t z = zoom;
    if (z <= 0) {
        z = std::max<int64_t>((entries + width - 1) / width, 4);
    } else if (centre >= 0) {
        first = int64_t(centre) / (z * 128) - width / 2;
    }
    const int64_t S = z * 128;
    const int64_t N = entries / z;
    const int64_t a = int64_t(std::max(selectionStart, 0)) / S;
    const int64_t b = (selectionEnd < 0 ? int64_t(resource->frameCount()) : int64_t(selectionEnd)) / S;
    const float rate = resource->sampleRate;
    const int64_t second = int64_t(rate);
    const bool grid = rate > 0.0f && float(S) < rate * 0.33333334f && second > 0;
    // A silent sample has no level to scale by: its columns stay on the baseline.
    const float level = resource->maxBlockLevel;
    const float scale = level > 0.0f && std::isfinite(level) ? float(y1 - y0) / level : 0.0f;
    for (int c = 0; c <= width; ++c) {
        const int64_t p = first + c;
        if (p < 0 || p >= N)
            continue;
        const int X = x0 + c;
        if (grid && (p * S) % second < S) {
            w.setColour(2);
            w.setDotted(true);
            w.drawLine(X, y0, X, y1);
            w.setPixel(X, y1);
            w.setDotted(false);
        }
        const float value = overview[size_t(p * z)];
        const float height = std::clamp(scale * (std::isfinite(value) ? value : 0.0f), 0.0f, float(y1 - y0));
        const int top = int(float(y1) - height);
        const bool inside = a <= p && p <= b;
        w.setColour(inside ? 4 : 2);
        w.drawLine(X, top, X, y1);
        w.setColour(inside ? 15 : 4);
        w.setPixel(X, top);
    }
}

}  // namespace GUI
