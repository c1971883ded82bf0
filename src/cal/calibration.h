// An open calibration (box ".CLB" or sensor ".CLC"): the whole file read into
// fixed-size storage at open, split into calibration tables.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "cal/front_end_model.h"
#include "common/byte_layouts.h"
#include "common/bytes.h"
#include "common/complex.h"
#include "common/status.h"

namespace olmtsfil {

// The header's fields, the records' and their channel blocks' are laid out in
// common/byte_layouts.h (layout::cal_header, cal_record, cal_block); the
// accessors below, the named-field reader and the open take their offsets from
// there.
namespace cal_header = layout::cal_header;

// Header (132 bytes, little-endian):
//   0   8  "UTC"   time stamp as stored      44  4 "TCMB" int32
//   8   2  "SNUM"  uint16                    48  4 "TALS" int32
//   10  2  "NCHN"  int16, 1 ... 12           52  4 "LFRQ" int32
//   12  2  not interpreted                   56  4 "K8SR" int32
//   14  2  "STAT"  uint16                    60  4 "LPFR" int32
//   16  1  "CTYP"  kind 1 box, 2/3 sensor    64 12 "HSN"  text (sensor only)
//   17  3  not interpreted                   76  8 "HATT" double
//   20 12  "HW"    text, upper-cased at open 84  8 "HNOM" double (sensor only)
//   32 12  "VER"   text                      92  8 "CPHC" double (sensor only)
//                                            100 32 not interpreted
// Records follow until the end of the file, 8 + 24 x NCHN bytes each:
//   0 2 key (int16)   2 4 frequency (float32, Hz)   6 2 sequence (int16; <= 1 starts a table)
//   8 + 24c: channel block c = lead_pair (2 x float32), scalar (float32),
//            corner_frequency (float32, Hz), response (2 x float32)
class Calibration {
 public:
  static constexpr int kHeaderSize = cal_header::kSize;
  static constexpr int kMaxChannels = 12;
  static constexpr int kRecordSlots = 501;
  static constexpr int kMaxRecords = 500;
  static constexpr int kMaxTableRecords = 100;
  static constexpr int kTableStartSlots = 31;  // 30 tables and the end entry
  static constexpr int kRecordCapacity =
      layout::cal_record::kFirstBlock + layout::cal_record::kBlockSize * kMaxChannels;

  // Bytes of a record of `channels` blocks; also where block `channels` starts.
  static constexpr int RecordSize(int channels) {
    return layout::cal_record::kFirstBlock + layout::cal_record::kBlockSize * channels;
  }

  struct ChannelBlock {
    ComplexFloat lead_pair;
    float scalar;
    float corner_frequency;
    ComplexFloat response;
  };

  // Reads base_name + ".CLB" (kind 1) or ".CLC" (kinds 2, 3; only the low byte of
  // `kind` counts) completely, splits the records into tables and, for a box
  // calibration of more than three table_start entries, builds the front-end
  // model. Call once, on a fresh object; on failure the object is only fit to be
  // destroyed. The failure reasons are internal (the C layer returns NULL), in
  // this order: kCalPathTooLong, kBadCalKind, kCalNotOpened, kCalHeaderShort
  // (also for an "NCHN" outside 1 ... 12), kBadCalKind (file of another kind),
  // kCalTooLarge, kCalRecordCount, kNoMemory.
  Status Open(int32_t kind, const char* base_name);

  // Header parameter `name` (any ASCII case) of this calibration's kind into `out`:
  // 4 bytes for type 0, 8 for types 1 and 5, 16 for types 2 and 4 (text always
  // terminated). kBadCalKind, kNoSuchName, kTypeMismatch; `out` untouched on failure.
  Status ReadParameter(std::string_view name, int32_t type, void* out) const;

  int16_t ChannelCount() const { return LoadI16(header.data() + cal_header::kNchn.offset); }
  uint8_t Kind() const { return header[cal_header::kCtyp.offset]; }

  int16_t Key(int record) const { return LoadI16(Record(record) + layout::cal_record::kKey.offset); }
  float Frequency(int record) const { return LoadF32(Record(record) + layout::cal_record::kFrequency.offset); }
  int16_t Sequence(int record) const { return LoadI16(Record(record) + layout::cal_record::kSequence.offset); }
  ChannelBlock Block(int record, int channel) const {
    using namespace layout::cal_block;
    const uint8_t* p = Record(record) + RecordSize(channel);
    return ChannelBlock{{LoadF32(p + kLeadPairRe.offset), LoadF32(p + kLeadPairIm.offset)},
                        LoadF32(p + kScalar.offset),
                        LoadF32(p + kCornerFrequency.offset),
                        {LoadF32(p + kResponseRe.offset), LoadF32(p + kResponseIm.offset)}};
  }

  // Records of table t: [TableBegin(t), TableEnd(t)) for t < TableCount(). Every
  // table has an end entry, also in a file of more than 500 records (read as its
  // first 500).
  int TableCount() const { return table_count > 0 ? table_count - 1 : 0; }
  int TableBegin(int t) const { return table_start[static_cast<std::size_t>(t)]; }
  int TableEnd(int t) const { return table_start[static_cast<std::size_t>(t) + 1]; }

  std::array<uint8_t, kHeaderSize> header{};
  int32_t record_count = 0;
  int32_t record_cursor = 0;
  int32_t table_count = 0;
  std::array<int32_t, kTableStartSlots> table_start{};
  std::array<int32_t, kMaxChannels> channel_flags{};
  FrontEndModel model;
  std::array<std::array<uint8_t, kRecordCapacity>, kRecordSlots> records{};

 private:
  const uint8_t* Record(int record) const { return records[static_cast<std::size_t>(record)].data(); }
};

}  // namespace olmtsfil
