// Everything the firmware takes from the platform.
#pragma once

#include "platform/Audio.h"
#include "platform/AudioFile.h"
#include "platform/AuxiliaryTask.h"
#include "platform/Context.h"
#include "platform/CpuMonitor.h"
#include "platform/Osc.h"
#include "platform/Paths.h"
#include "platform/Pipe.h"
#include "platform/RtPrintf.h"
