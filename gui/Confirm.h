// Modal yes/no question. The caller opens it and polls result() later: 2
// accepted, 3 cancelled, each returned once (then 0 again).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

class MonoGFX;

enum PopupState : uint32_t { kPopupIdle = 0, kPopupOpen = 1, kPopupAccepted = 2, kPopupCancelled = 3 };

class Confirm {
public:
    bool open(const std::string& question, const std::string& yesLabel, const std::string& noLabel);
    void key(int key, int event);
    uint32_t result();
    void draw(MonoGFX& window);
    // Non-zero while open or while an answer waits to be read.
    uint32_t state() const { return state_.load(std::memory_order_acquire); }

    static constexpr int kCancelKey = 2;
    static constexpr int kAcceptKey = 3;

private:
    // Keys arrive on the audio thread, draw and the callers run elsewhere:
    // the texts are written before the state word publishes them.
    std::atomic<uint32_t> state_{kPopupIdle};
    uint32_t width_ = 0;
    std::string question_;
    std::string yesLabel_;
    std::string noLabel_;
};

// Reads a 2 or 3 once, turning it back into 0.
uint32_t takePopupResult(std::atomic<uint32_t>& state);

namespace Driver {
extern Confirm confirm;
}
