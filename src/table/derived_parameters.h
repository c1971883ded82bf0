// Values derived from the table that callers need constantly: the number of
// recorded channel components and the sample rate of a stream in hertz.
#pragma once

#include <cstdint>

#include "common/status.h"
#include "table/parameter_table.h"

namespace olmtsfil {

// Components among "CHEX" ... "CHHZ" with a non-zero channel number; a missing
// parameter or one of another type counts as not recorded.
int32_t CountChannels(const ParameterTable& table);

// Sample rate of `stream` in Hz. Boards whose "VER" contains "4264" give rate
// codes per minute ("SRW1" ... "SRW3"), all others integer hertz ("SRL0" ... "SRL5").
// On failure *rate_hz is 0.0 and the status says why.
Status SampleRateHz(const ParameterTable& table, int32_t stream, double* rate_hz);

}  // namespace olmtsfil
