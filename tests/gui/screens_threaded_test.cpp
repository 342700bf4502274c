// The interface task animates the screensaver and serves the number pad
// while the audio side draws from the shared generators and posts keys.
#include "dsp/Random.h"
#include "gui/MonoGFX.h"
#include "gui/Numpad.h"
#include "gui/Screensaver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace DSP {
extern Random random;
extern Noise noise;
}  // namespace DSP

namespace {

TEST(ScreensThreaded, ScreensaverBesideTheAudioGenerators) {
    Screensaver s;
    MonoGFX w;
    w.init(256, 64);
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> drawn{0};
    std::thread audio([&] {
        uint64_t sum = 0;
        while (!stop.load(std::memory_order_acquire))
            sum += DSP::random.nextHigh() + uint32_t(DSP::noise.next() > 0.0f);
        EXPECT_NE(sum, 1u);
    });
    for (int frame = 0; frame < 300; ++frame) {
        s.draw(w);
        drawn.fetch_add(1);
    }
    stop.store(true, std::memory_order_release);
    audio.join();
    EXPECT_EQ(drawn.load(), 300u);
}

TEST(ScreensThreaded, NumpadKeysFromTheAudioThread) {
    Numpad pad;
    MonoGFX w;
    w.init(256, 64);
    ASSERT_TRUE(pad.open(Numpad::kText, "t", "", 32));
    constexpr int kPresses = 2000;
    std::atomic<int> posted{0};
    std::thread audio([&] {
        for (int k = 0; k < kPresses; ++k) {
            pad.tick();
            pad.key(k % 2 ? 2 : 13, k % 2 ? 3 : 2);  // "0" then a held delete (never a cancel)
            pad.encoder(12, k % 3 - 1, false);
            posted.fetch_add(1, std::memory_order_release);
        }
    });
    // Draw until every press was posted and applied.
    while (posted.load(std::memory_order_acquire) < kPresses)
        pad.draw(w);
    audio.join();
    pad.draw(w);
    EXPECT_TRUE(pad.isOpen());
    EXPECT_LE(pad.text.size(), 32u);
    EXPECT_LE(size_t(pad.cursor.value.load()), pad.text.size());
}

}  // namespace
