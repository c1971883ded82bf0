#include "ts/tag_fields.h"

#include <cstring>

#include "common/text.h"
#include "common/typed_value.h"
#include "ts/recording.h"

namespace olmtsfil {

const TagField kTagFieldTable[] = {
    {"UTC", 5, 0, 8},    {"SNUM", 0, 8, 2},   {"SCNT", 0, 10, 2},  {"NCHN", 0, 12, 1},  {"LTAG", 0, 13, 1},
    {"STAT", 0, 14, 1},  {"SATC", 0, 15, 1},  {"LSMP", 0, 17, 1},  {"RATE", 0, 18, 2},  {"RUNT", 0, 20, 1},
    {"CLST", 0, 21, 1},  {"TERR", 0, 22, 4},  {"SBREC", 0, 28, 1}, {"WINDX", 0, 32, 4}, {"WISCN", 0, 36, 2},
    {"LEVTP", 0, 38, 1}, {"LEVAL", 0, 39, 1}, {"NFRQT", 0, 40, 1}, {"NFRQD", 0, 41, 1}, {"NFREQ", 0, 42, 1},
    {"", 0, 0, 0},
};

Status ReadTagField(const TagField* table, int32_t type, const Tag& tag, std::string_view name, void* out) {
  const TagField* row = table;
  while (row->name[0] != '\0' && !EqualNoCase(name, row->name)) ++row;
  if (row->name[0] == '\0') return Status::kNoSuchName;
  const auto requested = static_cast<uint8_t>(type & 0xFF);
  if (requested != row->type) return Status::kTypeMismatch;
  uint8_t work[16] = {};
  std::memcpy(work, tag.bytes.data() + row->offset, row->length);
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
  if (EqualNoCase(name, "CLST") && tag.Ltag() < 32) return Status::kNoSuchName;
  return ReadTagField(kTagFieldTable, type, tag, name, out);
}

}  // namespace olmtsfil
