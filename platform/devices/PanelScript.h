// A panel event script: a text file of timed panel events, one per line,
//
//   <block> key <k> down|up          key k (0..59) pressed or released
//   <block> encoder <e> turn <n>     encoder e (0..31) turned n detents
//                                    (negative: the other way)
//   <block> encoder <e> push         pushed and let go 8 blocks later
//   <block> encoder <e> push down|up pushed or let go
//   <block> track <t> down|up        track-select button t (1..5, the
//                                    tracks as the screen numbers them)
//
// <block> is the number of the block (from 0 at the start of the run) in
// which the event happens. Blank lines and text after '#' are ignored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

struct PanelEvent {
    enum Kind : uint8_t { KeyDown, KeyUp, EncoderTurn, PushDown, PushUp, TrackDown, TrackUp };
    uint64_t block = 0;
    Kind kind = KeyDown;
    uint32_t index = 0;   // key, encoder or track button (0..4)
    int32_t detents = 0;  // EncoderTurn
};

// Parses a whole script; events come out ordered by block, in file order
// within a block. On a bad line nothing is returned and `error` names the
// line and what is wrong with it.
bool parsePanelScript(const std::string& text, std::vector<PanelEvent>& events, std::string& error);
bool loadPanelScript(const std::string& path, std::vector<PanelEvent>& events, std::string& error);

}  // namespace host
