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
        MonoGFX gfx;
        gfx.init(256, 64);
        while (!done.load()) {
            fx->drawHeader(&gfx, 0, 4, 4, true, true);
            draws.fetch_add(1);
            std::this_thread::yield();
        }
        audio.join();
        EXPECT_GE(draws.load(), 8) << effectTypeName(id);
        EXPECT_GE(blocks.load(), 64) << effectTypeName(id);
    }
}
