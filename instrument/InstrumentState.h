// What belongs to the instrument as a whole rather than to a track: the
// firmware version, the block and idle counters, the instrument's settings
// pages, the "project" and "config" groups, how the previous run ended, and
// the main menu with its restart and shutdown confirmations.
#pragma once

#include "instrument/FileVersion.h"
#include "instrument/Settings.h"
#include "parameters/ParameterGroup.h"
#include "parameters/ParameterInt.h"

#include <atomic>
#include <cstdint>

class InstrumentState {
public:
    static constexpr const char* kConfigPath = "/home/corvane/corvane.json";
    static constexpr const char* kExitCodePath = "/tmp/corvane-exit-code";
    static constexpr const char* kTemplatePath = "/home/corvane/projects/template-project/template.proj";
    static constexpr uint32_t kConfigFileType = 512;
    static constexpr uint32_t kShutdownCode = 3;
    // The exit status of a run whose configuration could not be saved.
    static constexpr int kSaveFailedCode = 1;

    enum MenuState : uint32_t { kMenuIdle = 0, kMenuOpen = 1, kMenuConfirm = 2 };

    InstrumentState();

    void buildSettingsPages();
    // The configuration file: loaded by setup, saved by cleanup. A file that
    // exists but cannot be read is never replaced (the player's hand-edited
    // settings are kept until they read again).
    void loadConfig();
    // A save that fails turns an exit status 0 into kSaveFailedCode.
    bool saveConfig();
    bool crashDetected() const;
    bool loadTemplateProject();

    // GUI task only.
    void openMainMenu();
    void updateMenu();
    void applySettings();

    // Sets Driver::returnCode and asks the platform to stop.
    void exitWithCode(int code);

    // The display clock code of an "oled clock" value: high nibble the
    // oscillator, low nibble the divider.
    static uint32_t oledClockCode(int32_t value);

    Settings settingsPage;
    FileVersion firmwareVersion{"track input hotfix", 0, 1, 30};
    // Written by the audio thread; the idle counter is cleared by any thread.
    std::atomic<uint32_t> blockCounter{0};
    std::atomic<uint32_t> idleCounter{0};
    ParameterGroup projectGroup;
    ParameterGroup configGroup;
    std::atomic<uint32_t> menuState{kMenuIdle};
    uint32_t pendingExitCode = 0;
    bool firstRun = false;
    int32_t lastExitCode = 3;
    ParameterInt oledClock;
    uint32_t appliedOledClock = 0;
    // True when the configuration file was read, or there was none: only
    // then may saveConfig write it.
    bool configSavable = true;

private:
    void _addRoutingPage();
    void _addNoteListPage();
};

namespace Driver {
extern InstrumentState instrument;
}  // namespace Driver
