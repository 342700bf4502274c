#include "samples/AudioResource.h"

#include "gui/GuiNotify.h"
#include "platform/AudioFile.h"
#include "platform/LogLimiter.h"
#include "platform/RtPrintf.h"

#include <sndfile.h>

#include <cctype>
#include <cmath>
#include <cstring>

namespace {

constexpr float kDefaultRate = 48000.0f;
constexpr const char* kReplacedText = " values replaced";
constexpr const char* kCut = "..: ";
constexpr const char* kLeftOutText = "%u more reads with values replaced not shown\n";

// Damaged files come in folders: one budget for all of them.
LogLimiter gReplacedLines;

}  // namespace

void reportCleanedSamples(const std::string& path, size_t replaced) {
    if (replaced == 0)
        return;
    uint32_t leftOut = 0;
    if (!gReplacedLines.allow(leftOut))
        return;
    const std::string name = escapeForLog(path.substr(path.rfind('/') + 1));
    const std::string count = std::to_string(replaced) + kReplacedText;
    if (leftOut > 0)
        rt_printf(kLeftOutText, leftOut);
    rt_printf("%s: %s\n", name.c_str(), count.c_str());
    // A long name is cut (marked "..") so that the count still shows.
    const std::string message = name + ": " + count;
    if (message.size() <= GuiNotify::kMaxText)
        Driver::guiNotify.warning(message);
    else
        Driver::guiNotify.warning(name.substr(0, GuiNotify::kMaxText - std::strlen(kCut) - count.size()) + kCut +
                                  count);
}

void flushCleanedSampleReports(bool endOfRun) {
    uint32_t leftOut = 0;
    if (endOfRun ? (leftOut = gReplacedLines.takeLeftOut()) > 0 : gReplacedLines.flush(leftOut))
        rt_printf(kLeftOutText, leftOut);
}

AudioResource::AudioResource(const std::string& filePath) : path(filePath) {
    // The header's rate; the loader below may still read files libsndfile
    // refuses to describe, which then play at the system rate.
    SF_INFO info{};
    if (SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info)) {
        sampleRate = info.samplerate > 0 ? float(info.samplerate) : kDefaultRate;
        sf_close(file);
    } else {
        sampleRate = kDefaultRate;
    }

    size_t replaced = 0;
    channels = AudioFileUtilities::load(path, -1, 0, &replaced);
    if (channels.empty())
        return;
    reportCleanedSamples(path, replaced);

    detectPitchFromName();
    loaded = true;
    rt_printf("AudioResource[%s] loaded: sr = %ldkHz, pitch %.1fHz\n", fileName().c_str(),
              std::lround(sampleRate * 0.001), pitch);
}

AudioResource::~AudioResource() { rt_printf("AudioResource [%s] has been unloaded\n", path.c_str()); }

// A trailing octave digit, an optional '#' or lower-case 'b' before it and a
// note letter before that. The octave number changes at A (A4 = 440 Hz).
void AudioResource::detectPitchFromName() {
    const size_t dot = path.rfind('.');
    const std::string stem = dot == std::string::npos ? path : path.substr(0, dot);
    if (stem.size() < 2 || !std::isdigit(static_cast<unsigned char>(stem.back())))
        return;
    const int octave = stem.back() - '0';

    long at = long(stem.size()) - 2;
    int base = 21;
    if (stem[size_t(at)] == '#') {
        base = 22;
        --at;
    } else if (stem[size_t(at)] == 'b') {
        base = 20;
        --at;
    }
    if (at < 0 || !std::isalpha(static_cast<unsigned char>(stem[size_t(at)])))
        return;
    static constexpr int kOffsetFromA[7] = {0, 2, 3, 5, 7, 8, 10};  // A B C D E F G
    const int letter = std::toupper(static_cast<unsigned char>(stem[size_t(at)]));
    if (letter < 'A' || letter > 'G')
        return;

    const int note = 12 * octave + base + kOffsetFromA[letter - 'A'];
    pitch = 440.0f * std::pow(2.0f, float(note - 69) * 0.083333336f);
    rt_printf("Detected pitch in file name of [%s]: midinote %d = %.3f Hz\n", path.c_str(), note, pitch);
}
