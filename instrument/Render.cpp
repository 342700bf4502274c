// The block loop: once per 64-frame block on the audio thread. Panel and
// MIDI input, the clock and the sequencers, the voices and the output copy,
// and the wake-ups of the interface and I/O tasks. Nothing here allocates,
// locks, waits or does I/O: pages and menus are requested from the
// interface task (EditorRequests.h).
#include "connectivity/SerialMIDI.h"
#include "drivers/Encoder.h"
#include "drivers/KeyDebouncer.h"
#include "drivers/ShiftRegisterIn.h"
#include "dsp/AudioBlock.h"
#include "effects/EffectChain.h"
#include "gui/Confirm.h"
#include "gui/GuiEditor.h"
#include "gui/GuiNotify.h"
#include "gui/ListSelect.h"
#include "gui/Numpad.h"
#include "instrument/EditorRequests.h"
#include "instrument/Entry.h"
#include "instrument/InstrumentState.h"
#include "instrument/MainClock.h"
#include "instrument/PanelFocus.h"
#include "instrument/Process.h"
#include "connectivity/Network.h"
#include "gui/FileBrowser.h"
#include "gui/Screensaver.h"
#include "selftest/SelfTest.h"
#include "instrument/track/Track.h"
#include "instrument/voices/VoiceManager.h"
#include "platform/Audio.h"
#include "platform/AuxiliaryTask.h"
#include "platform/RtPrintf.h"

#include "sequencing/NoteManager.h"
#include "sequencing/MorphController.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kInputStartBlock = 76;        // panel input is ignored before
constexpr uint32_t kEncoderUnderrunBlocks = 21;  // encoder input is ignored after an underrun
constexpr uint32_t kMaxMidiPerBlock = 8;
constexpr uint32_t kBaselineBlocks = 3750;
constexpr uint32_t kTracks = 5;

constexpr int kModifier0 = 0;
constexpr int kModifier1 = 1;
constexpr int kPatternSlotKey = 4;
constexpr int kNoteListSlotKey = 9;
constexpr int kMotionSlotKey = 19;
constexpr int kFileBrowserKey = 20;
constexpr int kAudioPoolKey = 21;
constexpr int kEffectPageKey = 22;
constexpr int kEditFxKey = 48;  // held with key 22: the effect chain's own menu
constexpr int kSettingsKey = 23;
constexpr int kStartStopKey = 24;
constexpr int kScreenshotKeyA = 25;
constexpr int kScreenshotKeyB = 26;
constexpr int kFirstSlotKey = 27;
constexpr int kLastSlotKey = 51;
constexpr int kPopupKeys = 24;  // keys 0..23 go to an open pop-up first

float gPhase[AudioBlock::kFrames];
bool gResetFlags[kTracks];
float gClockOut1[AudioBlock::kFrames];
float gClockOut2[AudioBlock::kFrames];

bool held(int key) { return Key::key[size_t(key)].held(); }

void setFocus(Track& track, uint32_t focus) {
    if (chainLetsFocusMove(track))
        track.focus.store(focus, std::memory_order_release);
}

bool noEditor() { return GUI::currentEditor.load(std::memory_order_acquire) == nullptr; }

void slotKey(int k) {
    const int32_t slot = k - kFirstSlotKey;
    const bool all = held(kModifier0);
    // At once while the clock stands; otherwise as the track's slot
    // switching says.
    const bool now = !DSP::mainClock.isRunning();
    Track& current = panelTrack();
    if (held(kPatternSlotKey) && noEditor()) {
        if (all) {
            for (auto& t : DSP::track)
                t.selectPattern(slot, now);
        } else if (held(kModifier1)) {
            current.copyPattern(slot);
            current.selectPattern(slot, true);
            char text[48];
            snprintf(text, sizeof text, "Copied and switched to pattern %d", int(slot));
            Driver::guiNotify.info(text);
        } else {
            current.selectPattern(slot, now);
        }
        setFocus(current, 12);
    }
    if (held(kNoteListSlotKey) && noEditor()) {
        if (all) {
            for (auto& t : DSP::track)
                t.selectNoteList(slot, now);
        } else {
            current.selectNoteList(slot, now);
        }
        setFocus(current, 12);
    }
    if (held(kMotionSlotKey) && noEditor()) {
        if (all) {
            for (auto& t : DSP::track)
                t.motionRecorder.motion.setValue(slot, false);
        } else {
            current.motionRecorder.motion.setValue(slot, false);
        }
        setFocus(current, 16);
    }
}

