#include "instrument/Tasks.h"
#include "gui/Numpad.h"
#include "samples/AudioResource.h"
#include "samples/AudioResourcePool.h"
#include "sequencing/NoteManager.h"

#include "connectivity/OSCV.h"
#include "connectivity/OscRouter.h"

#include "connectivity/SerialMIDI.h"
#include "drivers/EncoderLedDriver.h"
#include "drivers/KeyDebouncer.h"
#include "drivers/MCP3008.h"
#include "drivers/SSD1322.h"
#include "drivers/Touchpad.h"
#include "dsp/WaveTable.h"
#include "effects/EffectChain.h"
#include "engines/SynthVoiceCommon.h"
#include "gui/Confirm.h"
#include "gui/GuiEditor.h"
#include "gui/GuiNotify.h"
#include "gui/ListSelect.h"
#include "gui/MonoGFX.h"
#include "gui/Screenshot.h"
#include "instrument/EditorRequests.h"
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
#include "platform/CpuMonitor.h"
#include "samples/ReleaseQueue.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace {

constexpr uint32_t kRefreshEvery = 6;
constexpr uint32_t kButtonPressedFrom = 500;
constexpr uint32_t kTracks = 5;

struct KnobInput {
    uint32_t converter, channel;
};
constexpr KnobInput kAuxKnob[kTracks] = {{0, 1}, {0, 4}, {0, 7}, {1, 2}, {1, 5}};
constexpr KnobInput kVolumeKnob[kTracks] = {{0, 2}, {0, 5}, {1, 0}, {1, 3}, {1, 6}};
constexpr KnobInput kTrackButton[kTracks] = {{0, 0}, {0, 3}, {0, 6}, {1, 1}, {1, 4}};

// The audio thread posts, the interface task carries out.
constinit EditorRequestQueue gRequests;

void carryOut(EditorRequest request, uint32_t argument) {
    switch (request) {
    // Key 1 with key 9 only opens: pressed again, the note lists stay.
    case EditorRequest::NoteManager: GUI::openEditor(&DSP::noteManager, false); break;
    case EditorRequest::FileBrowser: GUI::openEditor(&Driver::fileBrowser, true); break;
    case EditorRequest::AudioPool: GUI::openEditor(&DSP::audioPool, true); break;
    case EditorRequest::VoiceManager: GUI::openEditor(&DSP::voiceManager, true); break;
    case EditorRequest::VoicePageClose: GUI::closeEditor(); break;
    case EditorRequest::EffectPage:
        if (GUI::closeEditor()) {
            Track& track = panelTrack();
            if (track.effectPageShown.load() && track.focus.load() > 15) {
                if (argument != kEffectPageOpenOnly)
                    track.effectPageShown.store(false);
            } else {
                if (chainLetsFocusMove(track))
                    track.focus.store(16);
                track.effectPageShown.store(true);
            }
        }
        break;
    case EditorRequest::MainMenu:
        if (!GUI::currentEditor.load())
            Driver::instrument.openMainMenu();
        break;
    case EditorRequest::InstrumentSettings: GUI::openEditor(&Driver::instrument.settingsPage, true); break;
    case EditorRequest::ParameterMenu:
        if (!GUI::currentEditor.load() && !isModalOpen())
            panelTrack().openParameterMenu(int(argument));
        break;
    case EditorRequest::EditorButton:
        if (GuiEditor* editor = GUI::currentEditor.load(std::memory_order_acquire); editor && !isModalOpen())
            editor->button(int(argument & 0xFF), int(argument >> 8));
        break;
    case EditorRequest::None: break;
    }
}

int32_t knobRaw(const KnobInput& in) { return int32_t(Driver::ADC[in.converter].raw(in.channel)); }

bool converterReady(uint32_t converter) { return gConverterReady[converter].load(std::memory_order_acquire); }

}  // namespace

