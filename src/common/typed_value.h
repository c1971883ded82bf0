// Delivery of a value held in the 16-byte layout shared by table parameters,
// calibration header parameters and tag fields.
#pragma once

#include <cstdint>
#include <cstring>

#include "common/bytes.h"
#include "common/status.h"
#include "common/text.h"

namespace olmtsfil {

// Copies the value in `value` (16 bytes, laid out for `type`) to `out`: a host int32
// or double, the 8 bytes of a time stamp as stored, 16 for text (characters up
// to the first NUL, then NULs). kTypeMismatch for code 3 and codes above 5, with
// `out` untouched.
inline Status DeliverValue(uint8_t type, const uint8_t* value, void* out) {
  switch (static_cast<ValueType>(type)) {
    case ValueType::kInt32: {
      const int32_t v = LoadI32(value);  // shorter fields arrive zero-extended
      std::memcpy(out, &v, sizeof v);
      return Status::kOk;
    }
    case ValueType::kDouble: {
      const double v = LoadF64(value);
      std::memcpy(out, &v, sizeof v);
      return Status::kOk;
    }
    case ValueType::kTimeStamp:
      std::memcpy(out, value, 8);  // bytes as stored
      return Status::kOk;
    case ValueType::kText16:
    case ValueType::kText:
      CopyFixedWidth(static_cast<char*>(out), FieldText(value, 16), 16);
      return Status::kOk;
    default:
      return Status::kTypeMismatch;
  }
}

}  // namespace olmtsfil
