// The instrument's response per channel of a recording: box calibration times
// sensor calibration, as the library computes them. Used by `response` and `demo`.
#pragma once

#include <array>
#include <complex>
#include <memory>
#include <string>
#include <vector>

#include "olmts/tool.h"

namespace olmts {

struct ResponseValue {
  std::complex<double> value;
  double aux = 0;       // the library's companion value
  bool usable = false;  // false: the library could not form it
};

struct ChannelResponse {
  ResponseValue box, sensor, total;
};

double PhaseDegrees(std::complex<double> value);

class InstrumentResponse {
 public:
  // Sensor files whose channel count equals the recording's cover every channel;
  // smaller ones are given, channel after channel, to the magnetic components
  // Hx, Hy, Hz in that order. Channels left over take the nominal sensor value
  // of the table (the dipole length in metres for electric channels).
  InstrumentResponse(const Recording& recording, const std::string& box_base, const std::vector<std::string>& sensors,
                     int sensor_kind);

  int channels() const { return channels_; }
  std::string box_path() const { return box_->path(); }
  std::string SensorSource(int channel) const;
  // Responses of every channel at f Hz on `stream`; throws a ToolError naming the
  // calibration for any status but an unusable channel.
  std::vector<ChannelResponse> At(int stream, double f) const;

 private:
  struct SensorChannel {
    int file = -1;  // index into sensors_, -1 for the nominal value
    int channel = 0;
  };
  const Recording& recording_;
  int channels_ = 0;
  std::unique_ptr<Calibration> box_;
  std::vector<std::unique_ptr<Calibration>> sensors_;
  std::vector<int> sensor_channels_;  // channel count of each sensor file
  std::vector<SensorChannel> map_;    // per recording channel
  std::array<double, 12> nominal_{};
};

}  // namespace olmts
