// A text that one thread replaces while another reads it (a name, a file
// path), kept in a fixed buffer guarded by a sequence counter: writers never
// allocate (the audio thread may write), readers retry while a write is in
// progress. A text longer than kCapacity bytes is refused whole, never cut,
// so a path is never silently shortened into another one.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

class SharedText {
public:
    static constexpr size_t kCapacity = 1023;

    SharedText() = default;
    explicit SharedText(std::string_view text) { set(text); }
    SharedText(const SharedText& other) { set(other.get()); }
    SharedText& operator=(const SharedText& other) {
        if (this != &other)
            set(other.get());
        return *this;
    }

    static bool fits(std::string_view text) { return text.size() <= kCapacity; }

    // False, and the text unchanged, for a text that does not fit.
    bool set(std::string_view text) { return _write(text, true); }

    // The writer that must not wait (the audio thread): false, and nothing
    // written, while another writer is busy or when the text does not fit.
    bool trySet(std::string_view text) { return _write(text, false); }

    std::string get() const {
        char bytes[kWords * 8];
        size_t length = 0;
        for (;;) {
            uint64_t before = sequence_.load(std::memory_order_acquire);
            if (before & 1u) {
                std::this_thread::yield();
                continue;
            }
            // Only the words the text uses; a length torn by a writer is
            // caught by the count below and never reads past the buffer.
            length = length_.load(std::memory_order_relaxed);
            if (length > kCapacity)
                length = kCapacity;
            for (size_t w = 0; w < (length + 7) / 8; ++w) {
                uint64_t word = words_[w].load(std::memory_order_relaxed);
                std::memcpy(bytes + 8 * w, &word, 8);
            }
            std::atomic_thread_fence(std::memory_order_acquire);
            if (sequence_.load(std::memory_order_relaxed) == before)
                break;
        }
        return std::string(bytes, length);
    }

    bool operator==(std::string_view text) const { return get() == text; }

private:
    bool _write(std::string_view text, bool wait) {
        if (!fits(text))
            return false;
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
        const size_t length = text.size();
        for (size_t w = 0; w < (length + 7) / 8; ++w) {
            char bytes[8] = {};
            std::memcpy(bytes, text.data() + 8 * w, length - 8 * w < 8 ? length - 8 * w : 8);
            uint64_t word;
            std::memcpy(&word, bytes, 8);
            words_[w].store(word, std::memory_order_relaxed);
        }
        length_.store(uint32_t(length), std::memory_order_relaxed);
        sequence_.store(s + 2, std::memory_order_release);
        return true;
    }

    static constexpr size_t kWords = (kCapacity + 7) / 8;
    std::atomic<uint64_t> sequence_{0};
    std::atomic<uint32_t> length_{0};
    std::atomic<uint64_t> words_[kWords] = {};
};
