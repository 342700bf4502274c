#include "gui/ListSelect.h"

#include "gui/GuiNotify.h"
#include "gui/MonoGFX.h"

#include <algorithm>
#include <cstdio>

namespace {
constexpr const char* kCursorName = "choice";
constexpr const char* kRefused = "Couldn't set value to ";
}  // namespace

ListSelect::ListSelect() : cursor(kCursorName, ParameterInt::PlainInt, ParameterFlags(0), 0, 0, 0) {}

void ListSelect::_start(int32_t minimum, int32_t maximum) {
    target.store(nullptr, std::memory_order_release);
    // Widen first so the new bounds never cross the old ones.
    cursor.setMin(ParameterInt::kNoMinimum + 1);
    cursor.setMax(maximum);
    cursor.setMin(minimum);
    auto it = remember_ ? memory_.find(title_) : memory_.end();
    cursor.setValue(it != memory_.end() ? it->second : 0, false);
    // Everything above is in place before the pop-up shows as open.
    state_.store(kPopupOpen, std::memory_order_release);
}

bool ListSelect::open(const std::string& title, const std::vector<std::string>& items, bool remember) {
    if (state_.load(std::memory_order_acquire) != kPopupIdle || items.empty())
        return false;
    title_ = title;
    items_ = items;
    remember_ = remember;
    rangeMin_ = 0;
    rangeMax_ = int32_t(items.size()) - 1;
    _start(0, rangeMax_);
    return true;
}

bool ListSelect::openRange(const std::string& title, int32_t minimum, int32_t maximum, bool remember) {
    if (state_.load(std::memory_order_acquire) != kPopupIdle || maximum <= minimum)
        return false;
    title_ = title;
    items_.clear();
    remember_ = remember;
    rangeMin_ = minimum;
    rangeMax_ = maximum;
    _start(minimum, maximum);
    return true;
}

void ListSelect::key(int key, int event) {
    if (state_.load(std::memory_order_acquire) != kPopupOpen)
        return;
    uint32_t open = kPopupOpen;
    if (key == kCancelKey) {
        state_.compare_exchange_strong(open, kPopupCancelled, std::memory_order_acq_rel);
    } else if (key == kAcceptKey) {
        // The choice is stored before anyone can see "accepted".
        chosen_.store(cursor.value.load(std::memory_order_acquire), std::memory_order_release);
        state_.compare_exchange_strong(open, kPopupAccepted, std::memory_order_acq_rel);
    }
}

void ListSelect::encoder(int index, int delta, bool pushed) {
    if (index != kEncoder || state_.load(std::memory_order_acquire) != kPopupOpen)
        return;
    cursor.changeBy(delta, pushed, false);
}

uint32_t ListSelect::_take() {
    uint32_t s = state_.load(std::memory_order_acquire);
    if (s == kPopupCancelled) {
        return state_.compare_exchange_strong(s, kPopupIdle, std::memory_order_acq_rel) ? kPopupCancelled
                                                                                       : state();
    }
    if (s != kPopupAccepted || !state_.compare_exchange_strong(s, kTaking, std::memory_order_acq_rel))
        return s == kTaking ? kPopupOpen : s;
    // The memory is written here, by the reader of the answer, rather than
    // by the key handler on the audio thread.
    if (remember_)
        memory_[title_] = chosen_.load(std::memory_order_acquire);
    state_.store(kPopupIdle, std::memory_order_release);
    return kPopupAccepted;
}

uint32_t ListSelect::result() { return _take(); }

int32_t ListSelect::remembered(const std::string& title, int32_t fallback) const {
    auto it = memory_.find(title);
    return it == memory_.end() ? fallback : it->second;
}

void ListSelect::_applyToTarget(Parameter* parameter) {
    const int32_t c = chosen();
    std::string text;
    if (items_.empty()) {
        text = std::to_string(c);
    } else if (c >= 0 && size_t(c) < items_.size()) {
        text = items_[size_t(c)];
    } else {
        return;
    }
    if (!parameter->setFromString(text, -1))
        Driver::guiNotify.warning(kRefused + text);
}

void ListSelect::draw(MonoGFX& window) {
    const uint32_t s = state();
    if (s == kPopupIdle)
        return;
    // A list opened for a parameter answers it here, so its result never
    // stays unread and blocks the next list.
    if (Parameter* parameter = target.load(std::memory_order_acquire)) {
        if (s == kPopupAccepted || s == kPopupCancelled) {
            if (_take() == kPopupAccepted)
                _applyToTarget(parameter);
            return;
        }
    }

    window.setFont(&font_compact, 1, 0);
    window.setTextMode(0);
    const int w = std::max(window.textWidth(title_) + 4, 128);
    window.dim();
    window.setColour(0);
    window.fillRect(4, 4, w + 4, 60);
    window.setColour(15);
    window.drawRect(4, 4, w + 4, 60);
    window.drawText(7, 7, title_);
    window.setColour(4);
    window.setDotted(true);
    window.drawLine(7, 16, w + 1, 16);
    window.setDotted(false);

    const bool range = items_.empty();
    const int32_t value = cursor.value.load(std::memory_order_acquire);
    const int64_t position = range ? int64_t(value) - rangeMin_ : value;
    const int64_t total = range ? int64_t(rangeMax_) - rangeMin_ : int64_t(items_.size());
    const int first = window.drawScrollBar(w + 2, 18, 38, int(std::clamp<int64_t>(position, INT32_MIN, INT32_MAX)),
                                           int(std::min<int64_t>(total, INT32_MAX)), kRows);
    for (int i = 0; i < kRows; ++i) {
        const int row = 19 + 10 * i;
        const int64_t entry = int64_t(first) + i;
        std::string text;
        int64_t entryValue;
        if (range) {
            entryValue = int64_t(rangeMin_) + entry;
            if (entryValue > rangeMax_)
                continue;
            text = std::to_string(entryValue);
        } else {
            if (entry >= int64_t(items_.size()))
                continue;
            entryValue = entry;
            text = items_[size_t(entry)];
        }
        if (entryValue == value) {
            window.setColour(2);
            window.fillRect(6, row - 1, w + 1, row + 8);
            window.setColourBlink(10, 15);
        } else {
            window.setColour(8);
        }
        window.drawText(7, row, text);
    }
}
