#include "platform/WavWriter.h"

#include <cstring>

#include <algorithm>
#include <cerrno>

#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace host {

namespace {

constexpr uint16_t kIeeeFloat = 3;
constexpr uint32_t kDs64Bytes = 28;  // RIFF, data and sample counts (64 bits each), an empty table
constexpr uint32_t kAllOnes = 0xFFFFFFFFu;

class HeaderBytes {
public:
    explicit HeaderBytes(std::array<uint8_t, WavWriter::kHeaderBytes>& out) : out_(out) {}
    void tag(const char* t) { _bytes(t, 4); }
    void u16(uint16_t v) { _little(v, 2); }
    void u32(uint32_t v) { _little(v, 4); }
    void u64(uint64_t v) { _little(v, 8); }
    size_t size() const { return at_; }

private:
    void _bytes(const void* p, size_t n) {
        std::memcpy(out_.data() + at_, p, n);
        at_ += n;
    }
    void _little(uint64_t v, size_t n) {
        for (size_t i = 0; i < n; ++i)
            out_[at_++] = uint8_t(v >> (8 * i));
    }
    std::array<uint8_t, WavWriter::kHeaderBytes>& out_;
    size_t at_ = 0;
};

bool writeAll(int fd, const void* data, size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

}  // namespace

std::array<uint8_t, WavWriter::kHeaderBytes> WavWriter::header(unsigned channels, unsigned sampleRate,
                                                               uint64_t dataBytes) {
    std::array<uint8_t, kHeaderBytes> bytes{};
    const uint64_t riffBytes = kHeaderBytes - 8 + dataBytes;
    const bool rf64 = riffBytes > kRiffLimit;
    const uint32_t frameBytes = 4 * channels;
    const uint64_t frames = frameBytes ? dataBytes / frameBytes : 0;
    HeaderBytes h(bytes);
    h.tag(rf64 ? "RF64" : "RIFF");
    h.u32(rf64 ? kAllOnes : uint32_t(riffBytes));
    h.tag("WAVE");
    h.tag(rf64 ? "ds64" : "JUNK");
    h.u32(kDs64Bytes);
    h.u64(rf64 ? riffBytes : 0);
    h.u64(rf64 ? dataBytes : 0);
    h.u64(rf64 ? frames : 0);
    h.u32(0);
    h.tag("fmt ");
    h.u32(18);
    h.u16(kIeeeFloat);
    h.u16(uint16_t(channels));
    h.u32(sampleRate);
    h.u32(sampleRate * frameBytes);
    h.u16(uint16_t(frameBytes));
    h.u16(32);
    h.u16(0);  // no extension, but said so
    h.tag("fact");
    h.u32(4);
    h.u32(rf64 || frames > kAllOnes ? kAllOnes : uint32_t(frames));
    h.tag("data");
    h.u32(rf64 ? kAllOnes : uint32_t(dataBytes));
    return bytes;
}

std::array<uint8_t, WavWriter::kHeaderBytes> WavWriter::streamHeader(unsigned channels, unsigned sampleRate) {
    return header(channels, sampleRate, kStreamDataBytes);
}

WavWriter::~WavWriter() { close(); }

bool WavWriter::open(const std::string& path, unsigned channels, unsigned sampleRate,
                     void (*waiting)(const std::string& path)) {
    close();
    if (channels == 0 || channels > 65535 / 4)
        return false;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) {
        // Without a reader a FIFO refuses a non-blocking writer: say so
        // before the open that waits for one.
        fd_ = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0) {
            ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
        } else if (errno == ENXIO) {
            if (waiting)
                waiting(path);
            fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        }
    } else {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    }
    return _start(channels, sampleRate);
}

