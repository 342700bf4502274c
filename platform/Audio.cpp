#include "platform/Audio.h"
#include "platform/AudioCodec.h"
#include "platform/devices/Board.h"

#include "platform/AudioFile.h"
#include "platform/AudioInput.h"
#include "platform/AuxiliaryTask.h"
#include "platform/BlockPacer.h"
#include "platform/ConsoleRelay.h"
#include "platform/CpuMonitor.h"
#include "platform/FileIdentity.h"
#include "platform/HostFolder.h"
#include "platform/Launcher.h"
#include "platform/Osc.h"
#include "platform/Paths.h"
#include "platform/RtPrintf.h"
#include "platform/StandardOutput.h"
#include "platform/Stepped.h"
#include "platform/Stops.h"
#include "platform/devices/PanelSimulator.h"
#include "platform/devices/SerialPort.h"

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xmmintrin.h>
#include <pmmintrin.h>

#include <algorithm>
#include <memory>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

namespace {

struct HostAudio {
    BelaInitSettings settings;
    BelaContext context;
    std::vector<float> in, out;
    std::vector<uint32_t> digital;
    host::AudioInputStream input;  // --audio-in
    // A stop signal bounds how long the capture's reader is waited for.
    host::AudioCapture capture{host::stopTakenAtNs};
    bool capturing = false;
    bool outputFailed = false;  // kept past cleanup for the exit status
    bool outputOnDisk = false;  // a file, not a pipe or a device
    std::vector<host::DigitalDevice*> devices;
    std::unique_ptr<AudioCodec> codec;  // configured and started, never carries audio here

    bool initialised = false;
    bool running = false;
    std::thread audioThread;
    std::atomic<uint64_t> blocks{0};
    // Odd while render runs: the block fence waits for it to move on.
    std::atomic<uint64_t> renderSequence{0};
};

HostAudio& hostAudio() {
    static HostAudio h;
    return h;
}

// Written by the signal handler, the audio thread (after its last block) and
// anyone asking to stop; a lock-free atomic is async-signal-safe.
std::atomic<int> gStopRequested{0};
static_assert(std::atomic<int>::is_always_lock_free);
thread_local bool tAudioThread = false;
// main's first look at the stop request comes after its handlers are in
// place: that look tells the launcher the start is complete.
std::atomic<bool> gStartNotePending{false};
thread_local bool tStartedAudio = false;

bool stopRequestedNow() { return gStopRequested.load(std::memory_order_acquire) != 0; }

// Makes the codec of the board, as the audio port would before streaming,
// and checks that its port configuration is one the port runs.
bool startCodec(HostAudio& h, const std::string& name) {
    int id = Bela_hwFromName(name);
    if (id < 0) {
        fprintf(stderr, "Bela_initAudio: unknown hardware %s\n", name.c_str());
        return false;
    }
    h.codec.reset(host::makeCodec(id));
    if (!h.codec)
        return true;  // a board without a codec driver
    if (!host::mcaspConfigSupported(h.codec->getMcaspConfig())) {
        fprintf(stderr, "Bela_initAudio: the codec of %s asks for an audio port setting this host does not run\n",
                name.c_str());
        h.codec.reset();
        return false;
    }
    if (h.codec->initCodec() != 0)
        fprintf(stderr, "Bela_initAudio: the codec of %s did not initialise\n", name.c_str());
    return true;
}

// The instrument's configuration in the root (the board's
// "/home/corvane/corvane.json").
constexpr const char* kConfigurationName = "corvane.json";

// A path option that writes over a file in use is refused, before anything
// is written: the root's own files (the configuration, the host folder
// with the lock), and two options naming one file (the picture over the
// capture, the capture over the input before it is read). An output is
// checked against every other path option; two readers of one file harm
// nothing. The line names only what the player gave: the audio output the
// player left out is "the default audio output".
bool namesOneFile(const BelaInitSettings& given, const std::string& audioOut) {
    struct Named {
        const char* option;  // null: the default audio output
        const std::string& path;
        bool written;
    };
    const Named named[] = {{"--display-out", given.displayMirror, true},
                           {"--audio-in", given.audioInFile, false},
                           {"--panel-script", given.panelScript, false},
                           {"--midi-port", given.midiPort, true},
                           {given.audioOutFile.empty() ? nullptr : "--audio-out", audioOut, true}};
    const std::string configuration = host::root() + "/" + kConfigurationName;
    for (const Named& n : named)
        if (n.written && !n.path.empty() &&
            (host::sameFile(n.path, configuration) || host::leadsInto(n.path, host::hostFolder()))) {
            fprintf(stderr, "%s names one of the data root's own files: %s\n",
                    n.option ? n.option : "the default audio output", n.path.c_str());
            return true;
        }
    for (size_t i = 0; i < std::size(named); ++i)
        for (size_t j = i + 1; j < std::size(named); ++j) {
            const Named &a = named[i], &b = named[j];
            if (!(a.written || b.written) || a.path.empty() || b.path.empty() || !host::sameFile(a.path, b.path))
                continue;
            if (!b.option)
                fprintf(stderr, "%s names the default audio output: %s\n", a.option, b.path.c_str());
            else
                fprintf(stderr, "%s and %s name one file: %s\n", a.option, b.option, b.path.c_str());
            return true;
        }
    return false;
}

void feedInputs(HostAudio& h) {
    if (h.input.isOpen())
        h.input.feed(h.in.data(), h.context.audioFrames, h.context.audioInChannels);
}

void renderOneBlock(HostAudio& h) {
    for (auto* device : h.devices)
        device->beforeRender(h.digital.data(), h.context.digitalFrames);
    feedInputs(h);
    h.renderSequence.fetch_add(1, std::memory_order_seq_cst);
    Bela_cpuTic(Bela_cpuMonitoringGet());
    h.settings.render(&h.context, h.settings.userData);
    Bela_cpuToc(Bela_cpuMonitoringGet());
    h.renderSequence.fetch_add(1, std::memory_order_seq_cst);
    for (auto* device : h.devices)
        device->afterRender(h.digital.data(), h.context.digitalFrames);
    if (h.capturing) {
        h.capture.push(h.out.data(), h.context.audioFrames);
        // Nobody would hear the rest: end the run as a stop request does,
        // so the configuration is still saved on the way out.
        if (h.capture.failed())
            Bela_requestStop();
    }
    h.context.audioFramesElapsed += h.context.audioFrames;
    uint64_t done = h.blocks.fetch_add(1, std::memory_order_relaxed) + 1;
    if (h.settings.stopAfterBlocks && done >= h.settings.stopAfterBlocks)
        Bela_requestStop();
}

int64_t monotonicNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000ll + ts.tv_nsec;
}

