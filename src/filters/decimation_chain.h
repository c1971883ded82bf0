// The recorder's decimation chains ("TALS"), each described once: the stages a
// sample passes from the converter down to the stream's rate fs, with each
// stage's rate and delay. The decimation magnitude (decimation.cc) and the
// acquisition delay (acquisition_delay.cc) are both read off these entries.
#pragma once

#include <cstdint>

namespace olmtsfil {

// The stages before the fixed low-rate ones.
enum class ChainFront {
  // A sinc of `sinc_order` from the converter straight to fs.
  kSinc,
  // A sinc of order 5 to 2 fs, then a FIR stage at fs.
  kSincFir,
  // A front stage at `front_rate` (the FIR gain for kFir, the edge taper for
  // kTaper); below that rate a sinc of `sinc_order` either straight to fs
  // (`sinc_to_fs`) or to 2 fs followed by a FIR stage of 25 samples at fs.
  kFir,
  kTaper,
  // The edge taper times the cosine shape at `front_rate`, then a sinc of
  // `sinc_order` from that rate to fs.
  kTaperCosine,
  // The edge taper at `front_rate`, then on stream k > 0 a sinc of `sinc_order`
  // to front_rate / 2^k; no delay is modelled.
  kTaperToStreamRate,
};

// The fixed FIR stages at 2400 Hz and 150 Hz (25 samples each, each after a sinc
// stage at twice its rate) that low rates pass through.
enum class LowRateStages {
  kNone,
  // The 2400 Hz stage on every stream but 3. The magnitude has it at any rate;
  // the delay counts it at rates of 2400 Hz and below.
  k2400ExceptStream3,
  // Each of the 2400 Hz and 150 Hz stages at rates below its own.
  kBelowTheirRates,
};

// Rates of the fixed low-rate stages, the delay of each of their FIR stages (and
// of the FIR at fs of the tapered chains) in samples at its own rate.
inline constexpr double kStage2400Rate = 2400.0;
inline constexpr double kStage150Rate = 150.0;
inline constexpr double kFirStageDelay = 25.0;
// Order of the sinc stage before each low-rate FIR stage, at twice its rate.
inline constexpr int32_t kLowStageSincOrder = 5;

struct DecimationChain {
  ChainFront front;
  double front_rate;   // Hz; 0 for kSinc and kSincFir
  double front_delay;  // samples: at fs for kSinc and kSincFir, at front_rate otherwise
  int32_t sinc_order;  // power of the sinc stage
  double sinc_delay;   // samples of the sinc stage at its own output rate
  bool sinc_to_fs;     // kFir, kTaper: the sinc runs straight to fs
  LowRateStages low_stages;
  bool magnitude_low_stages;  // false where only the delay counts the low-rate stages
};

namespace chain_detail {
// The chains with a 24 kHz front stage of 38.7 samples, and those with a
// 37.2-sample taper-and-cosine front at `rate`.
constexpr DecimationChain Tapered(ChainFront front, int32_t order, double sinc_delay, bool to_fs,
                                  bool magnitude_low_stages) {
  return {front, 24000.0, 38.7, order, sinc_delay, to_fs, LowRateStages::kBelowTheirRates, magnitude_low_stages};
}
constexpr DecimationChain Cosine(double rate) {
  return {ChainFront::kTaperCosine, rate, 37.2, 11, 5.5, true, LowRateStages::kNone, true};
}
}  // namespace chain_detail

// Indexed by chain type 0 ... 17; `known` is false for types without a model.
struct ChainEntry {
  bool known;
  DecimationChain chain;
};

inline constexpr ChainEntry kDecimationChains[] = {
    {false, {}},                                                                                        // 0
    {true, {ChainFront::kSinc, 0, 2.5, 5, 2.5, true, LowRateStages::kNone, true}},                      // 1
    {true, {ChainFront::kSincFir, 0, 26.25, 5, 2.5, false, LowRateStages::k2400ExceptStream3, true}},   // 2
    {true, {ChainFront::kSincFir, 0, 26.25, 5, 2.5, false, LowRateStages::kNone, true}},                // 3
    {true, chain_detail::Tapered(ChainFront::kFir, 5, 2.5, false, true)},                               // 4
    {true, chain_detail::Tapered(ChainFront::kTaper, 5, 2.5, false, true)},                             // 5
    {true, chain_detail::Tapered(ChainFront::kTaper, 5, 2.5, false, true)},                             // 6
    {true, chain_detail::Tapered(ChainFront::kTaper, 5, 2.5, true, true)},                              // 7
    {true, {ChainFront::kSinc, 0, 2.5, 5, 2.5, true, LowRateStages::k2400ExceptStream3, true}},         // 8
    {false, {}},                                                                                        // 9
    {true, {ChainFront::kSinc, 0, 5.5, 11, 5.5, true, LowRateStages::kNone, true}},                     // 10
    {true, chain_detail::Tapered(ChainFront::kTaper, 11, 5.5, false, false)},                           // 11
    {true, chain_detail::Tapered(ChainFront::kTaper, 11, 5.5, true, false)},                            // 12
    {true, chain_detail::Cosine(24000.0)},                                                              // 13
    {true, chain_detail::Cosine(48000.0)},                                                              // 14
    {true, chain_detail::Cosine(96000.0)},                                                              // 15
    {false, {}},                                                                                        // 16
    {true, {ChainFront::kTaperToStreamRate, 24000.0, 0.0, 10, 0.0, true, LowRateStages::kNone, true}},  // 17
};

// The description of chain `chain_type`; null for 9, 16 and types outside 1 ... 17.
inline const DecimationChain* FindDecimationChain(int32_t chain_type) {
  constexpr int32_t kCount = static_cast<int32_t>(sizeof(kDecimationChains) / sizeof(kDecimationChains[0]));
  if (chain_type < 0 || chain_type >= kCount) return nullptr;
  const ChainEntry& entry = kDecimationChains[chain_type];
  return entry.known ? &entry.chain : nullptr;
}

}  // namespace olmtsfil
