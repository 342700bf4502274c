// The factory self test: an editor page that walks an assembler through ten
// hardware checks one after the other (keys, touchpads, one LED, encoders,
// gate loopback, mixer board, audio loopback, MIDI loopback, display, LED
// dimming), marks each check that passes and announces it.
//
// Threads: the audio thread owns the test state. encoder, button,
// processBlock and midiReceived run there; draw and ledLevels run on the
// interface task, which evaluates the touchpad and mixer checks while it
// draws and posts a "passed" word that the next block applies, and carries
// out the touchpad recalibration the audio thread asks for. open and close
// come from the interface task through the focus calls.
#pragma once

#include "connectivity/MidiMessage.h"
#include "dsp/DelayLine.h"
#include "dsp/Phasor.h"
#include "gui/GuiEditor.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterInt.h"
#include "parameters/Relaxed.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <string>

class MIDI;
class MonoGFX;
struct BelaContext;

class SelfTest : public GuiEditor {
public:
    enum Test : uint32_t {
        Buttons = 0,
        Touchpads = 1,
        SingleLed = 2,
        EncoderPcb = 3,
        PulseLoopback = 4,
        MixerPcb = 5,
        AudioIo = 6,
        MidiLoopback = 7,
        Oled = 8,
        LedPwm = 9,
        Finished = 10,
    };
    static constexpr uint32_t kKeys = 60;
    static constexpr uint32_t kEncoders = 32;
    static constexpr uint32_t kPads = 5;
    static constexpr uint32_t kGates = 5;
    static constexpr uint32_t kOutputs = 8;
    static constexpr uint32_t kInputs = 4;
    static constexpr uint32_t kPots = 10;
    static constexpr uint32_t kSwitches = 5;
    static constexpr uint32_t kMarks = 5;
    static constexpr uint32_t kClockPin = 3;
    static constexpr uint32_t kResetPin = 4;
    static constexpr uint32_t kMidiPeriod = 64;
    static constexpr uint32_t kMidiBatch = 4;
    static constexpr uint32_t kMidiTarget = 100;
    static constexpr uint32_t kPulsePeriod = 8;
    static constexpr uint32_t kPulsesNeeded = 8;
    static constexpr float kToneLevel = 0.65f;
    static constexpr uint32_t kHistory = 1000;

    struct Record {
        std::string name;
    };

    SelfTest();

    // GuiEditor slots.
    void encoder(int index, int delta, bool pushed) override;
    void button(int key, int event) override;
    void open() override;
    bool close() override;
    bool isOpen() override { return state() != Finished; }
    void draw(MonoGFX& window) override;

    // With passed: marks the current check (and announces it) unless it was
    // passed before. Then the next check; after the last, the first again.
    void advance(bool passed);
    // Audio thread, once per block while a check runs. gateOutputs: the five
    // gate output levels, cleared and raised by the pulse check.
    void processBlock(BelaContext* context, uint32_t* gateOutputs);
    // Audio thread: every incoming MIDI message while a check runs.
    void midiReceived(const MidiMessage& message);
    // Interface task: the 32 encoder LED levels, cleared by the caller.
    void ledLevels(float* levels);

    uint32_t state() const { return state_.load(std::memory_order_acquire); }
    bool running() const { return state() != Finished; }
    bool passed(uint32_t test) const;
    // The port the MIDI check sends on (the DIN port unless set).
    void setMidiPort(MIDI* port) { midiPort_ = port; }

    // Read by tests and the page.
    uint32_t midiSent() const { return midiSentCount_; }
    uint32_t midiLost() const { return midiLost_; }
    uint32_t midiMatches() const { return midiMatches_; }
    bool clockConfirmed(uint32_t gate) const { return pulse_.clockOk[gate % kGates]; }
    bool resetConfirmed(uint32_t gate) const { return pulse_.resetOk[gate % kGates]; }
    bool outputConfirmed(uint32_t output) const { return audio_.outputOk[output % kOutputs]; }
    bool inputConfirmed(uint32_t input) const { return audio_.inputOk[input % kInputs]; }
    uint32_t latencyEstimate() const { return audio_.latency; }
    uint32_t baselineUpdates() const { return baselineUpdates_.load(std::memory_order_relaxed); }
    bool encoderComplete(uint32_t index) const;

