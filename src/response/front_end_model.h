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

// Per-channel acquisition settings that drive one evaluation (index = channel
// number - 1; entries of channels that are not recorded stay 0).
struct FrontEndSettings {
  std::array<int32_t, FrontEndModel::kMaxChannels> gain_code{};      // -1 ... 9
  std::array<int32_t, FrontEndModel::kMaxChannels> filter_code{};    // "LPFR" bits
  std::array<int32_t, FrontEndModel::kMaxChannels> coupling_code{};  // 0 DC, 1/2 AC
  std::array<double, FrontEndModel::kMaxChannels> input_resistance{};   // ohm
  std::array<double, FrontEndModel::kMaxChannels> input_capacitance{};  // farad
};

// Builds the model of an opened box calibration whose slot buffers are allocated
// and whose channel_flags are set. A calibration that cannot carry a complete
// model (fewer than 15 tables, an empty table, points beyond the slot capacity,
// a channel count outside 1 ... 12) is left without one: every evaluation then
// reports kNoModel.
void BuildFrontEndModel(Calibration& cal);

// The analog response H(f) = H_input x H_coupling x H_gain of channels
// 0 ... nchn - 1 into out[0 ... nchn - 1]. Writes rows 1 and 2 (input resistance
// and capacitance) of the model, so one model serves one evaluation at a time.
// kNoModel (out untouched) when the model is missing.
Status EvalFrontEnd(double freq_hz, const FrontEndSettings& settings, int nchn, FrontEndModel& model, Complex* out);

// Value of response slot `slot` at `freq_hz` for channel `channel`: linear
// between the neighbouring points, the last point's value above the slot.
Complex InterpolateSlot(const FrontEndModel& model, int nchn, int slot, double freq_hz, int channel);

}  // namespace olmtsfil