// How far an offline render has come, on a terminal: one line rewritten in
// place a few times a second of wall time, ended with a newline so the next
// line starts clean. The render loop writes it itself: offline its thread is
// not real time, and between two looks at the clock a block costs a count.
// Console lines printed meanwhile go through the relay, which keeps them off
// the progress line.
class OfflineProgress {
public:
    explicit OfflineProgress(const HostAudio& h)
        : totalBlocks_(h.settings.stopAfterBlocks), frames_(h.context.audioFrames),
          shown_(h.settings.mode == HostMode::Offline && totalBlocks_ != 0 && isatty(2)) {
        // The first line waits for the start's own lines, which come in the first moments.
        if (shown_) {
            nextLine_ = monotonicNs() + kNsBetweenLines;
            relay_.begin();
        }
    }

    void blockDone(uint64_t blocksDone) {
        if (!shown_ || blocksDone % kBlocksBetweenLooks != 0)
            return;
        const int64_t now = monotonicNs();
        if (now < nextLine_)
            return;
        nextLine_ = now + kNsBetweenLines;
        show(blocksDone, false);
    }

    void finish(uint64_t blocksDone) {
        if (shown_)
            show(blocksDone, true);
    }

private:
    static constexpr uint64_t kBlocksBetweenLooks = 32;
    static constexpr int64_t kNsBetweenLines = 250'000'000;

    // Wide: --blocks takes counts whose frames no 64-bit word holds.
    uint64_t seconds(uint64_t blocks, bool up) const {
        const unsigned __int128 frames = static_cast<unsigned __int128>(blocks) * frames_;
        return uint64_t((frames + (up ? host::kHostSampleRate - 1 : 0)) / host::kHostSampleRate);
    }

