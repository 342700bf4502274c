#include "gui/Numpad.h"

#include "drivers/KeyDebouncer.h"
#include "gui/GuiNotify.h"
#include "gui/MonoGFX.h"
#include "parameters/Parameter.h"
#include "script/Compiler.h"
#include "script/Cpu.h"
#include "script/Program.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

constexpr const char* kCursorName = "cursor";
constexpr const char* kRefusedPrefix = "Couldn't set value to ";
// Key -> layout index, for keys 0..18 (-1: no character key).
constexpr int kLayoutOfKey[19] = {-1, -1, -1, -1, -1, 0, 3, 6, 9, -1, 1, 4, 7, 10, -1, 2, 5, 8, 11};

// "1.500000" -> "1.5", "2.000000" -> "2"; text without a point stays.
std::string trimmedNumber(std::string text) {
    if (text.find('.') == std::string::npos)
        return text;
    while (!text.empty() && text.back() == '0')
        text.pop_back();
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}

}  // namespace

Numpad::Numpad() : cursor(kCursorName, ParameterInt::PlainInt, ParameterFlags(0), 0, 0, 0) {
    text.reserve(32);
}

int Numpad::layoutIndex(int key) { return key >= 0 && key < 19 ? kLayoutOfKey[key] : -1; }

bool Numpad::open(unsigned newMode, const std::string& newTitle, const std::string& newText, unsigned newMaxLength) {
    if (isOpen() && newMode != kClosed)
        return false;
    // Input posted for an earlier session is dropped, not applied to this one.
    head_.store(tail_.load(std::memory_order_acquire), std::memory_order_release);
    title = newTitle;
    maxLength = newMaxLength;
    // An answer left from an earlier session must not end this one.
    accepted.store(false, std::memory_order_release);
    cancelled.store(false, std::memory_order_release);
    valid = false;
    target = nullptr;
    floatResult = 0.0f;
    integerResult = 0;
    text = newMode == kNumber ? trimmedNumber(newText) : newText;
    cursor.setMax(int32_t(text.size()));
    cursor.setValue(int32_t(text.size()), false);
    dirty = true;
    lastKey = -1;
    tapIndex = 0;
    mode.store(newMode, std::memory_order_release);
    return true;
}

void Numpad::tick() {
    blocks_.fetch_add(1, std::memory_order_relaxed);
    upper_.store(Key::key[kShiftKey].held(), std::memory_order_relaxed);
}

void Numpad::encoder(int index, int delta, bool pushed) {
    if (index != kCursorEncoder || !isOpen())
        return;
    _post(Input{InputEncoder, 0, int16_t(index), delta, blocks_.load(std::memory_order_relaxed), uint8_t(pushed)});
}

void Numpad::key(int index, int event) {
    if (index < 0 || index > 18 || !isOpen())
        return;
    const bool upper = Key::key[kShiftKey].held();
    _post(Input{InputKey, uint8_t(upper), int16_t(index), event, blocks_.load(std::memory_order_relaxed), 0});
}

void Numpad::_post(const Input& input) {
    const uint32_t t = tail_.load(std::memory_order_relaxed);
    if (t - head_.load(std::memory_order_acquire) >= kQueueSize) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    queue_[t % kQueueSize] = input;
    tail_.store(t + 1, std::memory_order_release);
}

void Numpad::service() {
    uint32_t h = head_.load(std::memory_order_relaxed);
    const uint32_t t = tail_.load(std::memory_order_acquire);
    for (; h != t; ++h) {
        const Input input = queue_[h % kQueueSize];
        head_.store(h + 1, std::memory_order_release);
        _apply(input);
    }
}

void Numpad::_apply(const Input& input) {
    if (!isOpen())
        return;
    if (input.kind == InputEncoder) {
        cursor.changeBy(input.value, input.pushed != 0, false);
        return;
    }
    const int g = layoutIndex(input.index);
    if (g >= 0)
        _character(input, g);
    else if (input.index == kDeleteKey)
        _delete(input.value);
    else if (input.index == kAcceptKey)
        _accept();
}

const Numpad::Layout& Numpad::_layoutFor(bool upper) const {
    switch (mode.load(std::memory_order_relaxed)) {
    case kText:
    case kName: return upper ? kUpperLayout : kLowerLayout;
    case kAddress: return kAddressLayout;
    default: return kNumberLayout;
    }
}

void Numpad::_character(const Input& input, int g) {
    activeLayout = _layoutFor(input.upper != 0);
    const std::string_view entry = activeLayout[size_t(g)];
    if (entry.empty())
        return;
    const int32_t at = cursor.value.load(std::memory_order_relaxed);
    const uint32_t ticks = input.block - lastKeyBlock_;
    if (input.index == lastKey && ticks < kMultiTapTicks && entry.size() > 1 && at > 0 &&
        size_t(at) <= text.size()) {
        tapIndex = (tapIndex + 1) % uint32_t(entry.size());
        text[size_t(at) - 1] = entry[tapIndex];
        lastKeyBlock_ = input.block;
        _textChanged();
        return;
    }
    if (mode.load(std::memory_order_relaxed) == kName && input.index == 18)
        return;
    if (text.size() >= maxLength)
        return;
    text.insert(std::min(size_t(std::max(at, 0)), text.size()), 1, entry[0]);
    cursor.setMax(int32_t(text.size()));
    cursor.setValue(at + 1, false);
    _textChanged();
    lastKey = input.index;
    lastKeyBlock_ = input.block;
    tapIndex = 0;
}

