// The complex response of the sensors of a sensor calibration at one frequency,
// rescaled to the nominal sensor value the recording's table gives.
#pragma once

#include "cal/calibration.h"
#include "common/complex.h"
#include "common/status.h"
#include "table/parameter_table.h"

namespace olmtsfil {

// Fills resp[i] and resp_aux[i] for each channel block i < NCHN of `cal` (either
// output may be null). `table` is the recording's table; it is read only for
// sensor kinds 2 ("HNOM") and 3 ("CNOM"), null there gives kNullHandle. Stores the
// upper record of the pair used in cal.record_cursor. kNoResponse when some
// resp_aux is negative (all channels written); on any other failure nothing is
// written. A frequency that is not finite lies outside every record: kOutOfCalRange.
Status CalcSensorResp(Calibration* cal, const ParameterTable* table, double freq_hz, Complex* resp, double* resp_aux);

// The records lo < hi whose frequencies enclose freq_hz, searched from the first
// record that carries a lead signal. Also stores hi in cal.record_cursor when
// the search fails (kOutOfCalRange).
Status FindSensorRecordPair(Calibration& cal, double freq_hz, int* lo, int* hi);

// Front end of the 4270A / 4270BX boards the sensor was calibrated on: a fixed
// delay, a 120 kHz low-pass and, for 60 Hz mains settings, a shelving stage.
Status ApplyBoardCorrection(const Calibration& cal, double freq_hz, Complex* resp, double* resp_aux);

}  // namespace olmtsfil
