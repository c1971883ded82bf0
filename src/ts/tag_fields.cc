#include "ts/tag_fields.h"

#include <cstring>

#include "common/text.h"
#include "common/typed_value.h"
#include "ts/recording.h"

namespace olmtsfil {

Status ReadTagField(const layout::Field* table, int32_t type, const Tag& tag, std::string_view name, void* out) {
  const layout::Field* row = table;
  while (row->name[0] != '\0' && !EqualNoCase(name, row->name)) ++row;
  if (row->name[0] == '\0') return Status::kNoSuchName;
  const auto requested = static_cast<uint8_t>(type & 0xFF);
  if (requested != row->reading) return Status::kTypeMismatch;
  uint8_t work[16] = {};
  std::memcpy(work, tag.At(*row), row->width);
  return DeliverValue(requested, work, out);
}

Status Recording::ReadTag(int k, int32_t which, const char* name, int32_t type, void* out) const {
  const StreamState& s = stream(k);
  if (s.open_status != Status::kOk) return Status::kBadStream;
  const Tag& tag = which == 0 ? s.last_tag : s.next_tag;
  const Status held = which == 0 ? s.last_status : s.next_status;
  if (held != Status::kOk) return held;
  // The byte exists in every tag buffer, but belongs to the record only in tags
  // of 32 bytes or more.
  if (EqualNoCase(name, tag_field::kClst.name) && tag.Ltag() < 32) return Status::kNoSuchName;
  return ReadTagField(tag_field::kFields, type, tag, name, out);
}

}  // namespace olmtsfil
