// The measuring chain of every channel of one stream, from the physical field to
// the recorded counts, stage by stage with units. Built on the library's own
// exported functions, so that every client gets the numbers the responses give.
#pragma once

#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "olmtsfil.h"

namespace olmtsfil::units {

// Frequencies a calibration's records cover; {0, 0} when unknown.
struct FrequencyRange {
  double low = 0;
  double high = 0;
};

struct Stage {
  int32_t kind = 0;
  int32_t flags = 0;
  std::string name, input_units, output_units, source, serial;
  FrequencyRange range;
  // How the response is formed.
  enum class Eval { kConstant, kSensor, kBox } eval = Eval::kConstant;
  double constant = 0;       // kConstant
  CalHandle* cal = nullptr;  // kSensor
  int block = 0;             // kSensor: block of the calibration
};

struct ChannelChain {
  std::string component;  // "Ex" ... "Hz", "" when no component names the channel
  std::string units;      // physical units of the channel's input
  std::vector<Stage> stages;
};

struct ChainInputs {
  TsHandle* ts = nullptr;
  int32_t stream = 0;
  CalHandle* box = nullptr;
  FrequencyRange box_range;
  CalHandle* sensors[12] = {};
  int32_t blocks[12] = {};
  FrequencyRange sensor_ranges[12];
  int32_t options = 0;
  double gain_frequency_hz = 0;
};

class Chain {
 public:
  // Status 0 or the first reason the chain cannot be formed.
  int32_t Build(const ChainInputs& in);

  int channels() const { return static_cast<int>(channels_.size()); }
  const ChannelChain& channel(int c) const { return channels_[static_cast<std::size_t>(c)]; }
  double sample_rate() const { return rate_; }
  double delay_samples() const { return delay_samples_; }
  double delay_seconds() const { return delay_samples_ / rate_; }
  double gain_frequency() const { return gain_frequency_; }

  // Response of stage `stage` (-1: the product of all) of channel c (0-based).
  int32_t Response(int c, int stage, double f, std::complex<double>* out, bool* outside) const;
  // Box responses of all channels at f without the delay's phase, in one call.
  int32_t BoxResponses(double f, std::complex<double>* out, int32_t* channel_status) const;
  // Total responses of all channels at f (counts per physical unit); channels
  // whose response cannot be formed get 0.
  int32_t TotalResponses(double f, std::complex<double>* out) const;
  // Gain of a stage (or -1 the total) at the chain's gain frequency.
  double Gain(int c, int stage) const;

 private:
  int32_t SensorResponse(const Stage& s, double f, std::complex<double>* out) const;

  TsHandle* ts_ = nullptr;
  CalHandle* box_ = nullptr;
  int32_t stream_ = 0;
  double rate_ = 0;
  double delay_samples_ = 0;
  double gain_frequency_ = 0;
  std::vector<ChannelChain> channels_;
};

// The frequency at which a stream's chain states its gains when the caller
// names none (docs/units.md).
double DefaultGainFrequency(double rate_hz);

}  // namespace olmtsfil::units
