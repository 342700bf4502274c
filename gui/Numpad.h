// The modal entry pad for numbers (typed as expressions), text, names and
// IPv4 addresses, played on the twelve character keys like a telephone
// keypad with multi-tap letters. Keys, encoder 12 and block ticks arrive on
// the audio thread and only post fixed-size records; the interface task
// applies them in order, validates, evaluates, draws and accepts, so the text
// and the flags have one writer.
#pragma once

#include "parameters/ParameterInt.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

class MonoGFX;
class Parameter;

class Numpad {
public:
    // Modes: 0 closed, 1 number (an expression), 2 text, 3 name, 4 IPv4.
    static constexpr unsigned kClosed = 0;
    static constexpr unsigned kNumber = 1;
    static constexpr unsigned kText = 2;
    static constexpr unsigned kName = 3;
    static constexpr unsigned kAddress = 4;

    static constexpr int kShiftKey = 0;
    static constexpr int kDeleteKey = 2;
    static constexpr int kAcceptKey = 3;
    static constexpr int kCursorEncoder = 12;
    // Blocks within which a press of the same key cycles its letters.
    static constexpr uint32_t kMultiTapTicks = 500;
    static constexpr size_t kQueueSize = 64;

    using Layout = std::array<const char*, 12>;
    static constexpr Layout kFunctionLayout = {"sin(", "cos(", "tan(", "pow(", "sqrt(", "",
                                               "log2(", "log10(", "", "", ", ", ")"};
    static constexpr Layout kNumberLayout = {"7", "8", "9", "4", "5", "6", "1", "2", "3", "-+()", "0", "./*"};
    static constexpr Layout kAddressLayout = {"7", "8", "9", "4", "5", "6", "1", "2", "3", "", "0", "."};
    static constexpr Layout kLowerLayout = {"_7",    "abc8", "def9", "ghi4", "jkl5", "mno6",
                                            "pqrs1", "tuv2", "wxyz3", "-",   "0",    ". /"};
    static constexpr Layout kUpperLayout = {"_7",    "ABC8", "DEF9", "GHI4", "JKL5", "MNO6",
                                            "PQRS1", "TUV2", "WXYZ3", "-",   "0",    ". /"};

    Numpad();
    Numpad(const Numpad&) = delete;
    Numpad& operator=(const Numpad&) = delete;

    // Interface task. False, and nothing changes, while open (unless mode is
    // 0, which closes without an answer).
    bool open(unsigned mode, const std::string& title, const std::string& text, unsigned maxLength);
    void close() { open(kClosed, title, text, maxLength); }
    bool isOpen() const { return mode.load(std::memory_order_acquire) != kClosed; }
    bool takeCancelled() { return cancelled.exchange(false, std::memory_order_acq_rel); }
    bool takeAccepted() { return accepted.exchange(false, std::memory_order_acq_rel); }

    // Audio thread: each posts one record (or counts a block), nothing else.
    void tick();
    void encoder(int index, int delta, bool pushed);
    void key(int index, int event);

    // Interface task: applies the posted input (accept included).
    void service();
    // Interface task: the text as an expression; sets valid and the results.
    void evaluate();
    // Interface task: service, re-validate when dirty, draw while open.
    void draw(MonoGFX& window);

    // Layout index of a character key, -1 for the others.
    static int layoutIndex(int key);
    uint32_t ticksSinceKey() const { return blocks_.load(std::memory_order_relaxed) - lastKeyBlock_; }
    uint32_t droppedInput() const { return dropped_.load(std::memory_order_relaxed); }

    std::atomic<unsigned> mode{kClosed};
    ParameterInt cursor;
    std::string title;
    unsigned maxLength = 0;
    std::string text;
    float floatResult = 0.0f;
    int32_t integerResult = 0;
    // Receives the text on accept; cleared by open, set by the editors after it.
    Parameter* target = nullptr;
    int32_t lastKey = -1;
    uint32_t tapIndex = 0;
    Layout activeLayout = kNumberLayout;
    bool dirty = false;
    bool valid = true;
    std::atomic<bool> accepted{false};
    std::atomic<bool> cancelled{false};

private:
    enum InputKind : uint8_t { InputKey, InputEncoder };
    struct Input {
        uint8_t kind;
        uint8_t upper;  // key 0 held when the key came
        int16_t index;
        int32_t value;  // key event or encoder delta
        uint32_t block;
        uint8_t pushed;
    };

    void _post(const Input& input);
    void _apply(const Input& input);
    void _character(const Input& input, int g);
    void _delete(int event);
    void _accept();
    void _textChanged();
    void _validate();
    const Layout& _layoutFor(bool upper) const;

    // Single producer (the audio thread's input routing), single consumer.
    std::array<Input, kQueueSize> queue_{};
    std::atomic<uint32_t> head_{0};
    std::atomic<uint32_t> tail_{0};
    std::atomic<uint32_t> dropped_{0};
    std::atomic<uint32_t> blocks_{0};
    std::atomic<bool> upper_{false};
    uint32_t lastKeyBlock_ = 0;
};

namespace Driver {
extern Numpad numpad;
}
