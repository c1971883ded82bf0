// 24-bit samples: two's complement, little-endian, in the first three bytes of a
// sample, delivered as fractions of full scale (-1.0 ... 1.0 - 2^-23).
#pragma once

#include <cstdint>

#include "common/bytes.h"

namespace olmtsfil {

// The sample at `offset` of a scan of `scan_size` bytes. Sample lengths below 3
// give no meaningful value; bytes beyond the scan then count as 0 rather than
// being read.
inline double BoundedSampleFraction(const uint8_t* scan, uint32_t scan_size, uint32_t offset) {
  if (static_cast<uint64_t>(offset) + 3 <= scan_size) return SampleFraction(scan + offset);
  uint8_t bytes[3] = {0, 0, 0};
  for (uint32_t i = 0; i < 3 && static_cast<uint64_t>(offset) + i < scan_size; ++i) bytes[i] = scan[offset + i];
  return SampleFraction(bytes);
}

}  // namespace olmtsfil
