// Every global object of the firmware, in construction order (they are
// destroyed in the reverse order at exit). Keep the order of the steps:
// nothing built earlier may read anything built later. The name tables the
// steps mention are constant data (built at compile time), so they are ready
// before any constructor runs.
#include "instrument/Entry.h"
#include "instrument/Process.h"

// Entry module state.
namespace Driver {
int returnCode = 0;
}  // namespace Driver
BelaCpuData gCpuInterface{750};
BelaCpuData gCpuSequencer{750};
BelaCpuData gCpuSynthesis{750};
uint32_t gUnderrunCount = 0;
uint32_t gFramesSinceUnderrun = 0;
uint32_t gGateOutputs[5] = {};
std::atomic<bool> gUpdateBaseline{false};
std::atomic<bool> gTakeScreenshot{false};
AuxiliaryTask gInOutTask = nullptr;
AuxiliaryTask gInterfaceTask = nullptr;
std::atomic<uint32_t> gInterfaceFrame{0};
std::atomic<uint64_t> gBlocksElapsed{0};
std::atomic<bool> gConverterReady[2] = {false, false};

// 1: display windows, gate outputs, outputStream
#include "gui/MonoGFX.h"
MonoGFX mainWindow;
MonoGFX screensaverWindow;
std::array<Gpio, 3> gateOut;
#include "dsp/AudioBlock.h"
AudioBlock outputStream;
// 2: recording sources, DSP::audioPool
#include "samples/SamplePool.h"
namespace DSP {
std::atomic<SamplePool*> samplePool{nullptr};  // set by the pool once it is built
}  // namespace DSP
#include "samples/ReleaseQueue.h"
namespace DSP {
ReleaseQueue releaseQueue;  // drained by the interface task
}  // namespace DSP
#include "samples/AudioResourcePool.h"
const std::vector<std::string> recordingSources = [] {
    std::vector<std::string> names;
    for (const auto& source : AudioResourcePool::recordingSourceTable()) names.emplace_back(source.name);
    return names;
}();
namespace DSP {
AudioResourcePool audioPool;
}  // namespace DSP
// 3: Driver::audioRecorder
#include "samples/DiskRecorder.h"
namespace Driver {
DiskRecorder audioRecorder;
}  // namespace Driver
// 4: DSP::samplePreviewer
#include "samples/SamplePreview.h"
namespace DSP {
SamplePreview samplePreviewer;
}  // namespace DSP
// 5: engine name map
// 6: file types, Driver::fileBrowser
#include "gui/FileBrowser.h"
namespace Driver {
FileBrowser fileBrowser;
}  // namespace Driver
// 7: Driver::instrument
#include "instrument/InstrumentState.h"
namespace Driver {
InstrumentState instrument;
}  // namespace Driver
// 8: DSP::motion
#include "sequencing/MorphController.h"
namespace DSP {
MorphController motion;
}  // namespace DSP
// 9: DSP::noteManager
#include "gui/GuiEditor.h"
#include "sequencing/NoteManager.h"
namespace DSP {
NoteManager noteManager;
}  // namespace DSP
// 10: DSP::scaleManager
#include "sequencing/PitchScale.h"
namespace DSP {
PitchScaleManager scaleManager;
}  // namespace DSP
// 11: Driver::settings
#include "instrument/Settings.h"
namespace Driver {
Settings settings;
}  // namespace Driver
// 12: DSP::mainClock, DSP::track, DSP::touchpad
#include "instrument/MainClock.h"
#include "instrument/track/Track.h"
#include "drivers/Touchpad.h"
namespace DSP {
MainClock mainClock;
Track track[Track::kTracks] = {Track(0, &mainClock), Track(1, &mainClock), Track(2, &mainClock),
                               Track(3, &mainClock), Track(4, &mainClock)};
Touchpad touchpad[kNumTouchpads];
}  // namespace DSP
#include "effects/DelayFX.h"
namespace {
// The delay's tempo-locked times follow the main clock.
const bool gDelayFollowsClock = (DelayFX::tempoReader.store(+[]() {
    return TempoReading{DSP::mainClock.bpm.getValue(), DSP::mainClock.clockSource.value.load()};
}), true);
}  // namespace
// 13: DSP::voiceManager
#include "instrument/voices/VoiceManager.h"
#include "instrument/voices/VoiceManagerTracks.h"
namespace DSP {
VoiceManager voiceManager;
}  // namespace DSP
namespace {
// The tracks' engines as they are now; the chains stay where they are.
const bool gVoicesAttached = (attachTracks(DSP::voiceManager, DSP::track), true);
}  // namespace
namespace {
// The note-list page previews through the voice manager on the tracks' engines
// (the shown track and the block counter are linked by the process).
const bool gNotePageLinked = [] {
    NotePageLinks& links = DSP::noteManager.links;
    links.scheduler = &DSP::voiceManager;
    links.clockRunning = [] { return DSP::mainClock.isRunning(); };
    links.currentTrack = [] { return int(GUI::currentTrack.load(std::memory_order_relaxed)); };
    links.blockCounter = [] { return Driver::instrument.blockCounter.load(std::memory_order_relaxed); };
    links.sequencer = [](int t) { return t >= 0 && t < int(Track::kTracks) ? &DSP::track[t].sequencerImpl : nullptr; };
    links.engine = [](int t) { return t >= 0 && t < int(Track::kTracks) ? DSP::track[t].currentEngine() : nullptr; };
    return true;
}();
}  // namespace
// 14: Key::encoder, Key::key, Key::trackSelect
#include "drivers/Encoder.h"
#include "drivers/KeyDebouncer.h"
namespace Key {
std::array<Encoder, kNumEncoders> encoder;
std::array<KeyDebouncer, kNumKeys> key;
std::array<KeyDebouncer, kNumTrackButtons> trackSelect = [] {
    std::array<KeyDebouncer, kNumTrackButtons> buttons;
    for (auto& b : buttons)
        b.setRepeat(0, 50);  // setup gives them 1 and 1
    return buttons;
}();
}  // namespace Key
// 15: drivers, Key::shiftRegisterInput
#include "drivers/EncoderLedDriver.h"
#include "drivers/MCP3008.h"
#include "drivers/SSD1322.h"
namespace Driver {
EncoderLedDriver ledDriver;
MCP3008 ADC[2];
SSD1322 oledDriver;
}  // namespace Driver
#include "connectivity/SerialMIDI.h"
namespace Driver {
SerialMIDI dinMIDI;
}  // namespace Driver
#include "connectivity/Network.h"
#include "connectivity/OSCV.h"
namespace Driver {
// The client before the network settings: the receiver, which calls into
// the client, stops before the client goes at exit.
OSCV oscvClient;
std::atomic<OSCV*> oscv{&oscvClient};  // the engines' way to the client
Network network;
}  // namespace Driver
#include "drivers/ShiftRegisterIn.h"
namespace Key {
ShiftRegisterIn shiftRegisterInput;
}  // namespace Key
// 16: DSP::random, DSP::wavetable
#include "dsp/Random.h"
#include "dsp/WaveTable.h"
namespace DSP {
Random random;
WaveTableBank wavetable;
constinit Noise noise;  // initialised data: usable before any constructor runs
}  // namespace DSP
// 17: pop-ups, Driver::guiNotify, GUI::screensaver
#include "gui/Confirm.h"
#include "gui/GuiEditor.h"
#include "gui/GuiNotify.h"
#include "gui/ListSelect.h"
namespace GUI {
std::atomic<GuiEditor*> currentEditor{nullptr};
std::atomic<uint32_t> currentTrack{0};
}  // namespace GUI
std::atomic<bool> gRedrawPending{false};
namespace Driver {
Confirm confirm;
GuiNotify guiNotify;
ListSelect listSelection;
}  // namespace Driver
#include "gui/Numpad.h"
namespace Driver {
Numpad numpad;
}  // namespace Driver
#include "gui/Screensaver.h"
namespace GUI {
Screensaver screensaver;
}  // namespace GUI
// 18: Driver::selfTest
#include "selftest/SelfTest.h"
namespace Driver {
SelfTest selfTest;
}  // namespace Driver
// 19: expression-language tables (constant data, script/Tables.h)
