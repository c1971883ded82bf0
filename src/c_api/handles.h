// The handle types behind the opaque pointers of the public header, shared by the
// C files of this folder (the 25 exports and the extensions).
#pragma once

#include "cal/calibration.h"
#include "ts/recording.h"

struct TsHandle {
  olmtsfil::Recording recording;
};

struct CalHandle {
  olmtsfil::Calibration calibration;
};
