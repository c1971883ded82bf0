// Delay of the recorder's decimation chains: a sample stamped with a time
// describes the input some samples earlier. Callers correct sample times by it
// (seconds = samples / sample rate), and the decimation response takes its
// linear phase from the same number.
#pragma once

#include <cstdint>

#include "common/status.h"
#include "table/parameter_table.h"

namespace olmtsfil {

// Delay in samples at the output rate `fs` (Hz) of decimation chain `chain_type`
// ("TALS") for stream `stream`. Each stage the rate passes through adds its own
// delay, d samples at a stage rate R counting as d * fs / R output samples.
// `k8sr` and `lfrq` are accepted for symmetry with the response and not read.
// kDecimationUnsupported for chain types 9, 16 and outside 1 ... 17, with
// *delay untouched.
Status AcqDelaySamples(double fs, int16_t stream, int32_t chain_type, int32_t k8sr, int32_t lfrq, double* delay);

// The delay of `stream` of a recording: its sample rate and the table's "TALS",
// "LFRQ" and "K8SR" (a recording without "K8SR" counts it as 0). Any status of
// the rate or of the lookups is returned unchanged, with *delay untouched.
Status AcquisitionDelay(const ParameterTable& table, int32_t stream, double* delay);

}  // namespace olmtsfil
