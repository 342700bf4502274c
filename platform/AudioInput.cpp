#include "platform/AudioInput.h"

#include "platform/SampleValues.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <pthread.h>
#include <sndfile.h>
#include <samplerate.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace host {

size_t inputChannelForFileChannel(size_t c) { return c < 4 ? 3 - c : c; }

namespace {

// Frames read from the file, and made by the converter, at a time.
constexpr size_t kChunkFrames = 4096;
static_assert((AudioInputStream::kRingFrames & (AudioInputStream::kRingFrames - 1)) == 0);
static_assert(AudioInputStream::kRingFrames >= 2 * kChunkFrames);

// Frames ready before the first block: the reader keeps well ahead of real
// time from there, and a live writer through a FIFO need not fill the ring.
constexpr uint64_t kPrimeFrames = 2 * kChunkFrames;

// A FIFO whose open has not returned by then has no writer yet.
constexpr auto kWriterGrace = std::chrono::milliseconds(100);

enum Stage : int { kOpening, kReady, kFailed };

// Why a pipe or FIFO fails on a run the launcher started again.
constexpr const char* kUsedUp = "a pipe or FIFO is used up";

// Says why the input cannot be read. On the first run the start is refused;
// on a run started again the inputs are silent and the run goes on.
void sayUnreadable(const std::string& path, bool again, const std::string& reason) {
    if (again)
        fprintf(stderr, "Audio input %s cannot be read again after a restart (%s): the inputs are silent\n",
                path.c_str(), reason.c_str());
    else
        fprintf(stderr, "Audio input %s cannot be read: %s\n", path.c_str(), reason.c_str());
}

// Bytes a sample of `format` takes in the file; 0 for compressed formats.
size_t bytesPerSample(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8: return 1;
    case SF_FORMAT_PCM_16: return 2;
    case SF_FORMAT_PCM_24: return 3;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT: return 4;
    case SF_FORMAT_DOUBLE: return 8;
    default: return 0;
    }
}

// A writer that cannot go back to fix its header (sox into a pipe) puts the
// largest length it can there: that is no length at all.
bool lengthIsKnown(sf_count_t frames, const SF_INFO& info) {
    if (frames <= 0 || frames == SF_COUNT_MAX)
        return false;
    const double bytes = double(frames) * double(info.channels) * double(bytesPerSample(info.format));
    return bytes < double(0x7fff0000u);
}

uint32_t le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// The frames the header of a WAV file claims, read from the file itself:
// libsndfile cuts the length to what a file holds when it opens it, and so
// hides a file cut short. 0 when not a WAV file or not known. Only for
// uncompressed samples, where a frame is a block.
sf_count_t wavHeaderFrames(int fd) {
    unsigned char h[4096];
    const ssize_t n = pread(fd, h, sizeof h, 0);
    if (n < 12 || memcmp(h, "RIFF", 4) != 0 || memcmp(h + 8, "WAVE", 4) != 0)
        return 0;
    uint32_t blockAlign = 0;
    for (ssize_t at = 12; at + 8 <= n;) {
        const uint32_t size = le32(h + at + 4);
        if (memcmp(h + at, "fmt ", 4) == 0 && at + 8 + 14 <= n)
            blockAlign = h[at + 20] | h[at + 21] << 8;
        if (memcmp(h + at, "data", 4) == 0)
            return blockAlign > 0 ? sf_count_t(size / blockAlign) : 0;
        if (size > uint32_t(n))
            return 0;
        at += 8 + ssize_t(size) + (size & 1);
    }
    return 0;
}

}  // namespace

struct AudioInputStream::State {
    std::string path;
    bool pipe = false;
    bool again = false;  // a run the launcher started again
    size_t contextChannels = 0;

    // The reader's own, set up before it says kReady.
    int fd = -1;
    SNDFILE* file = nullptr;
    SF_INFO info{};
    SRC_STATE* converter = nullptr;
    double ratio = 1.0;
    size_t fileChannels = 0;
    size_t ringChannels = 0;            // the file's first channels that can reach an input
    std::vector<size_t> target;         // context channel of each ring channel (>= contextChannels: none)
    std::vector<float> fileChunk;       // kChunkFrames frames of the file
    std::vector<float> converterInput;  // the same, ring channels only
    std::vector<float> made;            // kChunkFrames frames for the ring
    std::unique_ptr<float[]> ring;      // kRingFrames frames of ringChannels
    bool readFailed = false;
    sf_count_t claimedFrames = 0;  // what the header says the file holds
    sf_count_t framesRead = 0;     // at the file's rate

