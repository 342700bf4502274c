#include "sequencing/Sequencer.h"

#include "sequencing/NoteManager.h"
#include "sequencing/PitchScale.h"

#include <cmath>

namespace {
// Functions, not namespace-scope objects: the tracks are built by the
// static initialisers, maybe before this file's objects.
const std::vector<std::string>& slotSwitchingNames() {
    static const std::vector<std::string> names = {"direct", "on next beat", "on seq reset"};
    return names;
}
const std::vector<std::string>& touchpadModeNames() {
    static const std::vector<std::string> names = {"normal", "sequencer gate"};
    return names;
}
const std::vector<std::string>& chordModeNames() {
    static const std::vector<std::string> names = {"chord", "lowest note", "random note"};
    return names;
}
}  // namespace

Sequencer::Sequencer() {
    slotSwitching.setChoices(slotSwitchingNames(), 0);
    touchpadMode.setChoices(touchpadModeNames(), 0);
    chordMode.setChoices(chordModeNames(), 0);
    // The group's order is the order of its listing and of its JSON.
    for (Parameter* p : {static_cast<Parameter*>(&clockMult), static_cast<Parameter*>(&seqReset),
                         static_cast<Parameter*>(&resetBy), static_cast<Parameter*>(&start),
                         static_cast<Parameter*>(&length), static_cast<Parameter*>(&chance),
                         static_cast<Parameter*>(&noteList), static_cast<Parameter*>(&pattern),
                         static_cast<Parameter*>(&slotSwitching), static_cast<Parameter*>(&resetOnSwitch),
                         static_cast<Parameter*>(&touchpadMode), static_cast<Parameter*>(&chordMode),
                         static_cast<Parameter*>(&slideAllNotes), static_cast<Parameter*>(&swingTicks)})
        group.add(p);
}

bool Sequencer::clockTick(const float* phase, uint32_t frames) {
    ticked = 0;
    if (frames == 0 || !phase)
        return false;
    const float multiplier = float(clockMult.values[clockMult.activeSlot]);
    float previous = lastPhase;
    bool tick = false;
    for (uint32_t i = 0; i < frames; ++i) {
        const float p = phase[i] * multiplier;
        const float f = p - std::trunc(p);
        if (previous - f > 0.9f)
            tick = true;
        previous = f;
    }
    lastPhase = previous;
    ticked = tick ? 1 : 0;
    return tick;
}

bool Sequencer::resetDue() const {
    if (!ticked)
        return false;
    const int64_t period = seqReset.values[seqReset.activeSlot];
    if (period == 0)
        return false;
    return (int64_t(tickCounter) + 1) % period == 0;
}

void Sequencer::advanceTick(bool resetFlag) {
    if (!ticked)
        return;
    if (resetFlag)
        reset(0);
    else
        ++tickCounter;
}

void Sequencer::setLinks(const SequencerLinks& links) { links_ = links; }

const NoteManager& Sequencer::_notes() const { return links_.notes ? *links_.notes : DSP::noteManager; }

const PitchScaleManager& Sequencer::_scales() const { return links_.scales ? *links_.scales : DSP::scaleManager; }
