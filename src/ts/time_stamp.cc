#include "ts/time_stamp.h"

namespace olmtsfil {
namespace {

constexpr uint32_t kDaysBeforeMonth[2][12] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335},
};

}  // namespace

TimeStamp StampFromBytes(const uint8_t* b) { return TimeStamp{b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7]}; }

uint32_t StampSeconds(const TimeStamp& s) {
  uint32_t years;
  if (s.century == 20) {
    years = s.year + 30u;
  } else if (s.century == 19) {
    if (s.year < 70) return 0;
    years = s.year - 70u;
  } else if (s.century < 19) {
    return 0;
  } else {
    return 4294967295u;
  }
  // Unsigned arithmetic throughout: out-of-range bytes wrap instead of overflowing.
  uint32_t days = 365u * years + (years + 1u) / 4u;
  if (s.month >= 1 && s.month <= 12) {
    bool leap = s.year % 4 == 0;
    days += kDaysBeforeMonth[leap ? 1 : 0][s.month - 1] + s.day - 1u;
  }
  return days * 86400u + s.hour * 3600u + s.minute * 60u + s.second;
}

int CompareStamps(TimeStamp a, TimeStamp b) {
  uint32_t x = StampSeconds(a);
  uint32_t y = StampSeconds(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

}  // namespace olmtsfil
