// Reading the named fields of a record tag (layout::tag::kFields).
#pragma once

#include <cstdint>
#include <string_view>

#include "common/status.h"
#include "ts/tag.h"

namespace olmtsfil {

// Looks `name` up (whole name, ASCII case folded) and delivers the field of `tag`
// as the requested type: kNoSuchName, kTypeMismatch, `out` untouched on failure.
Status ReadTagField(const layout::Field* table, int32_t type, const Tag& tag, std::string_view name, void* out);

}  // namespace olmtsfil
