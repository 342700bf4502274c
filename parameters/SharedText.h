// A short text that one thread replaces while another reads it, kept in a
// fixed buffer guarded by a sequence counter: writers never allocate (the
// audio thread may write), readers retry while a write is in progress.
// Texts longer than kCapacity bytes are cut.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

class SharedText {
public:
    static constexpr size_t kCapacity = 127;

    SharedText() = default;
    explicit SharedText(std::string_view text) { set(text); }
    SharedText(const SharedText& other) { set(other.get()); }
    SharedText& operator=(const SharedText& other) {
        if (this != &other)
            set(other.get());
        return *this;
    }

    void set(std::string_view text) { _write(text, true); }

    // The writer that must not wait (the audio thread): false, and nothing
    // written, while another writer is busy.
    bool trySet(std::string_view text) { return _write(text, false); }

    std::string get() const {
        uint8_t bytes[kWords * 8];
        for (;;) {
            uint64_t before = sequence_.load(std::memory_order_acquire);
            if (before & 1u) {
                std::this_thread::yield();
                continue;
            }
            for (size_t w = 0; w < kWords; ++w) {
                uint64_t word = words_[w].load(std::memory_order_relaxed);
                std::memcpy(bytes + 8 * w, &word, 8);
            }
            std::atomic_thread_fence(std::memory_order_acquire);
            if (sequence_.load(std::memory_order_relaxed) == before)
                break;
        }
        return std::string(reinterpret_cast<const char*>(bytes + 1), bytes[0]);
    }

    bool operator==(std::string_view text) const { return get() == text; }

private:
    bool _write(std::string_view text, bool wait) {
        size_t length = text.size() < kCapacity ? text.size() : kCapacity;
        // never cut a UTF-8 sequence in half: the JSON writer refuses those
        if (length < text.size())
            while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
                --length;
        uint64_t s = sequence_.load(std::memory_order_relaxed);
        for (;;) {  // odd: another writer is busy
            if ((s & 1u) == 0 &&
                sequence_.compare_exchange_weak(s, s + 1, std::memory_order_acquire, std::memory_order_relaxed))
                break;
            if (!wait && (s & 1u) != 0)
                return false;
            if (wait)
                std::this_thread::yield();
            s = sequence_.load(std::memory_order_relaxed);
        }
        // a reader that sees any of the new words also sees the odd count
        std::atomic_thread_fence(std::memory_order_release);
        uint8_t bytes[kWords * 8] = {};
        bytes[0] = static_cast<uint8_t>(length);
        std::memcpy(bytes + 1, text.data(), length);
        for (size_t w = 0; w < kWords; ++w) {
            uint64_t word;
            std::memcpy(&word, bytes + 8 * w, 8);
            words_[w].store(word, std::memory_order_relaxed);
        }
        sequence_.store(s + 2, std::memory_order_release);
        return true;
    }

    static constexpr size_t kWords = (kCapacity + 1) / 8;
    std::atomic<uint64_t> sequence_{0};
    std::atomic<uint64_t> words_[kWords] = {};
};
