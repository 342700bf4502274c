// Modal list pop-up: one entry of a list, or one integer of a range, chosen
// with encoder 12 and key 3 (key 2 cancels). The caller polls result() (2
// chosen, 3 cancelled, each returned once) and then reads chosen; or it sets
// target, and the pop-up hands the chosen text to that parameter itself.
#pragma once

#include "gui/Confirm.h"
#include "parameters/ParameterInt.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class MonoGFX;
class Parameter;

class ListSelect {
public:
    ListSelect();

    bool open(const std::string& title, const std::vector<std::string>& items, bool remember);
    bool openRange(const std::string& title, int32_t minimum, int32_t maximum, bool remember);
    void key(int key, int event);
    void encoder(int index, int delta, bool pushed);
    uint32_t result();
    // Also applies a chosen entry to the target (display task).
    void draw(MonoGFX& window);

    uint32_t state() const { return state_.load(std::memory_order_acquire); }
    // The value accepted last: an item index or an integer of the range.
    int32_t chosen() const { return chosen_.load(std::memory_order_acquire); }
    const std::vector<std::string>& items() const { return items_; }
    const std::string& title() const { return title_; }
    // Last accepted value per title, or fallback.
    int32_t remembered(const std::string& title, int32_t fallback) const;

    static constexpr int kCancelKey = 2;
    static constexpr int kAcceptKey = 3;
    static constexpr int kEncoder = 12;
    static constexpr int kRows = 4;

    ParameterInt cursor;
    // Cleared by every open; set by the caller right after open.
    std::atomic<Parameter*> target{nullptr};

private:
    // Another word besides 0..3: a result being taken (the memory is
    // written meanwhile, so no open can read it at the same time).
    static constexpr uint32_t kTaking = 4;

    uint32_t _take();
    void _start(int32_t minimum, int32_t maximum);
    void _applyToTarget(Parameter* parameter);

    std::atomic<uint32_t> state_{kPopupIdle};
    std::string title_;
    std::vector<std::string> items_;
    int32_t rangeMin_ = 0;
    int32_t rangeMax_ = 0;
    bool remember_ = false;
    std::map<std::string, int32_t> memory_;
    std::atomic<int32_t> chosen_{0};
};

namespace Driver {
extern ListSelect listSelection;
}
