#include "instrument/MainClock.h"

#include "connectivity/Midi.h"
#include "connectivity/SerialMIDI.h"
#include "gui/GuiNotify.h"
#include "platform/Audio.h"
#include "platform/Context.h"
#include "platform/RtPrintf.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace Driver {
extern SerialMIDI dinMIDI;
extern GuiNotify guiNotify;
}  // namespace Driver

namespace {

const char* const kSourceNames[] = {"internal", "sync in", "MIDI in"};
constexpr double kFrameBeats = 1.0 / 48000.0;  // beats per frame per Hz of tempo
constexpr float kBlockBeats = 1.0f / 750.0f;  // beats per block per Hz of tempo
// Smoothing of the tick period: slow while following, fast after a start.
constexpr float kFollowSmoothing = 0.0016755161f;
constexpr float kStartSmoothing = 0.6283185f;
constexpr float kTwoPi = 6.2831853f;

enum MidiKind { kClock, kStart, kContinue, kStop };

double fraction(double v) { return v - std::floor(v); }

}  // namespace

MainClock::MainClock()
    : bpm("BPM", ParameterFloat::Bpm, Stored, 100.0f, 0.0f, 240.0f),
      autoReset("auto reset clock", ParameterInt::ChoiceMode, Stored, 0),
      clockSource("clock source", ParameterInt::ChoiceMode, Stored, 0),
      midiStartStop("MIDI start/stop", ParameterInt::ChoiceMode, Stored, 0),
      syncInPpqn("sync in PPQN", ParameterInt::PlainInt, Stored, 4, 1, 96),
      syncInStartStop("sync in start/stop", ParameterInt::ChoiceMode, Stored, 1),
      midiClockOut("MIDI clock out", ParameterInt::ChoiceMode, Stored, 0),
      syncOut("sync out", ParameterInt::ChoiceMode, Stored, 0),
      syncOutPpqn("sync out PPQN", ParameterInt::PlainInt, Stored, 4, 1, 96),
      parameterGroup(kGroupName) {
    autoReset.setChoices({"false", "true"}, 0);
    clockSource.setChoices({kSourceNames[0], kSourceNames[1], kSourceNames[2]}, 0);
    midiStartStop.setChoices({"false", "true"}, 0);
    syncInStartStop.setChoices({"manual", "automatic"}, 1);
    midiClockOut.setChoices({"false", "true"}, 0);
    syncOut.setChoices({"false", "true"}, 0);
    for (Parameter* p : {static_cast<Parameter*>(&bpm), static_cast<Parameter*>(&autoReset),
                         static_cast<Parameter*>(&clockSource), static_cast<Parameter*>(&midiStartStop),
                         static_cast<Parameter*>(&syncInPpqn), static_cast<Parameter*>(&syncInStartStop),
                         static_cast<Parameter*>(&midiClockOut), static_cast<Parameter*>(&syncOut),
                         static_cast<Parameter*>(&syncOutPpqn)})
        parameterGroup.add(p);
    filter.setTypes(MIDIMsgType::TimingClock | MIDIMsgType::StartSequence | MIDIMsgType::ContinueSequence |
                    MIDIMsgType::StopSequence);
    reset();
}

void MainClock::reset() {
    const double inc = double(_tempoHz()) * kFrameBeats;
    accumulator = 1.0 - 4.0 * inc;
    previousPhase = accumulator - inc;
    expectedTickPosition = accumulator;
    tickCount = 0;
    resetRequest.store(true, std::memory_order_release);
}

bool MainClock::takeResetRequest() { return resetRequest.exchange(false, std::memory_order_acq_rel); }

void MainClock::setClockSource() {
    if (Bela_isAudioThread())
        _applyClockSource();
    else
        sourceRequest_.store(true, std::memory_order_release);
}

float MainClock::_tickPeriodFromTempo() const {
    const float tempo = std::max(bpm.getValue(), kExternalMinimumBpm);
    return 60.0f / (float(ticksPerBeat) * tempo);
}