    void show(uint64_t blocksDone, bool last) {
        // A render done is its whole total, however the total rounds.
        const uint64_t total = seconds(totalBlocks_, true);
        const uint64_t done = blocksDone >= totalBlocks_ ? total : seconds(blocksDone, false);
        char line[96];
        const int n = snprintf(line, sizeof line, "\rrendered %02llu:%02llu of %02llu:%02llu%s",
                               static_cast<unsigned long long>(done / 60), static_cast<unsigned long long>(done % 60),
                               static_cast<unsigned long long>(total / 60), static_cast<unsigned long long>(total % 60),
                               last ? "\n" : "");
        if (n <= 0)
            return;
        const size_t length = std::min(size_t(n), sizeof line - 1);
        if (relay_.active()) {
            // The relay owns the line's start and end.
            const size_t text = length - (last ? 2 : 1);
            if (last)
                relay_.end(line + 1, text);
            else
                relay_.show(line + 1, text);
            return;
        }
        // A console that takes no more shows no more; the render goes on.
        (void)!write(2, line, length);
    }

    uint64_t totalBlocks_;
    uint64_t frames_;
    bool shown_;
    int64_t nextLine_ = 0;
    host::ConsoleRelay relay_;
};

void audioLoop(HostAudio* h) {
    tAudioThread = true;
    Bela_setFlushToZero();
    pthread_setname_np(pthread_self(), "corvane-audio");
    const bool realTime = h->settings.mode == HostMode::RealTime;
    if (realTime) {
        sched_param param{};
        param.sched_priority = 95;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);  // best effort
    }
    host::BlockPacer pacer(monotonicNs());
    OfflineProgress progress(*h);
    while (!gStopRequested.load(std::memory_order_acquire)) {
        // Offline, a block waits for its input: the render is exact, however
        // slow the reader. In real time a late reader gives silence instead.
        if (!realTime)
            h->input.waitFor(h->context.audioFrames, stopRequestedNow);
        renderOneBlock(*h);
        if (!realTime) {
            // The tasks this block woke run now, before the next block: an
            // offline run does the same thing at any load. They run here as
            // on their own threads: not as the audio thread.
            tAudioThread = false;
            host::tasksRunPending();
            tAudioThread = true;
            progress.blockDone(h->blocks.load(std::memory_order_relaxed));
            continue;
        }
        switch (pacer.blockDone(monotonicNs())) {
        case host::BlockPacer::Next::CatchUp: continue;
        case host::BlockPacer::Next::Underrun: h->context.underrunCount++; continue;
        case host::BlockPacer::Next::Wait: break;
        }
        const int64_t wake = pacer.wakeAt();
        timespec ts{time_t(wake / 1000000000ll), long(wake % 1000000000ll)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
    }
    progress.finish(h->blocks.load(std::memory_order_relaxed));
}

}  // namespace

BelaInitSettings* Bela_InitSettings_alloc() { return new BelaInitSettings; }

void Bela_InitSettings_free(BelaInitSettings* settings) { delete settings; }

void Bela_defaultSettings(BelaInitSettings* settings) {
    if (settings)
        *settings = BelaInitSettings{};
}

