// Track: the per-block work: following "synthesis", the engine's parameter
// update, the XY morph and the pattern and note-list switches.
#include "instrument/track/Track.h"

#include "platform/Audio.h"

#include <string>

void Track::applySynthesis() {
    if (Bela_isAudioThread()) {
        _applySynthesis(true);
        return;
    }
    // A loader switching the engine: the audio thread keeps off the track
    // until the switch is complete.
    BusySection busy(*this);
    _applySynthesis(false);
}

void Track::_applySynthesis(bool audio) {
    const auto choices = synthesis.choiceList.rt();
    const int32_t v = synthesis.value;
    if (!choices || v < 0 || size_t(v) >= choices->names.size())
        return;
    // Assigning within the reserved capacity: no allocation here.
    engineName.assign(choices->names[size_t(v)]);
    SynthVoiceCommon* next = engineForName(engineName);
    if (!next)
        return;
    engine.store(next, std::memory_order_release);
    encoderParameters[2] = &next->slide;
    encoderParameters[3] = &next->polyphony;
    settingsPages.setExtraGroup(&next->settingsGroup);
    if (audio)
        slotRefreshRequested_.store(true, std::memory_order_release);
    else
        refreshSlotChoices();
}

void Track::blockUpdate() {
    if (isBusy())
        return;
    const auto choices = synthesis.choiceList.rt();
    const int32_t v = synthesis.value;
    if (choices && v >= 0 && size_t(v) < choices->names.size() && choices->names[size_t(v)] != engineName)
        _applySynthesis(true);
    currentEngine()->updateBlock();
}

void Track::engineTick() {
    if (isBusy())
        return;
    SynthVoiceCommon* e = currentEngine();
    sequencerImpl.gate = motionRecorder.touched ? 1 : 0;
    const float x = motionRecorder.x, y = motionRecorder.y;
    e->morphXY(x, y);
    e->controlTick();
    // Skipped while the chain is busy: the effects keep their values.
    effectChain.morphXY(x, y);
}

void Track::selectPattern(int32_t slotIndex, bool force) {
    if (sequencerImpl.slotSwitching.value != Direct && !force) {
        pendingPattern.store(slotIndex, std::memory_order_relaxed);
        return;
    }
    const int32_t p = sequencerImpl.pattern.setValue(slotIndex, false);
    sequencerImpl.group.selectSlot(unsigned(p));
    currentEngine()->parameters.selectSlot(unsigned(p));
}

void Track::selectNoteList(int32_t slotIndex, bool force) {
    if (sequencerImpl.slotSwitching.value != Direct && !force) {
        pendingNoteList.store(slotIndex, std::memory_order_relaxed);
        return;
    }
    sequencerImpl.noteList.setValue(slotIndex, false);
}

void Track::copyPattern(int32_t target) {
    if (target < 0)
        return;
    const unsigned p = unsigned(sequencerImpl.pattern.value);
    sequencerImpl.group.copySlot(p, unsigned(target));
    currentEngine()->parameters.copySlot(p, unsigned(target));
}

bool Track::applyPendingSlots() {
    bool resetDue = false;
    const int32_t pattern = pendingPattern.exchange(-1, std::memory_order_relaxed);
    if (pattern >= 0) {
        selectPattern(pattern, true);
        resetDue = sequencerImpl.resetOnSwitch.value != 0;
    }
    const int32_t list = pendingNoteList.exchange(-1, std::memory_order_relaxed);
    if (list >= 0)
        selectNoteList(list, true);
    return resetDue;
}

bool Track::onClockEdge() {
    if (sequencerImpl.slotSwitching.value != OnNextBeat)
        return false;
    return applyPendingSlots();
}

void Track::onSequencerReset() {
    if (sequencerImpl.slotSwitching.value == OnSeqReset)
        applyPendingSlots();
    panelNoteCounter = 0;
    midiNoteCounter = 0;
}
