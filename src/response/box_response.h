// The complete response of the recorder box for every channel of a recording at
// one frequency: the analog front end (the circuit model built from the box
// calibration, or the calibration's measured tables) times the digital chain.
#pragma once

#include <cstdint>

#include "cal/calibration.h"
#include "common/complex.h"
#include "common/status.h"
#include "table/parameter_table.h"

namespace olmtsfil {

// resp and resp_aux receive one element per channel of the recording; resp_aux is
// the companion value that every factor multiplies by its magnitude, negative for
// a channel whose response cannot be formed (then kNoResponse). On a non-zero
// status both arrays may hold partial results. The table branch moves
// cal.record_cursor; the circuit branch only reads the fitted model.
Status CalcBoxResp(Calibration& cal, const ParameterTable& table, int32_t stream, double freq_hz, Complex* resp,
                   double* resp_aux);

// The pair of consecutive records (*upper - 1, *upper) carrying `key` that brackets
// freq_hz, searched from and stored into cal.record_cursor. kOutOfCalRange when no
// two consecutive records carry the key, or freq_hz lies above the key's block by
// 0.6 of its last frequency step or more.
Status FindBoxRecordPair(Calibration& cal, int32_t key, double freq_hz, int32_t* upper);

}  // namespace olmtsfil
