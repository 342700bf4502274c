// The factory self test with host loopback harnesses: gate outputs wired back
// to the clock and reset pins, a pseudo-terminal that echoes DIN MIDI, and
// audio outputs wired back to the inputs 167 samples later.
#include "selftest/SelfTest.h"

#include "connectivity/SerialMIDI.h"
#include "gui/MonoGFX.h"
#include "platform/Context.h"
#include "drivers/MCP3008.h"
#include "platform/devices/Board.h"
#include "platform/devices/SerialPort.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kFrames = 64;

// One block's buffers, with the outputs fed back to the inputs when wired.
struct Rig {
    explicit Rig(uint32_t outs = 8, uint32_t ins = 8) : out(kFrames * outs), in(kFrames * ins), digital(kFrames) {
        context.audioOut = out.data();
        context.audioIn = in.data();
        context.audioOutChannels = outs;
        context.audioInChannels = ins;
        context.digital = digital.data();
        context.digitalFrames = kFrames;
    }
    // The gates raised in the last block are high on `pin` for this block.
    void step(SelfTest& test, int pin) {
        for (uint32_t f = 0; f < kFrames; ++f)
            digital[f] = 0xFFFF;  // every pin an input, low
        for (uint32_t k = 0; k < 5; ++k)
            if (gates[k] && pin >= 0)
                for (uint32_t f = 0; f < kFrames; ++f)
                    digitalWriteFrame(&context, f, uint32_t(pin), true);
        test.processBlock(&context, gates);
    }
    // Output o reaches input o % 4 after `latency` samples (none: silence).
    void stepAudio(SelfTest& test, bool wired, uint32_t latency = 167) {
        const uint32_t outs = context.audioOutChannels, ins = context.audioInChannels;
        for (uint32_t f = 0; f < kFrames; ++f) {
            for (uint32_t i = 0; i < ins; ++i) {
                float x = 0.0f;
                if (wired && history.size() >= latency)
                    for (uint32_t o = i; o < 8; o += 4)
                        x += history[history.size() - latency][o];
                in[f * ins + i] = x;
            }
            std::array<float, 8> frame{};
            history.push_back(frame);
            if (history.size() > 1000)
                history.pop_front();
        }
        test.processBlock(&context, gates);
        // Put this block's output where the next blocks read it.
        for (uint32_t f = 0; f < kFrames; ++f)
            for (uint32_t o = 0; o < std::min(outs, 8u); ++o)
                history[history.size() - kFrames + f][o] = out[f * outs + o];
    }
    std::vector<float> out, in;
    std::vector<uint32_t> digital;
    uint32_t gates[5] = {};
    std::deque<std::array<float, 8>> history;
    BelaContext context;
};

// A fresh page moved on to `test`.
void enter(SelfTest& t, uint32_t test) {
    t.open();
    while (t.state() != test)
        t.advance(false);
}

TEST(SelfTestPulse, ConfirmsEveryGateOnBothInputsOnlyWhenWired) {
    SelfTest unwired;
    enter(unwired, SelfTest::PulseLoopback);
    Rig dead;
    for (int b = 0; b < 64 * 12; ++b)
        dead.step(unwired, -1);
    for (uint32_t k = 0; k < 5; ++k)
        EXPECT_FALSE(unwired.clockConfirmed(k) || unwired.resetConfirmed(k)) << k;

    SelfTest t;
    enter(t, SelfTest::PulseLoopback);
    Rig rig;
    for (int b = 0; b < 64 * 5; ++b)
        rig.step(t, SelfTest::kClockPin);
    for (uint32_t k = 0; k < 5; ++k) {
        EXPECT_TRUE(t.clockConfirmed(k)) << k;
        EXPECT_FALSE(t.resetConfirmed(k)) << k;
    }
    for (int b = 0; b < 64 * 5 && t.state() == SelfTest::PulseLoopback; ++b)
        rig.step(t, SelfTest::kResetPin);
    EXPECT_TRUE(t.passed(SelfTest::PulseLoopback));
    EXPECT_EQ(t.state(), SelfTest::MixerPcb);
}

TEST(SelfTestAudio, ALoopedOutputIsConfirmedAndSilenceConfirmsNothing) {
    SelfTest t;
    enter(t, SelfTest::AudioIo);
    Rig rig;
    int blocks = 0;
    auto anyOutput = [&] {
        for (uint32_t o = 0; o < 8; ++o)
            if (t.outputConfirmed(o))
                return int(o);
        return -1;
    };
    while (anyOutput() < 0 && ++blocks < 200000)
        rig.stepAudio(t, true);
    const int confirmed = anyOutput();
    ASSERT_GE(confirmed, 0);
    EXPECT_TRUE(t.inputConfirmed(uint32_t(confirmed) % 4));
    EXPECT_NEAR(double(t.testFreq.getValue()), 1000.0, 1e-3);

    SelfTest silent;
    enter(silent, SelfTest::AudioIo);
    Rig quiet;
    for (int b = 0; b < blocks + 1000; ++b)
        quiet.stepAudio(silent, false);
    for (uint32_t o = 0; o < 8; ++o)
        EXPECT_FALSE(silent.outputConfirmed(o)) << o;
}

