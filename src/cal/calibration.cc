#include "cal/calibration.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>

#include "common/input_file.h"
#include "common/text.h"
#include "common/typed_value.h"

namespace olmtsfil {

namespace {

using namespace cal_header;

// A box calibration carries no sensor fields: "HSN", "HNOM" and "CPHC" of its
// header are not readable.
constexpr layout::Field kBoxDescriptors[] = {kUtc,  kSnum, kNchn, kStat, kCtyp, kHw,  kVer,
                                             kTcmb, kTals, kLfrq, kK8sr, kLpfr, kHatt};
constexpr layout::Field kSensorDescriptors[] = {kUtc,  kSnum, kNchn, kStat, kCtyp, kHw,   kVer,  kTcmb,
                                                kTals, kLfrq, kK8sr, kLpfr, kHsn,  kHatt, kHnom, kCphc};

// Front-end variant per channel from the upper-cased hardware identifier. The
// first matching substring decides; "E" marks boards whose inputs need no variant.
void SetChannelFlags(std::string_view hw, std::array<int32_t, Calibration::kMaxChannels>& flags) {
  auto set3 = [&](int first, int32_t a, int32_t b, int32_t c) {
    flags[static_cast<std::size_t>(first)] = a;
    flags[static_cast<std::size_t>(first) + 1] = b;
    flags[static_cast<std::size_t>(first) + 2] = c;
  };
  if (Contains(hw, "OLM")) {
    if (Contains(hw, "E")) return;
    if (Contains(hw, "H")) return set3(0, 1, 1, 3);
    if (Contains(hw, "5")) return set3(2, 1, 1, 3);
    return;
  }
  if (Contains(hw, "E")) return;
  if (Contains(hw, "RJ") || Contains(hw, "PXR")) {
    flags[0] = 1;
    return;
  }
  if (Contains(hw, "3")) {
    flags[2] = 3;
    return;
  }
  if (Contains(hw, "5")) return set3(2, 1, 1, 3);
  if (Contains(hw, "6")) return set3(3, 1, 1, 3);
}

}  // namespace

Status Calibration::Open(int32_t kind, const char* base_name) {
  model.slot_frequency.reset();
  model.slot_value.reset();
  const uint8_t kind_byte = static_cast<uint8_t>(kind & 0xFF);

  std::size_t base_length = strnlen(base_name, kMaxBaseNameLength + 1);
  if (base_length > kMaxBaseNameLength) return Status::kCalPathTooLong;
  const char* extension = kind_byte == 1 ? ".CLB" : (kind_byte == 2 || kind_byte == 3) ? ".CLC" : nullptr;
  if (extension == nullptr) return Status::kBadCalKind;
  char path[kMaxBaseNameLength + 5];
  std::memcpy(path, base_name, base_length);
  std::memcpy(path + base_length, extension, 5);

  InputFile file;
  if (!file.Open(path)) return Status::kCalNotOpened;

  // The whole file in one read: header and up to 501 records of the largest size.
  // One record beyond the 500 allowed tells a file that has more.
  constexpr std::size_t kReadLimit = kHeaderSize + std::size_t{kRecordSlots} * kRecordCapacity;
  std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[kReadLimit]);
  if (bytes == nullptr) return Status::kNoMemory;
  const std::size_t size = file.Read(bytes.get(), kReadLimit);
  file.Close();

  if (size < kHeaderSize) return Status::kCalHeaderShort;
  std::memcpy(header.data(), bytes.get(), kHeaderSize);
  if (Kind() != kind_byte) return Status::kBadCalKind;
  UpperCaseInPlace(reinterpret_cast<char*>(header.data() + kHw.offset), kHw.width);
  // Every per-channel array holds 12 channels; a header claiming more (or none)
  // cannot be read safely, so such a file is refused as an unusable header.
  const int channels = ChannelCount();
  if (channels < 1 || channels > kMaxChannels) return Status::kCalHeaderShort;