    std::atomic<int> stage{kOpening};
    std::atomic<uint64_t> head{0};  // frames written by the reader
    std::atomic<uint64_t> tail{0};  // frames taken by the audio side
    std::atomic<bool> primed{false};
    std::atomic<bool> ended{false};
    std::atomic<bool> quit{false};
    std::atomic<bool> inRead{false};  // in a read that a stalled pipe may hold up
    std::atomic<uint64_t> replaced{0};
    std::atomic<uint64_t> missing{0};
    std::atomic<bool> replacedSaid{false};

    ~State() {
        if (converter)
            src_delete(converter);
        if (file)
            sf_close(file);
        if (fd >= 0)
            ::close(fd);
    }

    void sayReplaced() {
        const uint64_t n = replaced.load(std::memory_order_acquire);
        if (n > 0 && !replacedSaid.exchange(true))
            fprintf(stderr, "Audio input %s: %llu values replaced (not finite or beyond %g)\n", path.c_str(),
                    (unsigned long long)n, double(kSampleValueBound));
    }

    // Frames of the file into fileChunk, cleaned and counted, and their ring
    // channels into converterInput; 0 at the end (or when asked to quit).
    size_t readChunk() {
        inRead.store(true, std::memory_order_seq_cst);
        if (quit.load(std::memory_order_seq_cst)) {
            inRead.store(false, std::memory_order_seq_cst);
            return 0;
        }
        const sf_count_t got = sf_readf_float(file, fileChunk.data(), sf_count_t(kChunkFrames));
        inRead.store(false, std::memory_order_seq_cst);
        if (got <= 0) {
            readFailed = sf_error(file) != SF_ERR_NO_ERROR;
            return 0;
        }
        const size_t frames = size_t(got);
        framesRead += got;
        replaced.fetch_add(cleanSamples(fileChunk.data(), frames * fileChannels), std::memory_order_relaxed);
        for (size_t f = 0; f < frames; ++f)
            for (size_t c = 0; c < ringChannels; ++c)
                converterInput[f * ringChannels + c] = fileChunk[f * fileChannels + c];
        return frames;
    }

    static long converterCallback(void* self, float** data) {
        State& s = *static_cast<State*>(self);
        *data = s.converterInput.data();
        return long(s.readChunk());
    }

    // The next frames at 48 kHz into `made`; 0 once the file is done.
    size_t make() {
        if (!converter) {
            const size_t frames = readChunk();
            std::copy_n(converterInput.begin(), frames * ringChannels, made.begin());
            return frames;
        }
        const long frames = src_callback_read(converter, ratio, long(kChunkFrames), made.data());
        if (frames <= 0) {
            if (src_error(converter) != 0)
                fprintf(stderr, "Audio input %s: the conversion failed: %s\n", path.c_str(),
                        src_strerror(src_error(converter)));
            return 0;
        }
        // The converter's ringing may pass the bound by a hair: that is not
        // a value of the file, so it is bounded without a word.
        cleanSamples(made.data(), size_t(frames) * ringChannels);
        return size_t(frames);
    }

