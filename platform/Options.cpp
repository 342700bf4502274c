// The host's options: one table for the instrument and its launcher.
#include "platform/Audio.h"
#include "platform/Launcher.h"
#include "platform/Paths.h"
#include "platform/StandardOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// 2^64: the first count the 64-bit block counter cannot hold.
constexpr double kCounterLimit = 18446744073709551616.0;

bool parseCount(const char* text, double& out) {
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    double v = strtod(text, &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < 0.0)
        return false;
    out = v;
    return true;
}

enum HostOption {
    kOptRoot = 1000,
    kOptOffline,
    kOptBlocks,
    kOptSeconds,
    kOptAudioOut,
    kOptAudioIn,
    kOptMidiPort,
    kOptPanelScript,
    kOptDisplayMirror,
    kOptOscListen,
};

const struct option kHostOptions[] = {
    {"root", required_argument, nullptr, kOptRoot},
    {"offline", no_argument, nullptr, kOptOffline},
    {"blocks", required_argument, nullptr, kOptBlocks},
    {"seconds", required_argument, nullptr, kOptSeconds},
    {"audio-out", required_argument, nullptr, kOptAudioOut},
    {"audio-in", required_argument, nullptr, kOptAudioIn},
    {"midi-port", required_argument, nullptr, kOptMidiPort},
    {"panel-script", required_argument, nullptr, kOptPanelScript},
    {"osc-listen", required_argument, nullptr, kOptOscListen},
    {"display-out", required_argument, nullptr, kOptDisplayMirror},
};

// An offline render without a bound runs as fast as the machine goes: into
// a file (or a path that would become one) that fills the disk. A FIFO or a
// pipe (a link to one included) is paced by its reader and may render on.
bool unboundedIntoAFile(const BelaInitSettings& settings, std::string& output) {
    if (settings.mode != HostMode::Offline || settings.stopAfterBlocks != 0)
        return false;
    output = host::audioOutputOf(settings);
    struct stat st;
    return stat(output.c_str(), &st) != 0 || S_ISREG(st.st_mode);
}

// Binary is no text: a terminal it is written on shows noise and may take
// bytes of it as commands. Asked without making the terminal this process's
// own and without waiting on a line that is not ready.
bool isTerminal(const std::string& path) {
    if (host::namesStandardOutput(path))
        return isatty(STDOUT_FILENO);
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;  // the output's own opening says why
    const bool terminal = isatty(fd);
    close(fd);
    return terminal;
}

// The program's name as the usage gives it.
std::string gProgram = "corvane";
// A refusal's line, and where to read more.
constexpr const char* kRefusal = "%s\nTry '%s --help' for more information.\n";

int refuseOutput(const std::string& output, const char* why, bool intoTheTake = false) {
    return host::sayRefusal(gProgram + ": --audio-out " + output + ": " + why, intoTheTake);
}

}  // namespace

int host::sayRefusal(const std::string& line, bool intoTheTake) {
    if (!intoTheTake) {
        fprintf(stderr, kRefusal, line.c_str(), gProgram.c_str());
        fflush(stderr);
    }
    // The player must see it: where standard error went into a pipe or a
    // file, the terminal hears of it too.
    host::sayOnTerminalToo((line + "\n").c_str());
    return host::kRefused;
}

std::string host::audioOutputOf(const BelaInitSettings& settings) {
    if (!settings.audioOutFile.empty() || settings.mode == HostMode::Stepped)
        return settings.audioOutFile;
    return rootFolderFor(settings.root) + "/output.wav";
}

void Bela_usage(FILE* out) {
    fprintf(out,
            "   --root DIR:                         Folder that stands for the instrument's storage\n"
            "                                       (default: %s)\n"
            "   --offline:                          Render as fast as possible instead of in real time\n"
            "                                       (into a file, needs --blocks or --seconds)\n"
            "   --blocks N:                         Stop after N blocks of 64 frames\n"
            "   --seconds S:                        Stop after S seconds of audio\n"
            "   --audio-out FILE.wav:               Write the 8 output channels to a WAV file\n"
            "                                       (default: output.wav in the root)\n"
            "   --audio-in FILE:                    Feed the inputs from an audio file, read as it plays\n"
            "                                       (a FIFO or <(command) too; channel N feeds input N,\n"
            "                                       mic in 1 to line in 4; other rates are converted\n"
            "                                       to 48 kHz)\n"
            "   --midi-port PATH:                   Serial device, pseudo-terminal, raw MIDI device or\n"
            "                                       FIFO (MIDI in only) for DIN MIDI\n"
            "                                       (default: a new pseudo-terminal, reached through the\n"
            "                                       link ROOT/.host/midi-port)\n"
            "   --panel-script FILE:                Play the panel from a file of timed events\n"
            "                                       (lines \"<block> key <k> down|up\",\n"
            "                                       \"<block> encoder <e> turn <n>|push [down|up]\",\n"
            "                                       \"<block> track <t> down|up\" for track button t, 1..5)\n"
            "   --osc-listen ADDR:                  Address the OSC receiver listens on\n"
            "                                       (default: 127.0.0.1; 0.0.0.0 for every interface)\n"
            "   --display-out FILE.pgm:             Keep a picture of the display in FILE while running\n"
            "                                       (the last frame at exit)\n",
            host::defaultRoot().c_str());
}

