#include "samples/AudioResource.h"

#include <gtest/gtest.h>

#include "tests/samples/SampleFixtures.h"

using namespace samplefixtures;

namespace {

constexpr float kSineLoudness = -3.9224f;  // 20 log10(2 / pi): mean absolute level of a full-scale sine

void expectFinite(const AudioResource& r) {
    for (const auto& f : r.frameFeatures)
        EXPECT_TRUE(std::isfinite(f[0]) && std::isfinite(f[1]));
    for (float v : {r.loudnessMin, r.centroidMin, r.flatnessMin, r.flatnessMax, r.maxLevel})
        EXPECT_TRUE(std::isfinite(v));
}

TEST(SampleAnalysis, SineHasItsCentroidAtItsFrequencyAndNoFlatness) {
    for (double hz : {250.0, 1000.0, 5000.0}) {
        auto r = resourceOf({sine(96000, hz, 48000)});
        r->analyse();
        ASSERT_EQ(r->frameFeatures.size(), 12u);  // ceil(96000 / 8192)
        // Frames 10 and 11 reach past the end, where the cut spreads the spectrum.
        for (size_t f = 0; f < 10; ++f)
            EXPECT_NEAR(r->frameFeatures[f][1], hz, hz * 0.03) << hz << " Hz, frame " << f;
        EXPECT_NEAR(r->loudnessMax, kSineLoudness, 0.05f);
        EXPECT_LT(r->flatnessMin, 0.05f);
        EXPECT_NEAR(r->peak, 1.0f, 1e-3f);
    }
}

TEST(SampleAnalysis, WhiteNoiseIsFlatAndCentredMidBand) {
    auto r = resourceOf({noise(48000 * 2, 7)});
    r->analyse();
    EXPECT_GT(r->flatnessMin, 0.75f);  // Rayleigh-distributed magnitudes: about 0.85
    EXPECT_LE(r->flatnessMax, 1.0f);
    for (size_t f = 0; f + 1 < r->frameFeatures.size(); ++f)
        EXPECT_NEAR(r->frameFeatures[f][1], 12000.0f, 600.0f);
    EXPECT_NEAR(r->loudnessMax, 20.0f * std::log10(0.25f), 0.2f);  // mean |x| of noise in +-0.5
}

TEST(SampleAnalysis, SilenceGivesFiniteFeatures) {
    auto silent = resourceOf({std::vector<float>(30000, 0.0f)});
    silent->analyse();
    for (const auto& f : silent->frameFeatures)
        EXPECT_EQ(f, (std::vector<float>{AudioResource::kLoudnessFloor, 0.0f}));
    EXPECT_EQ(silent->flatnessMax, 0.0f);
    expectFinite(*silent);

    // Silence first: the extremes still come out right.
    std::vector<float> samples(20000, 0.0f);
    const auto tone = sine(60000, 1000.0, 48000);
    samples.insert(samples.end(), tone.begin(), tone.end());
    auto late = resourceOf({samples});
    late->analyse();
    EXPECT_EQ(late->loudnessMin, AudioResource::kLoudnessFloor);
    EXPECT_NEAR(late->loudnessMax, kSineLoudness, 0.05f);
    EXPECT_EQ(late->centroidMin, 0.0f);
    for (size_t f = 3; f < 8; ++f)  // the frames wholly inside the tone
        EXPECT_NEAR(late->frameFeatures[f][1], 1000.0f, 30.0f);
    EXPECT_NEAR(late->maxLevel, 2.0f / float(M_PI), 0.01f);
    expectFinite(*late);
}

TEST(SampleAnalysis, FramesOverviewAndLevels) {
    const std::tuple<size_t, size_t, size_t> counts[] = {{10000, 2, 79}, {8192, 1, 64}, {8193, 2, 65}, {0, 0, 0}};
    for (const auto& [frames, hops, blocks] : counts) {
        auto r = resourceOf({std::vector<float>(frames, 0.5f)});
        r->analyse();
        EXPECT_EQ(r->frameFeatures.size(), hops) << frames;
        EXPECT_EQ(r->overview.size(), blocks) << frames;
        // The loudest frame is the first; past the end counts as silence.
        EXPECT_NEAR(r->maxLevel, frames ? 0.5f * float(frames) / 16384.0f : 1.0f, 1e-5f) << frames;
    }
    std::vector<float> steps(128 * 100, -0.1f);
    std::fill(steps.begin(), steps.begin() + 128 * 10, 0.5f);
    steps[128 * 50 + 3] = -0.9f;
    auto r = resourceOf({steps});
    r->analyse();
    EXPECT_FLOAT_EQ(r->overview[9], 0.5f);
    EXPECT_FLOAT_EQ(r->overview[10], 0.1f);
    EXPECT_NEAR(r->overview[50], (127 * 0.1f + 0.9f) / 128.0f, 1e-6f);
    EXPECT_FLOAT_EQ(r->maxBlockLevel, 0.5f);
    EXPECT_FLOAT_EQ(r->peak, 0.9f);
    r->peak = 0.0f;
    r->analyse();  // a second run does nothing
    EXPECT_EQ(r->peak, 0.0f);
}

TEST(SampleAnalysis, StereoLoudnessUsesBothChannelsSpectrumOnlyTheFirst) {
    const auto tone = sine(48000, 1000.0, 48000);
    const std::vector<float> quiet(48000, 0.0f);
    auto mono = resourceOf({tone}), stereo = resourceOf({tone, quiet}), swapped = resourceOf({quiet, tone});
    for (auto* r : {mono.get(), stereo.get(), swapped.get()})
        r->analyse();
    for (size_t f = 0; f < mono->frameFeatures.size(); ++f) {
        EXPECT_NEAR(stereo->frameFeatures[f][0], mono->frameFeatures[f][0] - 6.0206f, 0.01f);
        EXPECT_EQ(stereo->frameFeatures[f][1], mono->frameFeatures[f][1]);
        EXPECT_EQ(swapped->frameFeatures[f], (std::vector<float>{stereo->frameFeatures[f][0], 0.0f}));
    }
}

}  // namespace
