// Placeholder: a flat digital chain until the decimation filters land.
#include "filters/decimation.h"

namespace olmtsfil {

Status CalcDigitalResp(double, double, int16_t, int32_t, int32_t, int32_t, int32_t, Complex* out) {
  *out = Complex{1.0, 0.0};
  return Status::kOk;
}

}  // namespace olmtsfil
