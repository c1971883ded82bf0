// The instrument's response per channel of a recording and one stream, as the
// library's chain of stages forms it (docs/units.md): the first stage (dipole
// or sensor), the box, the digitiser. Used by `response`, `demo` and the
// conversions of `scans` and `spectra`.
#pragma once

#include <complex>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "olmts/tool.h"

namespace olmts {

struct ResponseValue {
  std::complex<double> value;
  double aux = 0;        // the library's companion value (box, calibrated sensors)
  bool usable = false;   // false: the library could not form it
  bool outside = false;  // the frequency lies outside the calibration's records
};

// One frequency of one channel. "box" is the box without the delay's linear
// phase; library_box is CalcBoxRespHT's own value, with it.
struct ChannelResponse {
  ResponseValue sensor;       // dipole (V per mV/km) or sensor (V/nT)
  ResponseValue box;          // V/V
  ResponseValue library_box;  // V/V, with the delay's phase
  ResponseValue total;        // sensor x box, V per physical unit
};

struct ChainOptions {
  int sensor_kind = 2;
  bool require_sensors = false;
  bool force_box = false;
  std::optional<double> gain_frequency;
};

double PhaseDegrees(std::complex<double> value);

class InstrumentResponse {
 public:
  // Sensor files whose channel count equals the recording's cover every channel;
  // smaller ones are given, channel after channel, to the magnetic components
  // Hx, Hy, Hz in that order. A magnetic channel left over takes the table's
  // nominal sensor value (see Warnings()).
  InstrumentResponse(const Recording& recording, int stream, const std::string& box_base,
                     const std::vector<std::string>& sensors, const ChainOptions& options);
  ~InstrumentResponse();
  InstrumentResponse(const InstrumentResponse&) = delete;
  InstrumentResponse& operator=(const InstrumentResponse&) = delete;

  OlmtsChain* chain() const { return chain_; }
  int channels() const { return channels_; }
  int stream() const { return stream_; }
  std::string box_path() const { return box_->path(); }
  const Calibration& box_calibration() const { return *box_; }
  // The sensor calibration the chain uses for a channel (0-based), or null.
  const Calibration* sensor_calibration(int channel) const {
    const SensorChannel& s = map_.at(static_cast<std::size_t>(channel));
    return s.file < 0 ? nullptr : sensors_[static_cast<std::size_t>(s.file)].get();
  }
  // Where the first stage of a channel comes from, with file names.
  std::string SensorSource(int channel) const;
  std::string ChannelUnits(int channel) const;            // "mV/km", "nT"
  std::vector<OlmtsStageInfo> Stages(int channel) const;  // in order, then the total
  double DelaySamples() const;
  double DelaySeconds() const;
  // What the user must hear about the chain: nominal stand-ins, serial mismatches.
  std::vector<std::string> Warnings() const;
  // Responses of every channel at f Hz; throws a ToolError naming the
  // calibration for any status but an unusable channel.
  std::vector<ChannelResponse> At(double f) const;

 private:
  struct SensorChannel {
    int file = -1;  // index into sensors_, -1: none
    int channel = 0;
  };
  const Recording& recording_;
  int stream_ = 0;
  int channels_ = 0;
  std::unique_ptr<Calibration> box_;
  std::vector<std::unique_ptr<Calibration>> sensors_;
  std::vector<SensorChannel> map_;  // per recording channel
  OlmtsChain* chain_ = nullptr;
};

}  // namespace olmts
