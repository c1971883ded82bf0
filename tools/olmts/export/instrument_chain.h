// The measuring chain of each exported channel as StationXML stages, from the
// recording's table and the box and sensor calibrations through the library's
// response functions: electrode line or sensor, box, digitiser.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "olmts/export/seed_codes.h"
#include "olmts/export/station_xml.h"
#include "olmts/response.h"
#include "olmts/tool.h"

namespace olmts::exporting {

class InstrumentChain {
 public:
  InstrumentChain(const Recording& recording, const std::string& box, const std::vector<std::string>& sensors,
                  int sensor_kind);

  // Fills the stages, the sensitivity and the sensor of `channel`, a component
  // recorded on `stream` at `rate_hz`.
  void Describe(int stream, double rate_hz, const Component& component, ChannelDescription& channel) const;

  // The frequencies at which the measured stages are listed: logarithmic from
  // five decades below Nyquist, denser in the last decade, up to Nyquist, and
  // the sensitivity frequency.
  static std::vector<double> ListFrequencies(double rate_hz, double sensitivity_frequency_hz);
  // Where the sensitivity is stated: 1 Hz, or a tenth of the rate for slower
  // streams; inside the passband of every stream the recorder writes.
  static double SensitivityFrequency(double rate_hz);

 private:
  const Recording& recording_;
  InstrumentResponse response_;
  double full_scale_v_ = 6.4;
  std::vector<double> dipole_m_;  // per channel, 0 where the table gives none
};

}  // namespace olmts::exporting
