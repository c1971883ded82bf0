// The record tag: at most 60 bytes before each data block, little-endian words.
// kTagFieldTable below is the one list of its named fields; in short:
//   0  8 "UTC"   TimeStamp          21 1 "CLST"  (tags of 32 bytes or more)
//   8  2 "SNUM"                     22 4 "TERR"
//  10  2 "SCNT"  scans per record   26 1 (must agree)
//  12  1 "NCHN"  channels per scan  27 1 per-channel factor of the trailer
//  13  1 "LTAG"  tag length; 0 = older 16-byte tag
//  14  1 "STAT"                     28 1 "SBREC" second factor of the trailer
//  15  1 "SATC"                     30 2 (must agree)
//  16  1 record kind (0, 15 spectral) 32 4 "WINDX"  36 2 "WISCN"
//  17  1 "LSMP"  bytes per sample   38 1 "LEVTP"  39 1 "LEVAL"
//  18  2 "RATE"                     40 1 "NFRQT"  41 1 "NFRQD"  42 1 "NFREQ"
//  20  1 "RUNT"  signed rate unit
// The data block that follows has SCNT x NCHN x LSMP bytes of scans and a trailer
// of NCHN x byte27 x SBREC bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "common/bytes.h"
#include "ts/time_stamp.h"

namespace olmtsfil {

// The named fields of a tag, readable with the value type codes of table
// parameters. Bytes without a row (16, 26, 27, 29-31, 43 on) cannot be read by
// name. The accessors of Tag and the agreement rule take their offsets from here.
struct TagField {
  const char* name;
  uint8_t type;    // ValueType: 0 integer (zero-extended to 4 bytes) or 5 time stamp
  uint8_t offset;  // first byte in the tag
  uint8_t length;  // at most 16
};

// Rows in table order; ends with a row whose name is empty.
inline constexpr TagField kTagFieldTable[] = {
    {"UTC", 5, 0, 8},    {"SNUM", 0, 8, 2},   {"SCNT", 0, 10, 2},  {"NCHN", 0, 12, 1},  {"LTAG", 0, 13, 1},
    {"STAT", 0, 14, 1},  {"SATC", 0, 15, 1},  {"LSMP", 0, 17, 1},  {"RATE", 0, 18, 2},  {"RUNT", 0, 20, 1},
    {"CLST", 0, 21, 1},  {"TERR", 0, 22, 4},  {"SBREC", 0, 28, 1}, {"WINDX", 0, 32, 4}, {"WISCN", 0, 36, 2},
    {"LEVTP", 0, 38, 1}, {"LEVAL", 0, 39, 1}, {"NFRQT", 0, 40, 1}, {"NFRQD", 0, 41, 1}, {"NFREQ", 0, 42, 1},
    {"", 0, 0, 0},
};

// The row of a field named at compile time; a name not in the table does not compile.
consteval TagField TagFieldNamed(std::string_view name) {
  for (const TagField& field : kTagFieldTable)
    if (name == field.name) return field;
  throw "no such tag field";
}
consteval uint8_t TagOffset(std::string_view name) { return TagFieldNamed(name).offset; }

// Bytes of the tag that carry no name.
inline constexpr uint8_t kTagKindOffset = 16;           // record kind: 0 time series, 15 spectral
inline constexpr uint8_t kTagTrailerFactorOffset = 27;  // per-channel factor of the trailer

struct Tag {
  static constexpr int kMaxSize = 60;
  static constexpr int kBaseSize = 16;

  std::array<uint8_t, kMaxSize> bytes{};

  TimeStamp Utc() const { return StampFromBytes(bytes.data() + TagOffset("UTC")); }
  uint16_t Snum() const { return LoadU16(&bytes[TagOffset("SNUM")]); }
  uint16_t Scnt() const { return LoadU16(&bytes[TagOffset("SCNT")]); }
  uint8_t Nchn() const { return bytes[TagOffset("NCHN")]; }
  uint8_t Ltag() const { return bytes[TagOffset("LTAG")]; }
  uint8_t Kind() const { return bytes[kTagKindOffset]; }
  uint8_t Lsmp() const { return bytes[TagOffset("LSMP")]; }
  uint16_t Rate() const { return LoadU16(&bytes[TagOffset("RATE")]); }
  int8_t Runt() const { return static_cast<int8_t>(bytes[TagOffset("RUNT")]); }
  uint8_t TrailerFactor() const { return bytes[kTagTrailerFactorOffset]; }
  uint8_t Sbrec() const { return bytes[TagOffset("SBREC")]; }
  int32_t Windx() const { return LoadI32(&bytes[TagOffset("WINDX")]); }
  uint16_t Wiscn() const { return LoadU16(&bytes[TagOffset("WISCN")]); }
  uint8_t Levtp() const { return bytes[TagOffset("LEVTP")]; }
  uint8_t Leval() const { return bytes[TagOffset("LEVAL")]; }
  uint8_t Nfrqt() const { return bytes[TagOffset("NFRQT")]; }
  uint8_t Nfrqd() const { return bytes[TagOffset("NFRQD")]; }

  // Bytes of one scan: NCHN x LSMP.
  uint32_t ScanSize() const { return static_cast<uint32_t>(Nchn()) * Lsmp(); }
  // Bytes of the data block; up to about 4.3 GB, hence 64 bits.
  uint64_t DataBlockSize() const {
    return static_cast<uint64_t>(Scnt()) * Nchn() * Lsmp() + static_cast<uint64_t>(Nchn()) * TrailerFactor() * Sbrec();
  }
};

// True when `tag` may follow `first` in one stream: equal SNUM, SCNT, NCHN, LTAG,
// kind, LSMP, bytes 26-28 and 30-31; kind 0 adds RUNT and RATE; kind 15 adds
// RUNT, RATE, LEVTP, LEVAL and NFRQD.
bool TagsAgree(const Tag& first, const Tag& tag);

// Rate class of a record of the shared ".TSH" file: the stream (2, 3 or 4) that
// takes records of this RATE.
int RateClassStream(const Tag& tag);

// The two readings of the RUNT byte. Recordings rely on each where it is used, so
// they are kept apart here rather than made to agree.
//
// Samples per second of a time-series tag as the gap test counts them: RATE per
// second when RUNT is 0, per minute for any other value.
double GapTestRate(const Tag& tag);
// Hertz per unit of RATE for the spectral frequencies: 1 (RUNT 0), 1/60 (1),
// 1/3600 (2), 10 (0xFF), 100 (0xFE); 0 for any other code, which gives every
// frequency of the cycle as 0.
double SpectralRateUnit(const Tag& tag);

}  // namespace olmtsfil
