// One of the five tracks: its parameters (MIDI input, name, engine choice,
// audio-input routing), one object of every engine class of which one is
// active, its sequencer, motion recorder, modulators, effect chain, MIDI
// filters and settings page. Everything is a member held by value; only
// effects and modulators live on the heap, behind shared pointers.
//
// Threads:
// - The audio thread runs the per-block work (TrackBlock.cpp), MIDI input
//   (TrackMidi.cpp) and the panel handlers (TrackPanel.cpp).
// - The interface task draws the page, completes the parameter menu
//   (TrackPage.cpp) and carries out what the audio thread asks for through
//   fixed-size requests (serviceRequests): slot-choice rebuilds and menus,
//   which allocate.
// - A loader or engine switch from another thread holds a BusySection: the
//   audio thread skips the track's work while it is set.
#pragma once

#include "effects/EffectChain.h"
#include "engines/additive/AdditiveCommon.h"
#include "engines/fm/FMCommon.h"
#include "engines/granular/GranularCommon.h"
#include "engines/modular/ModularCommon.h"
#include "engines/none/NoneCommon.h"
#include "engines/quad/QuadEngineCommon.h"
#include "engines/resonator/ResonatorCommon.h"
#include "engines/subtractive/SubtractiveCommon.h"
#include "connectivity/MidiMessage.h"
#include "instrument/Settings.h"
#include "parameters/ModulationManager.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterGroup.h"
#include "parameters/ParameterInt.h"
#include "parameters/ParameterString.h"
#include "sequencing/Corvane.h"
#include "sequencing/MotionRecorder.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class MainClock;
class MonoGFX;
class NoteScheduler;
class AudioEffect;

// A MIDI-learn capture published as one word, so the page never reads the
// channel of one message with the controller of another.
class AtomicMidiKey {
public:
    AtomicMidiKey() { store(MidiMappingKey{}); }
    void store(const MidiMappingKey& key) { word_.store(_pack(key), std::memory_order_release); }
    MidiMappingKey load() const { return _unpack(word_.load(std::memory_order_acquire)); }

private:
    static uint64_t _pack(const MidiMappingKey& k) {
        return uint64_t(uint16_t(int16_t(k.channel))) | (uint64_t(uint16_t(int16_t(k.cc))) << 16) |
               (uint64_t(uint16_t(int16_t(k.note))) << 32);
    }
    static MidiMappingKey _unpack(uint64_t w) {
        MidiMappingKey k;
        k.channel = int16_t(uint16_t(w));
        k.cc = int16_t(uint16_t(w >> 16));
        k.note = int16_t(uint16_t(w >> 32));
        return k;
    }
    std::atomic<uint64_t> word_{0};
};

class Track {
public:
    static constexpr uint32_t kTracks = 5;
    static constexpr uint32_t kEncoderPlaces = 16;
    static constexpr uint32_t kFirstEngineEncoder = 16;
    static constexpr uint32_t kLaneChoiceEncoder = 12;
    static constexpr uint32_t kSlotEncoder = 28;
    static constexpr uint32_t kFirstModulatorEncoder = 29;
    static constexpr uint32_t kStartFocus = 12;
    static constexpr float kLiveNoteLevel = -6.0f;

    enum MenuState : uint32_t {
        MenuIdle = 0,
        MenuActions = 1,          // the action list is open
        MenuAddModulator = 2,     // the modulator-type list is open
        MenuRemoveModulator = 3,  // the remove-modulator list is open
        MenuLearn = 4,            // waiting for a MIDI message to map
        MenuLearnConfirmed = 5,   // confirmed: capture stopped, the page maps it
    };
    enum SlotSwitching : int32_t { Direct = 0, OnNextBeat = 1, OnSeqReset = 2 };

    // Holds the track busy while another thread changes it (engine switch,
    // part load): sets the flag, waits out the audio block in progress and
    // clears the flag when it goes. Sections nest in one thread; those of
    // two threads run one after the other.
    class BusySection {
    public:
        explicit BusySection(Track& track);
        ~BusySection();
        BusySection(const BusySection&) = delete;
        BusySection& operator=(const BusySection&) = delete;

    private:
        Track& track_;
    };

    Track(uint32_t index, MainClock* mainClock);
    ~Track();
    Track(const Track&) = delete;
    Track& operator=(const Track&) = delete;

    // Set-up that needs the running system; once per track, in order.
    void setup();
    // Where the track's notes go (the voice manager); set before audio runs.
    void setNoteScheduler(NoteScheduler* scheduler);

    // Resets used by the project and part-file readers.
    void resetSynthesis(bool all);
    void resetSequencer();
    void resetEffects(bool addDefault);
    // The effect a reset chain holds.
    AudioEffectType defaultEffectType() const;
    // The after-load refresh: rebuilds the "slot" choices (interface task or
    // loader only) and returns their number; also rebuilds the MIDI filter.
    uint32_t refreshSlotChoices();
    // Interface task, every run, for every track: carries out what the
    // audio thread asked for (slot-choice rebuild, parameter menu).
    void serviceRequests();

    // Per-block work (audio thread).
    // Points `engine` at the engine that "synthesis" names. From another
    // thread it holds the track busy meanwhile.
    void applySynthesis();
    void blockUpdate();
    void engineTick();
    void selectPattern(int32_t slot, bool force);
    void selectNoteList(int32_t slot, bool force);
    void copyPattern(int32_t target);
    bool applyPendingSlots();
    bool onClockEdge();
    void onSequencerReset();

