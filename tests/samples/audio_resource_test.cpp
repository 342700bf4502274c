#include "samples/AudioResource.h"

#include <gtest/gtest.h>

#include "tests/samples/SampleFixtures.h"

#include <fstream>

using namespace samplefixtures;

namespace {

struct Format {
    const char* name;
    int format;      // libsndfile, or 0 when sox converts
    const char* ext; // extension for sox
    int channels;
    int rate;
    float tolerance;  // of the read-back sine
};

std::vector<float> interleavedSine(int channels, int rate, size_t frames) {
    const auto left = sine(frames, 440.0, rate, 0.5f);
    const auto right = sine(frames, 660.0, rate, 0.25f);
    std::vector<float> out(frames * size_t(channels));
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            out[i * size_t(channels) + size_t(c)] = c == 0 ? left[i] : right[i];
    return out;
}

class SampleFileFormats : public ::testing::TestWithParam<Format> {};

TEST_P(SampleFileFormats, LoadEveryChannelAtTheFilesRate) {
    const Format f = GetParam();
    const size_t frames = 12345;
    std::string path = folder() + "format-" + f.name + "." + f.ext;
    if (f.format) {
        ASSERT_TRUE(writeSound(path, f.format, f.channels, f.rate, interleavedSine(f.channels, f.rate, frames)));
    } else {
        const std::string source = folder() + "format-" + f.name + "-source.wav";
        ASSERT_TRUE(writeSound(source, SF_FORMAT_WAV | SF_FORMAT_PCM_24, f.channels, f.rate,
                               interleavedSine(f.channels, f.rate, frames)));
        ASSERT_EQ(run("sox '" + source + "' '" + path + "'"), 0) << "sox could not make " << path;
    }

    AudioResource r(path);
    ASSERT_TRUE(r.loaded);
    EXPECT_FLOAT_EQ(r.sampleRate, float(f.rate));
    ASSERT_EQ(r.channels.size(), size_t(f.channels));
    EXPECT_EQ(r.frameCount(), frames);
    for (const auto& channel : r.channels)
        EXPECT_EQ(channel.size(), frames);
    // The left channel is a 440 Hz sine of amplitude 0.5.
    const auto expected = sine(frames, 440.0, f.rate, 0.5f);
    float worst = 0.0f;
    for (size_t i = 0; i < frames; ++i)
        worst = std::max(worst, std::fabs(r.channels[0][i] - expected[i]));
    EXPECT_LT(worst, f.tolerance);
    EXPECT_FALSE(r.analysed);
    EXPECT_FLOAT_EQ(r.pitch, 440.0f);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SampleFileFormats,
    ::testing::Values(Format{"wav8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, "wav", 1, 48000, 0.02f},
                      Format{"wav16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, "wav", 2, 44100, 1e-4f},
                      Format{"wav24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, "wav", 1, 96000, 1e-6f},
                      Format{"wavfloat", SF_FORMAT_WAV | SF_FORMAT_FLOAT, "wav", 2, 48000, 1e-7f},
                      Format{"flac", 0, "flac", 2, 48000, 1e-6f},
                      Format{"ogg", 0, "ogg", 1, 44100, 0.05f},
                      Format{"aiff", 0, "aiff", 2, 22050, 1e-6f},
                      Format{"odd_rate", 0, "wav", 1, 11025, 1e-6f},
                      Format{"aiff_high_rate", 0, "aif", 1, 192000, 1e-6f}),
    [](const ::testing::TestParamInfo<Format>& info) { return std::string(info.param.name); });

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

TEST(SampleFile, UnreadableFilesStayUnloadedWithoutAMessage) {
    const std::string valid = folder() + "whole.wav";
    ASSERT_TRUE(writeSound(valid, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000, sine(4800, 440, 48000)));
    std::ifstream in(valid, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    const std::string headerCut = folder() + "header-cut.wav";
    writeBytes(headerCut, bytes.substr(0, 20));
    const std::string empty = folder() + "empty.wav";
    writeBytes(empty, "");
    const std::string text = folder() + "notes.wav";
    writeBytes(text, "these are not samples, only words about them\n");

    for (const auto& path : {headerCut, empty, text, folder() + "no-such-file.wav"}) {
        testing::internal::CaptureStdout();
        {
            AudioResource r(path);
            EXPECT_FALSE(r.loaded) << path;
            EXPECT_TRUE(r.channels.empty()) << path;
            EXPECT_EQ(r.frameCount(), 0u);
            EXPECT_FLOAT_EQ(r.sampleRate, 48000.0f) << path;
            r.analyse();  // does nothing for a resource that is not loaded
            EXPECT_FALSE(r.analysed);
            EXPECT_TRUE(r.frameFeatures.empty());
        }
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.find("loaded:"), std::string::npos) << out;
    }
}

TEST(SampleFile, DataCutShortLoadsWhatIsThereInEveryChannel) {
    const std::string valid = folder() + "stereo-whole.wav";
    ASSERT_TRUE(writeSound(valid, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 48000, interleavedSine(2, 48000, 10000)));
    std::ifstream in(valid, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string cut = folder() + "stereo-cut.wav";
    writeBytes(cut, bytes.substr(0, bytes.size() / 2 + 1));  // ends inside a frame

    AudioResource r(cut);
    ASSERT_TRUE(r.loaded);
    ASSERT_EQ(r.channels.size(), 2u);
    EXPECT_EQ(r.channels[0].size(), r.channels[1].size());
    EXPECT_GT(r.frameCount(), 4000u);
    EXPECT_LT(r.frameCount(), 10000u);
    r.analyse();
    EXPECT_TRUE(r.analysed);
}

TEST(SampleFile, MessagesNameTheFileOnLoadAndThePathOnUnload) {
    const std::string path = folder() + "pad_C4.wav";
    ASSERT_TRUE(writeSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, sine(1000, 523.25, 44100)));
    testing::internal::CaptureStdout();
    {
        AudioResource r(path);
        EXPECT_NEAR(r.pitch, 523.251f, 0.01f);
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Detected pitch in file name of [" + path + "]: midinote 72 = 523.251 Hz\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("AudioResource[pad_C4.wav] loaded: sr = 44kHz, pitch 523.3Hz\n"), std::string::npos) << out;
    EXPECT_NE(out.find("AudioResource [" + path + "] has been unloaded\n"), std::string::npos) << out;
}

// The octave number changes at A: A4 is 440 Hz and C4 lies above it.
TEST(SampleFile, PitchFromTheFileName) {
    struct Case {
        const char* path;
        int note;  // -1: no pitch in the name
    };
    const Case cases[] = {
        {"/s/kick.wav", -1},       {"/s/pad_C4.wav", 72},    {"/s/bass_F#1.wav", 42}, {"/s/lead_e2.aiff", 52},
        {"/s/snareb3.wav", 63},    {"/s/A10.wav", -1},       {"/s/7.wav", -1},        {"/s/A4.wav", 69},
        {"/s/B3.wav", 59},         {"/s/Bb3.wav", 58},       {"/s/G3.wav", 67},       {"/s/pad_b3.wav", -1},
        {"/s/H4.wav", -1},         {"/s/x_g#0.flac", 32},    {"4", -1},               {"b4", -1},
        {"/s/bass_A2.set/kick", 45},  // the only dot is in the folder name
        {"/s/loop.A4/kick", -1},
    };
    for (const auto& c : cases) {
        AudioResource r(c.path);  // no such file: the name alone is read
        EXPECT_FLOAT_EQ(r.pitch, 440.0f) << c.path;
        r.detectPitchFromName();
        const float expected = c.note < 0 ? 440.0f : 440.0f * std::pow(2.0f, float(c.note - 69) / 12.0f);
        EXPECT_NEAR(r.pitch, expected, expected * 1e-5f) << c.path;
    }
    AudioResource f("/s/bass_F#1.wav");
    f.detectPitchFromName();
    EXPECT_NEAR(f.pitch, 92.499f, 0.001f);
}

}  // namespace
