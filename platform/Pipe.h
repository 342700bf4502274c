// A named two-way pipe between the real-time side (the audio thread) and the
// non-real-time side (every other thread). What one side writes the other side
// reads. Each write is one record: a read returns whole records only, never
// part of one. The real-time side never blocks, allocates or locks.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class Pipe {
public:
    Pipe() = default;
    Pipe(const std::string& name, size_t size, bool blockingRt = false, bool blockingNonRt = false);
    ~Pipe();
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    // size: bytes each direction holds. The real-time side never blocks,
    // whatever blockingRt says. setup and cleanup replace the buffers: call
    // them only while neither side is in use (before audio starts, after it
    // has stopped).
    bool setup(const std::string& name, size_t size, bool blockingRt = false, bool blockingNonRt = false);
    void cleanup();
    bool isOk() const { return ring_[0] != nullptr; }
    const std::string& name() const { return name_; }

    // Timeout of a blocking non-real-time read, in milliseconds (<0: forever).
    void setBlockingNonRt(bool blocking) { blockingNonRt_ = blocking; }
    void setTimeoutMsNonRt(double ms) { timeoutMsNonRt_ = ms; }

    // Writes return the bytes written, or -1 when the record does not fit
    // (nothing is written then). Reads return the bytes of the whole records
    // that fit into the buffer (oldest first), 0 when there is none, or -1
    // when the next record is larger than the buffer.
    ssize_t writeRt(const void* data, size_t size);
    ssize_t readRt(void* data, size_t maxSize);
    ssize_t writeNonRt(const void* data, size_t size);
    ssize_t readNonRt(void* data, size_t maxSize);

    template <typename T> bool writeRt(const T& record) { return writeRt(&record, sizeof(T)) == ssize_t(sizeof(T)); }
    template <typename T> bool readRt(T& record) { return readRt(&record, sizeof(T)) == ssize_t(sizeof(T)); }
    template <typename T> bool writeNonRt(const T& record) { return writeNonRt(&record, sizeof(T)) == ssize_t(sizeof(T)); }
    template <typename T> bool readNonRt(T& record) { return readNonRt(&record, sizeof(T)) == ssize_t(sizeof(T)); }

private:
    // One direction: a single-producer single-consumer ring of length-prefixed
    // records. The non-real-time end of each ring is shared by many threads
    // and serialised by a mutex that the real-time side never touches.
    struct Ring {
        std::unique_ptr<uint8_t[]> data;
        size_t capacity = 0;
        alignas(64) std::atomic<uint64_t> head{0};  // written by the producer
        alignas(64) std::atomic<uint64_t> tail{0};  // written by the consumer
        ssize_t write(const void* src, size_t size);
        ssize_t read(void* dst, size_t maxSize);
        void copyIn(uint64_t at, const void* src, size_t size);
        void copyOut(uint64_t at, void* dst, size_t size) const;
    };
    std::unique_ptr<Ring> ring_[2];  // [0] rt -> non-rt, [1] non-rt -> rt
    std::mutex nonRtWrite_, nonRtRead_;
    std::string name_;
    bool blockingNonRt_ = false;
    double timeoutMsNonRt_ = -1.0;
};
