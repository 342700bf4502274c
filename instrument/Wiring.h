// How the instrument's parts find each other at set-up: the file layer's
// targets, the clock's idle counter, the background workers.
#pragma once

class AudioRecorder;

// Before the configuration is read: points the file layer at the tracks,
// the clock, the instrument's groups and the output chain.
void wireInstrument();
// After the track's own set-up: the voice manager takes its engine, its
// effect chain and its input routes.
void attachTrackToVoices(unsigned index);
// The background tasks of the sample library and the voice manager, in order.
void setupWorkers();
// At shut-down, after the last use of the workers and before the platform
// stops its tasks: every part forgets the task it was given, so nothing
// schedules a task of this run once it is gone (the next set-up makes new
// ones).
void releaseWorkers();
// The recorder the voice manager records through, or null (the disk
// recorder installs itself once it is part of the build).
AudioRecorder* activeRecorder();
