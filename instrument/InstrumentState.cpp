#include "instrument/InstrumentState.h"

#include "gui/GuiEditor.h"
#include "gui/GuiNotify.h"
#include "gui/ListSelect.h"
#include "instrument/Entry.h"
#include "instrument/MainClock.h"
#include "drivers/SSD1322.h"
#include "drivers/Touchpad.h"
#include "connectivity/Network.h"
#include "gui/FileBrowser.h"
#include "gui/Screensaver.h"
#include "selftest/SelfTest.h"
#include "instrument/files/FileTargets.h"
#include "instrument/files/PartFile.h"
#include "instrument/files/ProjectFolder.h"
#include "instrument/voices/VoiceManager.h"
#include "platform/Audio.h"
#include "platform/Paths.h"
#include "sequencing/NoteManager.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <sys/stat.h>

namespace {

constexpr const char* kMenuItems[] = {"load last project", "restart firmware", "shutdown Corvane",
                                      "recalibrate touchpads", "self test"};
enum MenuItem { kLoadLastProject = 0, kRestart = 1, kShutdown = 2, kRecalibrate = 3, kSelfTest = 4 };

bool instrumentFileExists(const char* path) {
    struct stat st;
    return ::stat(host::hostPath(path).c_str(), &st) == 0;
}

}  // namespace

InstrumentState::InstrumentState() : oledClock("oled clock", ParameterInt::PlainInt, Stored, 145, 120, 160) {}

void InstrumentState::buildSettingsPages() {
    // The display starts at the default clock at every set-up.
    appliedOledClock = uint32_t(oledClock.defaultValue);
    // Built once: a later set-up in the same process finds the pages, the
    // groups and the callbacks already there.
    if (!settingsPage.groups.empty())
        return;
    projectGroup.setName("project");
    configGroup.setName("config");
    configGroup.add(&Driver::fileBrowser.lastProject);

    MainClock& clock = DSP::mainClock;
    auto& pages = settingsPage.groups;
    pages.emplace_back("clock", std::vector<Parameter*>{&clock.clockSource, &clock.autoReset, &clock.midiStartStop,
                                                        &clock.syncInPpqn, &clock.syncInStartStop});
    pages.emplace_back("clock out", std::vector<Parameter*>{&clock.midiClockOut, &clock.syncOut, &clock.syncOutPpqn});
    _addRoutingPage();
    _addNoteListPage();

    Network& net = Driver::network;
    pages.emplace_back("network",
                       std::vector<Parameter*>{&net.hostnameIP, &net.ethernetIPv4, &net.ethernetIPv6, &net.sshRootLogin,
                                               &net.oscInPort, &net.oscOutIP, &net.oscOutPort});
    for (Parameter* p : std::initializer_list<Parameter*>{&net.sshRootLogin, &net.oscInPort, &net.oscOutIP,
                                                          &net.oscOutPort})
        configGroup.add(p);

    pages.emplace_back("display", std::vector<Parameter*>{&GUI::screensaver.screensaver, &GUI::screensaver.text,
                                                          &oledClock});
    configGroup.add(&GUI::screensaver.screensaver);
    configGroup.add(&GUI::screensaver.text);
    configGroup.add(&oledClock);

    settingsPage.addOpenCallback([] { Driver::network.readNetworkAddresses(); });
    settingsPage.addApplyCallback([this] { applySettings(); });
    settingsPage.setTitle("Corvane");
}

uint32_t InstrumentState::oledClockCode(int32_t value) {
    const uint32_t v = uint32_t(value);
    return (((v % 16) * 16) & 0xF0) + ((10 - v / 16) & 0x0F);
}

void InstrumentState::applySettings() {
    DSP::mainClock.setClockSource();
    Driver::network.applySettings();
    Driver::network.setSshRootLogin();
    oledClock.constrain();
    const uint32_t value = uint32_t(oledClock.value.load());
    if (value != appliedOledClock) {
        appliedOledClock = value;
        const uint32_t code = oledClockCode(int32_t(value));
        printf("Reinit OLED to %04x\n", code);
        Driver::oledDriver.init(uint8_t(code));
    }
}