    // Opens the file (on the reader thread: a FIFO's open waits for a
    // writer) and sets up what reading needs. Says why not on the console.
    bool setUp() {
        inRead.store(true, std::memory_order_seq_cst);
        // Run again, a FIFO is not waited for: its writer went with the run before.
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (again && pipe ? O_NONBLOCK : 0));
        bool usedUp = false;
        if (fd >= 0 && again && pipe) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            // A command's pipe (<(command)) was read by the run before: what
            // is left of it is no file's start.
            struct statfs fs {};
            usedUp = fstatfs(fd, &fs) == 0 && fs.f_type == PIPEFS_MAGIC;
        }
        // libsndfile 1.2.0 closes what it is handed when the open fails, even
        // when told not to: it is handed a duplicate of its own.
        const int own = fd >= 0 && !usedUp ? fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
        const int openError = errno;
        if (own >= 0)
            file = sf_open_fd(own, SFM_READ, &info, SF_TRUE);
        inRead.store(false, std::memory_order_seq_cst);
        if (fd < 0 || (own < 0 && !usedUp)) {
            sayUnreadable(path, again, strerror(openError));
            return false;
        }
        if (!file) {
            sayUnreadable(path, again, again && pipe ? kUsedUp : sf_strerror(nullptr));
            return false;
        }
        const int rate = info.samplerate;
        ratio = double(kHostSampleRate) / double(rate > 0 ? rate : 1);
        const auto sayNoConversion = [&] {
            if (again)
                sayUnreadable(path, again, "at " + std::to_string(rate) + " Hz, which cannot be converted");
            else
                fprintf(stderr, "Audio input %s is at %d Hz and cannot be converted to %u Hz\n", path.c_str(), rate,
                        kHostSampleRate);
        };
        if (info.channels <= 0 || rate <= 0 || !src_is_valid_ratio(ratio)) {
            sayNoConversion();
            return false;
        }
        claimedFrames = info.frames;
        if (!pipe && bytesPerSample(info.format) > 0)
            claimedFrames = std::max(claimedFrames, wavHeaderFrames(fd));
        fileChannels = size_t(info.channels);
        ringChannels = std::min(fileChannels, std::max<size_t>(contextChannels, 4));
        target.resize(ringChannels);
        for (size_t c = 0; c < ringChannels; ++c)
            target[c] = inputChannelForFileChannel(c);
        fileChunk.resize(kChunkFrames * fileChannels);
        converterInput.resize(kChunkFrames * ringChannels);
        made.resize(kChunkFrames * ringChannels);
        ring.reset(new float[kRingFrames * ringChannels]());
        if (unsigned(rate) != kHostSampleRate) {
            int error = 0;
            converter = src_callback_new(converterCallback, SRC_SINC_MEDIUM_QUALITY, int(ringChannels), &error, this);
            if (!converter) {
                sayNoConversion();
                return false;
            }
            fprintf(stderr, "Audio input %s: %d Hz converted to %u Hz\n", path.c_str(), rate, kHostSampleRate);
        }
        return true;
    }

    void run() {
        if (!setUp()) {
            stage.store(kFailed, std::memory_order_release);
            return;
        }
        stage.store(kReady, std::memory_order_release);
        constexpr uint64_t mask = kRingFrames - 1;
        while (!quit.load(std::memory_order_acquire)) {
            const uint64_t h = head.load(std::memory_order_relaxed);
            if (kRingFrames - (h - tail.load(std::memory_order_acquire)) < kChunkFrames) {
                primed.store(true, std::memory_order_release);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            const size_t frames = make();
            if (frames == 0)
                break;
            for (size_t f = 0; f < frames; ++f)
                std::copy_n(&made[f * ringChannels], ringChannels, &ring[((h + f) & mask) * ringChannels]);
            head.store(h + frames, std::memory_order_release);
            if (h + frames >= kPrimeFrames)
                primed.store(true, std::memory_order_release);
        }
        if (readFailed)
            fprintf(stderr, "Audio input %s: reading stopped early: %s\n", path.c_str(), sf_strerror(file));
        else if (!quit.load(std::memory_order_acquire) && framesRead < claimedFrames &&
                 lengthIsKnown(claimedFrames, info))
            // A writer killed, a file cut short while read.
            fprintf(stderr, "Audio input %s ended after %.1f s\n", path.c_str(),
                    double(framesRead) / double(info.samplerate));
        if (!quit.load(std::memory_order_acquire))
            sayReplaced();
        ended.store(true, std::memory_order_release);
        primed.store(true, std::memory_order_release);
    }
};

AudioInputStream::~AudioInputStream() { close(); }

