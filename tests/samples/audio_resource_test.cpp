#include "platform/SampleValues.h"
#include "samples/AudioResource.h"

#include <gtest/gtest.h>

#include "tests/samples/SampleFixtures.h"

#include <fstream>

using namespace samplefixtures;

namespace {

struct Format {
    const char* name;
    int format;  // libsndfile's, or 0 when sox makes the file from a WAV
    const char* ext;
    int channels, rate;
    float tolerance;  // of the read-back sine
};

void PrintTo(const Format& f, std::ostream* out) { *out << f.name; }

class SampleFileFormats : public ::testing::TestWithParam<Format> {};

TEST_P(SampleFileFormats, LoadEveryChannelAtTheFilesRate) {
    const Format f = GetParam();
    const size_t frames = 12345;
    std::vector<float> data(frames * size_t(f.channels));
    for (size_t i = 0; i < data.size(); ++i)  // the left channel is a 440 Hz sine at half scale
        data[i] = i % size_t(f.channels) ? 0.25f : 0.5f * float(std::sin(2 * M_PI * 440 * double(i / f.channels) / f.rate));
    const std::string path = folder() + "format-" + f.name + "." + f.ext;
    const std::string source = f.format ? path : path + "-source.wav";
    ASSERT_TRUE(writeSound(source, f.format ? f.format : SF_FORMAT_WAV | SF_FORMAT_PCM_24, f.channels, f.rate, data));
    if (!f.format) {
        ASSERT_EQ(std::system(("sox '" + source + "' '" + path + "' 2>/dev/null").c_str()), 0);
    }

    AudioResource r(path);
    ASSERT_TRUE(r.loaded);
    EXPECT_EQ(r.sampleRate, float(f.rate));
    ASSERT_EQ(r.channels.size(), size_t(f.channels));
    for (const auto& channel : r.channels)
        EXPECT_EQ(channel.size(), frames);
    const auto expected = sine(frames, 440.0, f.rate, 0.5f);
    float worst = 0.0f;
    for (size_t i = 0; i < frames; ++i)
        worst = std::max(worst, std::fabs(r.channels[0][i] - expected[i]));
    EXPECT_LT(worst, f.tolerance);
    EXPECT_EQ(r.pitch, 440.0f);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SampleFileFormats,
    ::testing::Values(Format{"wav8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, "wav", 1, 48000, 0.02f},
                      Format{"wav16", SF_FORMAT_WAV | SF_FORMAT_PCM_16, "wav", 2, 44100, 1e-4f},
                      Format{"wav24", SF_FORMAT_WAV | SF_FORMAT_PCM_24, "wav", 1, 96000, 1e-6f},
                      Format{"wavfloat", SF_FORMAT_WAV | SF_FORMAT_FLOAT, "wav", 2, 48000, 1e-7f},
                      Format{"flac", 0, "flac", 2, 48000, 1e-6f}, Format{"ogg", 0, "ogg", 1, 44100, 0.05f},
                      Format{"aiff", 0, "aiff", 2, 22050, 1e-6f}, Format{"odd_rate", 0, "wav", 1, 11025, 1e-6f}),
    [](const ::testing::TestParamInfo<Format>& info) { return std::string(info.param.name); });

TEST(SampleFile, UnreadableFilesStayUnloadedWithoutAMessage) {
    const std::string valid = folder() + "whole.wav";
    ASSERT_TRUE(writeSound(valid, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000, sine(4800, 440, 48000)));
    std::ifstream in(valid, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::pair<const char*, std::string> files[] = {
        {"header-cut.wav", bytes.substr(0, 20)}, {"empty.wav", ""}, {"notes.wav", "these are words, not samples\n"}};
    for (const auto& [name, content] : files)
        std::ofstream(folder() + name, std::ios::binary) << content;

    for (const std::string name : {"header-cut.wav", "empty.wav", "notes.wav", "no-such-file.wav"}) {
        testing::internal::CaptureStdout();
        {
            AudioResource r(folder() + name);
            EXPECT_FALSE(r.loaded) << name;
            EXPECT_EQ(r.frameCount(), 0u);
            EXPECT_EQ(r.sampleRate, 48000.0f);
            r.analyse();  // nothing to analyse
            EXPECT_FALSE(r.analysed);
        }
        EXPECT_EQ(testing::internal::GetCapturedStdout().find("loaded:"), std::string::npos);
    }
}

TEST(SampleFile, MessagesNameTheFileOnLoadAndThePathOnUnload) {
    const std::string path = folder() + "pad_C4.wav";
    ASSERT_TRUE(writeSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, sine(1000, 523.25, 44100)));
    testing::internal::CaptureStdout();
    { AudioResource r(path); }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Detected pitch in file name of [" + path + "]: midinote 72 = 523.251 Hz\n"), std::string::npos);
    EXPECT_NE(out.find("AudioResource[pad_C4.wav] loaded: sr = 44kHz, pitch 523.3Hz\n"), std::string::npos) << out;
    EXPECT_NE(out.find("AudioResource [" + path + "] has been unloaded\n"), std::string::npos);
}

// The octave number changes at A: A4 is 440 Hz and C4 lies above it.
TEST(SampleFile, PitchFromTheFileName) {
    const std::pair<const char*, int> cases[] = {  // note, -1 for none
        {"/s/kick.wav", -1}, {"/s/pad_C4.wav", 72}, {"/s/bass_F#1.wav", 42}, {"/s/lead_e2.aiff", 52},
        {"/s/snareb3.wav", 63}, {"/s/A10.wav", -1}, {"/s/7.wav", -1}, {"/s/A4.wav", 69}, {"/s/B3.wav", 59},
        {"/s/Bb3.wav", 58}, {"/s/G3.wav", 67}, {"/s/pad_b3.wav", -1}, {"/s/H4.wav", -1}, {"/s/x_g#0.flac", 32},
        {"b4", -1}, {"/s/bass_A2.set/kick", 45} /* the only dot is in the folder */, {"/s/loop.A4/kick", -1}};
    for (const auto& [path, note] : cases) {
        AudioResource r(path);  // no such file: only the name is read
        r.detectPitchFromName();
        const float expected = note < 0 ? 440.0f : 440.0f * std::pow(2.0f, float(note - 69) / 12.0f);
        EXPECT_NEAR(r.pitch, expected, expected * 1e-5f) << path;
    }
}

}  // namespace

namespace {

// A damaged float file: what is not finite becomes 0, what is out of bounds
// the bound, and one line counts them; values within the bound (over full
// scale too) keep every bit, and a good file loads without a line.
TEST(SampleFile, DamagedValuesAreReplacedAndGoodOnesKeptBitForBit) {
    std::vector<float> stereo;
    const float left[] = {0.5f, NAN, 1.5f, INFINITY, -3.9f, -INFINITY, 1e30f, -1e30f, 4.5f, -0.25f};
    for (float v : left)
        stereo.insert(stereo.end(), {v, 0.1f});
    const std::string path = folder() + "damaged.wav";
    ASSERT_TRUE(writeSound(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 48000, stereo));
    const std::string goodPath = monoWav("good.wav", {0.5f, 1.5f, -3.9f, 4.0f, -4.0f});

    testing::internal::CaptureStdout();
    AudioResource r(path);
    AudioResource good(goodPath);
    const std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(r.loaded);
    const std::vector<float> cleaned = {0.5f, 0.0f, 1.5f, 0.0f, -3.9f, 0.0f, 4.0f, -4.0f, 4.0f, -0.25f};
    EXPECT_EQ(r.channels[0], cleaned);
    EXPECT_EQ(r.channels[1], std::vector<float>(10, 0.1f));
    EXPECT_NE(out.find("damaged.wav: 6 values replaced\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("good.wav: "), std::string::npos) << out;
    EXPECT_EQ(good.channels[0], (std::vector<float>{0.5f, 1.5f, -3.9f, 4.0f, -4.0f}));

    // The analysis sees the cleaned values.
    r.analyse();
    EXPECT_EQ(r.peak, kSampleValueBound);
}

}  // namespace
