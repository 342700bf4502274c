// Track: panel input while no editor page is open: encoders, keys and the
// request that opens the parameter action menu.
#include "instrument/track/Track.h"

#include "drivers/KeyDebouncer.h"
#include "engines/SynthEngineType.h"
#include "gui/GuiNotify.h"
#include "samples/SamplePool.h"
#include "sequencing/NoteManager.h"

#include <algorithm>

namespace Driver {
extern GuiNotify guiNotify;
}

namespace {

constexpr int kShiftKey = 0;
constexpr int kCancelKey = 2;
constexpr int kConfirmKey = 3;
constexpr int kOctaveDownKey = 25;
constexpr int kOctaveUpKey = 26;
constexpr int kFirstNoteKey = 27;
constexpr int kLastNoteKey = 51;
constexpr int kSlotKeys[] = {4, 9, 14, 19};
constexpr int kFirstSnapshotKey = 52;
constexpr unsigned kSnapshotOfKey[] = {2, 0, 3, 1};  // keys 52..55
constexpr int kResetSnapshotsKey = 56;
constexpr int kClearOverridesKey = 57;
constexpr int kRepeat = 3;

bool shiftHeld() { return Key::key[kShiftKey].held(); }

}  // namespace

Parameter* Track::encoderParameter(int i) {
    if (i >= 0 && i < int(kEncoderPlaces))
        return i == int(kLaneChoiceEncoder) ? nullptr : encoderParameters[size_t(i)].load(std::memory_order_acquire);
    if (i < int(kFirstEngineEncoder) || i >= 32)
        return nullptr;
    if (effectPageShown.load(std::memory_order_acquire))
        return effectChain.getParameter(i);
    SynthVoiceCommon* e = currentEngine();
    const uint32_t n = e->envSlots();
    const int32_t s = slot.value;
    if (i >= int(kFirstModulatorEncoder) && s >= 0 && uint32_t(s) >= n)
        return modulation.encoderParameter(uint32_t(s) - n, uint32_t(i));
    if (i == int(kSlotEncoder))
        return nullptr;
    return e->exposedParameters[size_t(i) - kFirstEngineEncoder].load(std::memory_order_acquire);
}

bool Track::_changeAllLanes(int i, int delta, bool pushed) {
    const bool floatKind = i == 14 || i == 15;
    Parameter& carrier = floatKind ? static_cast<Parameter&>(allLanesFloatStep) : allLanesStep;
    if (!carrier.changeBy(delta, pushed, false))
        return false;
    focus = uint32_t(i);
    for (PulseLane& lane : sequencerImpl.lanes) {
        Parameter* p = nullptr;
        switch (i) {
        case 8: p = &lane.interval; break;
        case 9: p = &lane.offset; break;
        case 10: p = &lane.octave; break;
        case 11: p = &lane.reset; break;
        case 13: p = &lane.noteSel; break;
        case 14: p = &lane.randTime; break;
        default: p = &lane.swing; break;
        }
        p->changeBy(delta, pushed, true);
    }
    return true;
}

bool Track::_changeAllEnvelopes(int i, int delta, bool pushed, SynthVoiceCommon& e) {
    // The FM engine has no hold.
    if (i == 30 && e.engineType == EngineFM)
        return false;
    if (!allLanesFloatStep.changeBy(delta, pushed, false))
        return false;
    focus = uint32_t(i);
    for (uint32_t k = 0; k < SynthVoiceCommon::kEnvelopeBanks; ++k) {
        ParameterFloat& p = i == 29 ? e.envAttack[k] : (i == 30 ? e.envHold[k] : e.envDecay[k]);
        p.changeBy(delta, pushed, true);
    }
    return true;
}

bool Track::encoder(int i, int delta, bool pushed) {
    if (isBusy())
        return false;
    if (effectChain.editorMode() != EffectChain::Idle || effectChain.isBusy()) {
        const bool changed = effectChain.encoder(i, delta, pushed);
        if (changed)
            focus = uint32_t(kFirstEngineEncoder + 4 * uint32_t(std::max<int32_t>(0, effectChain.position.value)));
        return changed;
    }
    if (i >= 0 && i < int(kEncoderPlaces)) {
        Parameter* p = encoderParameters[size_t(i)].load(std::memory_order_acquire);
        if (!p)
            return false;
        if (shiftHeld() && ((i >= 8 && i <= 11) || (i >= 13 && i <= 15)))
            return _changeAllLanes(i, delta, pushed);
        const bool changed = p->changeBy(delta, pushed, false);
        if (changed)
            focus = uint32_t(i);
        if (i == int(kLaneChoiceEncoder))
            sequencerImpl.bindLaneParameters(encoderParameters);
        return changed;
    }
    if (i >= 32 || i < 0)
        return false;
    if (effectPageShown.load(std::memory_order_acquire)) {
        const bool changed = effectChain.encoder(i, delta, pushed);
        if (changed)
            focus = uint32_t(i);
        return changed;
    }
    SynthVoiceCommon& e = *currentEngine();
    if (i == int(kSlotEncoder)) {
        const bool changed = slot.changeBy(delta, pushed, false);
        // Encoders 29..31 and the cells follow the newly chosen envelope.
        if (changed)
            _selectEnvSlotIfEnvelope();
        return changed;
    }
    auto changeEngineParameter = [&]() {
        Parameter* p = e.exposedParameters[size_t(i) - kFirstEngineEncoder].load(std::memory_order_acquire);
        if (!p || !p->changeBy(delta, pushed, false))
            return false;
        focus = uint32_t(i);
        e.controlTick();
        return true;
    };
    if (i < int(kFirstModulatorEncoder))
        return changeEngineParameter();
    const int32_t s = slot.value;
    const uint32_t n = e.envSlots();
    if (s >= 0 && uint32_t(s) >= n) {
        const uint32_t m = uint32_t(s) - n;
        if (m >= modulation.size())
            return false;
        const bool changed = modulation.changeParameter(m, uint32_t(i) - kFirstModulatorEncoder, delta, pushed);
        if (changed)
            focus = uint32_t(i);
        return changed;
    }
    if (!shiftHeld())
        return changeEngineParameter();
    return _changeAllEnvelopes(i, delta, pushed, e);
}

