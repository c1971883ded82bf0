// What the opaque handles of the C interface hold; shared by the C wrappers.
#pragma once

#include "cal/calibration.h"
#include "ts/recording.h"

struct TsHandle {
  olmtsfil::Recording recording;
};

struct CalHandle {
  olmtsfil::Calibration calibration;
};
