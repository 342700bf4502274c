#include "gui/Numpad.h"

bool Numpad::open(unsigned newMode, const std::string& newTitle, const std::string& newText, unsigned newMaxLength) {
    if (isOpen() && newMode != kClosed)
        return false;
    title = newTitle;
    accepted = 0;
    text = newText;
    maxLength = newMaxLength;
    if (newMode == kNumber && text.find('.') != std::string::npos) {
        // "440.000000" is offered as "440"
        while (!text.empty() && text.back() == '0')
            text.pop_back();
        if (!text.empty() && text.back() == '.')
            text.pop_back();
    }
    mode = newMode;
    return true;
}