void Numpad::_delete(int event) {
    if (!text.empty()) {
        const int32_t at = cursor.value.load(std::memory_order_relaxed);
        if (at > 0 && size_t(at) <= text.size()) {
            text.erase(size_t(at) - 1, 1);
            cursor.setValue(at - 1, false);
        }
        cursor.setMax(int32_t(text.size()));
        _textChanged();
        return;
    }
    if (event != 3) {
        mode.store(kClosed, std::memory_order_release);
        cancelled.store(true, std::memory_order_release);
    }
}

void Numpad::_textChanged() {
    // The last verdict belongs to the old text: accept waits for a new one.
    dirty = true;
    valid = false;
}

void Numpad::_accept() {
    if (!valid || dirty)
        return;
    const bool number = mode.load(std::memory_order_relaxed) == kNumber;
    auto* integer = dynamic_cast<ParameterInt*>(target);
    if (number && integer && integer->displayMode != ParameterInt::ChoiceMode) {
        // A float holds 24 bits: 16777217 would arrive as 16777216.
        text = std::to_string(integerResult);
    } else if (number) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%f", double(floatResult));
        text = buffer;
    }
    mode.store(kClosed, std::memory_order_release);
    if (!target) {
        accepted.store(true, std::memory_order_release);
        return;
    }
    if (!target->setFromString(text))
        Driver::guiNotify.warning(kRefusedPrefix + text);
}

void Numpad::evaluate() {
    valid = false;
    const std::string source = "print(" + text + ");";
    CorvaneVM::Compiler compiler(true);
    std::string assembly;
    if (!compiler.compile(source, assembly))
        return;
    CorvaneVM::Program program;
    std::istringstream in(assembly);
    if (!program.assemble(in))
        return;
    // Verbose: the load, the printed value and the run's end (faults and the
    // normal end alike) go to the console, so a typed expression can be
    // followed there.
    CorvaneVM::Cpu cpu(true, true);
    cpu.loadProgram(&program);
    if (!cpu.run())
        return;
    const char* printed = cpu.printedText.c_str();
    char* end = nullptr;
    errno = 0;
    const float f = std::strtof(printed, &end);
    if (end == printed || errno == ERANGE || !std::isfinite(f))
        return;
    floatResult = f;
    errno = 0;
    const long long i = std::strtoll(printed, &end, 10);
    if (end == printed || errno == ERANGE || i < INT32_MIN || i > INT32_MAX)
        return;
    integerResult = int32_t(i);
    valid = true;
}

void Numpad::_validate() {
    valid = false;
    switch (mode.load(std::memory_order_relaxed)) {
    case kNumber: evaluate(); break;
    case kText: valid = true; break;
    case kName: valid = !text.empty(); break;
    case kAddress: {
        in_addr address;
        valid = inet_pton(AF_INET, text.c_str(), &address) == 1;
        break;
    }
    default: break;
    }
    dirty = false;
}

void Numpad::draw(MonoGFX& w) {
    service();
    const unsigned m = mode.load(std::memory_order_acquire);
    if (m == kClosed)
        return;
    if (dirty)
        _validate();
    w.dim();
    w.setColour(0);
    w.fillRect(12, 9, 242, 55);
    w.setColour(15);
    w.drawRect(12, 9, 242, 55);
    w.setFont(&font_compact, 1, 0);
    w.setTextMode(0);
    w.drawText(15, 12, title);
    w.setColour(8);
    w.setDotted(true);
    w.drawLine(15, 32, 137, 32);
    w.setDotted(false);

    // The text, a blinking bar at the cursor.
    const size_t at = size_t(std::max(cursor.value.load(std::memory_order_relaxed), 0));
    int x = 15;
    for (size_t k = 0; k <= text.size(); ++k) {
        if (k == at) {
            w.setColourBlink(4, 8);
            w.drawLine(x, 23, x, 31);
            x += 2;
        }
        if (k == text.size())
            break;
        w.setColour(8);
        x += w.drawChar(x, 23, uint8_t(text[k]));
    }
    if (m == kNumber && valid) {
        char result[48];
        std::snprintf(result, sizeof result, "= %.3f", double(floatResult));
        w.setColour(8);
        w.setTextMode(1);
        w.drawText(138, 23, result);
        w.setTextMode(0);
    }

    w.setColour(4);
    w.drawLine(140, 12, 140, 52);
    const Layout& labels = _layoutFor(upper_.load(std::memory_order_relaxed));
    const bool recent = ticksSinceKey() < kMultiTapTicks;
    w.setTextMode(2);
    for (int k = 0; k < 12; ++k) {
        const int c = k % 3, r = k / 3;
        w.setColour(2);
        w.fillRect(144 + 32 * c, 13 + 10 * r, 174 + 32 * c, 21 + 10 * r);
        if (m == kName && k == 11)
            continue;
        w.setColour(recent && lastKey >= 0 && layoutIndex(lastKey) == k ? 15 : 10);
        w.drawText(160 + 32 * c, 13 + 10 * r, labels[size_t(k)]);
    }
    w.setTextMode(0);

    if (valid)
        w.setColourPulse(8, 15);
    else
        w.setColour(4);
    w.drawIcon(18, 42, 1);
    const int end = 28 + w.drawText(28, 42, "yes");
    w.setColourPulse(8, 15);
    w.drawIcon(end + 6, 42, 2);
    w.drawText(end + 16, 42, text.empty() ? "cancel" : "remove");
}
