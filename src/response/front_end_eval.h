// Evaluation of a box calibration's fitted front-end model at one frequency and
// one set of acquisition settings.
#pragma once

#include <array>
#include <cstdint>

#include "cal/front_end_model.h"
#include "common/complex.h"
#include "common/status.h"

namespace olmtsfil {

// Per-channel acquisition settings that drive one evaluation (index = channel
// number - 1; entries of channels that are not recorded stay 0).
struct FrontEndSettings {
  std::array<int32_t, FrontEndModel::kMaxChannels> gain_code{};         // -1 ... 9
  std::array<int32_t, FrontEndModel::kMaxChannels> filter_code{};       // "LPFR" bits
  std::array<int32_t, FrontEndModel::kMaxChannels> coupling_code{};     // 0 DC, 1/2 AC
  std::array<double, FrontEndModel::kMaxChannels> input_resistance{};   // ohm
  std::array<double, FrontEndModel::kMaxChannels> input_capacitance{};  // farad
};

// The analog response H(f) = H_input x H_coupling x H_gain of channels
// 0 ... nchn - 1 into out[0 ... nchn - 1]. The model is only read, so evaluations
// of one model may run side by side. kNoModel (out untouched) when the model is
// missing or nchn lies outside 1 ... 12.
Status EvalFrontEnd(double freq_hz, const FrontEndSettings& settings, int nchn, const FrontEndModel& model,
                    Complex* out);

}  // namespace olmtsfil