int Bela_getopt_long(int argc, char* const argv[], const char* customShortOptions,
                     const struct option* customLongOptions, BelaInitSettings* settings) {
    std::vector<struct option> all;
    for (const auto& o : kHostOptions)
        all.push_back(o);
    for (const struct option* o = customLongOptions; o && o->name; ++o)
        all.push_back(*o);
    all.push_back({nullptr, 0, nullptr, 0});
    std::string shortOptions = ":";
    shortOptions += customShortOptions ? customShortOptions : "";
    opterr = 0;
    if (argc > 0 && argv[0])
        gProgram = std::string(argv[0]).substr(std::string(argv[0]).rfind('/') + 1);
    for (;;) {
        int index = -1;
        int c = getopt_long(argc, argv, shortOptions.c_str(), all.data(), &index);
        if (c == -1) {
            // getopt moves the words that are no option's value to the end:
            // "--root my root" would otherwise run in "my" without a word.
            if (optind < argc) {
                fprintf(stderr, "%s: a word left over after the options: %s (a value with a space needs quotes)\n",
                        argv[0], argv[optind]);
                return '?';
            }
            std::string output;
            if (unboundedIntoAFile(*settings, output)) {
                fprintf(stderr, "%s: --offline needs --seconds or --blocks when its output is a file (%s)\n", argv[0],
                        output.c_str());
                return '?';
            }
            // A closed standard output has /dev/null in its place: the audio
            // would vanish unsaid.
            if (host::namesStandardOutput(settings->audioOutFile) && host::standardStreamCameClosed(1))
                return refuseOutput(settings->audioOutFile, "standard output is closed");
            // `2>&1 | play`, `> take.wav 2>&1`, nohup, `2> take.wav`: every
            // console line would land in the samples. A take in a file
            // (`2>> take.wav`, `>> take.wav 2>&1`) stays as it was.
            const std::string audio = host::audioOutputOf(*settings);
            struct stat out;
            if (host::standardErrorLeadsInto(audio))
                return refuseOutput(audio, "standard error leads into the audio; send it elsewhere (2>FILE)",
                                    !host::namesStandardOutput(audio) ||
                                        (fstat(STDOUT_FILENO, &out) == 0 && S_ISREG(out.st_mode)));
            if (isTerminal(audio))
                return refuseOutput(audio, "a terminal; send the audio to a file or a pipe");
            return -1;
        }
        // An empty value ("--root ''", "--audio-out=") is a slip, never a
        // wish for the default.
        if (index >= 0 && all[size_t(index)].has_arg == required_argument && optarg && !*optarg) {
            fprintf(stderr, "%s: empty value for --%s\n", argv[0], all[size_t(index)].name);
            return '?';
        }
        double v = 0.0;
        switch (c) {
        case kOptRoot: settings->root = optarg; break;
        case kOptOffline: settings->mode = HostMode::Offline; break;
        case kOptBlocks:
            if (!parseCount(optarg, v) || v != std::floor(v) || v < 1 || v >= kCounterLimit) {
                fprintf(stderr, "--blocks needs a whole number of blocks above 0\n");
                return '?';
            }
            settings->stopAfterBlocks = uint64_t(v);
            break;
        case kOptSeconds:
            if (!parseCount(optarg, v) || v <= 0.0 || std::ceil(v * 48000.0 / 64.0) >= kCounterLimit) {
                fprintf(stderr, "--seconds needs a number of seconds above 0\n");
                return '?';
            }
            settings->stopAfterBlocks = uint64_t(std::ceil(v * 48000.0 / 64.0));
            break;
        case kOptAudioOut: settings->audioOutFile = optarg; break;
        case kOptAudioIn: settings->audioInFile = optarg; break;
        case kOptMidiPort: settings->midiPort = optarg; break;
        case kOptPanelScript: settings->panelScript = optarg; break;
        case kOptDisplayMirror: settings->displayMirror = optarg; break;
        case kOptOscListen: settings->oscListen = optarg; break;
        case ':':
            fprintf(stderr, "%s: option needs a value: %s\n", argv[0], argv[optind - 1]);
            return '?';
        case '?':
            fprintf(stderr, "%s: unknown option: %s\n", argv[0], argv[optind - 1]);
            return '?';
        default: return c;
        }
    }
}

