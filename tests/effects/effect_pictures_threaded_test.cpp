// Every effect's picture drawn by one thread while another processes blocks:
// the pictures read only single words the audio side publishes.
#include "EffectTestSupport.h"
#include "effects/EffectFactory.h"
#include "gui/MonoGFX.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(EffectPictures, DrawnWhileTheAudioRuns) {
    for (int id = 2; id <= 16; ++id) {
        std::shared_ptr<AudioEffect> fx = createEffect(AudioEffectType(id));
        ASSERT_TRUE(fx) << id;
        std::atomic<long> blocks{0}, draws{0};
        std::atomic<bool> done{false};
        std::thread audio([&] {
            // Runs until the picture has been drawn a few times meanwhile.
            for (long b = 0; b < 64 || draws.load() < 8; ++b) {
                AudioBlock block;
                for (uint32_t c = 0; c < 8; ++c) {
                    block.channelState[c] = ChannelState((b / 4 + c) % 4);
                    fxtest::fillChannel(block, c, 0.25f * float(c % 3));
                }
                fx->process(block);
                blocks.fetch_add(1);
                std::this_thread::yield();
            }
            done = true;
        });
        // The channel marks of the full header: one row per channel, grey
        // 0, 4 or 8 by the state the audio side published; the frame at its corner.
        auto mark = [](const MonoGFX& g, uint32_t c) { return g.pixel(32, 6 + 3 * int(c)); };
        long wrong = 0;
        MonoGFX gfx;
        gfx.init(256, 64);
        while (!done.load()) {
            gfx.clear();
            fx->drawHeader(&gfx, 0, 4, 4, true, true);
            wrong += gfx.pixel(4, 4) != 12u;
            for (uint32_t c = 0; c < 8; ++c)
                wrong += mark(gfx, c) != 0u && mark(gfx, c) != 4u && mark(gfx, c) != 8u;
            draws.fetch_add(1);
            std::this_thread::yield();
        }
        audio.join();
        EXPECT_EQ(wrong, 0) << effectTypeName(id);
        EXPECT_GE(draws.load(), 8) << effectTypeName(id);
        EXPECT_GE(blocks.load(), 64) << effectTypeName(id);
        // Once the audio side rests, the marks show exactly what it published.
        gfx.clear();
        fx->drawHeader(&gfx, 0, 4, 4, true, true);
        for (uint32_t c = 0; c < 8; ++c) {
            const ChannelState state = fx->channelState(c);
            const uint32_t grey = state == ChannelState::Silent ? 4u
                                  : state == ChannelState::Playing || state == ChannelState::Started ? 8u
                                                                                                    : 0u;
            EXPECT_EQ(mark(gfx, c), grey) << effectTypeName(id) << " channel " << c;
        }
    }
}
