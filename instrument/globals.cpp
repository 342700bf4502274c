// Every global object of the firmware, in construction order (they are
// destroyed in the reverse order at exit). Keep the order of the steps.
#include "instrument/Entry.h"

// Entry module state.
namespace Driver {
int returnCode = 0;
}  // namespace Driver

// 1: display windows, gate outputs, outputStream
#include "gui/MonoGFX.h"
MonoGFX mainWindow;
MonoGFX screensaverWindow;
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
// 7: Driver::instrument
// 8: DSP::motion
// 9: DSP::noteManager
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
// 14: Key::encoder, Key::key, Key::trackSelect
#include "drivers/Encoder.h"
#include "drivers/KeyDebouncer.h"
namespace Key {
std::array<Encoder, kNumEncoders> encoder;
std::array<KeyDebouncer, kNumKeys> key;
std::array<KeyDebouncer, kNumTrackButtons> trackSelect;
}  // namespace Key
// 15: drivers, Key::shiftRegisterInput
#include "connectivity/SerialMIDI.h"
namespace Driver {
SerialMIDI dinMIDI;
}  // namespace Driver
#include "connectivity/OSCV.h"
namespace Driver {
std::atomic<OSCV*> oscv{nullptr};  // set by the CV expander client once it is built
}  // namespace Driver
#include "drivers/ShiftRegisterIn.h"
namespace Key {
ShiftRegisterIn shiftRegisterInput;
}  // namespace Key
#include "drivers/EncoderLedDriver.h"
#include "drivers/MCP3008.h"
#include "drivers/SSD1322.h"
namespace Driver {
SSD1322 oledDriver;
EncoderLedDriver ledDriver;
MCP3008 ADC[2];
}  // namespace Driver
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
}  // namespace GUI
std::atomic<bool> gRedrawPending{false};
namespace Driver {
Confirm confirm;
ListSelect listSelection;
GuiNotify guiNotify;
}  // namespace Driver
#include "gui/Numpad.h"
namespace Driver {
Numpad numpad;
}  // namespace Driver
// 18: Driver::selfTest
// 19: expression-language tables
