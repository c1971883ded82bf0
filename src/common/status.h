// Status codes of the core, the same numbers as the OLMTS_* constants of the
// public header (locked below). Every outcome of the library is one of these.
#pragma once

#include <cstdint>

#include "common/byte_layouts.h"
#include "olmtsfil.h"

namespace olmtsfil {

enum class Status : int32_t {
  kOk = 0,
  kBadSeekMode = 1,
  kCombUnsupported = 131,
  kDecimationUnsupported = 132,
  kNoSuchName = 201,
  kTypeMismatch = 202,
  kGap = 1201,
  kSeekLater = 1202,
  kEndOfData = 1220,
  kReadError = 1221,
  kNullHandle = 1222,  // also: ReadRecHT buffer smaller than the data block
  kBadStream = 1223,
  kTagMismatch = 1225,
  kPathTooLong = 1226,
  kCalTooLarge = 1227,
  kNullCalHandle = 1228,
  kOutOfCalRange = 1229,
  kBadCalKind = 1230,
  kCalPathTooLong = 1231,
  kNoResponse = 1232,
  kBadRateCode = 1233,
  kNoMemory = 1234,
  kTableNotOpened = 1235,
  kCannotReopen = 1237,
  kCalNotOpened = 1239,
  kCalHeaderShort = 1240,
  kNoModel = 1245,
  kChannelCountMismatch = 1246,
  kCalRecordCount = 1247,
  kBadWindow = 1248,
};

constexpr int32_t ToInt(Status s) { return static_cast<int32_t>(s); }

#define OLMTSFIL_LOCK_STATUS(name, code) \
  static_assert(static_cast<int32_t>(Status::name) == (code), #name " differs from the public header")
OLMTSFIL_LOCK_STATUS(kOk, OLMTS_OK);
OLMTSFIL_LOCK_STATUS(kBadSeekMode, OLMTS_BAD_SEEK_MODE);
OLMTSFIL_LOCK_STATUS(kCombUnsupported, OLMTS_COMB_UNSUPPORTED);
OLMTSFIL_LOCK_STATUS(kDecimationUnsupported, OLMTS_DECIMATION_UNSUPPORTED);
OLMTSFIL_LOCK_STATUS(kNoSuchName, OLMTS_NO_SUCH_NAME);
OLMTSFIL_LOCK_STATUS(kTypeMismatch, OLMTS_TYPE_MISMATCH);
OLMTSFIL_LOCK_STATUS(kGap, OLMTS_GAP);
OLMTSFIL_LOCK_STATUS(kSeekLater, OLMTS_SEEK_LATER);
OLMTSFIL_LOCK_STATUS(kEndOfData, OLMTS_END_OF_DATA);
OLMTSFIL_LOCK_STATUS(kReadError, OLMTS_READ_ERROR);
OLMTSFIL_LOCK_STATUS(kNullHandle, OLMTS_NULL_HANDLE);
OLMTSFIL_LOCK_STATUS(kBadStream, OLMTS_BAD_STREAM);
OLMTSFIL_LOCK_STATUS(kTagMismatch, OLMTS_TAG_MISMATCH);
OLMTSFIL_LOCK_STATUS(kPathTooLong, OLMTS_PATH_TOO_LONG);
OLMTSFIL_LOCK_STATUS(kCalTooLarge, OLMTS_CAL_TOO_LARGE);
OLMTSFIL_LOCK_STATUS(kNullCalHandle, OLMTS_NULL_CAL_HANDLE);
OLMTSFIL_LOCK_STATUS(kOutOfCalRange, OLMTS_OUT_OF_CAL_RANGE);
OLMTSFIL_LOCK_STATUS(kBadCalKind, OLMTS_BAD_CAL_KIND);
OLMTSFIL_LOCK_STATUS(kCalPathTooLong, OLMTS_CAL_PATH_TOO_LONG);
OLMTSFIL_LOCK_STATUS(kNoResponse, OLMTS_NO_RESPONSE);
OLMTSFIL_LOCK_STATUS(kBadRateCode, OLMTS_BAD_RATE_CODE);
OLMTSFIL_LOCK_STATUS(kNoMemory, OLMTS_NO_MEMORY);
OLMTSFIL_LOCK_STATUS(kTableNotOpened, OLMTS_TABLE_NOT_OPENED);
OLMTSFIL_LOCK_STATUS(kCannotReopen, OLMTS_CANNOT_REOPEN);
OLMTSFIL_LOCK_STATUS(kCalNotOpened, OLMTS_CAL_NOT_OPENED);
OLMTSFIL_LOCK_STATUS(kCalHeaderShort, OLMTS_CAL_HEADER_SHORT);
OLMTSFIL_LOCK_STATUS(kNoModel, OLMTS_NO_MODEL);
OLMTSFIL_LOCK_STATUS(kChannelCountMismatch, OLMTS_CHANNEL_COUNT_MISMATCH);
OLMTSFIL_LOCK_STATUS(kCalRecordCount, OLMTS_CAL_RECORD_COUNT);
OLMTSFIL_LOCK_STATUS(kBadWindow, OLMTS_BAD_WINDOW);
#undef OLMTSFIL_LOCK_STATUS

// Value type codes shared by table parameters, calibration parameters and tag fields.
enum class ValueType : uint8_t {
  kInt32 = OLMTS_TYPE_INT32,
  kDouble = OLMTS_TYPE_DOUBLE,
  kText16 = OLMTS_TYPE_TEXT16,
  kNone = OLMTS_TYPE_NONE,
  kText = OLMTS_TYPE_TEXT,
  kTimeStamp = OLMTS_TYPE_TIMESTAMP,
};
// The byte layouts name the codes of the fields a named read delivers.
static_assert(layout::kInt32 == OLMTS_TYPE_INT32 && layout::kDouble == OLMTS_TYPE_DOUBLE &&
              layout::kText16 == OLMTS_TYPE_TEXT16 && layout::kTimeStamp == OLMTS_TYPE_TIMESTAMP);

}  // namespace olmtsfil
