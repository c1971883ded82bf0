#include "table/parameter_table.h"

#include <cstring>

#include "common/byte_layouts.h"
#include "common/bytes.h"
#include "common/text.h"
#include "common/typed_value.h"

namespace olmtsfil {
namespace {

// Layout B: a header starting with the signature, then records laid out as a
// TableEntry (layout::table_entry). Layout A: records of 25 bytes from the start
// of the file (layout::older_table_entry), widened into a TableEntry.
namespace entry_b = layout::table_entry;
namespace entry_a = layout::older_table_entry;
constexpr std::size_t kLayoutARecord = entry_a::kSize;
constexpr std::size_t kLayoutBRecord = entry_b::kSize;
static_assert(kLayoutBRecord == entry_b::kHeaderSize, "the header is read into a record's buffer");

void WidenLayoutA(const uint8_t* raw, TableEntry& entry) {
  std::memset(&entry, 0, sizeof entry);
  // The name is the NUL-terminated text from byte 0, as long as an entry's name may be.
  std::size_t name_length = strnlen(reinterpret_cast<const char*>(raw + entry_a::kName.offset), sizeof entry.name);
  std::memcpy(entry.name, raw + entry_a::kName.offset, name_length);
  entry.info_word = LoadU16(raw + entry_a::kInfoWord.offset);
  entry.info_byte1 = raw[entry_a::kInfoByte1.offset];
  entry.info_byte2 = raw[entry_a::kInfoByte2.offset];
  entry.type = raw[entry_a::kType.offset];
  std::memcpy(entry.value, raw + entry_a::kValue.offset, entry_a::kValue.width);
}

void FromLayoutB(const uint8_t* raw, TableEntry& entry) {
  std::memcpy(entry.name, raw + entry_b::kName.offset, entry_b::kName.width);
  entry.info_word = LoadI32(raw + entry_b::kInfoWord.offset);
  entry.info_byte1 = raw[entry_b::kInfoByte1.offset];
  entry.info_byte2 = raw[entry_b::kInfoByte2.offset];
  entry.spare = raw[entry_b::kSpare.offset];
  entry.type = raw[entry_b::kType.offset];
  std::memcpy(entry.value, raw + entry_b::kValue.offset, entry_b::kValue.width);
}

bool IsLayoutANameByte(uint8_t c) { return c == 0 || IsAsciiAlnum(c); }

// The case-folded name as an 8-byte key; names longer than 8 characters cannot
// be stored, so they get no key.
bool FoldedKey(std::string_view name, uint64_t* key) {
  if (name.size() > 8) return false;
  uint64_t k = 0;
  for (std::size_t i = 0; i < name.size(); ++i)
    k |= static_cast<uint64_t>(static_cast<uint8_t>(AsciiUpper(name[i]))) << (8 * i);
  *key = k;
  return true;
}

std::size_t HashSlot(uint64_t key) { return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 54); }

}  // namespace

std::string_view TableEntry::Name() const { return FieldText(name, sizeof name); }

Status ParameterTable::Load(InputFile& file) {
  param_count_ = 0;
  uint8_t raw[kLayoutBRecord];
  if (file.Read(raw, sizeof raw) < sizeof raw) return Status::kReadError;

  bool layout_a = IsLayoutANameByte(raw[0]) && IsLayoutANameByte(raw[1]) && IsLayoutANameByte(raw[2]) &&
                  IsLayoutANameByte(raw[3]) && raw[4] == 0;
  if (layout_a) {
    if (!file.SeekStart()) return Status::kReadError;
  } else if (std::memcmp(raw, entry_b::kSignature, sizeof entry_b::kSignature) != 0) {
    return Status::kReadError;
  }

  const std::size_t record_size = layout_a ? kLayoutARecord : kLayoutBRecord;
  int count = 0;
  // The record that ends the list, or the 600th read, is read into its slot but
  // never kept: a table holds at most 599 parameters.
  while (count < kSlots) {
    TableEntry& slot = params_[static_cast<std::size_t>(count)];
    bool whole = file.Read(raw, record_size) == record_size;
    if (whole) {
      if (layout_a)
        WidenLayoutA(raw, slot);
      else
        FromLayoutB(raw, slot);
    }
    ++count;
    if (!whole || !IsAsciiAlnum(static_cast<uint8_t>(slot.name[0]))) break;
  }
  --count;
  if (count <= 0) return Status::kReadError;
  // Slots past the kept entries may hold the record that ended the list.
  for (int i = count; i < kSlots; ++i) std::memset(&params_[static_cast<std::size_t>(i)], 0, sizeof(TableEntry));
  param_count_ = count;
  BuildIndex();
  ApplyFixedChainBoards();
  return Status::kOk;
}

