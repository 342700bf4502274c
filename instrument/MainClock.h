// The instrument's tempo source: its own tempo, pulses on the clock input
// jack or MIDI clock, turned into a per-frame beat phase that every track's
// sequencer reads. For an external source it is a phase-locked follower:
// it measures the time between ticks, smooths it and corrects its tempo by
// the phase error, so its beat stays on the incoming ticks.
//
// Threads: the audio thread runs everything but setClockSource (interface
// task, from the instrument's apply callback), which only posts a request
// that process applies at the start of the next block. The interface task
// reads the running flag and the beat phase.
#pragma once

#include "connectivity/MidiMessage.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterGroup.h"
#include "parameters/ParameterInt.h"

#include <atomic>
#include <cstdint>

struct BelaContext;
class MIDI;

class MainClock {
public:
    enum Source : uint32_t { Internal = 0, SyncIn = 1, MidiIn = 2 };
    enum SyncStartStop : int32_t { Manual = 0, Automatic = 1 };

    static constexpr float kSampleRate = 48000.0f;
    static constexpr uint32_t kMidiTicksPerBeat = 24;
    static constexpr float kExternalMinimumBpm = 10.0f;
    static constexpr uint32_t kClockInPin = 3;   // active low
    static constexpr uint32_t kResetInPin = 4;   // active low
    static constexpr uint32_t kPulseFrames = 4;  // clock-out pulse length
    // Six tick periods in frames: 6 x 48000 x period.
    static constexpr float kStopPeriods = 288000.0f;

    MainClock();
    MainClock(const MainClock&) = delete;
    MainClock& operator=(const MainClock&) = delete;

    // Audio thread, once per block: fills phase[0..frames) and returns true
    // when a beat edge fell in this block. context may be null (no pins).
    bool process(float* phase, uint32_t frames, const BelaContext* context);
    bool takeResetRequest();
    bool isRunning() const { return running.load(std::memory_order_acquire); }
    // True when the message is one of the four clock kinds (then consumed).
    bool midiIn(const MidiMessage& message);
    // The start/stop key; returns the running flag after the change.
    bool toggleStartStop(bool restart);
    void start(bool restart);
    void stop(bool resetClock);
    void reset();
    void externalTick();
    // Any thread: applies "clock source" and the tick rate at the start of
    // the next block (at once on the audio thread itself).
    void setClockSource();
    // Fills out1 with the clock-out pulses of the block; out2 stays as given.
    void clockOutPulses(const float* phase, float* out1, float* out2, uint32_t frames);

    // Where MIDI clock, start, continue and stop go; Driver::dinMIDI unless set.
    void setMidiOut(MIDI* port) { midiOut_ = port; }
    // The instrument's idle counter, cleared by external ticks; none when null.
    void setIdleCounter(std::atomic<uint32_t>* counter) { idleCounter_ = counter; }

    // Readers for pages and tempo-synced modulators.
    double beatPhase() const { return currentPhase.load(std::memory_order_relaxed); }
    double tempoBeats() const { return tempoCounter.load(std::memory_order_relaxed); }
    uint32_t source() const { return source_; }

    static constexpr const char* kGroupName = "clock";

    ParameterFloat bpm;
    ParameterInt autoReset;
    ParameterInt clockSource;
    ParameterInt midiStartStop;
    ParameterInt syncInPpqn;
    ParameterInt syncInStartStop;
    ParameterInt midiClockOut;
    ParameterInt syncOut;
    ParameterInt syncOutPpqn;
    ParameterGroup parameterGroup;
    MidiMessageFilter filter;

    // Clock state (audio thread unless noted).
    uint32_t ticksPerBeat = 4;
    uint32_t source_ = Internal;
    uint32_t appliedSource = Internal;
    double accumulator = 0.0;
    std::atomic<double> currentPhase{0.0};  // read by the pages
    double previousPhase = 0.0;
    std::atomic<double> tempoCounter{0.0};  // read by tempo-synced modulators
    std::atomic<bool> resetRequest{false};
    std::atomic<bool> running{false};       // read by the pages
    bool armed = false;
    double expectedTickPosition = 0.0;
    int64_t tickCount = 0;
    bool firstTick = false;
    uint32_t framesSinceTick = 100;
    float smoothComplement = 1.0f;  // 1 - e
    float smoothCoefficient = 0.0f; // e
    float tickPeriod = 0.0f;
    float targetTickPeriod = 0.2f;
    float stopPeriod = 0.2f;
    float measuredTempo = 120.0f;
    float phaseError = 0.0f;
    bool lastClockLow = false;
    bool lastResetLow = false;
    uint32_t pulseLeft = 0;
    float previousPulsePhase = 0.0f;
    uint32_t pulseLength = kPulseFrames;
    float previousMidiPhase = 0.0f;

private:
    void _applyClockSource();
    // 60 / (ticks per beat x BPM), the BPM never below the external minimum.
    float _tickPeriodFromTempo() const;
    bool _sendsMidiClock() const;
    void _send(int kind);
    float _tempoHz() const { return bpm.converted; }

    std::atomic<bool> sourceRequest_{false};
    MIDI* midiOut_ = nullptr;
    std::atomic<uint32_t>* idleCounter_ = nullptr;
};

namespace DSP {
extern MainClock mainClock;
}