void MainClock::_applyClockSource() {
    sourceRequest_.store(false, std::memory_order_relaxed);
    const int32_t chosen = clockSource.values[clockSource.activeSlot];
    source_ = uint32_t(std::clamp<int32_t>(chosen, Internal, MidiIn));
    ticksPerBeat = source_ == MidiIn ? kMidiTicksPerBeat : uint32_t(std::max<int32_t>(1, syncInPpqn.value));
    if (source_ != appliedSource) {
        bpm.setValue(std::round(bpm.getValue()), false);
        // Raising the minimum also moves a slower tempo up into the range.
        bpm.setMin(source_ == Internal ? 0.0f : kExternalMinimumBpm);
        if (source_ != Internal) {
            targetTickPeriod = stopPeriod = _tickPeriodFromTempo();
            smoothCoefficient = std::exp(-kFollowSmoothing);
            smoothComplement = 1.0f - smoothCoefficient;
        }
        char text[48];
        std::snprintf(text, sizeof text, "Clock source set to %s", kSourceNames[source_]);
        Driver::guiNotify.notify(text, 1, 0);
    }
    appliedSource = source_;
}

bool MainClock::_sendsMidiClock() const { return midiClockOut.value != 0; }

void MainClock::_send(int kind) {
    MIDI* port = midiOut_ ? midiOut_ : static_cast<MIDI*>(&Driver::dinMIDI);
    switch (kind) {
    case kClock:
        port->sendClock();
        break;
    case kStart:
        port->sendStart();
        break;
    case kContinue:
        port->sendContinue();
        break;
    default:
        port->sendStop();
        break;
    }
}

void MainClock::start(bool restart) {
    if (source_ == Internal) {
        running.store(true, std::memory_order_release);
        firstTick = true;
    } else {
        armed = true;
        targetTickPeriod = tickPeriod = stopPeriod = _tickPeriodFromTempo();
        smoothCoefficient = std::exp(-kStartSmoothing);
        smoothComplement = 1.0f - smoothCoefficient;
    }
    if (!restart) {
        if (_sendsMidiClock())
            _send(kContinue);
        rt_printf("MainClock resumed\n");
        return;
    }
    _applyClockSource();
    reset();
    if (_sendsMidiClock())
        _send(kStart);
    rt_printf("MainClock started\n");
}

void MainClock::stop(bool resetClock) {
    running.store(false, std::memory_order_release);
    armed = false;
    if (source_ == MidiIn)
        bpm.setValue(std::round(bpm.getValue()), false);
    if (resetClock) {
        _applyClockSource();
        reset();
    }
    if (_sendsMidiClock())
        _send(kStop);
    rt_printf("MainClock stopped\n");
}

bool MainClock::toggleStartStop(bool restart) {
    if (source_ == MidiIn) {
        Driver::guiNotify.info("Clock is started/stopped by MIDI");
        return isRunning();
    }
    if (source_ == SyncIn && syncInStartStop.value == Automatic)
        return isRunning();
    if (isRunning() || armed)
        stop(false);
    else
        start(restart || autoReset.value != 0);
    return isRunning();
}

bool MainClock::midiIn(const MidiMessage& message) {
    if (!filter.matches(message))
        return false;
    const bool startStopAllowed = midiStartStop.value != 0 || source_ == MidiIn;
    if (message.is(MIDIMsgType::StartSequence)) {
        if (startStopAllowed)
            start(true);
    } else if (message.is(MIDIMsgType::ContinueSequence)) {
        if (startStopAllowed)
            start(autoReset.value != 0);
    } else if (message.is(MIDIMsgType::StopSequence)) {
        if (startStopAllowed)
            stop(false);
    } else if (message.is(MIDIMsgType::TimingClock)) {
        if (source_ == MidiIn)
            externalTick();
    }
    return true;
}

void MainClock::externalTick() {
    if (source_ == SyncIn && syncInStartStop.value == Automatic && !isRunning() && !armed &&
        float(framesSinceTick) > kStopPeriods * tickPeriod)
        start(true);
    if (armed) {
        armed = false;
        running.store(true, std::memory_order_release);
        firstTick = true;
        if (source_ == SyncIn && syncInStartStop.value == Manual) {
            tickCount = int64_t(std::llround((accumulator - 1.0) * double(ticksPerBeat)));
            expectedTickPosition = double(tickCount) / double(ticksPerBeat) + 1.0;
        }
    }
    if (tickCount == 0)
        resetRequest.store(true, std::memory_order_release);
    const uint32_t frames = framesSinceTick == 0 ? 1 : framesSinceTick;
    if (!firstTick)
        targetTickPeriod = float(frames) / kSampleRate;
    expectedTickPosition = 1.0 + double(tickCount) / double(ticksPerBeat);
    ++tickCount;
    framesSinceTick = 0;
    firstTick = false;
    if (idleCounter_)
        idleCounter_->store(0, std::memory_order_relaxed);
}