void Track::button(int key, int event, bool noEditor) {
    if (event == kRepeat || isBusy())
        return;
    SynthVoiceCommon& e = *currentEngine();

    if (key == kShiftKey) {
        allLanesStep.resetToDefault();
        allLanesFloatStep.resetToDefault();
    } else if (key == kCancelKey) {
        uint32_t learning = MenuLearn;
        menuState.compare_exchange_strong(learning, MenuIdle, std::memory_order_acq_rel);
    } else if (key == kConfirmKey) {
        if (menuState.load(std::memory_order_acquire) == MenuLearn) {
            const MidiMappingKey k = learnedKey.load();
            if (k.channel == -1 || (k.cc == -1 && k.note == -1)) {
                Driver::guiNotify.info("Send a MIDI CC or note to the Corvane to map");
            } else {
                // Capture stops here: what the player saw is what is mapped.
                uint32_t learning = MenuLearn;
                if (menuState.compare_exchange_strong(learning, MenuLearnConfirmed, std::memory_order_acq_rel))
                    learnConfirmed.store(true, std::memory_order_release);
            }
        }
    } else if (key == kOctaveDownKey || key == kOctaveUpKey) {
        if (!noEditor)
            return;
        ParameterInt& octave = DSP::noteManager.keyboardOctave;
        octave.setValue(octave.value + (key == kOctaveUpKey ? 1 : -1), false);
        DSP::noteManager.changed.store(true, std::memory_order_release);
    } else if (key >= kFirstNoteKey && key <= kLastNoteKey) {
        const bool slotKeyHeld = std::any_of(std::begin(kSlotKeys), std::end(kSlotKeys),
                                             [](int k) { return Key::key[size_t(k)].held(); });
        if (!slotKeyHeld) {
            const int32_t degree = key - kFirstNoteKey;
            const int32_t octave = DSP::noteManager.keyboardOctave.value;
            SamplePool* pool = DSP::samplePool.load(std::memory_order_acquire);
            const bool poolOpen = pool && pool->isOpen();
            const int32_t entry = poolOpen ? pool->selectedEntryIndex() : -1;
            if (poolOpen && entry >= 0) {
                sequencer->liveNote(&e, degree, octave, kLiveNoteLevel, uint32_t(entry), 0);
            } else if (!poolOpen && noEditor) {
                sequencer->liveNote(&e, degree, octave, kLiveNoteLevel, panelNoteCounter, 0);
                ++panelNoteCounter;
            } else {
                return;
            }
        }
    } else if (key >= kFirstSnapshotKey && key < kFirstSnapshotKey + 4) {
        const unsigned snapshot = kSnapshotOfKey[key - kFirstSnapshotKey];
        e.storeSnapshot(snapshot);
        effectChain.storeSnapshot(snapshot);  // skipped while the chain is busy
    } else if (key == kResetSnapshotsKey) {
        e.resetSnapshots();
        effectChain.resetSnapshots();
    } else if (key == kClearOverridesKey) {
        const uint32_t f = focus;
        if (!shiftHeld()) {
            e.clearOverrides(-1);
            effectChain.clearOverrides(-1);
        } else if (f >= kFirstEngineEncoder) {
            if (effectPageShown.load(std::memory_order_acquire))
                effectChain.clearOverrides(int(f));
            else
                e.clearOverrides(int32_t(f - kFirstEngineEncoder));
        }
    }

    if (!noEditor)
        return;
    const uint32_t f = focus;
    if (f < kFirstEngineEncoder) {
        sequencer->button(key, event);
    } else if (effectPageShown.load(std::memory_order_acquire)) {
        effectChain.button(key, event, int(f - kFirstEngineEncoder) / 4);
    } else if (f >= kSlotEncoder && slotSelectsModulator()) {
        modulation.buttonPressed(uint32_t(slot.value) - e.envSlots(), key);
    } else {
        e.handleAction(key, event);
    }
    if (motionRecorder.button(key, event))
        focus = kFirstEngineEncoder;
}

void Track::openParameterMenu(int i) {
    // One flow at a time: a menu keeps its parameter until its flow ends.
    if (menuState.load(std::memory_order_acquire) != MenuIdle)
        return;
    if (!encoderParameter(i))
        return;
    menuEncoder.store(i, std::memory_order_relaxed);
    // The list is built and opened by the interface task (it allocates).
    menuRequest_.store(i, std::memory_order_release);
}
