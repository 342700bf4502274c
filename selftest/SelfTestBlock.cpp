// The per-block checks of the self test (audio thread): gate loopback, MIDI
// loopback and audio loopback.
#include "selftest/SelfTest.h"

#include "connectivity/Midi.h"
#include "dsp/Random.h"
#include "dsp/WaveTable.h"
#include "platform/Context.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr uint32_t kFramesPerPulse = 64;
constexpr uint32_t kPulseWindow = 4;
constexpr uint32_t kAudioStep = 32;
constexpr uint32_t kMeasureLimit = 4 * kAudioStep;
constexpr float kLevelThreshold = 0.1f;
constexpr float kMaxGain = 5.0f;

// The six kinds the instrument itself sends. SysEx start and end never come
// back as records, so with every kind in the list a run of 100 equal
// messages could hardly ever be met.
constexpr MIDIMsgType kMidiTypes[] = {MIDIMsgType::NoteOff,     MIDIMsgType::NoteOn,         MIDIMsgType::ControlChange,
                                      MIDIMsgType::TimingClock, MIDIMsgType::StartSequence, MIDIMsgType::StopSequence};
constexpr uint32_t kMidiTypeCount = sizeof(kMidiTypes) / sizeof(kMidiTypes[0]);
}  // namespace

void SelfTest::processBlock(BelaContext* context, uint32_t* gateOutputs) {
    const uint32_t s = state();
    if (s >= Finished || !context)
        return;
    ++blockCounter_;
    // A check the interface task saw pass is applied here, where the state lives.
    if (const uint32_t request = passedRequest_.exchange(0, std::memory_order_acq_rel); request == s + 1) {
        advance(true);
        return;
    }
    switch (s) {
    case PulseLoopback: _pulseBlock(context, gateOutputs); break;
    case AudioIo: _audioBlock(context); break;
    case MidiLoopback: _midiBlock(); break;
    default: break;
    }
}

void SelfTest::_pulseBlock(BelaContext* context, uint32_t* gates) {
    PulseState& p = pulse_;
    const uint32_t phase = p.block % kPulsePeriod;
    if (gates) {
        for (uint32_t k = 0; k < kGates; ++k)
            gates[k] = 0;
        if (phase == 0)
            gates[uint32_t(p.channel)] = 1;
    }
    if (phase == 0)
        ++p.pulses;
    const uint32_t pins = context->digital ? std::min<uint32_t>(context->digitalChannels, 16) : 0;
    if (pins > kResetPin) {
        for (uint32_t f = 0; f < context->digitalFrames; ++f) {
            p.clockFrames = digitalReadFrame(context, f, kClockPin) ? 0 : p.clockFrames + 1;
            p.resetFrames = digitalReadFrame(context, f, kResetPin) ? 0 : p.resetFrames + 1;
        }
    } else {
        p.clockFrames += context->digitalFrames;
        p.resetFrames += context->digitalFrames;
    }
    auto inWindow = [](uint32_t n) {
        return n > kFramesPerPulse - kPulseWindow && n < kFramesPerPulse + kPulseWindow;
    };
    if (phase != 0) {
        p.clockHits += inWindow(p.clockFrames) ? 1 : 0;
        p.resetHits += inWindow(p.resetFrames) ? 1 : 0;
    }
    if (phase == kPulsePeriod - 1 && p.pulses >= kPulsesNeeded) {
        if (p.clockHits == p.pulses)
            p.clockOk[uint32_t(p.channel)] = true;
        else if (p.resetHits == p.pulses)
            p.resetOk[uint32_t(p.channel)] = true;
        p.pulses = p.clockHits = p.resetHits = 0;
        p.channel = (uint32_t(p.channel) + 1) % kGates;
        p.block = 0;
        bool all = true;
        for (uint32_t k = 0; k < kGates; ++k)
            all = all && p.clockOk[k] && p.resetOk[k];
        if (all)
            advance(true);
        return;
    }
    ++p.block;
}

void SelfTest::_midiBlock() {
    if (blockCounter_ % kMidiPeriod != 0)
        return;
    if (midiBatchSent_)
        midiLost_ += kMidiBatch - midiReceivedIndex_;
    midiReceivedIndex_ = 0;
    midiBatchSent_ = 0;
    for (uint32_t i = 0; i < kMidiBatch; ++i) {
        const MIDIMsgType type = kMidiTypes[DSP::random.nextHigh() % kMidiTypeCount];
        MidiMessage m{uint32_t(type), 0, 0, 0};
        if (type == MIDIMsgType::NoteOff || type == MIDIMsgType::NoteOn || type == MIDIMsgType::ControlChange) {
            m.channel = DSP::random.nextHigh() % 16;
            m.data1 = DSP::random.nextHigh() % 128;
            m.data2 = 1 + DSP::random.nextHigh() % 127;
        }
        midiSent_[i] = m;
        if (midiPort_)
            midiPort_->send(m);
        midiSentCount_ += 1;
        ++midiBatchSent_;
    }
}

