#include "selftest/SelfTest.h"

#include "connectivity/SerialMIDI.h"
#include "drivers/Touchpad.h"
#include "gui/GuiNotify.h"
#include "platform/RtPrintf.h"

#include <cmath>
#include <cstdio>

namespace {
constexpr uint32_t kCloseKey = 2;
constexpr uint32_t kSkipKey = 3;
constexpr uint32_t kKeyDown = 2;
constexpr int kLedEncoder = 12;
constexpr int kYEncoder = 28;
constexpr uint32_t kCountDone = 25;  // counts above this complete a direction
constexpr uint32_t kDone = 1, kInProgress = 2;  // a half starts new, at 0
const char* const kNames[SelfTest::Finished + 1] = {"buttons",      "touchpads", "single LED",    "encoder PCB",
                                                    "pulse loopback", "mixer PCB", "audio I/O",   "MIDI loopback",
                                                    "OLED",         "LED PWM",   "-"};
}  // namespace

SelfTest::SelfTest()
    : testFreq("test freq", ParameterFloat::Plain, NoFlags, 50.0f, 50.0f, 1000.0f),
      audioInput("audio input", ParameterInt::PlainInt, NoFlags, 0, 0, int32_t(kInputs - 1)),
      audioOutput("audio output", ParameterInt::PlainInt, NoFlags, 0, 0, int32_t(kOutputs - 1)),
      ledIndex("led index", ParameterInt::PlainInt, NoFlags, 0, 0, int32_t(kEncoders - 1)),
      pixelsX("pixels x", ParameterInt::PlainInt, NoFlags, 0, 0, 255),
      pixelsY("pixels y", ParameterInt::PlainInt, NoFlags, 0, 0, 63) {
    testFreq.coarseStep = 10.0f;
    testFreq.fineStep = 1.0f;
    for (uint32_t i = 0; i <= Finished; ++i)
        tests_[i] = Record{kNames[i]};
    for (auto& pad : pads_)
        pad = {PadTarget{0.0f, 0.0f}, PadTarget{0.0f, 1.0f}, PadTarget{1.0f, 0.0f}, PadTarget{1.0f, 1.0f}};
    midiPort_ = &Driver::dinMIDI;
}

bool SelfTest::passed(uint32_t test) const {
    return test < Finished && passed_[test].load(std::memory_order_acquire) != 0;
}

bool SelfTest::encoderComplete(uint32_t index) const {
    return index < kEncoders && encoderDone_[index].load(std::memory_order_acquire);
}

void SelfTest::open() {
    // Everything the block hook uses is set before the state lets it run.
    ledIndex.setValue(0, false);
    tone_.setFrequency(47.0f);
    audio_.a = std::exp(-0.0026179939f);
    audio_.oneMinusA = 1.0f - audio_.a;
    for (auto& f : audio_.followers) {
        f.rise = 1200.0f;
        f.fall = 4800.0f;
    }
    passedRequest_.store(0, std::memory_order_relaxed);
    _setState(Buttons);
}

bool SelfTest::close() {
    uint32_t s = state();
    // Both checks use the keys that would close the page.
    if (s == Buttons || s == MixerPcb)
        return false;
    while (!state_.compare_exchange_weak(s, Finished, std::memory_order_acq_rel)) {
        if (s == Buttons || s == MixerPcb)
            return false;
    }
    return true;
}

void SelfTest::advance(bool passedNow) {
    const uint32_t s = state();
    if (s >= Finished)
        return;
    if (passedNow) {
        if (passed_[s].load(std::memory_order_acquire))
            return;
        passed_[s].store(1, std::memory_order_release);
        // A fixed record: this runs on the audio thread.
        char text[GuiNotify::kMaxText + 1];
        snprintf(text, sizeof text, "%s passed!", kNames[s]);
        Driver::guiNotify.success(text);
    }
    const uint32_t next = s + 1 >= Finished ? Buttons : s + 1;
    if (next == Touchpads)
        baselineRequest_.store(true, std::memory_order_release);
    _setState(next);
}

