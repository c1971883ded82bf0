// The subcommands of olmts. Each writes its result to stdout and throws a
// ToolError for anything it cannot do.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace olmts {

struct InfoOptions {
  std::string base;
  bool concat = false;
  bool json = false;
};
void RunInfo(const InfoOptions& options);

struct ParamsOptions {
  std::string base;
  bool json = false;
};
void RunParams(const ParamsOptions& options);

struct RecordOptions {  // tags and gaps
  std::string base;
  int stream = 1;
  bool concat = false;
};
void RunTags(const RecordOptions& options);
void RunGaps(const RecordOptions& options);

struct ScansOptions {
  std::string base;
  int stream = 1;
  std::optional<std::string> start;
  std::optional<long long> count;
  std::optional<double> duration_s;
  bool concat = false;
  bool binary = false;
};
void RunScans(const ScansOptions& options);

struct SpectraOptions {
  std::string base;
  std::optional<long long> count;
};
void RunSpectra(const SpectraOptions& options);

struct ResponseOptions {
  std::string base;
  std::string box;
  std::vector<std::string> sensors;
  int sensor_kind = 2;
  int stream = 1;
  std::optional<double> fmin, fmax;
  int points = 0;
  std::vector<double> frequencies;
  bool json = false;
};
void RunResponse(const ResponseOptions& options);

void RunSample(const std::string& directory);
// Writes the synthetic survey of `sites` sites and its survey.json.
void RunSampleSurvey(const std::string& directory, int sites, int seconds_per_file);
void RunDemo(const std::string& directory);
// Hands the survey command over to the Python package; returns only on failure.
int RunSurvey(const std::vector<std::string>& arguments);

}  // namespace olmts
