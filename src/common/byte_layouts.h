// Where each field of the file formats sits: name, how its bytes read, offset
// and width. The reader's decoders and named-field access take their offsets
// from here, and so does the test-data writer, which otherwise computes its
// expectations on its own: this header is plain data and includes nothing of
// the library, so that sharing it shares no reading rule.
// All words are little-endian.
#pragma once

#include <cstdint>

namespace olmtsfil::layout {

// How a field's bytes read. Codes 0 ... 5 are the value type codes of the C
// interface (OLMTS_TYPE_*; common/status.h checks that they agree), which a
// named read asks for; the others describe fields that no named read delivers.
enum Reading : uint8_t {
  kInt32 = 0,      // an unsigned word of `width` bytes, zero-extended to 4
  kDouble = 1,     // IEEE 754 double
  kText16 = 2,     // text, NUL-padded; delivered as 16 bytes
  kTimeStamp = 5,  // the 8 bytes of a TimeStamp as stored
  kSigned = 16,    // a two's-complement word of `width` bytes
  kFloat32 = 17,   // IEEE 754 single
  kBytes = 18,     // bytes read as they are, or laid out by another field
};

struct Field {
  const char* name;  // empty: the row that ends a table
  uint8_t reading;   // a Reading code
  uint16_t offset;   // first byte within the record, header or block
  uint16_t width;    // bytes; at most 16 for a field read by name
};

// ---- Record tag -----------------------------------------------------------------
// At most 60 bytes before each data block; a tag with LTAG = 0 is the older
// 16-byte kind, which ends after SATC.
namespace tag {
inline constexpr int kBaseSize = 16;
inline constexpr int kMaxSize = 60;

inline constexpr Field kUtc{"UTC", kTimeStamp, 0, 8};
inline constexpr Field kSnum{"SNUM", kInt32, 8, 2};
inline constexpr Field kScnt{"SCNT", kInt32, 10, 2};  // scans in the record
inline constexpr Field kNchn{"NCHN", kInt32, 12, 1};  // channels per scan
inline constexpr Field kLtag{"LTAG", kInt32, 13, 1};  // tag length
inline constexpr Field kStat{"STAT", kInt32, 14, 1};
inline constexpr Field kSatc{"SATC", kInt32, 15, 1};
inline constexpr Field kLsmp{"LSMP", kInt32, 17, 1};  // bytes per sample
inline constexpr Field kRate{"RATE", kInt32, 18, 2};
inline constexpr Field kRunt{"RUNT", kInt32, 20, 1};  // rate unit, read as signed where it counts
inline constexpr Field kClst{"CLST", kInt32, 21, 1};  // in tags of 32 bytes or more
inline constexpr Field kTerr{"TERR", kInt32, 22, 4};
inline constexpr Field kSbrec{"SBREC", kInt32, 28, 1};  // second factor of the trailer
inline constexpr Field kWindx{"WINDX", kInt32, 32, 4};
inline constexpr Field kWiscn{"WISCN", kInt32, 36, 2};
inline constexpr Field kLevtp{"LEVTP", kInt32, 38, 1};
inline constexpr Field kLeval{"LEVAL", kInt32, 39, 1};
inline constexpr Field kNfrqt{"NFRQT", kInt32, 40, 1};
inline constexpr Field kNfrqd{"NFRQD", kInt32, 41, 1};
inline constexpr Field kNfreq{"NFREQ", kInt32, 42, 1};

// Bytes that carry no name and cannot be read by one.
inline constexpr Field kKind{"byte 16", kBytes, 16, 1};           // record kind: 0 time series, 15 spectral
inline constexpr Field kByte26{"byte 26", kBytes, 26, 1};         // must agree along a stream
inline constexpr Field kTrailerFactor{"byte 27", kBytes, 27, 1};  // per-channel factor of the trailer
inline constexpr Field kByte29{"byte 29", kBytes, 29, 1};
inline constexpr Field kBytes30{"bytes 30-31", kBytes, 30, 2};  // must agree along a stream
inline constexpr int kFirstUnnamedByte = 43;                    // 43 ... 59 are never interpreted

// The fields readable by name, in table order; ends with a row whose name is empty.
inline constexpr Field kFields[] = {
    kUtc,  kSnum,  kScnt,  kNchn,  kLtag,  kStat,  kSatc,  kLsmp,  kRate,  kRunt,         kClst,
    kTerr, kSbrec, kWindx, kWiscn, kLevtp, kLeval, kNfrqt, kNfrqd, kNfreq, {"", 0, 0, 0},
};
}  // namespace tag

// ---- Spectral cycle -------------------------------------------------------------
// Spectral records carry kind 15. Their tag lays out the coefficient cycle and
// numbers its windows with the fields below (rows of the tag above); each scan
// holds one coefficient: per channel a block of LSMP bytes, the real part from
// its first byte and the imaginary part from byte LSMP / 2, each a 24-bit sample
// in its first three bytes.
namespace spectral {
inline constexpr uint8_t kRecordKind = 15;
inline constexpr Field kCycleFields[] = {
    tag::kWindx, tag::kWiscn, tag::kLevtp, tag::kLeval, tag::kNfrqt, tag::kNfrqd, tag::kNfreq, {"", 0, 0, 0},
};
// A scan whose first sample holds these bytes (the most negative value) is a
// filler: it takes the place of a coefficient the recorder did not deliver.
inline constexpr uint8_t kFillerSample[3] = {0x00, 0x00, 0x80};
}  // namespace spectral

// ---- Table entry ----------------------------------------------------------------
// A parameter of the table file in the current layout: 32-byte records after a
// 32-byte header that starts with kSignature.
namespace table_entry {
inline constexpr int kHeaderSize = 32;
inline constexpr int kSize = 32;
inline constexpr uint8_t kSignature[8] = {0x03, 0x00, 0x2E, 0x54, 0x42, 0x4C, 0x32, 0x25};  // 3, 0, ".TBL2%"

inline constexpr Field kName{"name", kText16, 0, 8};  // NUL-terminated when shorter than 8 characters
inline constexpr Field kInfoWord{"info word", kSigned, 8, 4};
inline constexpr Field kInfoByte1{"info byte 1", kInt32, 12, 1};
inline constexpr Field kInfoByte2{"info byte 2", kInt32, 13, 1};
inline constexpr Field kSpare{"spare", kBytes, 14, 1};
inline constexpr Field kType{"type", kInt32, 15, 1};     // value type code of `value`
inline constexpr Field kValue{"value", kBytes, 16, 16};  // laid out according to `type`

inline constexpr Field kFields[] = {kName, kInfoWord, kInfoByte1, kInfoByte2, kSpare, kType, kValue, {"", 0, 0, 0}};
}  // namespace table_entry

// The older layout: 25-byte records from the start of the file, no header. Its
// fields widen into the current entry; the name is read as the entry's 8-byte
// name (up to its first NUL), value bytes 13 ... 15 are 0.
namespace older_table_entry {
inline constexpr int kSize = 25;

inline constexpr Field kName{"name", kText16, 0, 5};  // at most 4 characters and a NUL
inline constexpr Field kInfoWord{"info word", kInt32, 5, 2};
inline constexpr Field kInfoByte1{"info byte 1", kInt32, 7, 1};
inline constexpr Field kInfoByte2{"info byte 2", kInt32, 8, 1};
inline constexpr Field kType{"type", kInt32, 11, 1};
inline constexpr Field kValue{"value", kBytes, 12, 13};

inline constexpr Field kFields[] = {kName, kInfoWord, kInfoByte1, kInfoByte2, kType, kValue, {"", 0, 0, 0}};
}  // namespace older_table_entry

// ---- Calibration ----------------------------------------------------------------
// A 132-byte header, then records of 8 + 24 x NCHN bytes until the end of the file.
namespace cal_header {
inline constexpr int kSize = 132;

inline constexpr Field kUtc{"UTC", kTimeStamp, 0, 8};
inline constexpr Field kSnum{"SNUM", kInt32, 8, 2};
inline constexpr Field kNchn{"NCHN", kInt32, 10, 2};  // read as int16 by the open; 1 ... 12
inline constexpr Field kStat{"STAT", kInt32, 14, 2};
inline constexpr Field kCtyp{"CTYP", kInt32, 16, 1};  // kind: 1 box, 2 or 3 sensor
inline constexpr Field kHw{"HW", kText16, 20, 12};
inline constexpr Field kVer{"VER", kText16, 32, 12};
inline constexpr Field kTcmb{"TCMB", kInt32, 44, 4};
inline constexpr Field kTals{"TALS", kInt32, 48, 4};
inline constexpr Field kLfrq{"LFRQ", kInt32, 52, 4};
inline constexpr Field kK8sr{"K8SR", kInt32, 56, 4};
inline constexpr Field kLpfr{"LPFR", kInt32, 60, 4};
inline constexpr Field kHsn{"HSN", kText16, 64, 12};  // sensor only
inline constexpr Field kHatt{"HATT", kDouble, 76, 8};
inline constexpr Field kHnom{"HNOM", kDouble, 84, 8};  // sensor only
inline constexpr Field kCphc{"CPHC", kDouble, 92, 8};  // sensor only

// Bytes that carry no name (100 ... 131 are not interpreted either).
inline constexpr Field kBytes12{"bytes 12-13", kBytes, 12, 2};
}  // namespace cal_header

namespace cal_record {
inline constexpr Field kKey{"key", kSigned, 0, 2};
inline constexpr Field kFrequency{"frequency", kFloat32, 2, 4};  // Hz
inline constexpr Field kSequence{"sequence", kSigned, 6, 2};     // 1 or less starts a table
inline constexpr int kFirstBlock = 8;                            // channel c's block at 8 + 24c
inline constexpr int kBlockSize = 24;
}  // namespace cal_record

// One channel's block of a calibration record.
namespace cal_block {
inline constexpr Field kLeadPairRe{"lead pair re", kFloat32, 0, 4};
inline constexpr Field kLeadPairIm{"lead pair im", kFloat32, 4, 4};
inline constexpr Field kScalar{"scalar", kFloat32, 8, 4};
inline constexpr Field kCornerFrequency{"corner frequency", kFloat32, 12, 4};  // Hz
inline constexpr Field kResponseRe{"response re", kFloat32, 16, 4};
inline constexpr Field kResponseIm{"response im", kFloat32, 20, 4};
}  // namespace cal_block

}  // namespace olmtsfil::layout