int Bela_initAudio(BelaInitSettings* settings, void* userData) {
    HostAudio& h = hostAudio();
    if (!settings || h.initialised)
        return -1;
    if (!settings->setup || !settings->render) {
        fprintf(stderr, "Bela_initAudio: no setup or render function\n");
        return -1;
    }
    // Audio into standard output: from here on the console is standard error,
    // before a line of this run is written.
    const int audioDescriptor = host::takeStandardOutputFor(host::audioOutputOf(*settings));
    host::followLauncher();
    if (!host::setRoot(settings->root)) {
        const int error = errno;
        fprintf(stderr, "Bela_initAudio: cannot use %s as the data root: %s\n",
                (settings->root.empty() ? host::defaultRoot() : settings->root).c_str(), strerror(error));
        return -1;
    }
    // Before anything under the root (the output among them) is opened.
    if (!host::lockRoot(host::root()))
        return -1;
    host::makeHomeFolders();
    const auto fail = [] {
        host::unlockRoot();
        return -1;
    };
    h.settings = *settings;
    h.settings.userData = userData;
    h.context = BelaContext{};
    h.context.audioFrames = settings->periodSize;
    h.context.audioInChannels = settings->numAudioInChannels;
    h.context.audioOutChannels = settings->numAudioOutChannels;
    h.context.digitalFrames = settings->periodSize;
    h.context.digitalChannels = settings->numDigitalChannels;
    h.context.projectName = h.settings.projectName;
    h.in.assign(size_t(h.context.audioFrames) * h.context.audioInChannels, 0.0f);
    h.out.assign(size_t(h.context.audioFrames) * h.context.audioOutChannels, 0.0f);
    h.digital.assign(h.context.digitalFrames, 0xFFFFu);  // every pin an input, all low
    h.context.audioIn = h.in.data();
    h.context.audioOut = h.out.data();
    h.context.digital = h.digital.data();
    h.blocks = 0;
    h.input.close();
    h.outputFailed = false;
    h.outputOnDisk = false;
    gStopRequested = 0;

    // The default output counts: a picture named ROOT/output.wav would replace it.
    h.settings.audioOutFile = host::audioOutputOf(*settings);
    if (namesOneFile(*settings, h.settings.audioOutFile))
        return fail();

    if (std::string why; !host::setDisplayMirror(settings->displayMirror, &why)) {
        fprintf(stderr, "display picture: cannot write %s: %s\n", settings->displayMirror.c_str(), why.c_str());
        return fail();
    }

    // A run the launcher started again goes on with silent inputs when the
    // file is no longer there to read (a pipe the run before used up): the
    // player's instrument comes back.
    const bool again = host::launcherRun() > 1;
    if (!settings->audioInFile.empty() && !h.input.open(settings->audioInFile, h.context.audioInChannels, again) &&
        !again)
        return fail();
    host::setMidiPort(settings->midiPort);
    host::setOscListenAddress(settings->oscListen);
    if (!settings->hardware.empty() && !startCodec(h, settings->hardware))
        return fail();
    // The script stands for the player's hands: it plays in the first run.
    if (!host::panelStart(again ? std::string() : settings->panelScript))
        return fail();
    host::jacksStart();
    if (settings->audioOutFile.empty() && settings->mode != HostMode::Stepped)
        fprintf(stderr, "Audio output is written to %s\n", h.settings.audioOutFile.c_str());
    if (!h.settings.audioOutFile.empty()) {
        // Under the launcher, standard output carries the session's one
        // stream, whose header the launcher wrote: each run goes on with it.
        if (!h.capture.open(h.settings.audioOutFile, h.context.audioOutChannels, host::kHostSampleRate,
                            settings->mode != HostMode::RealTime, audioDescriptor,
                            audioDescriptor >= 0 && host::startedByLauncher()))
            return fail();
        h.capturing = true;
        struct stat st;
        const int known =
            audioDescriptor >= 0 ? fstat(audioDescriptor, &st) : stat(h.settings.audioOutFile.c_str(), &st);
        h.outputOnDisk = known == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode));
    }

    const bool stepped = settings->mode == HostMode::Stepped;
    host::tasksSetThreaded(!stepped, settings->mode == HostMode::RealTime, settings->mode == HostMode::Offline);
    if (!stepped)
        host::rtLoggerStart();
    Bela_cpuMonitoringInit(1);
    h.initialised = true;
    if (stepped)
        tAudioThread = true;  // setup runs on the thread that will step
    bool ok = h.settings.setup(&h.context, h.settings.userData);
    if (stepped)
        tAudioThread = false;
    if (!ok) {
        Bela_cleanupAudio();
        return -1;
    }
    return 0;
}

int Bela_startAudio() {
    HostAudio& h = hostAudio();
    if (!h.initialised || h.running)
        return -1;
    if (h.codec) {
        // Host-only: nothing of the codec is heard here, so say that it runs.
        if (h.codec->startAudio(1) == 0)
            fprintf(stderr, "Audio codec of %s started\n", h.settings.hardware.c_str());
        else
            fprintf(stderr, "Bela_startAudio: the codec of %s did not start\n", h.settings.hardware.c_str());
    }
    if (h.settings.mode == HostMode::Stepped) {
        h.running = true;
        return 0;
    }
    try {
        h.audioThread = std::thread(audioLoop, &h);
    } catch (...) {
        return -1;
    }
    h.running = true;
    tStartedAudio = true;
    gStartNotePending.store(true, std::memory_order_relaxed);
    return 0;
}

