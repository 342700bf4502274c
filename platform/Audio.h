// Audio lifecycle of the host platform: settings, options, init/start/stop/
// cleanup, the stop request and the block fence.
#pragma once

#include "platform/Context.h"

#include <getopt.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

using BelaSetupFn = bool (*)(BelaContext*, void*);
using BelaRenderFn = void (*)(BelaContext*, void*);
using BelaCleanupFn = void (*)(BelaContext*, void*);

enum class HostMode { RealTime, Offline, Stepped };

struct BelaInitSettings {
    BelaSetupFn setup = nullptr;
    BelaRenderFn render = nullptr;
    BelaCleanupFn cleanup = nullptr;
    void* userData = nullptr;
    char projectName[256] = {};

    uint32_t periodSize = 64;
    uint32_t numAudioInChannels = 8;
    uint32_t numAudioOutChannels = 8;
    uint32_t numDigitalChannels = 16;

    HostMode mode = HostMode::RealTime;
    uint64_t stopAfterBlocks = 0;  // 0: run until a stop request
    std::string root;              // data root; empty: the default folder
    std::string audioOutFile;      // capture of the outputs, WAV
    std::string audioInFile;       // feeds the inputs, any libsndfile format
    std::string midiPort;          // serial device or empty for a pseudo-terminal
    std::string panelScript;       // timed panel events
    std::string displayMirror;     // file the display image is mirrored to
    std::string oscListen;         // address the OSC receiver binds to; empty: loopback
    std::string hardware;          // board name: its codec is made, configured and started
};

// A fresh settings record with the defaults (entry points unset).
BelaInitSettings* Bela_InitSettings_alloc();
void Bela_InitSettings_free(BelaInitSettings* settings);
void Bela_defaultSettings(BelaInitSettings* settings);

// Parses the platform's own long options and hands everything else back to
// the caller: returns the caller's option character, '?' for a wrong option
// (unknown, a wrong or empty value, a word left over, an offline render into
// a file without a bound; said on standard error), host::kRefused for a start
// refused otherwise (said), and -1 when the command line is used up.
int Bela_getopt_long(int argc, char* const argv[], const char* customShortOptions,
                     const struct option* customLongOptions, BelaInitSettings* settings);
// The platform's part of the usage text.
void Bela_usage(FILE* out = stderr);

int Bela_initAudio(BelaInitSettings* settings, void* userData);
int Bela_startAudio();
void Bela_stopAudio();
void Bela_cleanupAudio();

// Safe from a signal handler.
void Bela_requestStop();
int Bela_stopRequested();

// Returns once the block in progress on the audio thread (if any) has ended,
// so that a structure flagged busy before the call is no longer walked. Returns
// at once when audio is not rendering or when called from the audio thread.
void Bela_blockFence();
bool Bela_isAudioThread();

// Sets flush-to-zero and denormals-are-zero on the calling thread.
void Bela_setFlushToZero();

namespace host {
// True when the last run ended because its audio output could not be
// written (valid after Bela_cleanupAudio).
bool outputFailed();
// The seed of the firmware's random numbers for this run, where the host
// fixes it: offline, so that a bounce repeats. Elsewhere none (the
// firmware's own seed stands).
std::optional<uint64_t> fixedRandomSeed();
// Where the outputs of a run with these settings are captured: --audio-out,
// or output.wav in the root; none for a stepped run that names no file.
std::string audioOutputOf(const BelaInitSettings& settings);
// A start refused for no usage error (audio onto a terminal, standard error
// into the audio, a closed standard output, a root in use) says its line and
// where to read more, not the usage; nothing on standard error where that
// leads into the take the options name. Returns kRefused.
constexpr int kRefused = '!';
int sayRefusal(const std::string& line, bool intoTheTake = false);
}  // namespace host
