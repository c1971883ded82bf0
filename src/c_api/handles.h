// What the opaque handles of the public header hold, for the C files of this
// folder: the HT family and the olmts_* extensions unwrap the same objects.
#pragma once

#include "cal/calibration.h"
#include "olmtsfil.h"
#include "ts/recording.h"

struct TsHandle {
  olmtsfil::Recording recording;
};

struct CalHandle {
  olmtsfil::Calibration calibration;
};
