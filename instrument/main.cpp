#include "instrument/Entry.h"
#include "platform/Audio.h"
#include "platform/Launcher.h"
#include "platform/RtPrintf.h"
#include "platform/Stops.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {
// From the options read to the end of main, the console's lines (the start's
// own among them) queue for the logger thread, so a console that nobody
// reads holds neither the start nor the save at the end; what is queued is
// written, as far as the console takes it, last.
struct ConsoleLogger {
    ConsoleLogger() { host::rtLoggerStart(); }
    ~ConsoleLogger() { host::rtLoggerStop(); }
    ConsoleLogger(const ConsoleLogger&) = delete;
    ConsoleLogger& operator=(const ConsoleLogger&) = delete;
};
}  // namespace

int main(int argc, char* argv[]) {
    host::guardStandardStreams();
    // One line at a time, also into a log file: the launcher keeps the console.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    // A reader of the output (or of the console) that goes away must not kill
    // the instrument before it saves: the failed write is reported instead.
    signal(SIGPIPE, SIG_IGN);
    // Nor a file grown past the size limit (ulimit -f): the write fails with
    // EFBIG and is reported, as on a full disk.
    signal(SIGXFSZ, SIG_IGN);
    BelaInitSettings* settings = Bela_InitSettings_alloc();
    Bela_defaultSettings(settings);
    chooseBoard(settings);
    settings->setup = setup;
    settings->render = render;
    settings->cleanup = cleanup;
    const char* programName = "corvane";
    if (argc > 0 && argv[0]) {
        const char* slash = strrchr(argv[0], '/');
        programName = slash ? slash + 1 : argv[0];
        snprintf(settings->projectName, sizeof settings->projectName, "%s", programName);
    }

    const struct option customOptions[] = {{"help", no_argument, nullptr, 'h'}, {nullptr, 0, nullptr, 0}};
    int c = Bela_getopt_long(argc, argv, "h", customOptions, settings);
    if (c >= 0) {
        if (c != host::kRefused)
            printUsage(programName);
        Bela_InitSettings_free(settings);
        return c == 'h' ? 0 : 1;
    }
    const ConsoleLogger console;

    if (Bela_initAudio(settings, nullptr) != 0) {
        Bela_InitSettings_free(settings);
        fprintf(stderr, "Error: unable to initialise audio\n");
        return 1;
    }
    Bela_InitSettings_free(settings);

    if (Bela_startAudio() != 0) {
        fprintf(stderr, "Error: unable to start real-time audio\n");
        Bela_stopAudio();
        Bela_cleanupAudio();
        return 1;
    }

    // SIGINT, SIGTERM and SIGHUP (the terminal closed) alike: the first
    // saves and exits, a second ends the process at once.
    host::catchStops(interrupt_handler);
    while (!Bela_stopRequested())
        usleep(100000);

    Bela_stopAudio();
    Bela_cleanupAudio();
    return host::outputFailed() ? 1 : Driver::returnCode;
}
