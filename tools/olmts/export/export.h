// `olmts export`: a recording's time series as miniSEED 2 files of counts, one
// per channel and stream, with a StationXML document describing the channels
// and their responses.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

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

// Adds the subcommand and its options to the tool; returns it so that main can
// tell whether it was chosen.
CLI::App* AddExportCommand(CLI::App& app, ExportOptions& options);

// Throws a ToolError for what it cannot do; returns the exit status otherwise
// (0, or the tool's status for data read with problems).
int RunExport(const ExportOptions& options);

// Whether this build can export (libmseed and libxml2 were found).
bool ExportAvailable();

}  // namespace olmts
