// Full-screen pages and the focus: at most one page at a time receives the
// keys and encoders and draws the screen.
#pragma once

#include <atomic>
#include <cstdint>

class MonoGFX;

class GuiEditor {
public:
    virtual void encoder(int index, int delta, bool pushed) = 0;
    // event: 2 pressed, 3 auto-repeat
    virtual void button(int key, int event) = 0;
    virtual void open() = 0;
    // false: the page refuses to give up the focus
    virtual bool close() = 0;
    virtual bool isOpen() = 0;
    virtual void draw(MonoGFX& window) = 0;
    virtual bool _inputAccepted() { return editorState.load(std::memory_order_acquire) == kAcceptsInput; }
    virtual void update() {}
    virtual ~GuiEditor() = default;

    static constexpr uint32_t kAcceptsInput = 2;

    // 2 = ready for input; pages that prepare content lower it in open and
    // raise it from update. Written by the GUI thread, read by the routing.
    std::atomic<uint32_t> editorState{kAcceptsInput};
};

namespace GUI {

// The focused page, or null while the track page shows. Changed only through
// openEditor and closeEditor (and by a page taking itself out of focus).
extern std::atomic<GuiEditor*> currentEditor;
// Index 0..4 of the track the panel edits; written by the interface task.
extern std::atomic<uint32_t> currentTrack;

// True exactly when the page newly received the focus. With toggle, asking
// for the focused page closes it (if it agrees).
bool openEditor(GuiEditor* page, bool toggle);
// True when no page has the focus afterwards.
bool closeEditor();

}  // namespace GUI

// True while the number pad, the confirmation or the list selection is
// open (or holds an unread answer): keys then go to the pop-up, not a page.
bool isModalOpen();

// Holds key input back until the first frame after a focus change was sent.
extern std::atomic<bool> gRedrawPending;
void setRedrawPending();
void clearRedrawPending();
bool isRedrawDone();
