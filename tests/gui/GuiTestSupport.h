// Panel keys held and released as the debouncer sees them, and the notices
// posted so far, for the interface tests.
#pragma once

#include "drivers/KeyDebouncer.h"
#include "gui/GuiNotify.h"
#include "gui/MonoGFX.h"

#include <string>
#include <vector>

namespace guitest {

inline void hold(int key) {
    for (uint32_t bit : {1u, 0u, 0u, 0u})
        Key::key[size_t(key)].update(bit);
}

inline void release(int key) {
    for (uint32_t bit : {0u, 1u, 1u, 1u})
        Key::key[size_t(key)].update(bit);
}

// Every notice waiting to be shown, oldest first (drains the pipe).
inline std::vector<std::string> notices() {
    static bool ready = false;
    if (!ready) {
        Driver::guiNotify.setup();
        ready = true;
    }
    MonoGFX scratch;
    scratch.init(256, 64);
    Driver::guiNotify.draw(scratch);
    std::vector<std::string> out;
    for (const GuiMessage& m : Driver::guiNotify.queue())
        out.emplace_back(m.text);
    return out;
}

inline void clearNotices() {
    notices();
    Driver::guiNotify.dismiss(true);
}

}  // namespace guitest
