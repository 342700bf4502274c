// The file behind --audio-in: read whole at start, made fit for the inputs
// (48 kHz, finite and bounded as sample files are) before the audio thread sees it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace host {

constexpr unsigned kHostSampleRate = 48000;

// The instrument's input fed by channel c (0-based) of an input file: channel
// 1 feeds "mic in 1", 2 "mic in 2", 3 "line in 3", 4 "line in 4", so a mono
// or stereo file reaches the mic inputs. The firmware reads input k from
// context channel 4 - k, so the first four are reversed; further channels go
// to the context's spare inputs in order.
size_t inputChannelForFileChannel(size_t c);

// Resamples one channel from `fromRate` to `toRate` (libsamplerate); false
// when the converter refuses.
bool resampleChannel(std::vector<float>& samples, unsigned fromRate, unsigned toRate);

// One vector per context input channel (`contextChannels` of them, empty
// where the file has no channel for it), at the host rate and cleaned. Says
// on the console what was changed on the way; empty when the file cannot be
// read.
std::vector<std::vector<float>> loadAudioInput(const std::string& path, size_t contextChannels);

}  // namespace host
