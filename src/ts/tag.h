// The record tag: at most 60 bytes before each data block, little-endian words.
// Its fields are laid out in common/byte_layouts.h (layout::tag); in short:
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

#include "common/byte_layouts.h"
#include "common/bytes.h"
#include "ts/time_stamp.h"

namespace olmtsfil {

// The named fields of a tag, readable with the value type codes of table
// parameters, are the rows of layout::tag::kFields; bytes without a row (16, 26,
// 27, 29-31, 43 on) cannot be read by name. The accessors below and the
// agreement rule take their offsets from the same rows.
namespace tag_field = layout::tag;

struct Tag {
  static constexpr int kMaxSize = tag_field::kMaxSize;
  static constexpr int kBaseSize = tag_field::kBaseSize;

  std::array<uint8_t, kMaxSize> bytes{};

  TimeStamp Utc() const { return StampFromBytes(At(tag_field::kUtc)); }
  uint16_t Scnt() const { return LoadU16(At(tag_field::kScnt)); }
  uint8_t Nchn() const { return *At(tag_field::kNchn); }
  uint8_t Ltag() const { return *At(tag_field::kLtag); }
  uint8_t Kind() const { return *At(tag_field::kKind); }
  uint8_t Lsmp() const { return *At(tag_field::kLsmp); }
  uint16_t Rate() const { return LoadU16(At(tag_field::kRate)); }
  int8_t Runt() const { return static_cast<int8_t>(*At(tag_field::kRunt)); }
  uint8_t TrailerFactor() const { return *At(tag_field::kTrailerFactor); }
  uint8_t Sbrec() const { return *At(tag_field::kSbrec); }
  int32_t Windx() const { return LoadI32(At(tag_field::kWindx)); }
  uint16_t Wiscn() const { return LoadU16(At(tag_field::kWiscn)); }
  uint8_t Levtp() const { return *At(tag_field::kLevtp); }
  uint8_t Leval() const { return *At(tag_field::kLeval); }
  uint8_t Nfrqt() const { return *At(tag_field::kNfrqt); }
  uint8_t Nfrqd() const { return *At(tag_field::kNfrqd); }
  const uint8_t* At(const layout::Field& field) const { return bytes.data() + field.offset; }

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
