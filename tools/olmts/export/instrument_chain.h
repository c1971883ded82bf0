// The measuring chain of each exported channel as StationXML stages, from the
// library's chain of stages with units (docs/units.md): dipole or sensor, box,
// digitiser, each with its units and its gain at the chain's gain frequency.
#pragma once

#include <map>
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
  InstrumentChain(const Recording& recording, std::string box, std::vector<std::string> sensors,
                  const ChainOptions& options)
      : recording_(recording), box_(std::move(box)), sensors_(std::move(sensors)), options_(options) {}

  // Opens the chain of a stream (refusals as ToolErrors) and says on stderr
  // what the library flagged: nominal sensor values, serials unlike the table's.
  void Prepare(int stream);
  // Fills the stages, the sensitivity and the sensor of `channel`, a component
  // recorded on `stream`.
  void Describe(int stream, const Component& component, ChannelDescription& channel);

  // The frequencies at which the measured stages are listed, ascending and
  // distinct: the calibrations' record frequencies from `lowest_hz` (the
  // lowest frequency every measured stage covers) up to Nyquist (ten a decade
  // from `lowest_hz` when none lies there), forty evenly spaced from a tenth of
  // Nyquist to Nyquist where the digital filters shape the response, and the
  // gain frequency.
  static std::vector<double> ListFrequencies(const std::vector<double>& calibrated_hz, double lowest_hz, double rate_hz,
                                             double gain_frequency_hz);

 private:
  const Recording& recording_;
  std::string box_;
  std::vector<std::string> sensors_;
  ChainOptions options_;
  std::map<int, std::unique_ptr<InstrumentResponse>> chains_;  // by stream
};

}  // namespace olmts::exporting