    ParameterFloat testFreq;
    ParameterInt audioInput;
    ParameterInt audioOutput;
    ParameterInt ledIndex;
    ParameterInt pixelsX;
    ParameterInt pixelsY;

private:
    struct EncoderRecord {
        uint32_t plain = 0;   // 0 new, 2 in progress, 1 done
        uint32_t pushed = 0;
        int32_t lastDelta = 0;
        uint8_t lastPushed = 0;
        // Shown by the page while the audio thread counts.
        Relaxed<uint32_t> plainCw, plainCcw, pushedCw, pushedCcw;
    };
    struct PadTarget {
        float x, y;
        uint32_t status = 0;  // 0 untouched, 1 hit, 2 pad not touched now
    };
    struct PulseState {
        Relaxed<uint32_t> channel;
        uint32_t pulses = 0;
        uint32_t clockHits = 0, resetHits = 0;
        uint32_t block = 0;  // blocks into the current visit
        uint32_t clockFrames = 1u << 30, resetFrames = 1u << 30;
        Relaxed<bool> clockOk[kGates];
        Relaxed<bool> resetOk[kGates];
    };
    struct Follower {
        float rise = 25.0f, fall = 25.0f;
        Relaxed<float> level;
        void process(float x) {
            const float a = x < 0.0f ? -x : x;
            const float l = level;
            level = l + (a - l) / (a > l ? rise : fall);
        }
    };
    struct AudioState {
        Follower followers[kInputs];
        Relaxed<bool> inputOk[kInputs];
        Relaxed<bool> outputOk[kOutputs];
        bool measuring = false;
        uint32_t measureCount = 0;
        uint32_t matchCount = 0;
        uint32_t latency = 167;
        float a = 0.0f, oneMinusA = 1.0f, lp = 0.0f, lastH = 0.0f, lastTone = 0.0f;
        float peak = 0.0f, gain = 1.0f;
        uint32_t sinceInputCrossing = 0, sinceToneCrossing = 0;
        Relaxed<uint32_t> historyIndex;
        std::array<Relaxed<float>, kHistory> inputTrace{};
        std::array<Relaxed<float>, kHistory> toneTrace{};
    };

    void _setState(uint32_t s) { state_.store(s, std::memory_order_release); }
    void _encoderTest(uint32_t index, int delta, bool pushed);
    void _pulseBlock(BelaContext* context, uint32_t* gates);
    void _midiBlock();
    void _audioBlock(BelaContext* context);
    void _audioControl();
    // Interface task: the touchpad and mixer checks; true when passed.
    bool _touchpadsComplete();
    bool _mixerComplete();
    void _drawHeader(MonoGFX& w);
    void _drawButtons(MonoGFX& w);
    void _drawTouchpads(MonoGFX& w);
    void _drawEncoders(MonoGFX& w);
    void _drawPulse(MonoGFX& w);
    void _drawMixer(MonoGFX& w);
    void _drawAudio(MonoGFX& w);

    std::atomic<uint32_t> state_{Finished};
    std::map<uint32_t, Record> tests_;
    std::array<std::atomic<uint32_t>, Finished> passed_{};
    // Posted by the interface task: the check that passed, + 1; 0 none.
    std::atomic<uint32_t> passedRequest_{0};
    std::atomic<bool> baselineRequest_{false};
    std::atomic<uint32_t> baselineUpdates_{0};

    std::array<Relaxed<uint8_t>, kKeys> keySeen_{};
    std::array<std::atomic<bool>, kKeys> keyHeld_{};
    std::array<EncoderRecord, kEncoders> encoders_{};
    std::array<std::atomic<bool>, kEncoders> encoderDone_{};
    std::atomic<int32_t> lastEncoder_{-1};
    std::array<std::array<PadTarget, 4>, kPads> pads_;
    float padTolerance_ = 0.05f;
    std::array<std::array<bool, kMarks>, kPots> potMarks_{};
    std::array<std::array<bool, 2>, kSwitches> switchSeen_{};
    PulseState pulse_;

    MIDI* midiPort_ = nullptr;
    MidiMessage midiSent_[kMidiBatch] = {};
    MidiMessage midiReceived_[kMidiBatch] = {};
    Relaxed<uint32_t> midiSentCount_;
    uint32_t midiBatchSent_ = 0;
    uint32_t midiReceivedIndex_ = 0;
    Relaxed<uint32_t> midiLost_;
    Relaxed<uint32_t> midiMatches_;

    Phasor tone_;
    DelayLine toneDelay_{1000};
    AudioState audio_;
    uint32_t blockCounter_ = 0;
    std::atomic<uint32_t> frameCounter_{0};
    std::atomic<uint32_t> idleCounter_{0};  // cleared by encoder turns, counted by draws
};

namespace Driver {
extern SelfTest selfTest;
}  // namespace Driver