void InstrumentState::loadConfig() {
    if (!fileTargets().tracks[0])
        return;
    const bool exists = instrumentFileExists(kConfigPath);
    const LoadResult result = readFile(kConfigPath, *fileTargets().tracks[0], false);
    if (result != LoadResult(0)) {
        printf("Failed to load config file\n");
        // A file that is there but unreadable (say, a typo from a hand edit)
        // is the player's: it is never replaced by the defaults.
        configSavable = !exists;
    } else {
        configSavable = true;
    }

    firstRun = !instrumentFileExists(kExitCodePath);
    if (firstRun) {
        printf("First time running since power on\n");
        // Applied with the other settings by set-up.
        Driver::network.sshRootLogin.setValue(0, false);
    } else {
        std::ifstream in(host::hostPath(kExitCodePath));
        if (in) {
            std::string word;
            in >> word;
            try {
                size_t used = 0;
                const int code = std::stoi(word, &used, 10);
                if (used != word.size())
                    throw std::invalid_argument(word);
                lastExitCode = code;
            } catch (const std::exception&) {
                printf("Exception occurred while reading last exit code\n");
            }
        }
        printf("Last exit code = %d\n", lastExitCode);
    }
    Driver::settings.runApplyCallbacks();
}

bool InstrumentState::saveConfig() {
    if (!fileTargets().tracks[0])
        return false;  // never set up: nothing of ours to save
    if (!configSavable) {
        printf("Config file was not saved: the file at start could not be read and is kept as it was\n");
        return false;
    }
    const SaveResult result =
        saveByFileType(kConfigPath, FileType(kConfigFileType), *fileTargets().tracks[0], true, true);
    if (result != SaveResult(0)) {
        printf("Failed to save config file\n");
        return false;
    }
    return true;
}

bool InstrumentState::crashDetected() const { return !firstRun && lastExitCode != 0; }

bool InstrumentState::loadTemplateProject() {
    if (!instrumentFileExists(kTemplatePath)) {
        printf("No template project found\n");
        return false;
    }
    printf("Loading template project\n");
    const LoadResult result = readFile(kTemplatePath, *fileTargets().tracks[0], false);
    if (result != LoadResult(0)) {
        Driver::guiNotify.warning(std::string("Error while loading template: ") + loadResultText(result));
        return false;
    }
    Driver::guiNotify.success("Template project loaded");
    return true;
}

void InstrumentState::openMainMenu() {
    std::vector<std::string> items(std::begin(kMenuItems), std::end(kMenuItems));
    if (Driver::listSelection.open("Corvane " + firmwareVersion.toString(), items, false))
        menuState.store(kMenuOpen, std::memory_order_release);
}

void InstrumentState::updateMenu() {
    switch (menuState.load(std::memory_order_acquire)) {
    case kMenuOpen: {
        const uint32_t result = Driver::listSelection.result();
        if (result == kPopupCancelled) {
            menuState = kMenuIdle;
        } else if (result == kPopupAccepted) {
            menuState = kMenuIdle;
            switch (Driver::listSelection.chosen()) {
            case kLoadLastProject: Driver::fileBrowser.loadLastProject(); break;
            case kRestart:
                if (Driver::confirm.open("Restart the firmware? Any unsaved data will be lost...", "yes", "no")) {
                    pendingExitCode = 0;
                    menuState = kMenuConfirm;
                }
                break;
            case kShutdown:
                if (Driver::confirm.open("Shutdown the Corvane? Any unsaved data will be lost...", "yes", "no")) {
                    pendingExitCode = kShutdownCode;
                    menuState = kMenuConfirm;
                }
                break;
            case kRecalibrate:
                for (auto& pad : DSP::touchpad)
                    pad.updateBaseline();
                Driver::guiNotify.info("Touchpads recalibrated");
                break;
            case kSelfTest: GUI::openEditor(&Driver::selfTest, true); break;
            default: break;
            }
        }
        break;
    }
    case kMenuConfirm: {
        const uint32_t result = Driver::confirm.result();
        if (result == kPopupAccepted) {
            menuState = kMenuIdle;
            exitWithCode(int(pendingExitCode));
        } else if (result == kPopupCancelled) {
            menuState = kMenuIdle;
        }
        break;
    }
    default: break;
    }
}

void InstrumentState::exitWithCode(int code) {
    Driver::returnCode = code;
    Bela_requestStop();
}

void InstrumentState::_addRoutingPage() {
    VoiceManager& voices = DSP::voiceManager;
    std::vector<Parameter*> routing{&voices.sendRouting, &voices.inGain1,  &voices.inGain2,
                                    &voices.inGain3,     &voices.inGain4,  &voices.inToOut1,
                                    &voices.inToOut2,    &voices.inToOut3, &voices.inToOut4};
    settingsPage.groups.emplace_back("routing", routing);
    for (Parameter* p : routing)
        projectGroup.add(p);
}

void InstrumentState::_addNoteListPage() {
    NoteManager& notes = DSP::noteManager;
    std::vector<Parameter*> page{&notes.notePreview, &notes.addWithMidi, &notes.midiChannel};
    settingsPage.groups.emplace_back("note list", page);
    for (Parameter* p : page)
        projectGroup.add(p);
}
