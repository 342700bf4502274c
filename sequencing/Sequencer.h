// The per-track sequencer: its shared parameters, and the main clock's beat
// phase turned into ticks.
#pragma once

#include "instrument/NoteEvent.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterGroup.h"
#include "parameters/ParameterInt.h"

#include <cstdint>

class MonoGFX;
class NoteManager;
class PitchScaleManager;
class SynthVoiceCommon;

// What the sequencer reaches of the instrument around it.
struct SequencerLinks {
    NoteScheduler* scheduler = nullptr;     // the voice manager
    const ParameterFloat* tempo = nullptr;  // the main clock's "BPM"
    const NoteManager* notes = nullptr;     // DSP::noteManager when null
    const PitchScaleManager* scales = nullptr;  // DSP::scaleManager when null
};

class Sequencer {
public:
    static constexpr uint32_t kSampleRate = 48000;
    static constexpr int32_t kPatternSlots = 25;

    Sequencer();
    virtual ~Sequencer() = default;
    Sequencer(const Sequencer&) = delete;
    Sequencer& operator=(const Sequencer&) = delete;

    virtual void button(int index, int event) {}
    // The sequencer's view on the track page; the pages draw it.
    virtual void draw(MonoGFX& gfx, int index, int control) {}
    virtual void liveNote(SynthVoiceCommon* engine, int32_t degree, int32_t octave, float dbfs, uint32_t id,
                          uint32_t extra) {}
    // Once per block after the clocking, with the track's current engine.
    virtual void process(SynthVoiceCommon* engine) = 0;
    virtual bool isSlotUsed(int32_t slot) const = 0;
    virtual void reset(uint32_t tick) = 0;

    // Per block, in this order, for all five tracks.
    bool clockTick(const float* phase, uint32_t frames);
    bool resetDue() const;
    void advanceTick(bool resetFlag);

    void setLinks(const SequencerLinks& links);
    const SequencerLinks& links() const { return links_; }

    ParameterGroup group{"sequencer"};
    ParameterInt clockMult{"clock mult", ParameterInt::Multiplicative, Stored | MultiSlot, 8, 1, 64};
    ParameterFloat chance{"chance", ParameterFloat::Percent, Stored | MultiSlot, 0.0f, -1.0f, 1.0f};
    ParameterInt seqReset{"seq reset", ParameterInt::Multiplicative, Stored | MultiSlot, 0, 0};
    ParameterInt start{"start", ParameterInt::PlainInt, Stored | MultiSlot, 0, 0};
    ParameterInt length{"length", ParameterInt::PlainInt, Stored | MultiSlot, 0, 0};
    ParameterInt resetBy{"reset by", ParameterInt::ChoiceMode, Stored, 0};
    ParameterInt noteList{"note list", ParameterInt::PlainInt, Stored, 0, 0, 24};
    ParameterInt pattern{"pattern", ParameterInt::PlainInt, Stored, 0, 0, 24};
    ParameterInt slotSwitching{"slot switching", ParameterInt::ChoiceMode, Stored, 0};
    ParameterInt resetOnSwitch{"reset on switch", ParameterInt::ChoiceMode, Stored, 0};
    ParameterInt touchpadMode{"touchpad mode", ParameterInt::ChoiceMode, Stored, 0};
    ParameterInt chordMode{"chord mode", ParameterInt::ChoiceMode, Stored, 0};
    ParameterInt slideAllNotes{"slide all notes", ParameterInt::ChoiceMode, Stored, 0};
    ParameterInt swingTicks{"swing ticks", ParameterInt::Multiplicative, Stored, 4, 2, 64};

    uint8_t resetPending = 0;
    uint32_t trackIndex = 0;
    uint32_t tickCounter = 0;
    uint8_t ticked = 0;
    float lastPhase = 0.0f;
    uint8_t gate = 0;

protected:
    const NoteManager& _notes() const;
    const PitchScaleManager& _scales() const;

    SequencerLinks links_;
};