void SelfTest::button(int key, int event) {
    const uint32_t s = state();
    if (s >= Finished || key < 0 || uint32_t(key) >= kKeys)
        return;
    if (event == int(kKeyDown))
        keyHeld_[key].store(true, std::memory_order_relaxed);
    if (s == Buttons && event == int(kKeyDown)) {
        // Skipping first: once passed, the check would otherwise hold the
        // page (a second pass does nothing at all).
        if (uint32_t(key) == kSkipKey && keySeen_[kSkipKey]) {
            advance(false);
            return;
        }
        keySeen_[key] = 1;
        bool all = true;
        for (const auto& seen : keySeen_)
            all = all && seen != 0;
        if (all) {
            advance(true);
            return;
        }
        if (uint32_t(key) == kCloseKey)
            GUI::closeEditor();  // refused during this check
        return;
    }
    if (event != int(kKeyDown))
        return;
    if (uint32_t(key) == kCloseKey)
        GUI::closeEditor();
    else if (uint32_t(key) == kSkipKey)
        advance(false);
}

void SelfTest::encoder(int index, int delta, bool pushed) {
    switch (state()) {
    case SingleLed:
        if (index == kLedEncoder)
            ledIndex.changeBy(delta, pushed, false);
        break;
    case EncoderPcb:
        if (index >= 0 && uint32_t(index) < kEncoders && (delta == 1 || delta == -1))
            _encoderTest(uint32_t(index), delta, pushed);
        break;
    case AudioIo:
        if (index == kLedEncoder) {
            testFreq.changeBy(delta, !pushed, false);
            tone_.setFrequency(testFreq.getValue());
        }
        break;
    case Oled:
        if (index == kLedEncoder)
            pixelsX.changeBy(delta, pushed, false);
        else if (index == kYEncoder)
            pixelsY.changeBy(delta, pushed, false);
        idleCounter_.store(0, std::memory_order_relaxed);
        break;
    default: break;
    }
}

void SelfTest::_encoderTest(uint32_t index, int delta, bool pushed) {
    EncoderRecord& e = encoders_[index];
    lastEncoder_.store(int32_t(index), std::memory_order_relaxed);
    auto restart = [](uint32_t& half, Relaxed<uint32_t>& cw, Relaxed<uint32_t>& ccw) {
        if (half == kDone)
            return;
        if (cw < kCountDone)
            cw = 0;
        if (ccw < kCountDone)
            ccw = 0;
        half = kInProgress;
    };
    if (uint8_t(pushed) != e.lastPushed) {
        restart(e.plain, e.plainCw, e.plainCcw);
        restart(e.pushed, e.pushedCw, e.pushedCcw);
    }
    if (delta == e.lastDelta) {
        Relaxed<uint32_t>& count = pushed ? (delta > 0 ? e.pushedCw : e.pushedCcw) : (delta > 0 ? e.plainCw : e.plainCcw);
        count += 1;
    } else {
        restart(e.plain, e.plainCw, e.plainCcw);
        restart(e.pushed, e.pushedCw, e.pushedCcw);
    }
    e.lastDelta = delta;
    e.lastPushed = uint8_t(pushed);
    if (e.plainCw > kCountDone && e.plainCcw > kCountDone)
        e.plain = kDone;
    if (e.pushedCw > kCountDone && e.pushedCcw > kCountDone)
        e.pushed = kDone;
    if (e.plain == kDone && e.pushed == kDone)
        encoderDone_[index].store(true, std::memory_order_release);
    for (uint32_t i = 0; i < kEncoders; ++i)
        if (!encoderDone_[i].load(std::memory_order_relaxed))
            return;
    advance(true);
}

void SelfTest::midiReceived(const MidiMessage& message) {
    if (state() != MidiLoopback || midiReceivedIndex_ >= kMidiBatch)
        return;
    const uint32_t i = midiReceivedIndex_++;
    midiReceived_[i] = message;
    const MidiMessage& sent = midiSent_[i];
    if (sent.type == message.type && sent.channel == message.channel && sent.data1 == message.data1 &&
        sent.data2 == message.data2) {
        midiMatches_ += 1;
        if (midiMatches_ >= kMidiTarget)
            advance(true);
        return;
    }
    midiLost_ += 1;
    midiMatches_ = 0;
    // The texts of midiMessageToString, without building strings here.
    rt_printf("MIDI sent [%s ch: %u data: %d %d] != received[%s ch: %u data: %d %d]\n", midiTypeName(sent.type),
              sent.channel, int32_t(sent.data1), int32_t(sent.data2), midiTypeName(message.type), message.channel,
              int32_t(message.data1), int32_t(message.data2));
}
