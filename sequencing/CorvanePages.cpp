// The sequencer's part of the track page: the pattern view, the lane table
// and the lane keys. Drawing runs in the interface task while the audio
// thread writes the histories: each picture takes the ring positions once.
#include "drivers/KeyDebouncer.h"
#include "gui/MonoGFX.h"
#include "sequencing/Corvane.h"
#include "sequencing/NoteManager.h"

#include <array>
#include <string>

namespace {

constexpr int kFirstLaneKey = 5;
constexpr int kShiftKey = 0;
constexpr int kCopyKeys[] = {1, 4};
constexpr int kTicksShown = 72;
constexpr int kLaneTableFirst = 8;
constexpr int kControls = 16;

constexpr const char* kPattern = "pattern ";
constexpr const char* kNoteList = "note list ";
constexpr const char* kEmpty = "(empty)";
constexpr const char* kCopyHint = "sel. pattrn to copy";
constexpr const char* kCopyHintLong = "select pattern to copy ";
constexpr const char* kTo = " to";
constexpr const char* kOrderNames[] = {"fwd", "rev", "f+r", "rand", "mrkv"};
constexpr std::array<int, 5> kColumns = {147, 169, 191, 213, 235};
constexpr std::array<int, 5> kSeparators = {144, 166, 188, 210, 232};
constexpr std::array<uint32_t, 5> kHeaderIcons = {21, 22, 23, 24, 14};

int32_t active(const ParameterInt& p) { return p.values[p.activeSlot]; }

bool copyHeld() { return Key::key[kCopyKeys[0]].held() && Key::key[kCopyKeys[1]].held(); }

// Writes `label` in colour 8 and `value` in colour 15; returns the end.
int labelled(MonoGFX& g, int x, int y, const char* label, const std::string& value) {
    g.setColour(8);
    x += g.drawText(x, y, label);
    g.setColour(15);
    return x + g.drawText(x, y, value);
}

}  // namespace

void Corvane::button(int index, int event) {
    if (event == KeyDebouncer::kRepeat)
        return;
    const int lane = index - kFirstLaneKey;
    if (lane < 0 || lane >= kLanes)
        return;
    ParameterInt& enabled = lanes[size_t(lane)].enabled;
    const uint32_t slot = enabled.activeSlot;
    if (slot >= enabled.values.size())
        return;
    enabled.values[slot] = enabled.values[slot] + 1;
    enabled.overridden = true;
    enabled.constrain();  // wraps the two choices: a toggle
}

bool Corvane::_noteListEmpty() const {
    const auto list = _notes().list(active(noteList));
    return !list || list->steps.empty();
}

void Corvane::draw(MonoGFX& gfx, int, int control) {
    if (control < 0 || control >= kControls)
        return;
    if (control < kLaneTableFirst)
        _drawPatternView(gfx);
    else
        _drawLaneTable(gfx);
}

void Corvane::_drawTicks(MonoGFX& g, bool table) const {
    // Positions taken once per picture; every read is masked into the ring.
    const int resets = resetHistory.index();
    const int windows = windowHistory.index();
    std::array<int, kLanes> rings{};
    std::array<bool, kLanes> on{};
    for (int l = 0; l < kLanes; ++l) {
        rings[size_t(l)] = lanes[size_t(l)].history.index();
        on[size_t(l)] = active(lanes[size_t(l)].enabled) != 0;
    }
    for (int c = 0; c < kTicksShown; ++c) {
        const int x = 142 - 2 * c;
        if (resetHistory.atFrom(resets, c) > 0) {
            g.setColour(2);
            if (table)
                g.drawLine(x, 8, x, 43);
            else
                g.drawLine(x, 0, x, 18);
        }
        const bool inWindow = windowHistory.atFrom(windows, c) != 0;
        for (int l = 0; l < kLanes; ++l) {
            const int32_t h = lanes[size_t(l)].history.atFrom(rings[size_t(l)], c);
            const uint32_t idle = on[size_t(l)] && inWindow ? 8 : 2;
            if (table) {
                const int y = 14 + 9 * l;
                if (h >= 0 || h == PulseLane::kSilentPulse) {
                    g.setColour(h >= 0 ? 15 : 2);
                    g.drawLine(x, y - 4, x, y);
                } else {
                    g.setColour(idle);
                    g.setPixel(x, y - 2);
                }
            } else {
                const int y = 4 + 4 * l;
                if (h >= 0) {
                    g.setColour(15);
                    g.drawLine(x, y, x, y + 2);
                } else {
                    g.setColour(idle);
                    g.setPixel(x, y + 1);
                }
            }
        }
    }
}

