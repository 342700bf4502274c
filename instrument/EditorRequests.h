// Pages, menus and lists are opened by the interface task only: opening one
// lists folders, builds texts and may refuse, none of which the audio thread
// may do. The block loop posts a fixed-size request instead, which the
// interface task carries out on its next run, so GUI::currentEditor has a
// single writer.
#pragma once

#include <cstdint>

enum class EditorRequest : uint32_t {
    None = 0,
    NoteManager,         // key 9 with key 1
    FileBrowser,         // key 20
    AudioPool,           // key 21
    VoiceManager,        // key 22 with key 0
    EffectPage,          // key 22 alone: toggle the current track's effect-chain page
    MainMenu,            // key 23 with key 1, no page open
    InstrumentSettings,  // key 23
    ParameterMenu,       // encoder push with key 1: argument = encoder
    VoicePageClose,      // encoder 0..15 pushed on the output page
    EditorButton,        // a key for the open page: argument = key | event << 8
};

// Audio thread (or any single producer): real-time safe; a full queue drops
// the request (the player presses again).
bool postEditorRequest(EditorRequest request, uint32_t argument = 0);
// Interface task: carries out the waiting requests in order.
void serviceEditorRequests();
// Requests dropped because the queue was full.
uint32_t editorRequestsDropped();
