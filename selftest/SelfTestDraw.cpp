// The self test's page (interface task): the checks evaluated while drawing
// (touchpads, mixer board), the drawing of every check and the LED levels.
#include "selftest/SelfTest.h"

#include "drivers/MCP3008.h"
#include "drivers/Touchpad.h"
#include "dsp/WaveTable.h"
#include "gui/MonoGFX.h"

#include <cmath>
#include <string>

namespace {
constexpr uint32_t kBright = 15, kDim = 4, kRule = 8;
constexpr float kMarkDistance = 0.1f;
constexpr float kMarkPositions[SelfTest::kMarks] = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f};
struct Channel {
    uint32_t adc, channel;
};
constexpr Channel kPotChannels[SelfTest::kPots] = {{0, 1}, {0, 2}, {0, 4}, {0, 5}, {0, 7},
                                            {1, 0}, {1, 2}, {1, 3}, {1, 5}, {1, 6}};
constexpr Channel kSwitchChannels[SelfTest::kSwitches] = {{0, 0}, {0, 3}, {0, 6}, {1, 1}, {1, 4}};
constexpr int kPadX = 5, kPadPitch = 51, kPadTop = 15, kPadSize = 45;
constexpr uint32_t kLedCycle = 30;  // screen frames per dimming cycle
}  // namespace

bool SelfTest::_touchpadsComplete() {
    bool all = true;
    for (uint32_t p = 0; p < kPads; ++p) {
        const Touchpad::Touch t = DSP::touchpad[p].getTouch();
        for (PadTarget& target : pads_[p]) {
            if (target.status == 1)
                continue;
            if (t.count == 0)
                target.status = 2;
            else if (std::fabs(t.x - target.x) <= padTolerance_ && std::fabs(t.y - target.y) <= padTolerance_)
                target.status = 1;
            all = all && target.status == 1;
        }
    }
    return all;
}

bool SelfTest::_mixerComplete() {
    bool all = true;
    for (uint32_t k = 0; k < kPots; ++k) {
        const float v = Driver::ADC[kPotChannels[k].adc].value(kPotChannels[k].channel);
        for (uint32_t m = 0; m < kMarks; ++m) {
            if (std::fabs(v - kMarkPositions[m]) <= kMarkDistance)
                potMarks_[k][m] = true;
            all = all && potMarks_[k][m];
        }
    }
    for (uint32_t k = 0; k < kSwitches; ++k) {
        const float v = Driver::ADC[kSwitchChannels[k].adc].value(kSwitchChannels[k].channel);
        if (v <= kMarkDistance)
            switchSeen_[k][0] = true;
        if (v >= 1.0f - kMarkDistance)
            switchSeen_[k][1] = true;
        all = all && switchSeen_[k][0] && switchSeen_[k][1];
    }
    return all;
}

void SelfTest::ledLevels(float* levels) {
    if (!levels)
        return;
    switch (state()) {
    case SingleLed: levels[uint32_t(ledIndex.value.load()) % kEncoders] = 1.0f; break;
    case EncoderPcb:
        for (uint32_t i = 0; i < kEncoders; ++i)
            if (encoderComplete(i))
                levels[i] = 1.0f;
        break;
    case LedPwm: {
        float p = float(frameCounter_.load(std::memory_order_relaxed) % kLedCycle) / float(kLedCycle) - 0.25f;
        p -= std::floor(p);
        const float level = 0.5f + 0.5f * DSP::wavetable.sineInCycle(p);
        for (uint32_t i = 0; i < kEncoders; ++i)
            levels[i] = level;
        break;
    }
    default: break;
    }
}