    // MIDI input (audio thread) and its filter (interface task).
    void midiIn(const MidiMessage& message);
    void configureMidiFilter();

    // Panel input (audio thread) and page (interface task).
    Parameter* encoderParameter(int i);
    bool encoder(int i, int delta, bool pushed);
    void button(int key, int event, bool noEditor);
    void openParameterMenu(int i);
    void draw(MonoGFX& window);

    bool isBusy() const { return busyDepth_.load(std::memory_order_seq_cst) != 0; }
    SynthVoiceCommon* currentEngine() const { return engine.load(std::memory_order_acquire); }
    // The engine object of a "synthesis" name; null for a name of none.
    SynthVoiceCommon* engineForName(const std::string& name);
    // The engine object of an engine type; the "none" engine for a type
    // whose engine this track does not hold.
    SynthVoiceCommon* engineForType(uint32_t type);
    // The engine objects, "none" first.
    std::array<SynthVoiceCommon*, 8> engines() {
        return {&noneCommon,        &fmCommon,   &additiveCommon, &resonatorCommon,
                &subtractiveCommon, &quadCommon, &granularCommon, &modularCommon};
    }
    // The parameter the open menu acts on; null when none (interface task).
    Parameter* menuParameter() const { return menuParameter_; }
    bool slotSelectsModulator() const;

    static constexpr const char* kGroupName = "track";

    std::array<std::atomic<Parameter*>, kEncoderPlaces> encoderParameters{};
    Settings settingsPages;
    ParameterInt midiNoteIn;
    ParameterInt midiInChannel;
    ParameterInt midiInLowest;
    ParameterInt midiInHighest;
    ParameterInt midiInTranspose;
    ParameterString nameParameter;
    ParameterInt synthesis;
    std::array<ParameterInt, 4> inputRouting;
    ParameterGroup parameterGroup;
    std::atomic<SynthVoiceCommon*> engine{nullptr};
    Sequencer* sequencer = nullptr;
    MotionRecorder motionRecorder;
    ModulationManager modulation;
    std::atomic<uint32_t> focus{kStartFocus};
    uint32_t index = 0;
    std::atomic<uint32_t> menuState{MenuIdle};
    Corvane sequencerImpl;
    uint32_t panelNoteCounter = 0;
    uint32_t midiNoteCounter = 0;
    std::string engineName;
    NoneCommon noneCommon;
    FMCommon fmCommon;
    AdditiveCommon additiveCommon;
    ResonatorCommon resonatorCommon;
    SubtractiveCommon subtractiveCommon;
    QuadEngineCommon quadCommon;
    GranularCommon granularCommon;
    ModularCommon modularCommon;
    EffectChain effectChain;
    MidiMessageFilter midiInFilter;
    MidiMessageFilter midiLearnFilter;
    AtomicMidiKey learnedKey;
    std::atomic<bool> learnConfirmed{false};
    std::atomic<int32_t> pendingPattern{-1};
    std::atomic<int32_t> pendingNoteList{-1};
    std::atomic<int32_t> menuEncoder{0};
    std::atomic<bool> effectPageShown{false};
    MonoGFX* window = nullptr;
    uint32_t envelopeCellWidth = 47;
    uint32_t envelopeLeft = 67;
    ParameterInt slot;
    ParameterInt allLanesStep;
    ParameterFloat allLanesFloatStep;

private:
    friend class BusySection;

    // With audio set the slot choices are only requested (the audio thread
    // never allocates); otherwise rebuilt at once.
    void _applySynthesis(bool audio);
    void _insertDefaultEffect();
    void _selectEnvSlotIfEnvelope();
    // Menu flows of the page (interface task).
    void _runMenuFlows();
    void _openMenuList(int i);
    void _endMenu();
    // True when a load or chain edit took away the menu's target; `hold`
    // keeps a modulator target alive meanwhile.
    bool _menuTargetGone(std::shared_ptr<Modulator>& hold);
    // True when the chain's effects are not those of the last draw.
    bool _chainChanged();
    void _drawArea(MonoGFX& window);
    void _drawEnvelopeGraph(MonoGFX& window, SynthVoiceCommon& e);
    void _drawCell(MonoGFX& window, uint32_t cell, Parameter* p, uint32_t encoderIndex);
    bool _changeAllLanes(int i, int delta, bool pushed);
    bool _changeAllEnvelopes(int i, int delta, bool pushed, SynthVoiceCommon& e);

    MainClock* mainClock_ = nullptr;
    std::atomic<int32_t> busyDepth_{0};
    std::recursive_mutex changeLock_;
    std::atomic<bool> slotRefreshRequested_{false};
    std::atomic<int32_t> menuRequest_{-1};
    // Interface task only: what the open menu acts on, kept until its flow
    // ends; the effect stays alive while its parameter is the target.
    Parameter* menuParameter_ = nullptr;
    std::shared_ptr<AudioEffect> menuEffect_;
    // When the target is a modulator's: that modulator, which a load may
    // free; the flow then ends.
    std::weak_ptr<Modulator> menuModulator_;
    bool menuOnModulator_ = false;
    // Interface task: the chain's effects at the last draw; a change drops
    // the modulators of removed effects.
    std::vector<std::weak_ptr<AudioEffect>> lastChain_;
};

namespace DSP {
extern Track track[Track::kTracks];
}