bool AudioInputStream::open(const std::string& path, size_t contextChannels, bool again) {
    close();
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        sayUnreadable(path, again, strerror(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode)) {
        sayUnreadable(path, again, "not a regular file");
        return false;
    }
    auto state = std::make_shared<State>();
    state->path = path;
    state->pipe = S_ISFIFO(st.st_mode);
    state->again = again;
    state->contextChannels = contextChannels;
    try {
        reader_ = std::thread([state] {
            pthread_setname_np(pthread_self(), "corvane-audioin");
            state->run();
        });
    } catch (...) {
        sayUnreadable(path, again, "no thread to read it");
        return false;
    }
    state_ = std::move(state);

    const auto start = std::chrono::steady_clock::now();
    bool saidWaiting = false;
    while (state_->stage.load(std::memory_order_acquire) == kOpening) {
        if (state_->pipe && !saidWaiting && std::chrono::steady_clock::now() - start >= kWriterGrace) {
            fprintf(stderr, "Audio input %s: waiting for a writer\n", path.c_str());
            saidWaiting = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (state_->stage.load(std::memory_order_acquire) == kFailed) {
        close();
        return false;
    }
    // The first blocks find their frames (or the whole of a short file).
    // A writer that sent its header and then nothing holds the start: said
    // once a wait finds no new frames while the reader waits on an empty pipe
    // (the data is not there yet), after one that found none either.
    uint64_t seen = 0;
    int idleWaits = 0;
    bool saidData = false;
    while (!state_->primed.load(std::memory_order_acquire)) {
        const uint64_t head = state_->head.load(std::memory_order_acquire);
        int pending = 1;
        const bool starved = state_->pipe && head == seen && state_->inRead.load(std::memory_order_seq_cst) &&
                             ioctl(state_->fd, FIONREAD, &pending) == 0 && pending == 0;
        idleWaits = starved ? idleWaits + 1 : 0;
        seen = head;
        if (idleWaits >= 2 && !saidData) {
            fprintf(stderr, "Audio input %s: waiting for the writer's data\n", path.c_str());
            saidData = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void AudioInputStream::feed(float* interleaved, uint32_t frames, uint32_t channels) {
    State* s = state_.get();
    if (!s)
        return;
    // `ended` first: once it is set, head is final.
    const bool ended = s->ended.load(std::memory_order_acquire);
    const uint64_t h = s->head.load(std::memory_order_acquire);
    const uint64_t t = s->tail.load(std::memory_order_relaxed);
    const uint32_t ready = uint32_t(std::min<uint64_t>(frames, h - t));
    constexpr uint64_t mask = kRingFrames - 1;
    for (size_t c = 0; c < s->ringChannels; ++c) {
        const size_t to = s->target[c];
        if (to >= channels)
            continue;
        for (uint32_t f = 0; f < ready; ++f)
            interleaved[f * channels + to] = s->ring[((t + f) & mask) * s->ringChannels + c];
        for (uint32_t f = ready; f < frames; ++f)
            interleaved[f * channels + to] = 0.0f;
    }
    s->tail.store(t + ready, std::memory_order_release);
    if (ready < frames && !ended)
        s->missing.fetch_add(frames - ready, std::memory_order_relaxed);
}

void AudioInputStream::waitFor(uint32_t frames, bool (*giveUp)()) {
    State* s = state_.get();
    if (!s)
        return;
    for (;;) {
        if (s->ended.load(std::memory_order_acquire))
            return;
        if (s->head.load(std::memory_order_acquire) - s->tail.load(std::memory_order_relaxed) >= frames)
            return;
        if (giveUp && giveUp())
            return;
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
}

void AudioInputStream::close() {
    if (!state_)
        return;
    state_->quit.store(true, std::memory_order_seq_cst);
    if (reader_.joinable()) {
        // A pipe whose writer stalls may hold the reader in a read for good:
        // it is left to finish on its own, keeping what it uses alive.
        if (state_->pipe && state_->inRead.load(std::memory_order_seq_cst))
            reader_.detach();
        else
            reader_.join();
    }
    state_->sayReplaced();
    const uint64_t missing = state_->missing.load(std::memory_order_relaxed);
    if (missing > 0)
        fprintf(stderr, "Audio input %s: %llu frames came too late and were played as silence\n",
                state_->path.c_str(), (unsigned long long)missing);
    state_.reset();
}

}  // namespace host