void Corvane::_drawPatternView(MonoGFX& g) const {
    g.setColour(4);
    g.drawLine(144, 3, 144, 19);
    _drawTicks(g, false);
    g.setFont(&font_compact, 1, 0);
    if (copyHeld()) {
        g.setColour(8);
        g.drawText(147, 0, kCopyHint);
        const int x = labelled(g, 147, 10, kPattern, pattern.toString());
        g.setColour(8);
        g.drawText(x, 10, kTo);
        return;
    }
    labelled(g, 147, 0, kPattern, pattern.toString());
    const int x = labelled(g, 147, 10, kNoteList, noteList.toString());
    if (_noteListEmpty()) {
        g.setColour(8);
        g.drawText(x + 2, 10, kEmpty);
    }
}

void Corvane::_drawLaneTable(MonoGFX& g) const {
    g.setFont(&font_compact, 1, 0);
    g.setColour(4);
    for (size_t i = 0; i < kColumns.size(); ++i)
        g.drawIcon(kColumns[i], 0, kHeaderIcons[i]);
    g.setDotted(true);
    for (int x : kSeparators)
        g.drawLine(x, 42, x, 0);
    g.setDotted(false);

    const int32_t chosen = active(laneChoice);
    for (int l = 0; l < kLanes; ++l) {
        const PulseLane& lane = lanes[size_t(l)];
        const int y = 8 + 9 * l;
        const bool enabledLane = active(lane.enabled) != 0;
        const uint32_t colour = !enabledLane ? 4 : (l == chosen ? 15 : 8);
        g.setFont(&font_default, 1, 0);
        g.setColour(colour);
        g.drawText(kColumns[0], y, lane.interval.toString());
        g.drawText(kColumns[1], y, lane.offset.toString());
        g.drawText(kColumns[2], y, lane.octave.toString());
        // A reset at or below the interval has no effect.
        g.setColour(active(lane.interval) >= active(lane.reset) ? 4 : colour);
        g.drawText(kColumns[3], y, lane.reset.toString());
        g.setFont(&font_compact, 1, 0);
        g.setColour(colour);
        const int32_t order = active(lane.noteSel);
        g.drawText(kColumns[4], y, kOrderNames[order >= 0 && order < 5 ? order : 0]);
    }

    if (chosen >= 0 && chosen < kLanes) {
        const bool all = Key::key[kShiftKey].held();
        const int y0 = all ? 8 : 9 * (chosen + 1) - 1;
        const int y1 = all ? 43 : 9 * (chosen + 1) + 7;
        g.setColour(15);
        for (int x : kSeparators)
            g.drawLine(x, y0, x, y1);
    }

    g.setFont(&font_compact, 1, 0);
    if (copyHeld()) {
        const int x = labelled(g, 0, 0, kCopyHintLong, pattern.toString());
        g.setColour(8);
        g.drawText(x, 0, kTo);
    } else {
        labelled(g, 0, 0, kPattern, pattern.toString());
        const int x = labelled(g, 48, 0, kNoteList, noteList.toString());
        if (_noteListEmpty()) {
            g.setColourBlink(8, 12);
            g.drawText(x, 0, kEmpty);
        }
    }
    _drawTicks(g, true);
}
