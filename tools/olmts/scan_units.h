// Scans in the units the user asked for: fractions of full scale as read,
// counts, or the field through the library's chain (nominal or deconvolved).
// The field's rows come out at the field's time (stamp minus the acquisition
// delay) and a deconvolution never runs across a gap: each contiguous run of
// records is converted on its own.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "olmts/output.h"
#include "olmts/response.h"
#include "olmts/tool.h"

namespace olmts {

struct UnitsOptions {
  std::string units = "fraction";  // fraction, counts, nominal, deconvolved
  std::string box;
  std::vector<std::string> sensors;
  ChainOptions chain;
  double fmin = 0, fmax = 0;  // deconvolution band, 0: default
};

// --units, --box, --sensor, --sensor-kind and the chain options.
void AddUnitsOptions(CLI::App* command, UnitsOptions* options);

class ScanUnits {
 public:
  // A row ready: the time (whole seconds since 1970 and a fraction in [0, 1))
  // and one value per channel.
  using Sink = std::function<void(int64_t seconds, double fraction, const double* values)>;

  ScanUnits(const Recording& recording, int stream, int channels, const UnitsOptions& options, Sink sink);
  ~ScanUnits();

  bool field() const { return converter_ != nullptr; }
  // Comment lines naming the units of every column (nothing for the default).
  void Describe(std::ostream& out, const std::vector<std::string>& names) const;
  // The same for JSON output: each column's name and units ("columns"), and for
  // the field the delay applied, the band restored and the chain's warnings
  // ("conversion", null for fractions and counts).
  Json Metadata(const std::vector<std::string>& names) const;
  // One scan stamped record_start + offset seconds.
  void Push(int64_t record_start, double offset, const double* values);
  // The run of records ends (a gap, or the end of what is read).
  void EndRun();

 private:
  void Drain();

  UnitsOptions options_;
  int channels_ = 0;
  Sink sink_;
  std::unique_ptr<InstrumentResponse> instrument_;
  OlmtsConverter* converter_ = nullptr;
  double delay_s_ = 0;
  std::vector<std::string> warnings_;
  std::vector<std::pair<int64_t, double>> times_;  // of the scans pushed, not yet out
  std::size_t times_out_ = 0;
  std::vector<double> in_, out_;
};

}  // namespace olmts