void SelfTest::draw(MonoGFX& w) {
    // The recalibration asked for when "touchpads" began talks to the
    // sensors, so it is done here and not on the audio thread.
    if (baselineRequest_.exchange(false, std::memory_order_acq_rel)) {
        for (Touchpad& pad : DSP::touchpad)
            pad.updateBaseline();
        baselineUpdates_.fetch_add(1, std::memory_order_relaxed);
    }
    const uint32_t s = state();
    if (s == Touchpads && _touchpadsComplete())
        passedRequest_.store(Touchpads + 1, std::memory_order_release);
    if (s == MixerPcb && _mixerComplete())
        passedRequest_.store(MixerPcb + 1, std::memory_order_release);

    w.clear();
    w.setFont(&font_default, 1, 0);
    w.setColour(kBright);
    const int x = w.drawText(0, 0, std::string("Testing: ") + tests_.at(s).name);
    if (passed(s))
        w.drawIcon(x + 3, 0, 1);
    w.setColour(kRule);
    w.setDotted(true);
    w.drawLine(0, 10, 255, 10);
    w.setDotted(false);
    w.setColour(kBright);
    switch (s) {
    case Buttons: _drawButtons(w); break;
    case Touchpads: _drawTouchpads(w); break;
    case SingleLed:
    case EncoderPcb:
    case LedPwm: _drawEncoders(w); break;
    case PulseLoopback: _drawPulse(w); break;
    case MixerPcb: _drawMixer(w); break;
    case AudioIo: _drawAudio(w); break;
    case MidiLoopback:
        w.drawText(0, 20, "Sent: " + std::to_string(midiSentCount_) + " lost: " + std::to_string(midiLost_));
        w.drawText(0, 32, "in a row: " + std::to_string(midiMatches_) + " / " + std::to_string(kMidiTarget));
        break;
    case Oled: {
        const int cx = pixelsX.value.load(), cy = pixelsY.value.load();
        w.drawLine(cx - 3, cy, cx + 3, cy);
        w.drawLine(cx, cy - 3, cx, cy + 3);
        w.drawText(0, 20, "X: " + std::to_string(cx));
        w.drawText(0, 32, "Y: " + std::to_string(cy));
        break;
    }
    default: break;
    }
    frameCounter_.fetch_add(1, std::memory_order_relaxed);
    idleCounter_.fetch_add(1, std::memory_order_relaxed);
}

void SelfTest::_drawButtons(MonoGFX& w) {
    for (uint32_t k = 0; k < kKeys; ++k) {
        // Keys 0..24 in a 5 x 5 grid, the others in rows beside it.
        const int col = k < 25 ? int(k % 5) : int(5 + (k - 25) % 10);
        const int row = k < 25 ? int(k / 5) : int((k - 25) / 10);
        const int x0 = 110 + col * 9, y0 = 14 + row * 9;
        w.setColour(keySeen_[k] ? kDim : kBright);
        w.drawRect(x0, y0, x0 + 6, y0 + 6);
        if (keyHeld_[k].exchange(false, std::memory_order_relaxed)) {
            w.setColour(kBright);
            w.fillRect(x0, y0, x0 + 6, y0 + 6);
        }
    }
}

void SelfTest::_drawTouchpads(MonoGFX& w) {
    for (uint32_t p = 0; p < kPads; ++p) {
        const int x0 = kPadX + int(p) * kPadPitch;
        bool complete = true;
        for (const PadTarget& t : pads_[p])
            complete = complete && t.status == 1;
        w.setColour(complete ? kDim : kBright);
        w.drawRect(x0, kPadTop, x0 + kPadSize, kPadTop + kPadSize);
        if (!DSP::touchpad[p].ready()) {
            w.setColourBlink(kBright, 0);
            w.drawLine(x0, kPadTop, x0 + kPadSize, kPadTop + kPadSize);
            w.drawLine(x0 + kPadSize, kPadTop, x0, kPadTop + kPadSize);
            continue;
        }
        const Touchpad::Touch t = DSP::touchpad[p].getTouch();
        if (t.count > 0) {
            w.setColour(kBright);
            w.drawCircle(x0 + int(t.x * kPadSize), kPadTop + int(t.y * kPadSize), 2);
        }
    }
}

