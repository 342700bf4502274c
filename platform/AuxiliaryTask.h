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
void tasksSetThreaded(bool threaded, bool realTimePriorities);
void tasksStopAll();
bool tasksRunPending();  // runs pending tasks synchronously; true if any ran
}  // namespace host
