#include "instrument/Entry.h"

#include "connectivity/SerialMIDI.h"
#include "drivers/KeyDebouncer.h"
#include "dsp/Random.h"
#include "drivers/EncoderLedDriver.h"
#include "drivers/MCP3008.h"
#include "drivers/Pcm3168A_Codec.h"
#include "drivers/SSD1322.h"
#include "drivers/ShiftRegisterIn.h"
#include "drivers/Touchpad.h"
#include "gui/GuiNotify.h"
#include "gui/MonoGFX.h"
#include "instrument/InstrumentState.h"
#include "instrument/Process.h"
#include "connectivity/Network.h"
#include "connectivity/OscRouter.h"
#include "gui/FileBrowser.h"
#include "gui/Screensaver.h"
#include "selftest/SelfTest.h"
#include "instrument/Tasks.h"
#include "instrument/Wiring.h"
#include "instrument/track/Track.h"
#include "instrument/voices/VoiceManager.h"
#include "platform/Audio.h"
#include "platform/AuxiliaryTask.h"
#include "platform/CpuMonitor.h"
#include "samples/AudioRecorder.h"
#include "samples/AudioResource.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

constexpr const char* kSpiDevice = "/dev/spidev1.0";
constexpr const char* kBoardName = "VeskPcm3168A";
constexpr uint32_t kAdcChipSelect[2] = {5, 48};
constexpr int kIoPriority = 80;
constexpr int kInterfacePriority = 70;
constexpr int kCpuMonitorBlocks = 187;
// Long enough for the writer to flush a full pipe to a slow card.
constexpr auto kRecordingCloseTimeout = std::chrono::seconds(3);

void drawSplash(const std::string& version, const std::string& label) {
    mainWindow.init(256, 64);
    screensaverWindow.init(256, 64);
    mainWindow.drawBitmap((255 - int(corvane_logo.width)) / 2, (64 - int(corvane_logo.height)) / 2, corvane_logo);
    mainWindow.setFont(&font_default, 1, 0);
    mainWindow.setColour(15);
    mainWindow.drawText(0, 56, version + " (" + label + ")");
    Driver::oledDriver.sendFramebuffer(mainWindow.nextFrame());
}

void farewell() {
    const bool shutdown = Driver::returnCode == int(InstrumentState::kShutdownCode);
    mainWindow.clear();
    mainWindow.setTextMode(2);
    mainWindow.setColour(15);
    mainWindow.setFont(&font_default, 2, 0);
    mainWindow.drawText(128, 20, shutdown ? "shutting down" : "rebooting firmware");
    mainWindow.setFont(&font_default, 1, 0);
    mainWindow.drawText(128, 40, shutdown ? "wait 10 seconds before removing power" : "");
    Driver::oledDriver.sendFramebuffer(mainWindow.nextFrame());
    usleep(shutdown ? 1000000 : 100000);
}

}  // namespace

void chooseBoard(BelaInitSettings* settings) {
    registerCodecDrivers();
    if (settings)
        settings->hardware = kBoardName;
}

void interrupt_handler(int) { Bela_requestStop(); }

void printUsage(const char* programName) {
    fprintf(stderr, "Usage: %s [options]\n", programName);
    Bela_usage(stderr);
    fprintf(stderr, "   --help [-h]:                        Print this menu\n");
}

