// One-line notices over the screen. Any thread may post (the audio thread
// too: a post builds a fixed record on the stack and makes one pipe write);
// the GUI thread takes them from the pipe and shows one after another.
#pragma once

#include "platform/Pipe.h"

#include <cstdint>
#include <deque>
#include <string_view>

class MonoGFX;

// The record that travels through "gui-notify-pipe" (72 bytes).
struct GuiMessage {
    uint32_t kind;      // icon drawn with the text, 0 none
    char text[60];      // NUL-terminated, at most 58 characters
    uint32_t arg;       // non-zero: replaced by any newer notice, dismissable
    uint32_t lifetime;  // frames: length / 2 + 10
};
static_assert(sizeof(GuiMessage) == 72, "GuiMessage is a 72-byte pipe record");

class GuiNotify {
public:
    static constexpr const char* kPipeName = "gui-notify-pipe";
    static constexpr size_t kPipeSize = 8388608;
    static constexpr size_t kMaxText = 58;

    static constexpr uint32_t kSuccess = 1;
    static constexpr uint32_t kWarning = 6;
    static constexpr uint32_t kBusy = 7;
    static constexpr uint32_t kInfo = 8;

    void setup();

    // Texts of 59 characters or more are refused with a console line.
    void post(std::string_view text, uint32_t arg, uint32_t kind);
    void notify(std::string_view text, uint32_t arg, uint32_t icon) { post(text, arg, icon); }
    void success(std::string_view text) { post(text, 0, kSuccess); }
    void warning(std::string_view text) { post(text, 0, kWarning); }
    void info(std::string_view text) { post(text, 0, kInfo); }
    void busy(std::string_view text) { post(text, 1, kBusy); }

    // GUI thread only.
    void dismiss(bool all);
    void draw(MonoGFX& window);

    // GUI thread only: what is queued (the front notice is on screen).
    const std::deque<GuiMessage>& queue() const { return queue_; }
    uint32_t frameCounter() const { return frameCounter_; }

private:
    void _append(GuiMessage& message);

    // The platform pipe's real-time side has one writer: the audio thread
    // writes there, every other thread through the locked non-real-time
    // side; the GUI thread drains both directions.
    Pipe pipe_;
    std::deque<GuiMessage> queue_;
    uint32_t frameCounter_ = 0;
};

namespace Driver {
extern GuiNotify guiNotify;
}
