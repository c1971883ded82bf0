// The table of named acquisition parameters of a recording (".TBL"), loaded once
// when the recording is opened and read-only afterwards.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/byte_layouts.h"
#include "common/input_file.h"
#include "common/status.h"

namespace olmtsfil {

// One parameter, 32 bytes, the fields of the current table layout's record
// (layout::table_entry) in their order.
struct TableEntry {
  char name[8];       // NUL-terminated when shorter than 8 characters
  int32_t info_word;  // auxiliary values, passed through by ReadPrmHT's companion
  uint8_t info_byte1;
  uint8_t info_byte2;
  uint8_t spare;
  uint8_t type;       // ValueType code
  uint8_t value[16];  // laid out according to `type`

  std::string_view Name() const;
};
static_assert(sizeof(TableEntry) == layout::table_entry::kSize);
static_assert(offsetof(TableEntry, info_word) == layout::table_entry::kInfoWord.offset &&
              offsetof(TableEntry, type) == layout::table_entry::kType.offset &&
              offsetof(TableEntry, value) == layout::table_entry::kValue.offset);

class ParameterTable {
 public:
  static constexpr int kSlots = 600;  // the 600th record read is never kept

  // Reads the whole table file (either layout) and applies the board correction
  // of "TALS". kReadError when the file is unreadable, in neither layout, or has
  // no parameter.
  Status Load(InputFile& file);

  int32_t param_count() const { return param_count_; }
  const TableEntry& entry(int index) const { return params_[static_cast<std::size_t>(index)]; }

  // First entry (in file order) whose whole name equals `name` without regard to
  // ASCII case; nullptr when there is none.
  const TableEntry* Find(std::string_view name) const;

  // Copies the value of `name` into `out` when its stored type equals the low 8
  // bits of `type`: 4 bytes (int32), 8 bytes (double, time stamp) or 16 bytes
  // (text, NUL-padded). kNoSuchName, kTypeMismatch; `out` untouched on failure.
  Status Read(std::string_view name, int32_t type, void* out) const;

  // Typed conveniences over Read for the library's own lookups.
  Status ReadInt(std::string_view name, int32_t* out) const;
  Status ReadDouble(std::string_view name, double* out) const;
  Status ReadText(std::string_view name, char (&out)[16]) const;

 private:
  void BuildIndex();
  void ApplyFixedChainBoards();

  // Lookups run dozens of times per response evaluation, so names are indexed
  // by their case-folded 8 bytes in a small open-addressed hash (no allocation).
  static constexpr int kIndexSlots = 1024;
  std::array<uint64_t, kIndexSlots> index_keys_{};
  std::array<uint16_t, kIndexSlots> index_entries_{};  // entry + 1; 0 marks a free slot

  int32_t param_count_ = 0;
  std::array<TableEntry, kSlots> params_{};
};

}  // namespace olmtsfil
