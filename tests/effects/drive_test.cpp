// The drive's mix, compensation and low cut measured on tones.
#include "EffectTestSupport.h"
#include "effects/SaturationFX.h"

#include <gtest/gtest.h>

TEST(Drive, SmallSignalsPassAtThePostGainAndDryOnlyIsExact) {
    SaturationFX fx;
    fx.drive.setValue(24.0f, true);
    fxtest::settleParameters(fx);
    const std::vector<float> in = fxtest::sine(440.0, 4800, 1e-5);
    EXPECT_NEAR(fxtest::toneGainDb(in, fxtest::renderChannel(fx, in, 0), 440.0, 0), 0.0, 0.05);
    fx.shape.setValue(SaturationFX::Medium, true);
    EXPECT_NEAR(fxtest::toneGainDb(in, fxtest::renderChannel(fx, in, 0), 440.0, 0), fxtest::dB(1.5), 0.05);

    fx.dryWet.setValue(0.0f, true);
    fxtest::settleParameters(fx);
    const std::vector<float> loud = fxtest::sine(440.0, 640, 0.9);
    EXPECT_EQ(fxtest::renderChannel(fx, loud, 0), loud);
}

TEST(Drive, HardDriveClipsAndTheLowCutActsOnTheWetPartOnly) {
    SaturationFX fx;
    fx.drive.setValue(40.0f, true);
    fx.shape.setValue(SaturationFX::Hard, true);
    fxtest::settleParameters(fx);
    const std::vector<float> out = fxtest::renderChannel(fx, fxtest::sine(100.0, 9600, 0.5), 0);
    float peak = 0.0f;
    for (float v : out)
        peak = std::max(peak, std::fabs(v));
    EXPECT_NEAR(peak, 0.01f, 1e-4f);  // clipped at 1, then / 100

    fx.lowCut.setValue(4, true);  // "800 Hz"
    fx.drive.setValue(0.0f, true);
    fx.dryWet.setValue(50.0f, true);
    fxtest::settleParameters(fx);
    const std::vector<float> in = fxtest::sine(20.0, 96000, 0.1);
    // The wet part is cut, the dry part (0.707) stays.
    EXPECT_NEAR(fxtest::toneGainDb(in, fxtest::renderChannel(fx, in, 0), 20.0, 48000), fxtest::dB(std::sqrt(0.5)), 0.2);
}
