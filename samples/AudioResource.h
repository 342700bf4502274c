// One sample file held in memory: its channels as floats, its rate, a pitch
// read from its name and the features the granular look-up uses. Only the
// sample pool creates resources; everyone else shares them by shared_ptr.
#pragma once

#include "platform/Fft.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class AudioResource {
public:
    static constexpr unsigned kFftSize = 16384;
    static constexpr unsigned kHopFrames = 8192;
    static constexpr unsigned kSpectrumBins = 8192;
    static constexpr unsigned kOverviewBlock = 128;
    static constexpr unsigned kWindowLength = 4096;  // the shared Hann table's
    // Silent frames get this loudness instead of minus infinity, so features stay finite.
    static constexpr float kLoudnessFloor = -120.0f;

    // Reads the file; a file that cannot be read leaves the resource not loaded.
    explicit AudioResource(const std::string& path);
    ~AudioResource();
    AudioResource(const AudioResource&) = delete;
    AudioResource& operator=(const AudioResource&) = delete;

    void detectPitchFromName();
    // Sample worker only; does nothing when not loaded or already analysed.
    void analyse();

    // The file name without its folders.
    std::string fileName() const { return path.substr(path.rfind('/') + 1); }
    // Length of channel 0; 0 when not loaded.
    uint32_t frameCount() const { return channels.empty() ? 0 : uint32_t(channels[0].size()); }

    std::atomic<bool> unloadMark{false};
    std::vector<std::vector<float>> channels;
    std::string path;
    bool loaded = false;
    // Raised last by the analysis: read the feature fields below only once it is seen set.
    std::atomic<bool> analysed{false};
    float sampleRate = 0.0f;
    float pitch = 440.0f;
    float peak = 0.0f;
    float maxLevel = 0.0f;
    float maxBlockLevel = -1.0f;
    std::vector<std::vector<float>> frameFeatures;  // per hop: {loudness dB, centroid Hz}
    std::vector<float> overview;
    float loudnessMin = 0.0f, loudnessMax = 0.0f;
    float centroidMin = 0.0f, centroidMax = 0.0f;
    float flatnessMin = 0.0f, flatnessMax = 0.0f;
    Fft fft;
    std::vector<float> fftInput;
};

// Tells the player that `replaced` values of the sample file at `path` were
// not finite or out of bounds and were replaced when it was read: a notice
// and a console line, rate-limited, since a folder of damaged files would
// otherwise bury the screen. Nothing when `replaced` is 0. Not for the
// audio thread.
void reportCleanedSamples(const std::string& path, size_t replaced);
// Says how many of those lines were left out once the burst is over (called
// by a task that runs regularly; not the audio thread), and at the end of a
// run whatever the rate, so that no count is lost with the exit.
void flushCleanedSampleReports(bool endOfRun = false);
