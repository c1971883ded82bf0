// The analog front-end model of a box calibration: per-channel element values and
// response slots tabulated at the measured frequencies, built once at open.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "common/status.h"
#include "response/complex.h"

namespace olmtsfil {

class Calibration;

struct FrontEndModel {
  static constexpr int kMaxChannels = 12;
  static constexpr int kElements = 20;
  static constexpr int kSlots = 11;
  static constexpr int kPointCapacity = 1200;

  int32_t element_count = 0;  // 20 once built
  // Element k of channel c at index k * NCHN + c.
  std::array<double, kElements * kMaxChannels> component_values{};
  int32_t slot_count = 0;  // 11 after a complete build
  std::array<int32_t, kSlots + 2> slot_start{};
  std::unique_ptr<double[]> slot_frequency;  // kPointCapacity entries, or null
  std::unique_ptr<Complex[]> slot_value;     // kPointCapacity * NCHN entries, or null
};

// Builds the front-end model of a box calibration from its tables into
// cal.model; called once by Calibration::Open when the model buffers exist.
void BuildFrontEndModel(Calibration& cal);

}  // namespace olmtsfil
