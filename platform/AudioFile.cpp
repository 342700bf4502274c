#include "platform/AudioFile.h"

#include <sndfile.h>

#include "platform/SampleValues.h"
#include "platform/WavWriter.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <memory>
#include <ctime>
#include <thread>

namespace AudioFileUtilities {

namespace {
struct SndFile {
    SNDFILE* file = nullptr;
    SF_INFO info{};
    explicit SndFile(const std::string& path) { file = sf_open(path.c_str(), SFM_READ, &info); }
    ~SndFile() {
        if (file)
            sf_close(file);
    }
};
}  // namespace

std::vector<std::vector<float>> load(const std::string& path, int maxFrames, unsigned startFrame,
                                     size_t* replaced) {
    if (replaced)
        *replaced = 0;
    SndFile f(path);
    if (!f.file || f.info.channels <= 0 || f.info.frames < 0)
        return {};
    sf_count_t available = f.info.frames > sf_count_t(startFrame) ? f.info.frames - startFrame : 0;
    sf_count_t frames = maxFrames < 0 ? available : std::min<sf_count_t>(available, maxFrames);
    const int channels = f.info.channels;
    std::vector<std::vector<float>> out(channels, std::vector<float>(size_t(frames), 0.0f));
    if (frames == 0)
        return out;
    if (startFrame > 0 && sf_seek(f.file, startFrame, SEEK_SET) < 0)
        return {};
    std::vector<float> chunk(size_t(4096) * channels);
    sf_count_t done = 0;
    while (done < frames) {
        sf_count_t want = std::min<sf_count_t>(4096, frames - done);
        sf_count_t got = sf_readf_float(f.file, chunk.data(), want);
        if (got <= 0)
            break;
        for (sf_count_t i = 0; i < got; ++i)
            for (int c = 0; c < channels; ++c)
                out[c][size_t(done + i)] = chunk[size_t(i * channels + c)];
        done += got;
    }
    size_t cleaned = 0;
    for (auto& channel : out) {
        if (done < frames)
            channel.resize(size_t(done));
        cleaned += cleanSamples(channel.data(), channel.size());
    }
    if (replaced)
        *replaced = cleaned;
    return out;
}

int getNumChannels(const std::string& path) {
    SndFile f(path);
    return f.file ? f.info.channels : -1;
}

int getNumFrames(const std::string& path) {
    SndFile f(path);
    return f.file ? int(f.info.frames) : -1;
}

int getSampleRate(const std::string& path) {
    SndFile f(path);
    return f.file ? f.info.samplerate : -1;
}

}  // namespace AudioFileUtilities

namespace host {

namespace {
constexpr std::chrono::milliseconds kHeaderInterval{1000};
// Drops this far apart are one stretch, said once.
constexpr std::chrono::milliseconds kEpisodeQuiet{500};
constexpr const char* kReaderLeft = "The reader of standard output closed: stopping\n";

int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}
}  // namespace

struct AudioCapture::Impl {
    WavWriter file;
    unsigned channels = 0;
    unsigned sampleRate = 0;
    bool waitWhenFull = false;
    int64_t (*stoppedAt)() = nullptr;
    std::unique_ptr<float[]> ring;
    size_t capacity = 0;  // samples
    std::atomic<uint64_t> head{0}, tail{0};
    std::atomic<bool> quit{false};
    // When close() came (CLOCK_MONOTONIC ns): in real time the run's end
    // bounds the reader's time as a stop does (a menu restart, a power-off).
    std::atomic<int64_t> closedAt{0};
    std::atomic<unsigned long> dropped{0};   // at push
    std::atomic<unsigned long> notTaken{0};  // left unwritten after a stop
    std::atomic<bool> failed{false};
    std::atomic<bool> readerLeft{false};
    bool standardOutput = false;
    std::string path;
    std::thread writer;

    // The writer thread's own: the reader's time is up, and the stretch of
    // drops being watched.
    bool gaveUp = false;
    unsigned long droppedSaid = 0, droppedSeen = 0;
    std::chrono::steady_clock::time_point lastDrop{};

