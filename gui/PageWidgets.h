// Drawings several pages share: the 4 x 4 parameter grid's cells, the page
// indicator beside it, the slot keyboard shown while a slot key is held and a
// sample's waveform. None keeps state between frames.
#pragma once

#include <cstdint>
#include <string_view>

class MonoGFX;
class SampleSource;

namespace GUI {

constexpr int kCellLeft = 67;
constexpr int kCellWidth = 47;
constexpr int kCellHeight = 22;

// Cell index 0..15: column index & 3, row index >> 2 (cells 12..15 fall below
// the screen). The markers are modulated (icon 39) and MIDI-mapped (icon 40).
void drawParameterCell(MonoGFX& window, uint32_t cell, std::string_view name, std::string_view value,
                       bool modulated, bool midiMapped, bool selected, bool highlighted, float normalised);
// page <= 0 shows no page number and no current page box.
void drawPageIndicator(MonoGFX& window, int x, int y, uint32_t firstCell, uint32_t count, int page);

// What the slot keyboard reads of the current track.
class SlotContent {
public:
    enum Kind { Pattern, NoteList, MotionLoop };
    virtual ~SlotContent() = default;
    // The kind's current slot; negative draws nothing.
    virtual int32_t currentSlot(Kind kind) const = 0;
    virtual bool isSlotUsed(Kind kind, int32_t slot) const = 0;
};
// While key 4 (pattern), 9 (note list) or 19 (motion loop) is held, in that
// priority; key 14 held draws nothing.
void drawSlotOverlay(MonoGFX& window, const SlotContent& content);

// The overview of the sample loaded under path in pool (null: the sample
// pool's), between the corners; zoom 0 fits the whole sample; a negative
// selection end means the end of the sample.
void drawWaveform(MonoGFX& window, std::string_view path, int x0, int y0, int x1, int y1, int32_t zoom,
                  int32_t centre, int32_t selectionStart, int32_t selectionEnd, SampleSource* pool = nullptr);

}  // namespace GUI
