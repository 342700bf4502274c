// Pages, menus and lists are opened by the interface task only: opening one
// lists folders, builds texts and may refuse, none of which the audio thread
// may do. The block loop posts a fixed-size request instead, which the
// interface task carries out on its next run, so GUI::currentEditor has a
// single writer.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

enum class EditorRequest : uint32_t {
    None = 0,
    NoteManager,         // key 9 with key 1
    FileBrowser,         // key 20
    AudioPool,           // key 21
    VoiceManager,        // key 22 with key 0
    EffectPage,          // key 22 alone: toggle the current track's effect-chain page;
                         // argument kEffectPageOpenOnly (key 48 held): show it, never hide it
    MainMenu,            // key 23 with key 1, no page open
    InstrumentSettings,  // key 23
    ParameterMenu,       // encoder push with key 1: argument = encoder
    VoicePageClose,      // encoder 0..15 pushed on the output page
    EditorButton,        // a key for the open page: argument = key | event << 8
};

constexpr uint32_t kEffectPageOpenOnly = 1;

// A ring of request words between one producer and one consumer thread.
class EditorRequestQueue {
public:
    static constexpr uint32_t kSize = 16;
    // Producer. False, and counted, when the ring is full.
    bool push(uint64_t word) {
        const uint32_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) >= kSize) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        slots_[tail % kSize].store(word, std::memory_order_relaxed);
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }
    // Consumer. False when nothing waits.
    bool pop(uint64_t& word) {
        const uint32_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire))
            return false;
        word = slots_[head % kSize].load(std::memory_order_relaxed);
        head_.store(head + 1, std::memory_order_release);
        return true;
    }
    uint32_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    std::array<std::atomic<uint64_t>, kSize> slots_{};
    std::atomic<uint32_t> head_{0}, tail_{0};
    std::atomic<uint32_t> dropped_{0};
};

// Audio thread (or any single producer): real-time safe; a full queue drops
// the request (the player presses again).
bool postEditorRequest(EditorRequest request, uint32_t argument = 0);
// Interface task: carries out the waiting requests in order.
void serviceEditorRequests();
// Requests dropped because the queue was full.
uint32_t editorRequestsDropped();
