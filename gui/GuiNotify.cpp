#include "gui/GuiNotify.h"

#include "gui/MonoGFX.h"
#include "platform/Audio.h"
#include "platform/Notices.h"
#include "platform/RtPrintf.h"

#include <cstring>

// A run set up after another in the same process starts with no notice of
// the last one on screen or queued.
void GuiNotify::setup() {
    pipe_.setup(kPipeName, kPipeSize, false, false);
    queue_.clear();
    frameCounter_ = 0;
}

void GuiNotify::post(std::string_view text, uint32_t arg, uint32_t kind) {
    if (text.size() > kMaxText) {
        rt_printf("GuiNotify message too long to fit GuiMessage: %.*s [%d]\n", int(text.size()), text.data(),
                  int(text.size()));
        return;
    }
    GuiMessage message{};
    message.kind = kind;
    std::memcpy(message.text, text.data(), text.size());
    message.text[text.size()] = '\0';
    message.arg = arg;
    message.lifetime = uint32_t(text.size() / 2 + 10);
    if (Bela_isAudioThread())
        pipe_.writeRt(message);
    else
        pipe_.writeNonRt(message);
}

void GuiNotify::_append(GuiMessage& message) {
    message.text[sizeof(message.text) - 1] = '\0';
    // Each notice reaches here once, even one that a newer notice replaces
    // before it is drawn; a busy notice only says that work goes on.
    if (message.kind != kBusy)
        host::echoNotice(message.text);
    queue_.push_back(message);
    // A replaceable notice (busy, progress) gives way to the next one; the
    // flag is the lowest byte of arg.
    if (queue_.size() > 1 && (queue_.front().arg & 0xFFu) != 0) {
        queue_.pop_front();
        frameCounter_ = 0;
    }
}

void GuiNotify::dismiss(bool all) {
    if (queue_.empty())
        return;
    if (all) {
        queue_.clear();
        frameCounter_ = 0;
    } else if (queue_.front().arg != 0) {
        queue_.pop_front();
        frameCounter_ = 0;
    }
}

void GuiNotify::draw(MonoGFX& window) {
    if (pipe_.isOk()) {
        GuiMessage message;
        while (pipe_.readNonRt(message))
            _append(message);
        // The GUI thread is the only reader of the other direction.
        while (pipe_.readRt(message))
            _append(message);
    }
    if (queue_.empty())
        return;
    window.dim();
    const GuiMessage& front = queue_.front();
    window.setTextMode(0);
    window.drawMessageBox(front.text, front.kind, 1, 1);
    if (frameCounter_ <= front.lifetime) {
        ++frameCounter_;
    } else {
        queue_.pop_front();
        frameCounter_ = 1;
    }
}
