// Auxiliary tasks: functions run on their own threads when the audio thread
// (or anyone) schedules them. A schedule while the task runs or is pending
// coalesces into one more run; a task never runs twice at once.
#pragma once

using AuxiliaryTask = void*;

// priority: SCHED_FIFO priority where the host permits it (plain thread
// otherwise). Returns nullptr when the task cannot be created.
AuxiliaryTask Bela_createAuxiliaryTask(void (*callback)(void*), int priority, const char* name,
                                       void* arg = nullptr);
// Real-time safe. Returns 0 on success, else the error number of the
// failure (EINVAL for no task).
int Bela_scheduleAuxiliaryTask(AuxiliaryTask task);

namespace host {
// Internal to the platform: task threads on or off (stepped mode), stopping all.
// inStep (offline): the tasks run only when tasksRunPending runs them, so every
// run falls between the same two blocks whatever the machine's load.
void tasksSetThreaded(bool threaded, bool realTimePriorities, bool inStep = false);
// Tasks in step run freely from now on; those pending are started at once.
void tasksRunFreely();
// In step, a task that waits on the clock holds up the render.
bool tasksInStep();
void tasksStopAll();
// Runs the pending tasks one after another in order of creation, each to its
// end on the caller's thread; true if any ran.
bool tasksRunPending();
}  // namespace host
