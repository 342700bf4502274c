#include "platform/launcher/Supervisor.h"

#include "platform/HostFolder.h"
#include "platform/Launcher.h"
#include "platform/Paths.h"
#include "platform/RtPrintf.h"
#include "platform/StandardOutput.h"
#include "platform/WavWriter.h"
#include "platform/AudioInput.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace launcher {

namespace {
constexpr int kPowerOff = 3;
constexpr size_t kMostRestarts = 5;
constexpr auto kRestartWindow = std::chrono::seconds(30);

// 128 + the signal's number for a run a signal ended, as a shell says it.
int exitStatus(int waitStatus) {
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return 128 + WTERMSIG(waitStatus);
    return 1;
}

const char* signalName(int signal) {
    const char* name = sigabbrev_np(signal);
    return name ? name : "?";
}

// The environment of run n: this one's, with the launcher's words for it.
std::vector<std::string> runEnvironment(int run, int startedFd) {
    std::vector<std::string> env;
    const std::string runKey = std::string(host::kLauncherRunVariable) + "=";
    const std::string fdKey = std::string(host::kStartedFdVariable) + "=";
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string text = *entry;
        if (text.rfind(runKey, 0) != 0 && text.rfind(fdKey, 0) != 0)
            env.push_back(text);
    }
    env.push_back(runKey + std::to_string(run));
    env.push_back(fdKey + std::to_string(startedFd));
    return env;
}

// `from` to `to`, never over a file there: EEXIST when one is. File
// systems that refuse the rename flag (NFS, 9p, some FUSE ones: EINVAL)
// get a link and an unlink, and those without links a check, then a plain
// rename, as mv -n does. Where the old name stays, the new one goes again:
// two names of one file would leave the take to the next run, which
// empties it.
bool moveWithoutReplacing(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return false;
    if (link(from.c_str(), to.c_str()) == 0) {
        if (unlink(from.c_str()) == 0)
            return true;
        const int error = errno;
        unlink(to.c_str());
        errno = error;
        return false;
    }
    if (errno == EEXIST)
        return false;
    struct stat st;
    if (lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return rename(from.c_str(), to.c_str()) == 0;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (auto& text : texts)
        out.push_back(text.data());
    out.push_back(nullptr);
    return out;
}

// A run killed between two updates of its header left frames the header
// does not count: the take is counted whole before it is kept. A file that
// holds no WAV header (a run never wrote it) is left as it is.
void countEveryFrame(const std::string& file, unsigned channels) {
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return;
    char start[12];
    host::WavWriter take;
    if (pread(fd, start, sizeof start, 0) == ssize_t(sizeof start) && memcmp(start, "RIFF", 4) == 0 &&
        memcmp(start + 8, "WAVE", 4) == 0 && take.openDescriptor(fd, channels, host::kHostSampleRate, true))
        take.close();
    close(fd);
}

}  // namespace

void say(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    fprintf(stderr, "run.sh: %s\n", line);
}

sigset_t takenSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGCHLD})
        sigaddset(&set, signal);
    return set;
}