void Bela_stopAudio() {
    HostAudio& h = hostAudio();
    // No audio loop hands out task runs any more: clean-up may wait on a task.
    if (!h.running) {
        host::tasksRunFreely();
        return;
    }
    Bela_requestStop();
    if (h.audioThread.joinable())
        h.audioThread.join();
    host::tasksRunFreely();
    if (h.codec)
        h.codec->stopAudio();
    h.running = false;
    gStartNotePending.store(false, std::memory_order_relaxed);
}

void Bela_cleanupAudio() {
    HostAudio& h = hostAudio();
    if (!h.initialised)
        return;
    Bela_stopAudio();
    h.input.close();
    host::panelStop();
    host::jacksStop();
    if (h.settings.cleanup)
        h.settings.cleanup(&h.context, h.settings.userData);
    host::tasksStopAll();
    if (h.capturing) {
        h.capture.close();
        h.outputFailed = h.capture.failed() && !h.capture.readerLeft();
        h.capturing = false;
    }
    // A file the disk cannot take fails the same way in every run after; a
    // FIFO whose player left waits in the next run for the next player.
    if (h.outputFailed && h.outputOnDisk)
        host::noteSessionEnds();
    host::rtLoggerStop();
    h.codec.reset();
    host::setDisplayMirror(std::string());
    h.initialised = false;
    host::unlockRoot();
}

void Bela_requestStop() { gStopRequested.store(1, std::memory_order_release); }

int Bela_stopRequested() {
    if (tStartedAudio && gStartNotePending.exchange(false, std::memory_order_relaxed))
        host::noteStarted();
    return gStopRequested.load(std::memory_order_acquire) ? 1 : 0;
}

bool Bela_isAudioThread() { return tAudioThread; }

void Bela_blockFence() {
    if (tAudioThread)
        return;
    HostAudio& h = hostAudio();
    uint64_t seen = h.renderSequence.load(std::memory_order_seq_cst);
    if ((seen & 1u) == 0)
        return;  // no block in progress: the next one sees what was set before
    while (h.renderSequence.load(std::memory_order_seq_cst) == seen)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
}

void Bela_setFlushToZero() {
#if defined(__SSE__)
    _MM_SET_FLUSH_ZERO_MODE(_MM_FLUSH_ZERO_ON);
    _MM_SET_DENORMALS_ZERO_MODE(_MM_DENORMALS_ZERO_ON);
#endif
}

namespace host {

void stepBlocks(uint32_t blocks, bool runTasks) {
    HostAudio& h = hostAudio();
    if (!h.initialised || h.settings.mode != HostMode::Stepped)
        return;
    const bool wasAudio = tAudioThread;
    tAudioThread = true;
    Bela_setFlushToZero();
    for (uint32_t i = 0; i < blocks; ++i) {
        h.input.waitFor(h.context.audioFrames);
        renderOneBlock(h);
        if (runTasks) {
            tAudioThread = false;
            tasksRunPending();
            tAudioThread = true;
        }
    }
    tAudioThread = wasAudio;
}

void runPendingTasks() { tasksRunPending(); }

BelaContext* context() { return &hostAudio().context; }

float* audioInBuffer() { return hostAudio().in.data(); }

uint64_t blocksRendered() { return hostAudio().blocks.load(); }

bool outputFailed() { return hostAudio().outputFailed; }

std::optional<uint64_t> fixedRandomSeed() {
    constexpr uint64_t kOfflineSeed = 0x5EED;
    if (hostAudio().settings.mode == HostMode::Offline)
        return kOfflineSeed;
    return std::nullopt;
}

void attachDigitalDevice(DigitalDevice* device) {
    auto& devices = hostAudio().devices;
    if (device && std::find(devices.begin(), devices.end(), device) == devices.end())
        devices.push_back(device);
}

void detachDigitalDevice(DigitalDevice* device) {
    auto& devices = hostAudio().devices;
    devices.erase(std::remove(devices.begin(), devices.end(), device), devices.end());
}

}  // namespace host
