// The analog front-end model of a box calibration: per-channel element values and
// response slots tabulated at the measured frequencies. It is fitted once, when the
// box calibration is opened (front_end_fit.cc), and only read afterwards: the
// response layer evaluates it (response/front_end_eval.h).
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "common/complex.h"
#include "common/status.h"

namespace olmtsfil {

class Calibration;

// Rows of FrontEndModel::component_values, one value per channel each. The
// defaults and the variant-flag corrections are in front_end_fit.cc.
enum FrontEndElement : int {
  kDisabled = 0,  // non-zero: every stage of the channel is 0
  kR1 = 1,        // input (source) resistance; the evaluation takes it from its settings
  kC2 = 2,        // input shunt capacitance; likewise
  kC3 = 3,        // low-pass capacitor, always present
  kC4 = 4,        // switchable low-pass capacitors C4 ... C7, fitted to tables 9 ... 12
  kC5 = 5,
  kC6 = 6,
  kC7 = 7,
  kL8 = 8,  // filter branch
  kR9 = 9,
  kL10 = 10,  // second filter branch
  kR11 = 11,
  kR12 = 12,  // series filter resistance
  kL13 = 13,  // series inductance before the low-pass capacitors
  kC14 = 14,  // shunt between filter and L13
  kC15 = 15,  // resonant branch
  kR16 = 16,
  kFc1 = 17,  // coupling corners (Hz) for coupling codes 1 and 2, from tables 0 and 9
  kFc2 = 18,
  kR19 = 19,  // source resistance of the output-network model
};

struct FrontEndModel {
  static constexpr int kMaxChannels = 12;
  static constexpr int kElements = 20;
  static constexpr int kSlots = 11;
  static constexpr int kPointCapacity = 1200;

  // Response slots of a complete model (Tn: calibration table n as a slot; M: the
  // analytic output network loaded by C3 alone, at the frequencies of T3):
  //   0  T4 / M    gain code -1          6  bootstrap factor of C4 + C5 (from T13),
  //   1  T5 / M    gain code 0              input stage, filter selector 1
  //   2  T6 / M    gain code 1           7  bootstrap factor of C4 ... C7 (from T14),
  //   3  T3 / M    gain code 2              input stage, filter selector 2
  //   4  T7 / T6   second gain factor    8  T5         gain code 7
  //               (filter bit 0x40, gain 9  T6 / T5    gain code 8
  //               code not 1)            10 T3 / T6    gain code 9
  //   5  T8 / T3   second gain factor (filter bit 0x40, gain code 1)
  // Gain codes 3 ... 6 take slots 4 ... 7 by the same gain code + 1 rule. A slot loaded from a table starts with a
  // point at 0 Hz holding the real part of the table's first response, then one point per record.

  int32_t element_count = 0;  // 20 once built
  // Element k of channel c at index k * NCHN + c.
  std::array<double, kElements * kMaxChannels> component_values{};
  int32_t slot_count = 0;  // 11 after a complete build
  // Slot j holds points slot_start[j] ... slot_start[j + 1] - 1.
  std::array<int32_t, kSlots + 2> slot_start{};
  std::unique_ptr<double[]> slot_frequency;  // kPointCapacity entries, or null
  std::unique_ptr<Complex[]> slot_value;     // kPointCapacity * NCHN entries, or null

  bool Complete() const { return element_count >= kElements && slot_count >= kSlots; }
  double Element(int k, int c, int nchn) const { return component_values[static_cast<std::size_t>(k * nchn + c)]; }
};

// Builds the model of an opened box calibration whose slot buffers are allocated
// and whose channel_flags are set. A calibration that cannot carry a complete
// model (fewer than 15 tables, an empty table, points beyond the slot capacity,
// a channel count outside 1 ... 12) is left without one: every evaluation then
// reports kNoModel.
void BuildFrontEndModel(Calibration& cal);

// Value of response slot `slot` at `freq_hz` for channel `channel`: linear
// between the neighbouring points, the last point's value above the slot.
Complex InterpolateSlot(const FrontEndModel& model, int nchn, int slot, double freq_hz, int channel);

}  // namespace olmtsfil
