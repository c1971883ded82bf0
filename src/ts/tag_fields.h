// Named fields of a record tag, readable with the value type codes of table
// parameters. Bytes without a row (16, 26, 27, 29-31, 43 on) cannot be read.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/status.h"
#include "ts/tag.h"

namespace olmtsfil {

struct TagField {
  const char* name;
  uint8_t type;    // ValueType: 0 integer (zero-extended to 4 bytes) or 5 time stamp
  uint8_t offset;  // first byte in the tag
  uint8_t length;  // at most 16
};

// Rows in table order; ends with a row whose name is empty.
extern const TagField kTagFieldTable[];

// Looks `name` up (whole name, ASCII case folded) and delivers the field of `tag`
// as the requested type: kNoSuchName, kTypeMismatch, `out` untouched on failure.
Status ReadTagField(const TagField* table, int32_t type, const Tag& tag, std::string_view name, void* out);

}  // namespace olmtsfil
