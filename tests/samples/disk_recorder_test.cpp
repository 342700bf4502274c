// The disk recorder against libsndfile, soxi and sox.
#include "samples/DiskRecorder.h"

#include "platform/Paths.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

using testsupport::shellOutput;

class DiskRecorderTest : public testing::Test {
protected:
    void SetUp() override {
        root = testsupport::tempDir() + "recorder-" + testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(root);
        ASSERT_TRUE(host::setRoot(root));
        ASSERT_TRUE(recorder.setup(false));
    }

    // `count` blocks of a sine on every channel, pushed as the voice manager does.
    void pushSine(uint32_t count, uint32_t channels, double hz, float amplitude = 0.5f) {
        std::vector<float> block(64 * channels);
        for (uint32_t b = 0; b < count; ++b) {
            for (uint32_t f = 0; f < 64; ++f, ++frame)
                for (uint32_t c = 0; c < channels; ++c)
                    block[f * channels + c] = amplitude * float(std::sin(2.0 * M_PI * hz * double(frame) / 48000.0));
            recorder.pushInterleaved(block.data(), channels);
        }
    }

    std::string soxi(const std::string& option, const std::string& file) {
        return shellOutput("soxi " + option + " '" + file + "' 2>/dev/null");
    }

    // Zero crossings per second of channel 0.
    static double crossingRate(const std::string& file) {
        SF_INFO info{};
        SNDFILE* f = sf_open(file.c_str(), SFM_READ, &info);
        if (!f)
            return 0.0;
        std::vector<float> data(size_t(info.frames * info.channels));
        sf_readf_float(f, data.data(), info.frames);
        sf_close(f);
        int crossings = 0;
        for (sf_count_t i = 1; i < info.frames; ++i)
            crossings += (data[size_t(i * info.channels)] >= 0.0f) != (data[size_t((i - 1) * info.channels)] >= 0.0f);
        return double(crossings) / 2.0 / (double(info.frames) / 48000.0);
    }

    std::string root;
    DiskRecorder recorder;
    uint64_t frame = 0;
};

TEST_F(DiskRecorderTest, SteppedBlocksBecomeA16BitWavWithNothingLostAtTheStop) {
    ASSERT_TRUE(recorder.start("first.wav", 2));  // the recordings folder is made on the way
    EXPECT_EQ(recorder.path(), "/home/corvane/recordings/first.wav");
    EXPECT_FALSE(recorder.start("other.wav", 2));  // already recording
    pushSine(10, 2, 1000.0);
    recorder.drain();
    pushSine(15, 2, 1000.0);  // still in the pipe when the stop comes
    recorder.stop();
    EXPECT_FALSE(recorder.start("other.wav", 2));  // the file is not closed yet
    recorder.drain();
    ASSERT_FALSE(recorder.isFileOpen());
    pushSine(3, 2, 1000.0);  // a block in flight after the close: it belongs to no file

    const std::string first = root + "/recordings/first.wav";
    EXPECT_EQ(soxi("-r", first), "48000\n");
    EXPECT_EQ(soxi("-b", first), "16\n");
    EXPECT_EQ(soxi("-c", first), "2\n");
    EXPECT_EQ(soxi("-s", first), std::to_string(25 * 64) + "\n");
    EXPECT_NEAR(crossingRate(first), 1000.0, 30.0);

    // The next file, of another channel count, holds only its own signal.
    frame = 0;
    ASSERT_TRUE(recorder.start("second.wav", 1));
    pushSine(40, 1, 3000.0);
    recorder.stop();
    recorder.drain();
    const std::string second = root + "/recordings/second.wav";
    EXPECT_EQ(soxi("-c", second), "1\n");
    EXPECT_EQ(soxi("-s", second), std::to_string(40 * 64) + "\n");
    EXPECT_NEAR(crossingRate(second), 3000.0, 60.0);
}

TEST_F(DiskRecorderTest, OversClipInsteadOfWrappingAndMetersFollowThePeak) {
    ASSERT_TRUE(recorder.start("/home/corvane/loud.wav", 1));
    std::vector<float> overs(64, 1.5f);
    for (int i = 0; i < 20; ++i)
        recorder.pushInterleaved(overs.data(), 1);
    recorder.drain();
    EXPECT_FLOAT_EQ(recorder.level(0), 1.5f);  // rise 1.0: the meter jumps at once
    recorder.stop();
    recorder.drain();
    const std::string stat = shellOutput("sox '" + root + "/loud.wav' -n stat 2>&1");
    const auto at = stat.find("Maximum amplitude:");
    ASSERT_NE(at, std::string::npos) << stat;
    const double maximum = std::stod(stat.substr(at + 18));
    EXPECT_LE(maximum, 1.0);
    EXPECT_GT(maximum, 0.99);  // a wrapped over would read about -0.5
}

TEST_F(DiskRecorderTest, RefusalsChangeNothing) {
    const std::string existing = root + "/recordings/keep.wav";
    std::filesystem::create_directories(root + "/recordings");
    std::ofstream(existing) << "precious";
    const std::string before = shellOutput("sha256sum '" + existing + "'");
    EXPECT_FALSE(recorder.start("keep.wav", 2));
    EXPECT_EQ(shellOutput("sha256sum '" + existing + "'"), before);

    EXPECT_FALSE(recorder.start("/home/corvane/missing/x.wav", 2));
    EXPECT_FALSE(std::filesystem::exists(root + "/missing"));
    EXPECT_FALSE(recorder.start("zero.wav", 0));
    EXPECT_FALSE(recorder.start("nine.wav", 9));
    // A name the file system refuses: the open fails and is reported as such.
    EXPECT_FALSE(recorder.start(std::string(300, 'n') + ".wav", 2));
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_FALSE(recorder.isFileOpen());
    EXPECT_TRUE(recorder.start("after.wav", 2));  // nothing was left half-started
}

TEST_F(DiskRecorderTest, PlanarChannelsAndAFullPipeAreAccountedFor) {
    ASSERT_TRUE(recorder.start("planar.wav", 2));
    float planar[8 * 64];
    for (uint32_t c = 0; c < 8; ++c)
        for (uint32_t f = 0; f < 64; ++f)
            planar[c * 64 + f] = 0.1f * float(c);
    recorder.pushBlock(planar, 2, 2);
    recorder.pushBlock(planar, 7, 2);  // past channel 8: ignored
    EXPECT_EQ(recorder.blocksPushed(), 1u);
    // 64 KB hold about 127 blocks of two channels: the rest are dropped and counted.
    for (int i = 0; i < 300; ++i)
        recorder.pushBlock(planar, 2, 2);
    const uint32_t pushed = recorder.blocksPushed();
    EXPECT_EQ(pushed + recorder.blocksDropped(), 301u);
    EXPECT_GT(recorder.blocksDropped(), 0u);
    recorder.stop();
    recorder.drain();
    EXPECT_EQ(recorder.blocksWritten(), pushed);

    SF_INFO info{};
    SNDFILE* f = sf_open((root + "/recordings/planar.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    float frame[2];
    sf_readf_float(f, frame, 1);
    sf_close(f);
    EXPECT_NEAR(frame[0], 0.2f, 1e-3f);
    EXPECT_NEAR(frame[1], 0.3f, 1e-3f);
}

}  // namespace