bool MainClock::process(float* phase, uint32_t frames, const BelaContext* context) {
    if (sourceRequest_.load(std::memory_order_acquire))
        _applyClockSource();
    const bool external = source_ != Internal;

    if (external) {
        const bool pins = source_ == SyncIn && context && context->digital && context->digitalFrames >= frames;
        for (uint32_t i = 0; i < frames; ++i) {
            if (pins) {
                const uint32_t word = context->digital[i];
                const bool clockLow = ((word >> (16 + kClockInPin)) & 1u) == 0;
                const bool resetLow = ((word >> (16 + kResetInPin)) & 1u) == 0;
                if (resetLow && !lastResetLow) {
                    tickCount = 0;
                    rt_printf("Clock in reset\n");
                }
                if (clockLow && !lastClockLow)
                    externalTick();
                lastClockLow = clockLow;
                lastResetLow = resetLow;
            }
            // Saturates: hours without ticks must still read as "long ago".
            if (framesSinceTick < std::numeric_limits<uint32_t>::max())
                ++framesSinceTick;
        }

        tickPeriod = tickPeriod * smoothCoefficient + targetTickPeriod * smoothComplement;
        stopPeriod = tickPeriod;
        measuredTempo = tickPeriod > 0.0f ? 60.0f / (float(ticksPerBeat) * tickPeriod) : 0.0f;
        if (!isRunning()) {
            phaseError = 0.0f;
        } else {
            phaseError = float(accumulator - expectedTickPosition);
            const float w = std::clamp(std::fabs(2.0f * phaseError), 0.1f, 5.0f);
            smoothCoefficient = std::exp(-kTwoPi * w / 750.0f);
            smoothComplement = 1.0f - smoothCoefficient;
            bpm.setValue(measuredTempo - 30.0f * phaseError, false);
            if (source_ == SyncIn && syncInStartStop.value == Automatic &&
                float(framesSinceTick) > kStopPeriods * tickPeriod)
                stop(false);
        }
    }

    const double hz = double(_tempoHz());
    bool edge = false;
    if (isRunning()) {
        const double inc = hz * kFrameBeats;
        double last = currentPhase.load(std::memory_order_relaxed);
        if (!external || tickCount >= 0) {
            for (uint32_t i = 0; i < frames; ++i) {
                accumulator += inc;
                const double ph = fraction(accumulator);
                phase[i] = float(ph);
                if (previousPhase - ph > 0.9)
                    edge = true;
                previousPhase = ph;
                expectedTickPosition += inc;
                last = ph;
            }
        } else {
            for (uint32_t i = 0; i < frames; ++i)
                phase[i] = float(last);
        }
        currentPhase.store(last, std::memory_order_relaxed);

        auto midiPhase = [](float p) {
            const float x = float(kMidiTicksPerBeat) * p;
            return x - std::floor(x);
        };
        if (_sendsMidiClock()) {
            for (uint32_t i = 0; i < frames; ++i) {
                const float q = midiPhase(phase[i]);
                if (previousMidiPhase - q > 0.9f)
                    _send(kClock);
                previousMidiPhase = q;
            }
        } else if (frames > 0) {
            // Only the last fraction is remembered while nothing is sent.
            previousMidiPhase = midiPhase(phase[frames - 1]);
        }
        tempoCounter.store(accumulator, std::memory_order_relaxed);
    } else {
        tempoCounter.store(tempoCounter.load(std::memory_order_relaxed) + hz * double(kBlockBeats),
                           std::memory_order_relaxed);
    }
    return edge;
}

void MainClock::clockOutPulses(const float* phase, float* out1, float* out2, uint32_t frames) {
    (void)out2;  // a second clock output stays low
    const float k = float(std::max<int32_t>(1, syncOutPpqn.value));
    for (uint32_t i = 0; i < frames; ++i) {
        const float y = k * phase[i];
        const float r = y - std::floor(y);
        if (previousPulsePhase - r > 0.9f)
            pulseLeft = pulseLength;
        if (pulseLeft > 0) {
            out1[i] = 1.0f;
            --pulseLeft;
        } else {
            out1[i] = 0.0f;
        }
        previousPulsePhase = r;
    }
}