void globalShortcut(int k) {
    switch (k) {
    case kNoteListSlotKey:
        if (held(kModifier1))
            postEditorRequest(EditorRequest::NoteManager);
        break;
    case kFileBrowserKey: postEditorRequest(EditorRequest::FileBrowser); break;
    case kAudioPoolKey: postEditorRequest(EditorRequest::AudioPool); break;
    case kEffectPageKey:
        if (held(kModifier0))
            postEditorRequest(EditorRequest::VoiceManager);
        else if (!held(kModifier1))
            // With key 48 the page only opens: shown, it stays for the chain
            // editor, which takes the chord as its menu.
            postEditorRequest(EditorRequest::EffectPage, held(kEditFxKey) ? kEffectPageOpenOnly : 0);
        break;
    case kSettingsKey:
        if (held(kModifier1) && noEditor())
            postEditorRequest(EditorRequest::MainMenu);
        else
            postEditorRequest(EditorRequest::InstrumentSettings);
        break;
    case kStartStopKey: DSP::mainClock.toggleStartStop(held(kModifier0)); break;
    case kScreenshotKeyA:
    case kScreenshotKeyB:
        if (held(kScreenshotKeyA) && held(kScreenshotKeyB))
            gTakeScreenshot.store(true, std::memory_order_release);
        break;
    default:
        if (k >= kFirstSlotKey && k <= kLastSlotKey)
            slotKey(k);
        break;
    }
}

void routeKeys() {
    InstrumentState& state = Driver::instrument;
    for (int k = 0; k < int(Key::kNumKeys); ++k) {
        const uint32_t event = Key::key[size_t(k)].update(Key::shiftRegisterInput.key(uint32_t(k)));
        if ((event != KeyDebouncer::kKeyDown && event != KeyDebouncer::kRepeat) || !isRedrawDone())
            continue;
        state.idleCounter.store(0, std::memory_order_relaxed);
        const bool modal = isModalOpen();
        if (modal && k < kPopupKeys) {
            if (Driver::numpad.isOpen())
                Driver::numpad.key(k, int(event));  // applied by the interface task
            else if (Driver::confirm.state())
                Driver::confirm.key(k, int(event));
            else if (Driver::listSelection.state())
                Driver::listSelection.key(k, int(event));
            continue;
        }
        GuiEditor* editor = GUI::currentEditor.load(std::memory_order_acquire);
        panelTrack().button(k, int(event), editor == nullptr);
        if (editor && !modal)
            postEditorRequest(EditorRequest::EditorButton, uint32_t(k) | event << 8);
        if (event == KeyDebouncer::kKeyDown)
            globalShortcut(k);
    }
}

void routeEncoders() {
    InstrumentState& state = Driver::instrument;
    const bool live = state.blockCounter.load(std::memory_order_relaxed) >= kInputStartBlock &&
                      gFramesSinceUnderrun >= kEncoderUnderrunBlocks;
    for (uint32_t e = 0; e < Key::kNumEncoders; ++e) {
        Encoder& encoder = Key::encoder[e];
        const int32_t step = encoder.update(Key::shiftRegisterInput.encoderA(e), Key::shiftRegisterInput.encoderB(e),
                                            int32_t(Key::shiftRegisterInput.encoderPush(e)));
        if (!live)
            continue;
        const bool pushed = encoder.pressed();
        if (encoder.pressEdge()) {
            state.idleCounter.store(0, std::memory_order_relaxed);
            Track& track = panelTrack();
            setFocus(track, e);
            GuiEditor* editor = GUI::currentEditor.load(std::memory_order_acquire);
            bool skipMenu = false;
            bool closing = false;  // the output page closes before the menu is opened
            if (editor == &DSP::voiceManager) {
                if (e > 15) {
                    DSP::voiceManager.encoder(int(e), 0, true);  // the output page takes the push
                    skipMenu = true;
                } else {
                    closing = postEditorRequest(EditorRequest::VoicePageClose);
                }
            }
            if (!skipMenu && held(kModifier1) && (closing || noEditor()) && !isModalOpen())
                postEditorRequest(EditorRequest::ParameterMenu, e);
        }
        if (step == 0)
            continue;
        state.idleCounter.store(0, std::memory_order_relaxed);
        if (isModalOpen()) {
            if (Driver::numpad.isOpen())
                Driver::numpad.encoder(int(e), step, pushed);
            else if (Driver::listSelection.state())
                Driver::listSelection.encoder(int(e), step, pushed);
        } else if (GuiEditor* editor = GUI::currentEditor.load(std::memory_order_acquire)) {
            editor->encoder(int(e), step, pushed);
        } else {
            panelTrack().encoder(int(e), step, pushed);
        }
    }
}

void readMidi() {
    for (uint32_t n = 0; n < kMaxMidiPerBlock; ++n) {
        MidiMessage message{};
        if (!Driver::dinMIDI.readMessage(message))
            return;
        if (Driver::selfTest.running()) {
            Driver::selfTest.midiReceived(message);
            return;
        }
        if (DSP::mainClock.midiIn(message))
            continue;
        if (DSP::noteManager.midiNoteIn(message))
            continue;  // the open note-list page takes the notes
        for (auto& track : DSP::track)
            track.midiIn(message);
    }
}