void restoreSignals() {
    for (int signal = 1; signal < NSIG; ++signal)
        if (signal != SIGKILL && signal != SIGSTOP)
            ::signal(signal, SIG_DFL);  // fails harmlessly for the C library's own
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

Supervisor::Supervisor(Plan plan) : plan_(std::move(plan)) {
    const sigset_t taken = takenSignals();
    signals_ = signalfd(-1, &taken, SFD_CLOEXEC);
}

int Supervisor::run() {
    if (signals_ < 0) {
        say("cannot take signals: %s", strerror(errno));
        return 1;
    }
    if (!_startStream())
        return _readerGone() ? 0 : 1;
    int status = 0;
    for (int run = 1;; ++run) {
        _takePendingSignals();
        if (stop_ != 0 && run == 1) {
            say("stopped by SIG%s before the instrument started", signalName(stop_));
            return 128 + stop_;
        }
        if (stop_ != 0) {
            say("stopped by SIG%s (last exit code %d)", signalName(stop_), status);
            return status;
        }
        if (!_start(run))
            return status == 0 ? 1 : status;
        status = _waitForEnd();
        // The start note, and the session's end after it (see Launcher.h).
        char notes[2] = {};
        const ssize_t noted = read(startedPipe_, notes, sizeof notes);
        const bool started = noted >= 1;
        const bool sessionEnds = noted == 2 && notes[1] == host::kSessionEnds;
        close(startedPipe_);
        startedPipe_ = -1;
        _afterRun(status);
        _takePendingSignals();
        if (stop_ != 0)
            continue;  // said at the top
        // The player stopped listening: the run said so, or the launcher does.
        if (_readerGone()) {
            if (status != 0)
                say("the reader of standard output closed (last exit code %d)", status);
            return 0;
        }
        if (status == kPowerOff) {
            say("power-off");
            return 0;
        }
        // The run said why (its output cannot be written): no run after it
        // could do better.
        if (sessionEnds)
            return status == 0 ? 1 : status;
        if (!started && status >= 1 && status <= 127) {
            say("the instrument did not start (exit code %d); not starting it again", status);
            return status;
        }
        if (status > 128 && status < 128 + NSIG)
            say("the instrument was killed by SIG%s (exit code %d)", signalName(status - 128), status);
        if (_tooManyRestarts()) {
            say("more than %zu restarts within %lld seconds, giving up (last exit code %d)", kMostRestarts,
                static_cast<long long>(kRestartWindow.count()), status);
            return status == 0 ? 1 : status;
        }
        _keepOutput();
        say("restarting (last exit code %d)", status);
    }
}

// fork and exec, everything the child needs made before the fork. The child
// follows its launcher: SIGTERM when it dies (the instrument saves and
// exits, as on any stop), and no start at all when it has died already.
bool Supervisor::_start(int run) {
    int started[2];
    if (pipe2(started, O_CLOEXEC) != 0) {
        say("cannot start the instrument: %s", strerror(errno));
        return false;
    }
    fcntl(started[0], F_SETFL, O_NONBLOCK);
    std::vector<std::string> args{plan_.program};
    args.insert(args.end(), plan_.args.begin(), plan_.args.end());
    std::vector<std::string> env = runEnvironment(run, started[1]);
    std::vector<char*> argv = pointers(args), envp = pointers(env);
    const pid_t launcherPid = getpid();
    host::rtLoggerDrain();  // the launcher's lines come before the run's
    const pid_t pid = fork();
    if (pid == 0) {
        if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != launcherPid)
            _exit(1);
        fcntl(started[1], F_SETFD, 0);
        restoreSignals();
        execve(argv[0], argv.data(), envp.data());
        dprintf(2, "run.sh: cannot start %s: %s\n", argv[0], strerror(errno));
        _exit(127);
    }
    close(started[1]);
    if (pid < 0) {
        say("cannot start the instrument: %s", strerror(errno));
        close(started[0]);
        return false;
    }
    child_ = pid;
    startedPipe_ = started[0];
    return true;
}

// Stops are passed on as they come; the run's end is waitpid's.
int Supervisor::_waitForEnd() {
    for (;;) {
        int waitStatus = 0;
        const pid_t done = waitpid(child_, &waitStatus, WNOHANG);
        if (done == child_) {
            child_ = -1;
            return exitStatus(waitStatus);
        }
        if (done < 0 && errno != EINTR) {
            child_ = -1;
            return 1;
        }
        pollfd ready{signals_, POLLIN, 0};
        if (poll(&ready, 1, -1) < 0 || (ready.revents & POLLIN) == 0)
            continue;
        signalfd_siginfo info;
        const ssize_t n = read(signals_, &info, sizeof info);
        if (n == ssize_t(sizeof info))
            _takeSignal(int(info.ssi_signo));
    }
}

// Every stop goes on to the running instrument, which tells one stop from a
// second by when they come: the deliveries of one stop (from the terminal
// and from here, a Ctrl-C and a hang-up together) are one; a stop the
// player sends later ends it at once, even while its exit waits for a save.
void Supervisor::_takeSignal(int signal) {
    if (signal == SIGCHLD)
        return;
    if (stop_ == 0)
        stop_ = signal;
    if (child_ > 0)
        kill(child_, signal);
}

