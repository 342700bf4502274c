// The track the panel edits, and whether its effect chain lets the focus
// move (no chain edit in progress, the chain not busy). Shared by the block
// loop and the interface task.
#pragma once

#include "effects/EffectChain.h"
#include "gui/GuiEditor.h"
#include "instrument/track/Track.h"

#include <algorithm>

inline Track& panelTrack() {
    return DSP::track[std::min<uint32_t>(GUI::currentTrack.load(std::memory_order_relaxed), Track::kTracks - 1)];
}

inline bool chainLetsFocusMove(Track& track) {
    return track.effectChain.mode.load(std::memory_order_acquire) == EffectChain::Idle &&
           !track.effectChain.busy.load(std::memory_order_acquire);
}
