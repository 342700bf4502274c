#include "samples/AudioResource.h"

#include <gtest/gtest.h>

#include "tests/samples/SampleFixtures.h"

using namespace samplefixtures;

namespace {

constexpr float kSineLoudness = -3.9224f;  // 20 log10(2 / pi): mean absolute level of a full-scale sine

void expectAllFinite(const AudioResource& r) {
    for (const auto& f : r.frameFeatures)
        for (float v : f)
            EXPECT_TRUE(std::isfinite(v));
    for (float v : {r.loudnessMin, r.loudnessMax, r.centroidMin, r.centroidMax, r.flatnessMin, r.flatnessMax,
                    r.maxLevel, r.peak, r.maxBlockLevel})
        EXPECT_TRUE(std::isfinite(v));
}

TEST(SampleAnalysis, SineCentroidSitsOnItsFrequencyInEveryFrame) {
    for (double hz : {250.0, 1000.0, 5000.0}) {
        auto r = resourceOf({sine(96000, hz, 48000)});
        r->analyse();
        ASSERT_TRUE(r->analysed);
        ASSERT_EQ(r->frameFeatures.size(), 12u);  // ceil(96000 / 8192)
        // Frames 10 and 11 reach past the end, where the cut spreads the spectrum.
        for (size_t f = 0; f < 10; ++f)
            EXPECT_NEAR(r->frameFeatures[f][1], hz, hz * 0.03) << hz << " Hz, frame " << f;
        EXPECT_NEAR(r->loudnessMax, kSineLoudness, 0.05f);
        EXPECT_LT(r->flatnessMin, 0.05f);
        EXPECT_NEAR(r->peak, 1.0f, 1e-3f);
        expectAllFinite(*r);
    }
}

TEST(SampleAnalysis, CentroidScalesWithTheSampleRate) {
    // The same samples declared at half the rate are an octave lower.
    auto r = resourceOf({sine(48000, 2000.0, 48000)}, 24000.0f);
    r->analyse();
    EXPECT_NEAR(r->frameFeatures[1][1], 1000.0f, 30.0f);
}

TEST(SampleAnalysis, WhiteNoiseIsFlatAndCentredMidBand) {
    auto r = resourceOf({noise(48000 * 2, 7)});
    r->analyse();
    EXPECT_GT(r->flatnessMin, 0.75f);
    EXPECT_LE(r->flatnessMax, 1.0f);
    for (size_t f = 0; f + 1 < r->frameFeatures.size(); ++f)
        EXPECT_NEAR(r->frameFeatures[f][1], 12000.0f, 600.0f);
    // Uniform noise in +-0.5 has a mean absolute level of 0.25.
    EXPECT_NEAR(r->loudnessMax, 20.0f * std::log10(0.25f), 0.2f);
}

TEST(SampleAnalysis, SilenceGivesFiniteFloorFeatures) {
    auto r = resourceOf({std::vector<float>(30000, 0.0f)});
    r->analyse();
    ASSERT_EQ(r->frameFeatures.size(), 4u);
    for (const auto& f : r->frameFeatures) {
        EXPECT_EQ(f[0], AudioResource::kLoudnessFloor);
        EXPECT_EQ(f[1], 0.0f);
    }
    EXPECT_EQ(r->flatnessMin, 0.0f);
    EXPECT_EQ(r->flatnessMax, 0.0f);
    EXPECT_EQ(r->peak, 0.0f);
    EXPECT_EQ(r->maxBlockLevel, 0.0f);
    expectAllFinite(*r);
}

TEST(SampleAnalysis, LeadingSilenceDoesNotSpoilTheExtremes) {
    std::vector<float> samples(20000, 0.0f);
    const auto tone = sine(60000, 1000.0, 48000);
    samples.insert(samples.end(), tone.begin(), tone.end());
    auto r = resourceOf({samples});
    r->analyse();
    EXPECT_EQ(r->frameFeatures[0][0], AudioResource::kLoudnessFloor);
    EXPECT_EQ(r->loudnessMin, AudioResource::kLoudnessFloor);
    EXPECT_NEAR(r->loudnessMax, kSineLoudness, 0.05f);
    for (size_t f = 3; f < 8; ++f)  // whole frames of the tone
        EXPECT_NEAR(r->frameFeatures[f][1], 1000.0f, 30.0f);
    EXPECT_EQ(r->centroidMin, 0.0f);
    EXPECT_NEAR(r->maxLevel, 2.0f / float(M_PI), 0.01f);
    expectAllFinite(*r);
}

TEST(SampleAnalysis, FrameAndOverviewCounts) {
    struct Case {
        size_t frames, hops, blocks;
    };
    for (const Case c : {Case{10000, 2, 79}, Case{8192, 1, 64}, Case{8193, 2, 65}, Case{1, 1, 1}}) {
        auto r = resourceOf({std::vector<float>(c.frames, 0.25f)});
        r->analyse();
        EXPECT_EQ(r->frameFeatures.size(), c.hops) << c.frames;
        EXPECT_EQ(r->overview.size(), c.blocks) << c.frames;
    }
    // A single frame of 8192 samples: its second half is silence.
    auto r = resourceOf({std::vector<float>(8192, 0.5f)});
    r->analyse();
    EXPECT_NEAR(r->frameFeatures[0][0], 20.0f * std::log10(0.25f), 0.01f);
}

TEST(SampleAnalysis, OverviewFollowsTheLevelOfEachBlock) {
    std::vector<float> samples(128 * 100, -0.1f);
    std::fill(samples.begin(), samples.begin() + 128 * 10, 0.5f);
    samples[128 * 50 + 3] = -0.9f;
    auto r = resourceOf({samples});
    r->analyse();
    ASSERT_EQ(r->overview.size(), 100u);
    EXPECT_FLOAT_EQ(r->overview[0], 0.5f);
    EXPECT_FLOAT_EQ(r->overview[9], 0.5f);
    EXPECT_FLOAT_EQ(r->overview[10], 0.1f);
    EXPECT_NEAR(r->overview[50], (127 * 0.1f + 0.9f) / 128.0f, 1e-6f);
    EXPECT_FLOAT_EQ(r->maxBlockLevel, 0.5f);
    EXPECT_FLOAT_EQ(r->peak, 0.9f);
}

TEST(SampleAnalysis, StereoLoudnessUsesBothChannelsSpectrumOnlyTheFirst) {
    const auto tone = sine(48000, 1000.0, 48000);
    auto mono = resourceOf({tone});
    auto stereo = resourceOf({tone, std::vector<float>(48000, 0.0f)});
    auto swapped = resourceOf({std::vector<float>(48000, 0.0f), tone});
    mono->analyse();
    stereo->analyse();
    swapped->analyse();
    for (size_t f = 0; f < mono->frameFeatures.size(); ++f) {
        EXPECT_NEAR(stereo->frameFeatures[f][0], mono->frameFeatures[f][0] - 6.0206f, 0.01f);
        EXPECT_FLOAT_EQ(stereo->frameFeatures[f][1], mono->frameFeatures[f][1]);
        EXPECT_FLOAT_EQ(swapped->frameFeatures[f][0], stereo->frameFeatures[f][0]);
        EXPECT_EQ(swapped->frameFeatures[f][1], 0.0f);  // its first channel is silent
    }
}

TEST(SampleAnalysis, RunsOnceAndOnlyOnLoadedSamples) {
    auto r = resourceOf({noise(20000, 3)});
    r->analyse();
    const auto features = r->frameFeatures;
    const auto overview = r->overview;
    const float peak = r->peak;
    r->analyse();
    EXPECT_EQ(r->frameFeatures, features);
    EXPECT_EQ(r->overview, overview);
    EXPECT_EQ(r->peak, peak);

    auto empty = resourceOf({std::vector<float>{}});
    empty->analyse();
    EXPECT_TRUE(empty->analysed);
    EXPECT_TRUE(empty->frameFeatures.empty());
    EXPECT_TRUE(empty->overview.empty());
    EXPECT_EQ(empty->maxBlockLevel, -1.0f);
    EXPECT_EQ(empty->maxLevel, 1.0f);
    EXPECT_EQ(empty->loudnessMax, 0.0f);
}

TEST(SampleAnalysis, BrokenSampleValuesStillGiveFiniteFeatures) {
    auto samples = sine(30000, 1000.0, 48000);
    samples[100] = std::numeric_limits<float>::quiet_NaN();
    samples[20000] = std::numeric_limits<float>::infinity();
    auto r = resourceOf({samples});
    r->analyse();
    for (const auto& f : r->frameFeatures)
        for (float v : f)
            EXPECT_TRUE(std::isfinite(v));
}

}  // namespace