  const std::size_t record_size = static_cast<std::size_t>(RecordSize(channels));
  const int whole_records = static_cast<int>(std::min<std::size_t>((size - kHeaderSize) / record_size, kRecordSlots));
  for (int i = 0; i < whole_records; ++i) {
    std::memcpy(records[static_cast<std::size_t>(i)].data(), bytes.get() + kHeaderSize + i * record_size, record_size);
  }
  bytes.reset();

  // Split into tables: a record whose sequence is 1 or less starts one (record 0
  // always does); the index after the last record read closes the last table.
  Status reason = Status::kOk;
  table_count = 0;
  int32_t previous_start = 0;
  auto append_start = [&](int32_t index) {
    if (table_count == kTableStartSlots) {
      reason = Status::kCalTooLarge;
      return;
    }
    table_start[static_cast<std::size_t>(table_count)] = index;
    if (index - previous_start > kMaxTableRecords) reason = Status::kCalTooLarge;
    previous_start = index;
    ++table_count;
  };
  bool ended_on_short_read = false;
  int i = 0;
  for (; reason == Status::kOk && i <= kMaxRecords; ++i) {
    const bool whole = i < whole_records;
    if (whole && i > 0 && Sequence(i) > 1) continue;
    append_start(i);
    if (!whole) {
      ended_on_short_read = true;
      break;
    }
  }
  if (reason != Status::kOk) return reason;
  if (ended_on_short_read) {
    record_count = i;
  } else {
    // More than 500 records: the file is read as its first 500. Record 500 is not
    // counted, so its index closes the last table like the end of a shorter file
    // would, under the same limits; it already does when record 500 began a table.
    record_count = kMaxRecords;
    if (table_start[static_cast<std::size_t>(table_count) - 1] != kMaxRecords) append_start(kMaxRecords);
    if (reason != Status::kOk) return reason;
  }
  record_cursor = 0;
  if (record_count == 0 || record_count > kMaxRecords) return Status::kCalRecordCount;

  model.slot_count = 0;
  model.slot_start[0] = 0;
  model.element_count = 0;
  channel_flags.fill(0);

  if (kind_byte == 1 && table_count > 3) {
    model.slot_frequency.reset(new (std::nothrow) double[FrontEndModel::kPointCapacity]);
    model.slot_value.reset(new (std::nothrow)
                               Complex[FrontEndModel::kPointCapacity * static_cast<std::size_t>(channels)]);
    if (model.slot_frequency == nullptr || model.slot_value == nullptr) {
      model.slot_frequency.reset();
      model.slot_value.reset();
      return Status::kNoMemory;
    }
    char hw[16] = {};
    ReadParameter("HW", static_cast<int32_t>(ValueType::kText16), hw);
    UpperCaseInPlace(hw, sizeof hw);
    SetChannelFlags(FieldText(hw, sizeof hw), channel_flags);
    BuildFrontEndModel(*this);
  }
  return Status::kOk;
}

Status Calibration::ReadParameter(std::string_view name, int32_t type, void* out) const {
  std::span<const layout::Field> descriptors;
  switch (Kind()) {
    case 1:
      descriptors = kBoxDescriptors;
      break;
    case 2:
    case 3:
      descriptors = kSensorDescriptors;
      break;
    default:
      return Status::kBadCalKind;
  }
  const layout::Field* found = nullptr;
  for (const layout::Field& d : descriptors) {
    if (EqualNoCase(name, d.name)) {
      found = &d;
      break;
    }
  }
  if (found == nullptr) return Status::kNoSuchName;
  const uint8_t requested = static_cast<uint8_t>(type & 0xFF);
  if (requested != found->reading) return Status::kTypeMismatch;

  uint8_t value[16] = {};
  std::memcpy(value, header.data() + found->offset, found->width);
  // Text fields are at most 12 bytes, so text always arrives NUL-terminated.
  return DeliverValue(requested, value, out);
}

}  // namespace olmtsfil