bool WavWriter::openDescriptor(int fd, unsigned channels, unsigned sampleRate, bool continues) {
    close();
    if (channels == 0 || channels > 65535 / 4)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    // A file of its own position: the header is rewritten at its start,
    // whatever position the shared description has.
    if (S_ISREG(st.st_mode))
        fd_ = ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(),
                     O_WRONLY | O_CLOEXEC | (continues ? 0 : O_TRUNC));
    else
        fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    return continues ? _continue(channels, sampleRate) : _start(channels, sampleRate);
}

bool WavWriter::_continue(unsigned channels, unsigned sampleRate) {
    if (fd_ < 0)
        return false;
    struct stat st;
    const bool file = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
    // A file the stream's header never reached is started afresh.
    if (file && uint64_t(st.st_size) < kHeaderBytes) {
        if (::ftruncate(fd_, 0) == 0)
            return _start(channels, sampleRate);
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    const uint64_t frameBytes = 4ull * channels;
    const uint64_t whole = file ? (uint64_t(st.st_size) - kHeaderBytes) / frameBytes * frameBytes : 0;
    _begin(channels, sampleRate, whole, !file);
    if (!file)
        return true;
    if (::ftruncate(fd_, off_t(kHeaderBytes + whole)) == 0 && ::lseek(fd_, 0, SEEK_END) >= 0 && updateHeader())
        return true;
    close();
    return false;
}

void WavWriter::_begin(unsigned channels, unsigned sampleRate, uint64_t dataBytes, bool stream) {
    channels_ = channels;
    sampleRate_ = sampleRate;
    dataBytes_ = dataBytes;
    failed_ = false;
    stream_ = stream;
}

bool WavWriter::_start(unsigned channels, unsigned sampleRate) {
    if (fd_ < 0)
        return false;
    _begin(channels, sampleRate, 0, ::lseek(fd_, 0, SEEK_CUR) < 0);
    const auto h = stream_ ? streamHeader(channels_, sampleRate_) : header(channels_, sampleRate_, 0);
    if (!writeAll(fd_, h.data(), h.size())) {
        close();
        return false;
    }
    return true;
}

bool WavWriter::write(const float* samples, size_t count) {
    // After a refused write the file may end inside a frame: nothing more is
    // appended, so the header never counts bytes that are not samples.
    if (fd_ < 0 || failed_)
        return false;
    return writeWhile(samples, count, {}) == count && !failed_;
}

size_t WavWriter::writeWhile(const float* samples, size_t count, const std::function<bool()>& goOn) {
    if (fd_ < 0 || failed_)
        return 0;
    const bool waitForRoom = stream_ && goOn;
    const size_t piece = stream_ ? std::max<size_t>(1, PIPE_BUF / (4 * channels_)) * channels_ : count;
    size_t done = 0;
    for (; done < count; done += piece) {
        if (waitForRoom) {
            if (!goOn())
                return done;
            pollfd room{fd_, POLLOUT, 0};
            // An error or a reader gone shows as an event too: the write
            // then says which.
            for (;;) {
                const int ready = ::poll(&room, 1, kRoomWaitMs);
                if (ready > 0 || (ready < 0 && errno != EINTR))
                    break;
                if (!goOn())
                    return done;
            }
        }
        const size_t n = std::min(piece, count - done);
        if (!writeAll(fd_, samples + done, n * sizeof(float))) {
            failed_ = true;
            return done;
        }
        dataBytes_ += n * sizeof(float);
    }
    return count;
}

bool WavWriter::updateHeader() {
    if (fd_ < 0 || channels_ == 0)  // no format yet: nothing to count
        return false;
    if (stream_)
        return true;
    // Whole frames only: a write may stop between two halves of one.
    const uint64_t frameBytes = 4ull * channels_;
    const auto h = header(channels_, sampleRate_, dataBytes_ / frameBytes * frameBytes);
    return ::pwrite(fd_, h.data(), h.size(), 0) == ssize_t(h.size());
}

void WavWriter::close() {
    if (fd_ < 0)
        return;
    updateHeader();
    ::close(fd_);
    fd_ = -1;
}

}  // namespace host
