#include "gui/GuiEditor.h"

#include "gui/Confirm.h"
#include "gui/ListSelect.h"
#include "gui/Numpad.h"

namespace GUI {

bool openEditor(GuiEditor* page, bool toggle) {
    if (!page)
        return false;
    GuiEditor* focused = currentEditor.load(std::memory_order_acquire);
    if (focused == page) {
        if (!toggle || !page->close())
            return false;
        currentEditor.store(nullptr, std::memory_order_release);
        setRedrawPending();
        return false;
    }
    if (focused && !focused->close())
        return false;
    page->open();
    currentEditor.store(page, std::memory_order_release);
    setRedrawPending();
    return true;
}

bool closeEditor() {
    GuiEditor* focused = currentEditor.load(std::memory_order_acquire);
    if (!focused)
        return true;
    if (focused->close()) {
        currentEditor.store(nullptr, std::memory_order_release);
        setRedrawPending();
    }
    return currentEditor.load(std::memory_order_acquire) == nullptr;
}

}  // namespace GUI

void setRedrawPending() { gRedrawPending.store(true, std::memory_order_release); }
void clearRedrawPending() { gRedrawPending.store(false, std::memory_order_release); }
bool isRedrawDone() { return !gRedrawPending.load(std::memory_order_acquire); }

bool isModalOpen() {
    return Driver::numpad.isOpen() || Driver::confirm.state() != kPopupIdle ||
           Driver::listSelection.state() != kPopupIdle;
}
