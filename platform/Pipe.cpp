#include "platform/Pipe.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace {
constexpr size_t kHeader = sizeof(uint32_t);
}

void Pipe::Ring::copyIn(uint64_t at, const void* src, size_t size) {
    size_t offset = at % capacity;
    size_t first = std::min(size, capacity - offset);
    std::memcpy(data.get() + offset, src, first);
    std::memcpy(data.get(), static_cast<const uint8_t*>(src) + first, size - first);
}

void Pipe::Ring::copyOut(uint64_t at, void* dst, size_t size) const {
    size_t offset = at % capacity;
    size_t first = std::min(size, capacity - offset);
    std::memcpy(dst, data.get() + offset, first);
    std::memcpy(static_cast<uint8_t*>(dst) + first, data.get(), size - first);
}

ssize_t Pipe::Ring::write(const void* src, size_t size) {
    if (size == 0 || size > UINT32_MAX)
        return -1;
    uint64_t h = head.load(std::memory_order_relaxed);
    uint64_t t = tail.load(std::memory_order_acquire);
    if (capacity - (h - t) < size + kHeader)
        return -1;
    uint32_t length = uint32_t(size);
    copyIn(h, &length, kHeader);
    copyIn(h + kHeader, src, size);
    head.store(h + kHeader + size, std::memory_order_release);
    return ssize_t(size);
}

ssize_t Pipe::Ring::read(void* dst, size_t maxSize) {
    uint64_t t = tail.load(std::memory_order_relaxed);
    uint64_t h = head.load(std::memory_order_acquire);
    size_t done = 0;
    while (h - t >= kHeader) {
        uint32_t length = 0;
        copyOut(t, &length, kHeader);
        if (done + length > maxSize) {
            if (done == 0)
                return -1;
            break;
        }
        copyOut(t + kHeader, static_cast<uint8_t*>(dst) + done, length);
        done += length;
        t += kHeader + length;
    }
    tail.store(t, std::memory_order_release);
    return ssize_t(done);
}

Pipe::Pipe(const std::string& name, size_t size, bool blockingRt, bool blockingNonRt) {
    setup(name, size, blockingRt, blockingNonRt);
}

Pipe::~Pipe() { cleanup(); }

bool Pipe::setup(const std::string& name, size_t size, bool /*blockingRt*/, bool blockingNonRt) {
    cleanup();
    if (size < kHeader + 1)
        return false;
    for (auto& ring : ring_) {
        ring = std::make_unique<Ring>();
        ring->data.reset(new uint8_t[size]);
        ring->capacity = size;
    }
    name_ = name;
    blockingNonRt_ = blockingNonRt;
    return true;
}

void Pipe::cleanup() {
    ring_[0].reset();
    ring_[1].reset();
}

ssize_t Pipe::writeRt(const void* data, size_t size) { return ring_[0] ? ring_[0]->write(data, size) : -1; }

ssize_t Pipe::readRt(void* data, size_t maxSize) { return ring_[1] ? ring_[1]->read(data, maxSize) : -1; }

ssize_t Pipe::writeNonRt(const void* data, size_t size) {
    if (!ring_[1])
        return -1;
    std::lock_guard<std::mutex> lock(nonRtWrite_);
    return ring_[1]->write(data, size);
}

ssize_t Pipe::readNonRt(void* data, size_t maxSize) {
    if (!ring_[0])
        return -1;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::microseconds(int64_t(timeoutMsNonRt_ * 1000.0));
    for (;;) {
        ssize_t got;
        {
            std::lock_guard<std::mutex> lock(nonRtRead_);
            got = ring_[0]->read(data, maxSize);
        }
        if (got != 0 || !blockingNonRt_)
            return got;
        if (timeoutMsNonRt_ >= 0.0 && Clock::now() >= deadline)
            return 0;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}
