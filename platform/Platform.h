// Everything the firmware takes from the platform.
#pragma once

#include "platform/Audio.h"
#include "platform/AudioCodec.h"
#include "platform/AudioFile.h"
#include "platform/AuxiliaryTask.h"
#include "platform/Context.h"
#include "platform/CpuMonitor.h"
#include "platform/Fft.h"
#include "platform/Gpio.h"
#include "platform/I2c.h"
#include "platform/Osc.h"
#include "platform/Paths.h"
#include "platform/Pipe.h"
#include "platform/RtPrintf.h"
#include "platform/Spi.h"
#include "platform/Trill.h"
