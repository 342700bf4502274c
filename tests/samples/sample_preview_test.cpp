// The sample previewer with files made by sox, its loader run by hand.
#include "samples/SamplePreview.h"

#include "dsp/AudioBlock.h"
#include "platform/AudioFile.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"

#include <cmath>
#include <filesystem>
#include <fstream>

namespace {

class SamplePreviewTest : public testing::Test {
protected:
    void SetUp() override {
        root = testsupport::tempDir() + "preview";
        ASSERT_TRUE(host::setRoot(root));
        std::filesystem::create_directories(root + "/p");
        ASSERT_TRUE(preview.setup(false));
    }

    // A sox-made file under the data root; returns its instrument path.
    std::string sox(const std::string& name, const std::string& recipe) {
        const std::string file = root + "/p/" + name;
        if (!std::filesystem::exists(file))
            testsupport::shellOutput("sox -n -r 48000 " + recipe.substr(0, recipe.find(' ')) + " '" + file + "' " +
                                     recipe.substr(recipe.find(' ') + 1) + " 2>&1");
        EXPECT_TRUE(std::filesystem::exists(file)) << name;
        return "/home/corvane/p/" + name;
    }

    AudioBlock renderBlock() {
        AudioBlock block;
        block.clear();
        for (auto& s : block.channelState)
            s = ChannelState::Vacant;
        preview.render(block);
        return block;
    }

    std::string root;
    SamplePreview preview;
};

TEST_F(SamplePreviewTest, MonoFilePlaysEqualOnBothOutputsAtAQuarter) {
    const std::string path = sox("mono.wav", "-c1 synth 0.5 sine 440");
    const auto source = AudioFileUtilities::load(host::hostPath(path));
    ASSERT_EQ(source.size(), 1u);
    preview.play(path);
    EXPECT_TRUE(preview.isRequested());
    renderBlock();  // no loader task here: nothing plays yet
    preview.load();
    EXPECT_FALSE(preview.isRequested());
    for (int b = 0; b < 3; ++b) {
        const AudioBlock block = renderBlock();
        EXPECT_EQ(block.channelState[0], b == 0 ? ChannelState::Started : ChannelState::Playing);
        EXPECT_EQ(block.channelState[1], block.channelState[0]);
        for (uint32_t f = 0; f < 64; ++f) {
            EXPECT_FLOAT_EQ(block.channel(0)[f], 0.25f * source[0][size_t(b * 64 + f)]);
            EXPECT_FLOAT_EQ(block.channel(1)[f], block.channel(0)[f]);
        }
    }
}

TEST_F(SamplePreviewTest, LongFileStopsAfterFiveSecondsWithA512FrameFade) {
    const std::string path = sox("six.wav", "-c2 synth 6 sine 300 sine 500");
    const auto source = AudioFileUtilities::load(host::hostPath(path), SamplePreview::kMaxFrames);
    preview.play(path);
    preview.load();
    std::vector<float> left;
    for (int b = 0; b < 5000 && preview.isLoaded(); ++b) {
        const AudioBlock block = renderBlock();
        left.insert(left.end(), block.channel(0), block.channel(0) + 64);
    }
    ASSERT_FALSE(preview.isLoaded());
    EXPECT_EQ(preview.position(), 240000u);
    // Full gain up to the last 512 frames, then a straight ramp to silence.
    const size_t fadeStart = 240000 - 512;
    EXPECT_FLOAT_EQ(left[fadeStart - 1], 0.25f * source[0][fadeStart - 1]);
    for (size_t k : {0u, 128u, 256u, 384u, 511u}) {
        const float gain = 1.0f - float(k) / 512.0f;
        EXPECT_NEAR(left[fadeStart + k], 0.25f * source[0][fadeStart + k] * gain, 1e-4f) << k;
    }
    for (size_t i = 240000; i < left.size(); ++i)
        ASSERT_EQ(left[i], 0.0f);
}

TEST_F(SamplePreviewTest, ShortAndUnreadableFilesPlayOnceAndStopDoesNothingWhenIdle) {
    const std::string shortFile = sox("short.wav", "-c1 synth 480s sine 1000");
    const std::string broken = "/home/corvane/p/broken.wav";
    std::ofstream(root + "/p/broken.wav") << "RIFF? not really";

    for (const std::string& path : {shortFile, broken}) {
        preview.play(path);
        int starts = 0;
        for (int b = 0; b < 50; ++b) {
            if (preview.isRequested() && !preview.isLoaded())
                preview.load();  // what the task does when render schedules it
            const AudioBlock block = renderBlock();
            starts += block.channelState[0] == ChannelState::Started;
        }
        EXPECT_LE(starts, 1) << path;
        EXPECT_EQ(starts, path == shortFile ? 1 : 0) << path;
        EXPECT_FALSE(preview.isLoaded());
        EXPECT_FALSE(preview.isRequested());
    }

    preview.play("/home/corvane/p/nothing-here.wav");
    EXPECT_FALSE(preview.isRequested());
    preview.stop();
    EXPECT_FALSE(preview.isLoaded());
}

// Set up again on another root, the previewer loads the new root's file of
// the same name, not what the last run left in its slot.
TEST_F(SamplePreviewTest, ASecondSetUpLoadsTheNewRootsFile) {
    const std::string path = sox("same.wav", "-c1 synth 0.5 sine 440");
    preview.play(path);
    preview.load();
    renderBlock();
    root = testsupport::tempDir() + "preview-again";
    ASSERT_TRUE(host::setRoot(root));
    std::filesystem::create_directories(root + "/p");
    ASSERT_EQ(sox("same.wav", "-c1 synth 0.5 sine 440 vol 0.5"), path);
    const auto source = AudioFileUtilities::load(host::hostPath(path));
    ASSERT_TRUE(preview.setup(false));
    preview.play(path);
    preview.load();
    ASSERT_TRUE(preview.isLoaded());
    const AudioBlock block = renderBlock();
    for (uint32_t f = 0; f < 64; ++f)
        EXPECT_FLOAT_EQ(block.channel(0)[f], 0.25f * source[0][f]) << f;
}

}  // namespace