    bool stopped() const { return stoppedAt && stoppedAt() != 0; }

    // Whether the reader may still be waited for: always, until its time
    // after a stop is up.
    bool readerHasTime() const {
        int64_t stop = stoppedAt ? stoppedAt() : 0;
        if (stop == 0 && !waitWhenFull)
            stop = closedAt.load(std::memory_order_acquire);
        return stop == 0 || monotonicNs() - stop < kStopGraceNs;
    }

    std::string readerName() const {
        return standardOutput ? "the reader of standard output" : "the audio output " + path;
    }

    // A length of dropped audio as said; empty for what would read as none.
    std::string said(unsigned long frames) const {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f s", double(frames) / sampleRate);
        return frames == 0 || std::strcmp(text, "0.00 s") == 0 ? std::string() : text;
    }

    // Says a stretch of drops once they have stopped for a moment (or at the
    // end): one line per stretch, however many blocks it took.
    void sayDrops(bool atEnd) {
        const unsigned long now = dropped.load(std::memory_order_relaxed);
        const auto at = std::chrono::steady_clock::now();
        if (now != droppedSeen) {
            droppedSeen = now;
            lastDrop = at;
        }
        // A stretch too short to show as a length is left to the next one,
        // or to the total at the end.
        const std::string length = said(now - droppedSaid);
        if (!length.empty() && (atEnd || at - lastDrop >= kEpisodeQuiet)) {
            fprintf(stderr, "Audio dropped: %s fell behind by %s\n", readerName().c_str(), length.c_str());
            droppedSaid = now;
        }
    }

    void drain() {
        // The ring is handed back a piece at a time, so a slow reader frees
        // room for push as it goes rather than after the whole backlog.
        const size_t most = std::min<size_t>(capacity, size_t(4096) * channels);
        const auto goOn = [this] {
            sayDrops(false);
            return readerHasTime();
        };
        uint64_t t = tail.load(std::memory_order_relaxed);
        const uint64_t h = head.load(std::memory_order_acquire);
        while (t < h) {
            const size_t offset = t % capacity;
            const size_t n = std::min({size_t(h - t), capacity - offset, most});
            // The ring keeps draining after a failure, so an offline render
            // waiting for room is never stuck behind a dead file.
            errno = 0;
            const size_t written = gaveUp ? 0 : file.writeWhile(ring.get() + offset, n, goOn);
            if (written < n && file.failed()) {
                if (!failed.load(std::memory_order_relaxed)) {
                    if (standardOutput && errno == EPIPE) {
                        fprintf(stderr, "%s", kReaderLeft);
                        readerLeft.store(true, std::memory_order_relaxed);
                    } else {
                        fprintf(stderr, "Error: cannot write the audio output %s: %s\n", path.c_str(),
                                errno ? strerror(errno) : "the file refused the samples");
                    }
                    failed.store(true, std::memory_order_release);
                }
            } else if (written < n) {
                // The reader's time after the stop is up: what it has not
                // taken goes, in whole frames.
                gaveUp = true;
                notTaken.fetch_add((n - written) / channels, std::memory_order_relaxed);
            }
            t += n;
            tail.store(t, std::memory_order_release);
        }
    }

    void sayInAll() {
        sayDrops(true);
        const unsigned long all = dropped.load(std::memory_order_relaxed) + notTaken.load(std::memory_order_relaxed);
        if (all > 0) {
            const std::string length = said(all);
            fprintf(stderr, "Audio dropped in all: %s (%s was too slow)\n",
                    length.empty() ? "less than 0.01 s" : length.c_str(), readerName().c_str());
        }
    }
};

AudioCapture::~AudioCapture() { close(); }

