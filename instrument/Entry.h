// The process's entry points and the entry module's process-wide state.
#pragma once

#include "platform/Context.h"

#include <cstdio>

struct BelaInitSettings;

bool setup(BelaContext* context, void* userData);
void render(BelaContext* context, void* userData);
void cleanup(BelaContext* context, void* userData);

// Before audio initialisation: the instrument's board joins the platform's
// table of hardware names with its codec driver, and is the board to run.
void chooseBoard(BelaInitSettings* settings);

void interrupt_handler(int signal);
// On standard error, asked for with --help or after a wrong option alike.
void printUsage(const char* programName);

namespace Driver {
// Exit status: 3 asks the launcher to power off, anything else to restart.
extern int returnCode;
}  // namespace Driver
