// Sound files made on the spot and a stand-in for the sample pool.
#pragma once

#include "samples/AudioResource.h"
#include "samples/SampleSource.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include "tests/support/TempDir.h"
#include "tests/support/sound_file.h"

#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <random>

namespace samplefixtures {

inline std::string folder() {
    static const std::string dir = testsupport::tempDir() + "samples/";
    std::filesystem::create_directories(dir);
    return dir;
}

inline bool writeSound(const std::string& path, int format, int channels, int rate, const std::vector<float>& data) {
    return testsupport::writeSound(path, data, rate, channels, format);
}

inline std::vector<float> sine(size_t frames, double hz, double rate, float amplitude = 1.0f) {
    std::vector<float> out(frames);
    for (size_t i = 0; i < frames; ++i)
        out[i] = amplitude * float(std::sin(2.0 * M_PI * hz * double(i) / rate));
    return out;
}

// Uniform in +-0.5.
inline std::vector<float> noise(size_t frames, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
    std::vector<float> out(frames);
    for (auto& v : out)
        v = uniform(generator);
    return out;
}

inline std::string monoWav(const std::string& name, const std::vector<float>& frames, int rate = 48000) {
    EXPECT_TRUE(writeSound(folder() + name, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, rate, frames));
    return folder() + name;
}

// A resource whose audio is set directly, as if loaded from a file.
inline std::unique_ptr<AudioResource> resourceOf(std::vector<std::vector<float>> channels, float rate = 48000.0f) {
    auto r = std::make_unique<AudioResource>(folder() + "in-memory.wav");
    r->channels = std::move(channels);
    r->sampleRate = rate;
    r->loaded = true;
    return r;
}

// The pool as far as sample lists need it: real resources kept by path.
class FakePool : public SampleSource {
public:
    bool loadSample(const std::string& path) override {
        if (path.empty() || !std::filesystem::exists(path))
            return false;
        if (!resources.count(path))
            resources[path] = std::make_shared<AudioResource>(path);
        return true;
    }
    std::shared_ptr<AudioResource> getResource(const std::string& path) override {
        const auto it = resources.find(path);
        return it == resources.end() ? nullptr : it->second;
    }
    // Loads and analyses, as the worker would.
    std::shared_ptr<AudioResource> analysed(const std::string& path) {
        if (!loadSample(path))
            return nullptr;
        resources[path]->analyse();
        return resources[path];
    }
    std::map<std::string, std::shared_ptr<AudioResource>> resources;
};

}  // namespace samplefixtures
