// corvane-launch PROGRAM [OPTIONS]: the instrument's launcher on the host,
// which scripts/run.sh execs once the instrument is built. In real time it
// holds the data root, powers on (the last exit-code file goes), runs the
// instrument and starts it again when it ends, as the board's launcher
// does. Offline runs, runs bounded by --blocks or --seconds, --help and
// wrong options run once, as the instrument itself, with its status.
#include "platform/Audio.h"
#include "platform/HostFolder.h"
#include "platform/Launcher.h"
#include "platform/Paths.h"
#include "platform/RtPrintf.h"
#include "platform/StandardOutput.h"
#include "platform/launcher/Supervisor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: %s PROGRAM [OPTIONS]\n"
    "Runs PROGRAM (the instrument) with OPTIONS and, in real time, starts it\n"
    "again when it ends, as the board's launcher does: scripts/run.sh execs it.\n"
    "PROGRAM --help lists the options.\n";

// The options as the instrument reads them: the host's table and the
// firmware's one option, "--help". What a wrong option makes of them is
// the instrument's to say, so this reading says nothing.
bool readOptions(int argc, char* argv[], BelaInitSettings& settings) {
    std::vector<char*> copy(argv, argv + argc);  // getopt reorders what it reads
    copy.push_back(nullptr);
    const struct option firmwareOptions[] = {{"help", no_argument, nullptr, 'h'}, {nullptr, 0, nullptr, 0}};
    fflush(stderr);
    const int console = dup(2);
    const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (quiet >= 0)
        dup2(quiet, 2);
    optind = 0;
    const int c = Bela_getopt_long(argc, copy.data(), "h", firmwareOptions, &settings);
    fflush(stderr);
    if (console >= 0) {
        dup2(console, 2);
        close(console);
    }
    if (quiet >= 0)
        close(quiet);
    return c == -1;
}

[[noreturn]] void execProgram(char* argv[]) {
    launcher::restoreSignals();
    // The launcher's lines come before the instrument's.
    host::rtLoggerStop();
    // The instrument alone sees the streams as the caller gave them: it
    // refuses a closed standard output as its audio.
    for (int fd = 0; fd <= 2; ++fd)
        if (host::standardStreamCameClosed(fd))
            close(fd);
    execv(argv[0], argv);
    launcher::say("cannot start %s: %s", argv[0], strerror(errno));
    _exit(127);
}

}  // namespace

int main(int argc, char* argv[]) {
    // Nothing is taken on trust from the caller: a closed standard stream
    // gets /dev/null before anything is opened, and every disposition the
    // launcher relies on is set here (an ignored SIGCHLD, kept across the
    // caller's exec, would have the kernel reap the runs unseen).
    host::guardStandardStreams();
    // Stops and the run's end are taken synchronously from here on: blocked
    // (a blocked signal is kept even where the caller ignored it, as a
    // shell does for what it starts in the background) and read in order.
    const sigset_t taken = launcher::takenSignals();
    sigprocmask(SIG_BLOCK, &taken, nullptr);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGCHLD})
        ::signal(signal, SIG_DFL);
    // A reader of its lines that went away must not end the launcher: the
    // lines go nowhere and the runs go on.
    ::signal(SIGPIPE, SIG_IGN);
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        printf(kUsage, argv[0]);
        return 0;
    }
    if (argc < 2) {
        fprintf(stderr, kUsage, argc > 0 ? argv[0] : "corvane-launch");
        return 2;
    }
    // An outer launcher's words are not for the runs of this one.
    unsetenv(host::kLauncherRunVariable);
    unsetenv(host::kStartedFdVariable);
    char** program = argv + 1;
    const int programArgc = argc - 1;

    BelaInitSettings settings;
    if (!readOptions(programArgc, program, settings))
        execProgram(program);
    // From here on no line of the launcher's waits on a console that takes
    // nothing (those of the platform it calls among them): they queue for
    // the console's writer, as the instrument's do.
    host::rtLoggerStart();
    atexit(host::rtLoggerStop);

    launcher::Plan plan;
    plan.program = program[0];
    plan.args.assign(program + 1, program + programArgc);
    plan.root = host::rootFolderFor(settings.root);
    plan.output = host::audioOutputOf(settings);
    plan.channels = settings.numAudioOutChannels;
    plan.streamsToStandardOutput = host::leadsToStandardOutput(plan.output);

    // A root the instrument refuses (a file, a path too long for the host's
    // files in it) is the instrument's to refuse, with the cause alone.
    if (!host::setRoot(plan.root))
        execProgram(program);
    // Nothing of a root in use is touched: the line says who has it. A root
    // that cannot be guarded (its host folder a file, a read-only root) is
    // run and supervised all the same; each run says why it is unguarded.
    if (host::holdRoot(plan.root, "run.sh: ", false) == host::RootHold::InUse)
        return 1;

    // The power-on: no exit code of an earlier session.
    const std::string exitFile = host::exitCodeFileOf(plan.root);
    if (unlink(exitFile.c_str()) != 0 && errno != ENOENT && errno != ENOTDIR)
        launcher::say("cannot remove %s at the power-on; starting anyway", exitFile.c_str());
    if (settings.mode != HostMode::RealTime || settings.stopAfterBlocks != 0) {
        host::keepRootLockAcrossExec();
        execProgram(program);
    }
    host::shareRootWithRuns();
    return launcher::Supervisor(std::move(plan)).run();
}