TEST(SelfTestAudio, ChannelsBeyondTheContextAreLeftAlone) {
    SelfTest t;
    enter(t, SelfTest::AudioIo);
    t.audioOutput.setValue(7, false);
    t.audioInput.setValue(3, false);
    Rig rig(2, 2);
    for (int b = 0; b < 200; ++b) {
        t.audioOutput.setValue(7, false);
        rig.stepAudio(t, true);
    }
    for (float v : rig.out)
        EXPECT_EQ(v, 0.0f);
}

// DIN MIDI through a pseudo-terminal whose far end echoes every byte back;
// `corruptAfter` bytes in, one data byte comes back changed.
class MidiEcho {
public:
    explicit MidiEcho(bool echo, size_t corruptAfter = SIZE_MAX) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        char name[128];
        if (master_ < 0 || grantpt(master_) || unlockpt(master_) || ptsname_r(master_, name, sizeof name))
            return;
        host::setMidiPort(name);
        ok_ = port.setup("/dev/ttyS4", 31250);
        thread_ = std::thread([this, echo, corruptAfter] {
            size_t seen = 0;
            bool corrupted = false;
            while (!stop_.load()) {
                port.readInput();
                port.writeOutput();
                uint8_t b[256];
                const ssize_t n = read(master_, b, sizeof b);
                for (ssize_t i = 0; i < n; ++i, ++seen)
                    if (!corrupted && seen >= corruptAfter && b[i] < 0x80) {
                        b[i] = uint8_t((b[i] + 1) & 0x7F);
                        corrupted = true;
                    }
                if (n > 0 && echo)
                    (void)!write(master_, b, size_t(n));
                if (n <= 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        });
    }
    ~MidiEcho() {
        stop_.store(true);
        if (thread_.joinable())
            thread_.join();
        if (master_ >= 0)
            close(master_);
    }
    bool ok() const { return ok_; }
    SerialMIDI port;

private:
    int master_ = -1;
    bool ok_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Runs blocks until the page leaves the MIDI check or `batches` were sent,
// waiting for the echo of each batch before the next.
// runBeforeReset: the matches in a row when a difference first broke the run.
uint32_t runMidi(SelfTest& t, MidiEcho& echo, uint32_t batches, bool waitForEcho, uint32_t& runBeforeReset) {
    Rig rig;
    uint32_t received = 0;
    for (uint32_t b = 0; t.state() == SelfTest::MidiLoopback && t.midiSent() < batches * 4; ++b) {
        rig.step(t, -1);
        const uint32_t expected = t.midiSent();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        do {
            MidiMessage m;
            while (echo.port.readMessage(m)) {
                const uint32_t before = t.midiMatches();
                t.midiReceived(m);
                ++received;
                if (runBeforeReset == 0 && before > 0 && t.midiMatches() == 0)
                    runBeforeReset = before;
            }
        } while (waitForEcho && received < expected && t.state() == SelfTest::MidiLoopback &&
                 std::chrono::steady_clock::now() < deadline);
    }
    return received;
}

TEST(SelfTestMidi, HundredEqualMessagesInARowPassAndAChangedByteStartsAgain) {
    {
        MidiEcho silent(false);
        ASSERT_TRUE(silent.ok());
        SelfTest t;
        t.setMidiPort(&silent.port);
        enter(t, SelfTest::MidiLoopback);
        uint32_t reset = 0;
        EXPECT_EQ(runMidi(t, silent, 30, false, reset), 0u);
        EXPECT_FALSE(t.passed(SelfTest::MidiLoopback));
        EXPECT_EQ(t.midiMatches(), 0u);
        EXPECT_GE(t.midiLost(), 29u * 4);
    }
    MidiEcho echo(true, 120);
    ASSERT_TRUE(echo.ok());
    SelfTest t;
    t.setMidiPort(&echo.port);
    enter(t, SelfTest::MidiLoopback);
    uint32_t reset = 0;
    runMidi(t, echo, 200, true, reset);
    EXPECT_TRUE(t.passed(SelfTest::MidiLoopback));
    EXPECT_EQ(t.state(), SelfTest::Oled);
    EXPECT_GE(t.midiLost(), 1u);
    // The changed byte came after some matches and the run started again.
    EXPECT_GT(reset, 0u);
    EXPECT_LT(reset, 100u);
    EXPECT_GT(t.midiSent(), 100u + reset);
}

TEST(SelfTestPage, KeysEncodersAndTheSequence) {
    SelfTest t;
    ASSERT_TRUE(GUI::openEditor(&t, false));
    EXPECT_EQ(t.state(), SelfTest::Buttons);
    t.button(2, 2);  // close refused during "buttons"
    EXPECT_EQ(GUI::currentEditor.load(), &t);
    for (int k = 0; k < 60; ++k)
        if (k != 3)
            t.button(k, 2);
    EXPECT_EQ(t.state(), SelfTest::Buttons);
    t.button(3, 2);  // the last unseen key
    EXPECT_TRUE(t.passed(SelfTest::Buttons));
    EXPECT_EQ(t.state(), SelfTest::Touchpads);
    MonoGFX window;
    window.init(256, 64);
    t.draw(window);
    EXPECT_EQ(t.baselineUpdates(), 1u);

    t.button(3, 2);
    t.button(3, 2);
    ASSERT_EQ(t.state(), SelfTest::EncoderPcb);
    auto turn = [&](uint32_t e, int steps, int delta, bool pushed) {
        for (int s = 0; s < steps; ++s)
            t.encoder(int(e), delta, pushed);
    };
    for (uint32_t e = 0; e < 32; ++e) {
        const int n = e == 5 ? 26 : 27;  // the first step of each direction counts nothing
        turn(e, n, 1, false);
        turn(e, n, -1, false);
        turn(e, n, 1, true);
        turn(e, n, -1, true);
        EXPECT_EQ(t.encoderComplete(e), e != 5) << e;
    }
    EXPECT_EQ(t.state(), SelfTest::EncoderPcb);
    turn(5, 27, 1, false);
    turn(5, 27, -1, false);
    turn(5, 27, 1, true);
    EXPECT_FALSE(t.passed(SelfTest::EncoderPcb));
    turn(5, 27, -1, true);
    EXPECT_TRUE(t.passed(SelfTest::EncoderPcb));
    EXPECT_EQ(t.state(), SelfTest::PulseLoopback);

    // Round to "buttons" again: passing it twice neither advances nor announces.
    while (t.state() != SelfTest::Buttons)
        t.advance(false);
    EXPECT_EQ(t.baselineUpdates(), 1u);
    t.advance(true);
    EXPECT_EQ(t.state(), SelfTest::Buttons);
    t.button(3, 2);  // key 3 seen before: skips
    EXPECT_EQ(t.state(), SelfTest::Touchpads);
    t.draw(window);
    EXPECT_EQ(t.baselineUpdates(), 2u);  // reached by skipping, recalibrated all the same
    t.button(2, 2);
    EXPECT_EQ(GUI::currentEditor.load(), nullptr);
    EXPECT_FALSE(t.isOpen());
}

}  // namespace

namespace {

// The mixer check, seen by the drawing side from the converters, is applied
// by the next block; without every position seen it never passes.
TEST(SelfTestMixer, EveryMarkAndSwitchPositionSeenPassesOnTheNextBlock) {
    ASSERT_TRUE(Driver::ADC[0].setup(5, "/dev/spidev1.0"));
    ASSERT_TRUE(Driver::ADC[1].setup(48, "/dev/spidev1.0"));
    SelfTest t;
    ASSERT_TRUE(GUI::openEditor(&t, false));
    enter(t, SelfTest::MixerPcb);
    MonoGFX window;
    window.init(256, 64);
    Rig rig;
    auto setAll = [&](uint32_t value) {
        for (unsigned a = 0; a < 2; ++a)
            for (unsigned c = 0; c < 8; ++c)
                host::board().adc(a).setReading(c, value);
        Driver::ADC[0].readAll();
        Driver::ADC[1].readAll();
        t.draw(window);
        rig.step(t, -1);
    };
    for (uint32_t v : {0u, 256u, 512u, 767u})
        setAll(v);
    t.button(2, 2);  // closing is refused: the check uses those keys
    EXPECT_EQ(GUI::currentEditor.load(), &t);
    EXPECT_EQ(t.state(), SelfTest::MixerPcb);
    setAll(1023);
    EXPECT_TRUE(t.passed(SelfTest::MixerPcb));
    EXPECT_EQ(t.state(), SelfTest::AudioIo);
    t.button(2, 2);
    EXPECT_EQ(GUI::currentEditor.load(), nullptr);
}

}  // namespace