void readKnobs() {
    for (uint32_t i = 0; i < std::size(Driver::ADC); ++i)
        if (converterReady(i))
            Driver::ADC[i].readAll();
    // A converter that did not start is left out: its knobs would read as
    // turned down.
    for (uint32_t t = 0; t < kTracks; ++t) {
        SynthVoiceCommon* engine = DSP::track[t].currentEngine();
        if (!engine)
            continue;
        const uint32_t auxAdc = kAuxKnob[t].converter, volumeAdc = kVolumeKnob[t].converter;
        if (converterReady(auxAdc))
            engine->auxSend.setNormalised(knobCurve(Driver::ADC[auxAdc].value(kAuxKnob[t].channel)));
        if (converterReady(volumeAdc))
            engine->trackVolume.setNormalised(knobCurve(Driver::ADC[volumeAdc].value(kVolumeKnob[t].channel)));
    }
}

namespace {

void pollInputs() {
    readKnobs();
    InstrumentState& state = Driver::instrument;
    for (uint32_t i = 0; i < kTracks; ++i) {
        // A pressed button pulls its channel up; the debouncer takes the
        // key line's level, 0 while pressed.
        const bool pressed = converterReady(kTrackButton[i].converter) &&
                             uint32_t(knobRaw(kTrackButton[i])) >= kButtonPressedFrom;
        const uint32_t event = Key::trackSelect[i].update(pressed ? 0u : 1u);
        if (event == KeyDebouncer::kNothing)
            continue;
        state.idleCounter.store(0, std::memory_order_relaxed);
        if (event != KeyDebouncer::kKeyDown || isModalOpen() || !GUI::closeEditor())
            continue;
        if (Key::key[1].held()) {
            if (GUI::openEditor(&DSP::track[i].settingsPages, true))
                GUI::currentTrack.store(i);
        } else {
            GUI::currentTrack.store(i);
        }
    }
    auto down = [](uint32_t i) { return Key::trackSelect[i].held(); };
    if (down(0) && down(1) && down(2) && down(3))
        Bela_requestStop();
    if (down(2) && down(3) && down(4))
        for (auto& pad : DSP::touchpad)
            pad.updateBaseline();
}

void drawMainPage() {
    MonoGFX& w = mainWindow;
    w.clear();
    w.setFont(&font_compact, 1, 0);
    w.setTextMode(1);
    const float load = Bela_cpuMonitoringGet()->percentage.load();
    if (load > 80.0f) {
        w.setColour(15);
        w.fillRect(40, 45, 63, 54);
        w.setColour(0);
    } else {
        w.setColour(15);
    }
    char text[16];
    snprintf(text, sizeof text, "%d%%", int(load));
    w.drawText(62, 45, text);
    w.setTextMode(0);
    w.setColour(15);
    snprintf(text, sizeof text, "%u", unsigned(DSP::voiceManager.activeVoiceCount()));
    w.drawText(40, 56, text);
    w.setColour(DSP::mainClock.isRunning() ? 15 : 4);
    w.fillRect(48, 56, 48 + int(12.0 * DSP::mainClock.beatPhase()), 63);
    if (GUI::currentEditor.load() == &DSP::voiceManager)
        DSP::voiceManager.draw(w);
    else
        panelTrack().draw(w);
    Driver::instrument.updateMenu();
}

void fillLeds(bool screensaver, uint32_t frame) {
    std::array<float, 32> levels{};
    if (Driver::selfTest.running()) {
        Driver::selfTest.ledLevels(levels.data());
    } else if (screensaver) {
        float p = float(frame % 200) * 0.005f - 0.25f;
        p -= std::floor(p);
        levels[(frame / 200) % 32] = 0.125f + 0.125f * DSP::wavetable.sine(p);
    } else {
        Track& track = panelTrack();
        for (size_t i = 0; i < 16; ++i)
            if (Parameter* p = track.encoderParameters[i].load())
                levels[i] = p->getNormalised();
        auto chainLeds = [&](EffectChain& chain) {
            for (uint32_t k = 0; k < 4; ++k)
                for (uint32_t j = 0; j < 4; ++j)
                    if (Parameter* p = chain.getParameter(16 + 4 * k + j))
                        levels[16 + 4 * k + j] = p->getNormalised();
        };
        if (GUI::currentEditor.load() == &DSP::voiceManager && !DSP::voiceManager.masterChain.isBusy()) {
            chainLeds(DSP::voiceManager.masterChain);
        } else if (track.effectPageShown.load() && !track.effectChain.busy.load()) {
            chainLeds(track.effectChain);
        } else if (SynthVoiceCommon* engine = track.currentEngine()) {
            for (size_t i = 0; i < 16; ++i)
                if (Parameter* p = engine->exposedParameters[i].load())
                    levels[16 + i] = p->getNormalised();
        }
    }
    Driver::ledDriver.setLevels(levels.data());
}

void refreshScreen(uint32_t frame) {
    InstrumentState& state = Driver::instrument;
    bool screensaver = false;
    if (!Driver::selfTest.running()) {
        const int32_t seconds = GUI::screensaver.seconds();
        screensaver = seconds > 0 &&
                      state.idleCounter.load(std::memory_order_relaxed) > 750u * uint32_t(seconds) &&
                      !DSP::mainClock.isRunning();
    }
    bool touched = false;
    for (auto& pad : DSP::touchpad)
        touched |= pad.read() > 0;
    if (touched)
        state.idleCounter.store(0, std::memory_order_relaxed);
    if (screensaver && gUpdateBaseline.exchange(false, std::memory_order_acq_rel))
        for (auto& pad : DSP::touchpad)
            pad.updateBaseline();

    GuiEditor* editor = GUI::currentEditor.load(std::memory_order_acquire);
    if (!editor || editor == &DSP::voiceManager)
        drawMainPage();
    else
        editor->draw(mainWindow);
    Driver::numpad.draw(mainWindow);
    Driver::listSelection.draw(mainWindow);
    Driver::confirm.draw(mainWindow);
    Driver::guiNotify.draw(mainWindow);
    DSP::voiceManager.drawRecordingOverlay(mainWindow);  // draws only while recording

    MonoGFX& shown = screensaver ? screensaverWindow : mainWindow;
    if (screensaver)
        GUI::screensaver.draw(screensaverWindow);
    Driver::oledDriver.sendFramebuffer(shown.nextFrame());
    clearRedrawPending();
    if (gTakeScreenshot.load(std::memory_order_acquire)) {
        saveScreenshot("/home/corvane/", shown.framebuffer());
        gTakeScreenshot.store(false, std::memory_order_release);
    }
    fillLeds(screensaver, frame);
}

}  // namespace