void Supervisor::_takePendingSignals() {
    pollfd ready{signals_, POLLIN, 0};
    signalfd_siginfo info;
    while (poll(&ready, 1, 0) == 1 && read(signals_, &info, sizeof info) == ssize_t(sizeof info))
        _takeSignal(int(info.ssi_signo));
}

// The exit-code file tells the next run how this one ended; a crashed
// run's port link would lead to a terminal that is no longer the
// instrument's.
void Supervisor::_afterRun(int status) {
    const std::string link = host::portLinkOf(plan_.root);
    struct stat st;
    if (lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        unlink(link.c_str());
    const std::string file = host::exitCodeFileOf(plan_.root);
    if (host::makeFolders(host::hostFolderOf(plan_.root)) &&
        host::writeWholeFile(file, std::to_string(status) + "\n"))
        return;
    // A file that could not be written is removed where it can be; where
    // it cannot (a read-only root), the next run reads the old one.
    const int error = errno;
    if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        say("cannot write %s (%s): the next run reads the old exit code still there", file.c_str(), strerror(error));
    else
        say("cannot write %s (%s): the next run starts as after a power-on", file.c_str(), strerror(error));
}

bool Supervisor::_tooManyRestarts() {
    const auto now = std::chrono::steady_clock::now();
    while (!restarts_.empty() && now - restarts_.front() >= kRestartWindow)
        restarts_.pop_front();
    restarts_.push_back(now);
    return restarts_.size() > kMostRestarts;
}

// The session's one header, before the first run; a file behind standard
// output starts empty, as a named output does.
bool Supervisor::_startStream() {
    if (!plan_.streamsToStandardOutput)
        return true;
    host::WavWriter stream;
    errno = 0;
    if (stream.openDescriptor(STDOUT_FILENO, plan_.channels, host::kHostSampleRate)) {
        stream.close();
        return true;
    }
    if (_readerGone())
        say("the reader of standard output closed");
    else
        say("cannot write the audio stream on standard output: %s", strerror(errno));
    return false;
}

bool Supervisor::_readerGone() const { return plan_.streamsToStandardOutput && host::readerGone(STDOUT_FILENO); }

// The finished output moves aside to the first free numbered name in its
// folder (take.wav -> take-1.wav, take-2.wav, ...), so that the next run
// does not write over it. Only a regular file: a FIFO or a device stays.
// An output reached through a symbolic link keeps the link: its target
// moves aside in the target's folder, and the next run writes a new one.
void Supervisor::_keepOutput() {
    // Standard output is the caller's, and the session's one stream: the
    // next run continues it.
    if (plan_.streamsToStandardOutput) {
        say("the next run continues the audio on standard output");
        return;
    }
    std::string file = plan_.output;
    struct stat st;
    if (lstat(file.c_str(), &st) != 0)
        return;
    if (S_ISLNK(st.st_mode)) {
        char* target = realpath(file.c_str(), nullptr);
        if (!target)
            return;
        file = target;
        free(target);
        if (lstat(file.c_str(), &st) != 0)
            return;
    }
    if (!S_ISREG(st.st_mode))
        return;
    countEveryFrame(file, plan_.channels);
    const size_t slash = file.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : file.substr(0, slash + 1);
    const std::string name = file.substr(folder.size());
    const size_t dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0;
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : "";
    // A name that is taken is the move's to find (EEXIST), not a look
    // before it: a file may come between the two.
    for (int n = 1; n < INT_MAX; ++n) {
        const std::string kept = folder + stem + "-" + std::to_string(n) + extension;
        if (moveWithoutReplacing(file, kept)) {
            say("the last run's audio is kept in %s; the next run writes %s", kept.c_str(), plan_.output.c_str());
            return;
        }
        if (errno != EEXIST)
            break;
    }
    say("cannot keep the last run's audio: the next run writes over %s", plan_.output.c_str());
}

}  // namespace launcher
