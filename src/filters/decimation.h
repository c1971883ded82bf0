// Placeholder interface of the digital chain's response until the decimation
// filters land; replaced by their header.
#pragma once

#include <cstdint>

#include "common/status.h"
#include "response/complex.h"

namespace olmtsfil {

Status CalcDigitalResp(double freq, double sample_rate, int16_t stream, int32_t tcmb, int32_t tals, int32_t k8sr,
                       int32_t lfrq, Complex* out);

}  // namespace olmtsfil
