// The tremolo measured on DC: its line, its cycle starts and its picture.
#include "EffectTestSupport.h"
#include "effects/AmplitudeModFX.h"
#include "gui/MonoGFX.h"

#include <gtest/gtest.h>

TEST(AmpMod, DcBecomesALineAtTheBlockRoundedRate) {
    const struct {
        float hz;
        uint32_t period;
        double line;
    } cases[] = {{150.0f, 320, 150.0}, {200.0f, 192, 250.0}};
    for (const auto& k : cases) {
        AmplitudeModFX fx;
        fx.freq.setValue(k.hz, true);
        fxtest::settleParameters(fx);
        const std::vector<float> out = fxtest::renderChannel(fx, std::vector<float>(9600, 1.0f), 1);
        EXPECT_EQ(fx.period[1].load(), k.period);
        for (size_t n = 0; n < out.size(); n += k.period)
            ASSERT_EQ(out[n], 0.0f) << n;
        EXPECT_NEAR(fxtest::toneAmplitude(out, k.line, 0, 9600), 0.5, 0.01) << k.hz;
        EXPECT_LT(fxtest::toneAmplitude(out, k.line * 1.1, 0, 9600), 0.02) << k.hz;
    }
}

TEST(AmpMod, CycleStartsAreNewNotesAndRestartStartsAtFullGain) {
    AmplitudeModFX fx;
    fx.freq.setValue(250.0f, true);
    fxtest::settleParameters(fx);
    int started = 0;
    for (int b = 0; b < 30; ++b) {
        AudioBlock block;
        block.channelState[0] = ChannelState::Playing;
        fxtest::fillChannel(block, 0, 1.0f);
        fx.process(block);
        started += block.channelState[0] == ChannelState::Started;
    }
    EXPECT_EQ(started, 10);  // 192 samples: every third block

    AudioBlock note;
    note.channelState[0] = ChannelState::Started;
    fxtest::fillChannel(note, 0, 1.0f);
    fx.process(note);
    EXPECT_FLOAT_EQ(note.channel(0)[0], 1.0f);
    EXPECT_EQ(note.channelState[0], ChannelState::Started);
}

TEST(AmpMod, APictureBeforeTheFirstBlockIsFinite) {
    MonoGFX gfx;
    gfx.init(256, 64);
    AmplitudeModFX fx;
    fx.drawHeader(&gfx, 0, 10, 10, true, true);
    for (uint32_t c = 0; c < 8; ++c)
        EXPECT_EQ(fx.gain[c].load(), 0.0f);
    EXPECT_EQ(AmplitudeModFX::gainAt(0, 0), 0.0f);
}
