// The StationXML 1.2 document of an export: one network, one station, one
// channel per exported component and stream, each with its full response in the
// FDSN direction (physical quantity in, counts out).
#pragma once

#include <complex>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace olmts::exporting {

struct ResponseStage {
  enum class Kind { kGain, kList };
  Kind kind = Kind::kGain;
  std::string name;         // e.g. "electrode line", "box", "digitiser"
  std::string description;  // where the values come from
  std::string input_units, output_units;
  double gain = 1;  // StageGain: the stage's magnitude at gain_frequency_hz
  double gain_frequency_hz = 0;
  bool digital = false;  // carries the Decimation: the rate and the delay
  double sample_rate_hz = 0;
  double delay_s = 0;
  // kList: the stage's response divided by `gain`, at each frequency.
  std::vector<double> frequencies_hz;
  std::vector<std::complex<double>> normalized;
};

struct ChannelDescription {
  std::string code, location;
  std::string component;  // "Ex" ... "Hz"
  int channel_number = 0;
  double sample_rate_hz = 0;
  double azimuth_deg = 0, dip_deg = 0;
  std::string units;                 // of the physical quantity
  int64_t start_us = 0, end_us = 0;  // first and last sample
  std::string sensor_description, sensor_serial;
  std::vector<ResponseStage> stages;  // empty: no response known
  double sensitivity = 0, sensitivity_frequency_hz = 0;
};

struct StationDescription {
  std::string network, station, site_name;
  std::optional<double> latitude, longitude, elevation;
  std::string hardware, board;
  std::vector<ChannelDescription> channels;
};

// The document as text; throws a ToolError when libxml2 fails.
std::string StationXml(const StationDescription& station);

// "2026-03-14T23:50:00.000000Z"
std::string IsoTime(int64_t microseconds_since_1970);

}  // namespace olmts::exporting
