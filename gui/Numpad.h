// The number and text pad: what the parameter editors use of it (open with
// a mode, title, text and length limit; the parameter it edits).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

class Parameter;

class Numpad {
public:
    // Modes: 0 closed, 1 number entry, 2 and 3 text entry, 4 text entry with
    // its own character table.
    static constexpr unsigned kClosed = 0;
    static constexpr unsigned kNumber = 1;

    // False, and nothing changes, while the pad is open (unless mode is 0).
    bool open(unsigned mode, const std::string& title, const std::string& text, unsigned maxLength);
    void close() { mode = kClosed; }
    bool isOpen() const { return mode != kClosed; }

    std::atomic<unsigned> mode{kClosed};  // non-zero while open
    std::string title;
    std::string text;
    unsigned maxLength = 0;
    // The parameter that receives the accepted entry through setFromString.
    Parameter* target = nullptr;
    // Set when the pad closed by accept without a target, or by cancel; the
    // caller reads and clears them.
    std::atomic<uint8_t> accepted{0};
    std::atomic<uint8_t> cancelled{0};
    bool takeCancelled() { return cancelled.exchange(0) != 0; }
};

namespace Driver {
extern Numpad numpad;
}
