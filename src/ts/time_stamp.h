// Calendar time stamps of records and calibrations: 8 bytes, no time zone,
// compared and differenced as calendar values.
#pragma once

#include <cstdint>

#include "olmtsfil.h"

namespace olmtsfil {

using ::TimeStamp;

TimeStamp StampFromBytes(const uint8_t* bytes);

// Seconds since 1970-01-01 00:00:00 in unsigned 32-bit arithmetic. Stamps before
// 1970 (or of a century below 19) give 0, a century above 20 gives 4294967295.
uint32_t StampSeconds(const TimeStamp& stamp);

// -1, 0 or 1 as `a` is earlier than, equal to or later than `b`.
int CompareStamps(TimeStamp a, TimeStamp b);

}  // namespace olmtsfil