void SelfTest::_audioControl() {
    AudioState& a = audio_;
    if (!a.measuring) {
        if (blockCounter_ % kAudioStep == 0) {
            audioOutput.setValue((audioOutput.value.load() + 1) % int32_t(kOutputs), false);
            testFreq.setValue(50.0f, false);
        }
    } else if (a.matchCount > kAudioStep) {
        if (!testFreq.changeBy(1, false, true)) {
            a.inputOk[uint32_t(audioInput.value.load()) % kInputs] = true;
            a.outputOk[uint32_t(audioOutput.value.load()) % kOutputs] = true;
        }
        a.matchCount = 0;
        a.measureCount = 1;
    } else if (a.measureCount > kMeasureLimit) {
        testFreq.changeBy(-1, false, true);
        a.measureCount = 1;
        a.matchCount = 0;
    } else {
        ++a.measureCount;
    }
    tone_.setFrequency(testFreq.getValue());
}

void SelfTest::_audioBlock(BelaContext* context) {
    _audioControl();
    AudioState& a = audio_;
    const float freq = testFreq.getValue();
    const float tolerance = std::min(freq * 0.0005f, 0.5f);
    // The host may run with fewer channels than the board has.
    const uint32_t outs = context->audioOut ? std::min(context->audioOutChannels, kOutputs) : 0;
    const uint32_t ins = context->audioIn ? std::min(context->audioInChannels, kInputs) : 0;
    const uint32_t selectedOut = uint32_t(audioOutput.value.load());
    const uint32_t selectedIn = uint32_t(audioInput.value.load());
    bool allMatch = true;
    for (uint32_t f = 0; f < context->audioFrames; ++f) {
        const float tone = kToneLevel * DSP::wavetable.sineInCycle(tone_.next());
        for (uint32_t c = 0; c < outs; ++c)
            context->audioOut[f * context->audioOutChannels + c] = c == selectedOut ? tone : 0.0f;
        for (uint32_t i = 0; i < ins; ++i)
            a.followers[i].process(context->audioIn[f * context->audioInChannels + i]);
        const float x = selectedIn < ins ? context->audioIn[f * context->audioInChannels + selectedIn] : 0.0f;
        a.lp = a.oneMinusA * x + a.a * a.lp;
        const float h = x - a.lp;
        a.peak = std::max(a.peak, h);
        if (a.lastH <= 0.0f && h > 0.0f) {
            if (a.measuring && a.peak > 0.0f)
                a.gain = std::min(kToneLevel / a.peak, kMaxGain);
            a.peak = 0.0f;
            a.sinceInputCrossing = 0;
        } else {
            ++a.sinceInputCrossing;
        }
        if (a.lastTone <= 0.0f && tone > 0.0f)
            a.sinceToneCrossing = 0;
        else
            ++a.sinceToneCrossing;
        a.lastH = h;
        a.lastTone = tone;
        toneDelay_.write(tone);
        const float delayed = toneDelay_.read(std::min<uint32_t>(a.latency, toneDelay_.size() - 1));
        const float scaled = h * a.gain;
        if (!(std::fabs(delayed - scaled) < tolerance))
            allMatch = false;
        if (f % 4 == 0) {
            a.inputTrace[a.historyIndex] = scaled;
            a.toneTrace[a.historyIndex] = delayed;
            a.historyIndex = (uint32_t(a.historyIndex) + 1) % kHistory;
        }
    }
    if (allMatch)
        ++a.matchCount;
    if (selectedIn < kInputs && a.followers[selectedIn].level >= kLevelThreshold) {
        const int64_t d = int64_t(a.sinceToneCrossing) - int64_t(a.sinceInputCrossing);
        if (d > 0 && float(d) < 0.95f * 48000.0f / freq)
            a.latency = uint32_t(d);
    }
    uint32_t loudest = 0;
    for (uint32_t i = 1; i < kInputs; ++i)
        if (float(a.followers[i].level) > float(a.followers[loudest].level))
            loudest = i;
    if (a.followers[loudest].level <= kLevelThreshold) {
        a.measuring = false;
        return;
    }
    if (!a.measuring)
        a.measureCount = 0;
    a.measuring = true;
    audioInput.setValue(int32_t(loudest), false);
}
