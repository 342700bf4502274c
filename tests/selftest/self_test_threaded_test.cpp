// The page drawn on one thread while the block hook and the panel input run
// on another, through every check: the passed word posted by the drawing
// side is applied by the block side.
#include "selftest/SelfTest.h"

#include "gui/MonoGFX.h"
#include "platform/Context.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(SelfTestThreaded, DrawingWhileBlocksRunThroughEveryCheck) {
    SelfTest t;
    t.setMidiPort(nullptr);
    t.open();
    std::vector<float> out(64 * 8), in(64 * 8, 0.1f);
    std::vector<uint32_t> digital(64, 0xFFFF);
    BelaContext context;
    context.audioOut = out.data();
    context.audioIn = in.data();
    context.digital = digital.data();
    uint32_t gates[5] = {};

    std::atomic<bool> stop{false};
    std::atomic<uint32_t> frames{0};
    std::thread gui([&] {
        MonoGFX window;
        window.init(256, 64);
        float levels[32];
        while (!stop.load()) {
            t.draw(window);
            for (float& l : levels)
                l = 0.0f;
            t.ledLevels(levels);
            frames.fetch_add(1);
        }
    });
    for (uint32_t round = 0; round < 3 * 10; ++round) {
        const uint32_t s = t.state();
        const uint32_t target = frames.load() + 3;
        for (int b = 0; b < 200 || frames.load() < target; ++b) {
            t.processBlock(&context, gates);
            t.encoder(b % 32, b % 50 < 25 ? 1 : -1, b % 100 < 50);
            t.midiReceived(MidiMessage{2, 0, 60, 100});
        }
        if (t.state() == s)
            t.button(3, 2);
    }
    stop.store(true);
    gui.join();
    EXPECT_GT(frames.load(), 0u);
    EXPECT_TRUE(t.isOpen());
}

}  // namespace