bool AudioCapture::open(const std::string& path, unsigned channels, unsigned sampleRate, bool waitWhenFull,
                        int descriptor, bool continues) {
    close();
    closedFailed_ = false;
    closedReaderLeft_ = false;
    auto impl = std::make_unique<Impl>();
    auto waiting = [](const std::string& fifo) {
        fprintf(stderr, "Audio output %s is a FIFO: waiting for a reader\n", fifo.c_str());
    };
    const bool opened = descriptor >= 0 ? impl->file.openDescriptor(descriptor, channels, sampleRate, continues)
                                        : impl->file.open(path, channels, sampleRate, waiting);
    // A reader gone before the first frame ends the run as one gone later
    // does: the capture stands failed, and the first block stops the run.
    const bool readerLeft = !opened && descriptor >= 0 && errno == EPIPE;
    if (readerLeft) {
        fprintf(stderr, "%s", kReaderLeft);
        impl->failed.store(true, std::memory_order_relaxed);
        impl->readerLeft.store(true, std::memory_order_relaxed);
    } else if (!opened) {
        fprintf(stderr, "audio capture: cannot write %s: %s\n", path.c_str(), strerror(errno));
        return false;
    }
    impl->channels = channels;
    impl->sampleRate = sampleRate;
    impl->path = path;
    impl->standardOutput = descriptor >= 0;
    impl->waitWhenFull = waitWhenFull;
    impl->stoppedAt = stoppedAt_;
    impl->capacity = size_t(sampleRate) * channels * 4;  // four seconds
    impl->ring.reset(new float[impl->capacity]);
    impl_ = impl.release();
    Impl* writing = impl_;
    impl_->writer = std::thread([writing] {
        // The header follows the data about once a second, so a run that
        // is killed loses at most the last second of its recording.
        auto lastHeader = std::chrono::steady_clock::now();
        while (!writing->quit.load(std::memory_order_acquire)) {
            writing->drain();
            writing->sayDrops(false);
            const auto now = std::chrono::steady_clock::now();
            if (now - lastHeader >= kHeaderInterval) {
                writing->file.updateHeader();
                lastHeader = now;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        writing->drain();
        writing->sayInAll();
    });
    return true;
}

void AudioCapture::push(const float* interleaved, unsigned frames) {
    if (!impl_)
        return;
    size_t n = size_t(frames) * impl_->channels;
    uint64_t h = impl_->head.load(std::memory_order_relaxed);
    for (;;) {
        uint64_t t = impl_->tail.load(std::memory_order_acquire);
        if (impl_->capacity - (h - t) >= n)
            break;
        // Offline, a stop ends the wait: the reader may never take more.
        if (!impl_->waitWhenFull || impl_->stopped()) {
            impl_->dropped.fetch_add(frames, std::memory_order_relaxed);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // Two spans at most: a division per sample (the ring's size is no power
    // of two) cost more than the copy itself.
    const size_t offset = h % impl_->capacity;
    const size_t first = std::min(n, impl_->capacity - offset);
    std::copy_n(interleaved, first, impl_->ring.get() + offset);
    std::copy_n(interleaved + first, n - first, impl_->ring.get());
    impl_->head.store(h + n, std::memory_order_release);
}

void AudioCapture::close() {
    if (!impl_)
        return;
    impl_->closedAt.store(monotonicNs(), std::memory_order_release);
    impl_->quit.store(true, std::memory_order_release);
    impl_->writer.join();
    impl_->file.close();
    closedFailed_ = impl_->failed.load(std::memory_order_acquire);
    closedReaderLeft_ = impl_->readerLeft.load(std::memory_order_relaxed);
    delete impl_;
    impl_ = nullptr;
}

unsigned long AudioCapture::droppedFrames() const {
    return impl_ ? impl_->dropped.load(std::memory_order_relaxed) + impl_->notTaken.load(std::memory_order_relaxed)
                 : 0;
}

bool AudioCapture::failed() const {
    return impl_ ? impl_->failed.load(std::memory_order_acquire) : closedFailed_;
}

bool AudioCapture::readerLeft() const {
    return impl_ ? impl_->failed.load(std::memory_order_acquire) && impl_->readerLeft.load(std::memory_order_relaxed)
                 : closedReaderLeft_;
}

}  // namespace host
