// `olmts export`: a recording's time series as miniSEED 2 files of counts, one
// per channel and stream, with a StationXML document describing the channels
// and their responses.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace olmts {

struct ExportOptions {
  std::string base;
  std::string format = "mseed";
  std::string box;
  std::vector<std::string> sensors;
  int sensor_kind = 2;
  std::string network = "XX";
  std::optional<std::string> station;
  std::string location;
  std::vector<int> streams;  // empty: every time-series stream
  std::string out;
  bool concat = false;
};

// Throws a ToolError for what it cannot do. A stream that stops early on a
// damaged record is reported on stderr and noted as a read problem; its files
// hold every scan before the fault.
void RunExport(const ExportOptions& options);

// Whether this build can export (libmseed and libxml2 were found).
bool ExportAvailable();

}  // namespace olmts