bool setup(BelaContext* context, void*) {
    printf("in: %d, out %d\n", int(context->audioInChannels), int(context->audioOutChannels));
    // render works on whole 64-frame blocks of 8 output channels and reads
    // four inputs: any other context would be written or read past its end.
    if (context->audioFrames != 64 || context->digitalFrames != 64 || context->audioInChannels < 4 ||
        context->audioOutChannels < 8) {
        fprintf(stderr, "setup: need 64 frames, at least 4 inputs and 8 outputs (have %u frames, %u in, %u out)\n",
                context->audioFrames, context->audioInChannels, context->audioOutChannels);
        return false;
    }
    InstrumentState& state = Driver::instrument;
    // The counters of a run start from nothing at each set-up: the panel is
    // ignored for the first blocks of this run, and the context's underrun
    // count (new with the context) is not taken for one more underrun.
    state.blockCounter.store(0, std::memory_order_relaxed);
    state.idleCounter.store(0, std::memory_order_relaxed);
    gBlocksElapsed.store(0, std::memory_order_relaxed);
    gInterfaceFrame.store(0, std::memory_order_relaxed);
    gUnderrunCount = context->underrunCount;
    gFramesSinceUnderrun = 0;
    std::fill(std::begin(gGateOutputs), std::end(gGateOutputs), 0u);
    if (const auto seed = host::fixedRandomSeed())
        DSP::random.seed(*seed);
    const std::string version = state.firmwareVersion.toString();
    printf("-->\tInitializing Corvane firmware version [%s %s]\n", version.c_str(), state.firmwareVersion.label.c_str());
    Driver::guiNotify.setup();
    Driver::fileBrowser.openFileWork();
    wireInstrument();
    // Nothing sounds at the start: a set-up after an earlier run in the same
    // process would otherwise meet that run's voices, notes and output tails.
    DSP::voiceManager.silence();

    state.buildSettingsPages();
    state.loadConfig();

    Driver::oledDriver.setup(kSpiDevice);
    // What the configuration held takes effect now that the display is up
    // (its clock, the OSC ports, the SSH setting), clamped to the ranges,
    // rather than waiting for an edit on the settings page. Once: each SSH
    // attempt rewrites the system's configuration.
    state.applySettings();
    drawSplash(version, state.firmwareVersion.label);

    for (uint32_t f = 0; f < context->digitalFrames; ++f) {
        pinModeFrame(context, f, kClockInPin, true);
        pinModeFrame(context, f, kResetInPin, true);
        pinModeFrame(context, f, kClockOutPins[0], false);
        pinModeFrame(context, f, kClockOutPins[1], false);
    }
    Key::shiftRegisterInput.setup(context);
    for (size_t i = 0; i < std::size(Driver::ADC); ++i)
        gConverterReady[i].store(Driver::ADC[i].setup(kAdcChipSelect[i], kSpiDevice), std::memory_order_release);
    for (size_t i = 0; i < gateOut.size(); ++i)
        if (gateOut[i].open(kGateOutGpio[i], Gpio::OUTPUT) != 0)
            fprintf(stderr, "Gate output on GPIO %u cannot be opened\n", kGateOutGpio[i]);
    Driver::dinMIDI.setup(SerialMIDI::kDevice, SerialMIDI::kBaud);
    for (unsigned i = 0; i < DSP::kNumTouchpads; ++i)
        DSP::touchpad[i].setup(i);
    readKnobs();
    setOscIdleCounter(&state.idleCounter);

    gInOutTask = Bela_createAuxiliaryTask(ioTask, kIoPriority, "corvane-io");
    if (!gInOutTask)
        return false;
    for (uint32_t i = 0; i < 5; ++i) {
        DSP::track[i].setup();
        attachTrackToVoices(i);
    }
    setupWorkers();
    Bela_cpuMonitoringInit(kCpuMonitorBlocks);
    Driver::ledDriver.setup();
    // Released, as at power-on: a button an earlier run last saw held would
    // count as held until a reading came, and four of them stop the run.
    for (auto& button : Key::trackSelect) {
        button = KeyDebouncer();
        button.setRepeat(1, 1);
    }
    gInterfaceTask = Bela_createAuxiliaryTask(interfaceFunc, kInterfacePriority, "corvane-gui");
    if (!gInterfaceTask)
        return false;

    if (state.crashDetected())
        Driver::guiNotify.warning("It seems like the Corvane has crashed...");
    else
        state.loadTemplateProject();
    printf("-->\tCorvane has been initialized!\n");
    return true;
}

void cleanup(BelaContext*, void*) {
    // A stop in the middle of a save lets it end first: the configuration
    // saved below then has "last project" leading to that project. Audio has
    // stopped, but the interface task may still be in the run that saves.
    Driver::fileBrowser.closeFileWork();
    // No OSC message may reach an object that is about to go.
    Driver::network.stop();
    DSP::voiceManager.stopRecording();
    // The writer task closes the file (and writes its header) after the
    // last queued block: wait for it, within bounds, so no WAV is left
    // without its header.
    if (AudioRecorder* recorder = activeRecorder()) {
        const auto deadline = std::chrono::steady_clock::now() + kRecordingCloseTimeout;
        while (recorder->isFileOpen() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (recorder->isFileOpen())
            fprintf(stderr, "The recording was not closed in time: its file may be incomplete\n");
    }
    Driver::instrument.saveConfig();
    // Counts of lines left out in a burst that the run's end cut short.
    flushCleanedSampleReports(true);
    flushOscUnhandledLines(true);
    for (auto& gate : gateOut)
        gate.clear();
    Driver::ledDriver.allOff();
    farewell();
    // The platform stops this run's tasks after cleanup: nothing may keep
    // their handles into the next set-up.
    releaseWorkers();
    gInOutTask = nullptr;
    gInterfaceTask = nullptr;
}