void SelfTest::_drawEncoders(MonoGFX& w) {
    const uint32_t s = state();
    const uint32_t lit = uint32_t(ledIndex.value.load()) % kEncoders;
    for (uint32_t i = 0; i < kEncoders; ++i) {
        const int x0 = int(i % 16) * 16, y0 = 14 + int(i / 16) * 14;
        const bool on = (s == SingleLed && i == lit) || (s == EncoderPcb && encoderComplete(i));
        w.setColour(on ? kBright : kDim);
        w.drawRect(x0, y0, x0 + 14, y0 + 12);
        w.drawText(x0 + 2, y0 + 2, std::to_string(i));
    }
    if (s != EncoderPcb)
        return;
    const int32_t last = lastEncoder_.load(std::memory_order_relaxed);
    if (last < 0)
        return;
    const EncoderRecord& e = encoders_[uint32_t(last)];
    w.setColour(kBright);
    w.drawText(0, 44, "encoder: " + std::to_string(last) + "  " + std::to_string(e.plainCw) + " " +
                          std::to_string(e.plainCcw) + " " + std::to_string(e.pushedCw) + " " +
                          std::to_string(e.pushedCcw) + "  target: 26");
}

void SelfTest::_drawPulse(MonoGFX& w) {
    for (uint32_t k = 0; k < kGates; ++k) {
        const int x0 = int(k) * 50;
        w.setColour(k == pulse_.channel ? kBright : kDim);
        w.drawText(x0, 16, "OUT " + std::to_string(k + 1));
        w.setColour(pulse_.clockOk[k] ? kBright : kDim);
        w.drawText(x0, 28, pulse_.clockOk[k] ? "clock synced" : "clock");
        w.setColour(pulse_.resetOk[k] ? kBright : kDim);
        w.drawText(x0, 40, pulse_.resetOk[k] ? "seq reset synced" : "seq reset");
    }
}

void SelfTest::_drawMixer(MonoGFX& w) {
    for (uint32_t k = 0; k < kPots; ++k) {
        const int cx = 14 + int(k % 5) * 28, cy = 26 + int(k / 5) * 26;
        const float v = Driver::ADC[kPotChannels[k].adc].value(kPotChannels[k].channel);
        const float angle = (v * 1.5f - 1.25f) * 3.14159265f;
        w.setColour(kBright);
        w.drawCircle(cx, cy, 12);
        w.drawLine(cx, cy, cx + int(10.0f * std::cos(angle)), cy + int(10.0f * std::sin(angle)));
    }
    for (uint32_t k = 0; k < kSwitches; ++k) {
        const bool done = switchSeen_[k][0] && switchSeen_[k][1];
        w.setColour(done ? kDim : kBright);
        w.drawRect(150 + int(k) * 20, 20, 160 + int(k) * 20, 40);
    }
}

void SelfTest::_drawAudio(MonoGFX& w) {
    for (uint32_t i = 0; i < kInputs; ++i) {
        const int h = int(std::min(float(audio_.followers[i].level), 1.0f) * 40.0f);
        w.setColour(audio_.inputOk[i] ? kDim : kBright);
        w.fillRect(int(i) * 6, 60 - h, int(i) * 6 + 4, 60);
    }
    w.setColour(kBright);
    for (int x = 0; x < 100; ++x) {
        const uint32_t k = (audio_.historyIndex + kHistory - 100 + uint32_t(x)) % kHistory;
        w.setPixel(30 + x, 36 - int(audio_.inputTrace[k] * 20.0f));
        w.setPixel(30 + x, 36 - int(audio_.toneTrace[k] * 20.0f));
    }
    std::string outs = "out:", ins = "in:";
    for (uint32_t o = 0; o < kOutputs; ++o)
        outs += audio_.outputOk[o] ? " " + std::to_string(o + 1) : " -";
    for (uint32_t i = 0; i < kInputs; ++i)
        ins += audio_.inputOk[i] ? " " + std::to_string(i + 1) : " -";
    w.drawText(140, 24, outs);
    w.drawText(140, 36, ins);
    w.drawText(140, 48, "connect out > in");
    w.setColourPulse(kDim, kBright);
    w.drawText(256 - w.textWidth("manually check headphone + gain + pad"), 0, "manually check headphone + gain + pad");
}