float knobCurve(float v) { return v < 0.25f ? 3.0f * v : 1.0f + (v - 1.0f) * 0.33333334f; }

uint64_t blockMilliseconds(uint64_t blocks) { return blocks * 64u / 48u; }

bool postEditorRequest(EditorRequest request, uint32_t argument) {
    return gRequests.push(uint64_t(request) << 32 | argument);
}

void serviceEditorRequests() {
    uint64_t word = 0;
    while (gRequests.pop(word))
        carryOut(EditorRequest(word >> 32), uint32_t(word));
}

uint32_t editorRequestsDropped() { return gRequests.dropped(); }

void ioTask(void*) {
    Driver::dinMIDI.readInput();
    Driver::dinMIDI.writeOutput();
    // Counts of console lines left out in a burst that nothing followed.
    flushCleanedSampleReports();
    flushOscUnhandledLines();
    if (OSCV* client = Driver::oscv.load(std::memory_order_acquire))
        client->update(OSCV::millisecondsAt(gBlocksElapsed.load(std::memory_order_relaxed)));
}

void interfaceFunc(void*) {
    serviceEditorRequests();
    for (auto& track : DSP::track)
        track.serviceRequests();
    pollInputs();
    const uint32_t frame = gInterfaceFrame.fetch_add(1, std::memory_order_relaxed);
    if (frame % kRefreshEvery == 0)
        refreshScreen(frame);
    DSP::releaseQueue.drain();
}