void ParameterTable::BuildIndex() {
  index_keys_.fill(0);
  index_entries_.fill(0);
  for (int i = 0; i < param_count_; ++i) {
    uint64_t key = 0;
    FoldedKey(params_[static_cast<std::size_t>(i)].Name(), &key);
    std::size_t slot = HashSlot(key);
    while (index_entries_[slot] != 0 && index_keys_[slot] != key) slot = (slot + 1) % kIndexSlots;
    if (index_entries_[slot] != 0) continue;  // a duplicate name: the first one stays
    index_keys_[slot] = key;
    index_entries_[slot] = static_cast<uint16_t>(i + 1);
  }
}

const TableEntry* ParameterTable::Find(std::string_view name) const {
  uint64_t key = 0;
  if (param_count_ <= 0 || !FoldedKey(name, &key)) return nullptr;
  // A query with an embedded NUL would fold into a key of a shorter name.
  if (name.find('\0') != std::string_view::npos) return nullptr;
  std::size_t slot = HashSlot(key);
  while (index_entries_[slot] != 0) {
    if (index_keys_[slot] == key) return &params_[index_entries_[slot] - 1u];
    slot = (slot + 1) % kIndexSlots;
  }
  return nullptr;
}

// Boards "7KQ01" and "4258C0" record "SRPM" and always run decimation chain 3,
// whatever their tables say in "TALS".
void ParameterTable::ApplyFixedChainBoards() {
  const TableEntry* srpm = Find("SRPM");
  const TableEntry* ver = Find("VER");
  if (srpm == nullptr || srpm->type != static_cast<uint8_t>(ValueType::kInt32)) return;
  if (ver == nullptr || ver->type != static_cast<uint8_t>(ValueType::kText16)) return;
  std::string_view version = FieldText(reinterpret_cast<const char*>(ver->value), sizeof ver->value);
  if (!EqualNoCase(version, "7KQ01") && !EqualNoCase(version, "4258C0")) return;
  const TableEntry* tals = Find("TALS");
  if (tals == nullptr) return;
  TableEntry& writable = params_[static_cast<std::size_t>(tals - params_.data())];
  writable.value[0] = 3;
  writable.value[1] = writable.value[2] = writable.value[3] = 0;
}

Status ParameterTable::Read(std::string_view name, int32_t type, void* out) const {
  const TableEntry* entry = Find(name);
  if (entry == nullptr) return Status::kNoSuchName;
  const auto requested = static_cast<uint8_t>(type & 0xFF);
  if (requested != entry->type) return Status::kTypeMismatch;
  return DeliverValue(requested, entry->value, out);
}

Status ParameterTable::ReadInt(std::string_view name, int32_t* out) const {
  return Read(name, static_cast<int32_t>(ValueType::kInt32), out);
}
Status ParameterTable::ReadDouble(std::string_view name, double* out) const {
  return Read(name, static_cast<int32_t>(ValueType::kDouble), out);
}
Status ParameterTable::ReadText(std::string_view name, char (&out)[16]) const {
  return Read(name, static_cast<int32_t>(ValueType::kText16), out);
}

}  // namespace olmtsfil
