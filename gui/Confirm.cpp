#include "gui/Confirm.h"

#include "gui/MonoGFX.h"

#include <algorithm>

uint32_t takePopupResult(std::atomic<uint32_t>& state) {
    uint32_t s = state.load(std::memory_order_acquire);
    while (s == kPopupAccepted || s == kPopupCancelled) {
        if (state.compare_exchange_weak(s, kPopupIdle, std::memory_order_acq_rel, std::memory_order_acquire))
            return s;
    }
    return s;
}

bool Confirm::open(const std::string& question, const std::string& yesLabel, const std::string& noLabel) {
    if (state_.load(std::memory_order_acquire) != kPopupIdle)
        return false;
    question_ = question;
    yesLabel_ = yesLabel;
    noLabel_ = noLabel;
    width_ = 0;
    state_.store(kPopupOpen, std::memory_order_release);
    return true;
}

void Confirm::key(int key, int event) {
    if (event == 3)
        return;  // a held key must not answer the question
    uint32_t open = kPopupOpen;
    if (key == kCancelKey)
        state_.compare_exchange_strong(open, kPopupCancelled, std::memory_order_acq_rel);
    else if (key == kAcceptKey)
        state_.compare_exchange_strong(open, kPopupAccepted, std::memory_order_acq_rel);
}

uint32_t Confirm::result() { return takePopupResult(state_); }

void Confirm::draw(MonoGFX& window) {
    if (state_.load(std::memory_order_acquire) != kPopupOpen)
        return;
    window.setFont(&font_compact, 1, 0);
    window.setTextMode(0);
    if (width_ == 0) {
        const int answers = window.textWidth(yesLabel_) + window.textWidth(noLabel_) + 36;
        const int question = std::min(window.textWidth(question_) + 4, 255);
        // Long labels get the whole screen rather than a box off its edge.
        width_ = uint32_t(std::min(std::max(answers, question), 255));
    }
    const int w = int(width_);
    window.dim();
    const int x0 = (255 - w) / 2;
    window.setColour(0);
    window.fillRect(x0, 20, x0 + w, 46);
    window.setColour(15);
    window.drawRect(x0, 20, x0 + w, 46);
    window.drawText(x0 + 3, 23, question_);
    window.setColourPulse(8, 15);
    window.drawIcon(x0 + 6, 33, 1);
    const int yes = window.drawText(x0 + 16, 33, yesLabel_);
    window.drawIcon(x0 + 22 + yes, 33, 2);
    window.drawText(x0 + 32 + yes, 33, noLabel_);
}