void sequencers(BelaContext* context) {
    std::fill(std::begin(gPhase), std::end(gPhase), 0.0f);
    std::fill(std::begin(gResetFlags), std::end(gResetFlags), false);
    if (DSP::mainClock.process(gPhase, AudioBlock::kFrames, context)) {
        const bool reset = DSP::mainClock.takeResetRequest();
        // Every track sees the edge, also under a reset: its pending "on
        // next beat" switches are due now either way.
        for (uint32_t i = 0; i < kTracks; ++i) {
            const bool edge = DSP::track[i].onClockEdge();
            gResetFlags[i] = reset || edge;
        }
    }
    for (auto& track : DSP::track)
        track.sequencer->clockTick(gPhase, AudioBlock::kFrames);
    for (uint32_t i = 0; i < kTracks; ++i)
        if (DSP::track[i].sequencer->resetDue())
            gResetFlags[i] = true;
    for (uint32_t i = 0; i < kTracks; ++i)
        if (gResetFlags[i])
            DSP::track[i].onSequencerReset();
    for (uint32_t i = 0; i < kTracks; ++i)
        DSP::track[i].sequencer->advanceTick(gResetFlags[i]);
    for (auto& track : DSP::track) {
        track.blockUpdate();
        track.sequencer->process(track.currentEngine());
    }
    DSP::motion.process(gResetFlags);
    DSP::noteManager.renderPreviews();
    DSP::track[Driver::instrument.blockCounter.load(std::memory_order_relaxed) % kTracks].engineTick();
}

void clockOutputs(BelaContext* context) {
    const uint32_t frames = std::min<uint32_t>(context->digitalFrames, AudioBlock::kFrames);
    if (DSP::mainClock.syncOut.value.load(std::memory_order_relaxed) != 0) {
        std::fill(std::begin(gClockOut1), std::end(gClockOut1), 0.0f);
        std::fill(std::begin(gClockOut2), std::end(gClockOut2), 0.0f);
        DSP::mainClock.clockOutPulses(gPhase, gClockOut1, gClockOut2, frames);
        for (uint32_t f = 0; f < frames; ++f) {
            digitalWriteFrame(context, f, kClockOutPins[0], gClockOut1[f] != 0.0f);
            digitalWriteFrame(context, f, kClockOutPins[1], gClockOut2[f] != 0.0f);
        }
    } else {
        const bool pin6 = gGateOutputs[0] != 0;
        const bool pin7 = gGateOutputs[1] != 0;
        for (uint32_t f = 0; f < frames; ++f) {
            digitalWriteFrame(context, f, kClockOutPins[0], pin6);
            digitalWriteFrame(context, f, kClockOutPins[1], pin7);
        }
    }
}

void scheduleTasks(uint32_t n) {
    if (n % kBaselineBlocks == 0)
        gUpdateBaseline.store(true, std::memory_order_release);
    if (n % 4 == 0) {
        // The text of the error that happened (strerrordesc_np neither
        // allocates nor locks).
        if (const int error = Bela_scheduleAuxiliaryTask(gInOutTask); error != 0) {
            const char* text = strerrordesc_np(error);
            rt_printf("[%010u] Error occurred while scheduling I/O task: %s\n", n, text ? text : "unknown error");
        }
    } else if (n % 4 == 2) {
        Bela_scheduleAuxiliaryTask(gInterfaceTask);
    }
}

}  // namespace

void render(BelaContext* context, void*) {
    InstrumentState& state = Driver::instrument;

    Bela_cpuTic(&gCpuInterface);
    const uint32_t n = state.blockCounter.fetch_add(1, std::memory_order_relaxed) + 1;
    state.idleCounter.fetch_add(1, std::memory_order_relaxed);
    gBlocksElapsed.fetch_add(1, std::memory_order_relaxed);
    ++gFramesSinceUnderrun;
    for (size_t k = 0; k < gateOut.size(); ++k)
        gateOut[k].write(gGateOutputs[2 + k] != 0);
    if (context->underrunCount != gUnderrunCount) {
        gUnderrunCount = context->underrunCount;
        DSP::voiceManager.underrun(gFramesSinceUnderrun);
        gFramesSinceUnderrun = 0;
        rt_printf("[%010u] Underrun detected\n", n);
    }
    Key::shiftRegisterInput.process(context);
    if (n >= kInputStartBlock)
        routeKeys();
    Driver::numpad.tick();
    routeEncoders();
    Bela_cpuToc(&gCpuInterface);

    Bela_cpuTic(&gCpuSequencer);
    readMidi();
    sequencers(context);
    Bela_cpuToc(&gCpuSequencer);

    Bela_cpuTic(&gCpuSynthesis);
    outputStream.clear();
    DSP::voiceManager.processBlock(context, outputStream, AudioBlock::kFrames, gGateOutputs);
    const uint32_t outs = std::min<uint32_t>(context->audioOutChannels, AudioBlock::kChannels);
    const uint32_t frames = std::min<uint32_t>(context->audioFrames, AudioBlock::kFrames);
    for (uint32_t f = 0; f < frames; ++f)
        for (uint32_t c = 0; c < outs; ++c)
            context->audioOut[f * context->audioOutChannels + c] = outputStream.samples[c * AudioBlock::kFrames + f];
    if (Driver::selfTest.running())
        Driver::selfTest.processBlock(context, gGateOutputs);
    clockOutputs(context);
    Bela_cpuToc(&gCpuSynthesis);

    scheduleTasks(n);
}
