#include "olmts/scan_units.h"

#include <cmath>
#include <iostream>

#include "olmts/cli.h"
#include "olmts/output.h"
#include "olmts/units_cli.h"

namespace olmts {
namespace {

constexpr double kCountsFullScale = 8388608.0;  // 2^23
constexpr std::size_t kPushScans = 4096;

}  // namespace

void AddUnitsOptions(CLI::App* command, UnitsOptions* options) {
  command
      ->add_option("--units", options->units,
                   "fraction (of full scale, the default), counts, nominal or deconvolved (the field in mV/km and "
                   "nT, through the box and sensor calibrations; docs/units.md)")
      ->check(CLI::IsMember({"fraction", "counts", "nominal", "deconvolved"}));
  command->add_option("--box", options->box, "box calibration base path (BOX.CLB), for nominal and deconvolved units");
  command->add_option("--sensor", options->sensors,
                      "sensor calibration base path (SENSOR.CLC); repeat for one file per magnetic component, in the "
                      "order Hx, Hy, Hz");
  command->add_option("--sensor-kind", options->chain.sensor_kind, "sensor calibration kind: 2, or 3 for CNOM sensors")
      ->check(CLI::IsMember({2, 3}));
  command->add_option("--fmin", options->fmin, "deconvolution: lowest frequency restored, Hz (default: docs/units.md)")
      ->check(kFinitePositive);
  command->add_option("--fmax", options->fmax, "deconvolution: highest frequency restored, Hz")->check(kFinitePositive);
  AddChainOptions(command, &options->chain);
}

ScanUnits::ScanUnits(const Recording& recording, int stream, int channels, const UnitsOptions& options, Sink sink)
    : options_(options), channels_(channels), sink_(std::move(sink)) {
  const bool wants_field = options.units == "nominal" || options.units == "deconvolved";
  if (!wants_field) {
    if (!options.box.empty() || !options.sensors.empty())
      throw ToolError("--box and --sensor serve --units nominal or deconvolved only");
    return;
  }
  if (options.box.empty()) throw ToolError("--units " + options.units + " needs the box calibration (--box)");
  instrument_ = std::make_unique<InstrumentResponse>(recording, stream, options.box, options.sensors, options.chain);
  warnings_ = instrument_->Warnings();
  for (const std::string& w : warnings_) std::cerr << "olmts: warning: " << w << '\n';
  if (instrument_->channels() != channels)
    throw ToolError(recording.Where(stream) + ": the records hold " + std::to_string(channels) +
                    " channels, the table names " + std::to_string(instrument_->channels()));
  delay_s_ = instrument_->DelaySeconds();
  OlmtsConvertOptions convert{options.fmin, options.fmax, 0, 0};
  const int32_t mode = options.units == "nominal" ? OLMTS_UNITS_NOMINAL : OLMTS_UNITS_DECONVOLVED;
  const int32_t status = olmts_converter_open(instrument_->chain(), mode, &convert, &converter_);
  if (status == OLMTS_NOT_AVAILABLE) throw ToolError("--units deconvolved: this build has no FFT library (kissfft)");
  Check(status, instrument_->box_path() + ": " + options.units + " units on stream " + std::to_string(stream));
  if (mode == OLMTS_UNITS_DECONVOLVED) {
    // A band the user widened past the calibrations restores extrapolated values: say so.
    double lo = 0, hi = 0;
    olmts_converter_band(converter_, &lo, &hi, nullptr);
    for (int c = 0; c < channels; ++c) {
      OlmtsStageInfo total{};
      if (olmts_chain_stage_info(instrument_->chain(), c + 1, OLMTS_STAGE_TOTAL, &total) != OLMTS_OK) continue;
      if ((total.fmin_hz > 0 && lo < total.fmin_hz) || (total.fmax_hz > 0 && hi > total.fmax_hz)) {
        std::cerr << "olmts: warning: the band " << Number(lo) << " ... " << Number(hi)
                  << " Hz reaches beyond the calibrations (" << Number(total.fmin_hz) << " ... "
                  << Number(total.fmax_hz) << " Hz): responses there are extrapolated\n";
        break;
      }
    }
  }
}

ScanUnits::~ScanUnits() { olmts_converter_close(&converter_); }

void ScanUnits::Describe(std::ostream& out, const std::vector<std::string>& names) const {
  if (options_.units == "fraction" && converter_ == nullptr) return;
  out << "# units: " << options_.units << '\n';
  out << "# columns: time=UTC";
  for (std::size_t c = 0; c < names.size(); ++c) {
    const std::string unit = converter_ != nullptr ? instrument_->ChannelUnits(static_cast<int>(c)) : options_.units;
    out << ", " << names[c] << '=' << unit;
  }
  out << '\n';
  if (converter_ != nullptr) {
    out << "# time: the field's, each record's stamp minus the acquisition delay of " << Number(delay_s_) << " s\n";
    if (options_.units == "deconvolved") {
      double lo = 0, hi = 0;
      int32_t block = 0;
      olmts_converter_band(converter_, &lo, &hi, &block);
      out << "# band: " << Number(lo) << " ... " << Number(hi) << " Hz restored, blocks of " << block
          << " scans; each contiguous run of records converted on its own\n";
    }
  }
}

Json ScanUnits::Metadata(const std::vector<std::string>& names) const {
  Json columns = Json::array({Json{{"name", "time"}, {"units", "UTC"}}});
  for (std::size_t c = 0; c < names.size(); ++c)
    columns.push_back(
        {{"name", names[c]},
         {"units", converter_ != nullptr ? instrument_->ChannelUnits(static_cast<int>(c)) : options_.units}});
  Json conversion = nullptr;
  if (converter_ != nullptr) {
    conversion = {{"delay_s", delay_s_}, {"time", "the field's: each record's stamp minus the acquisition delay"}};
    if (options_.units == "deconvolved") {
      double lo = 0, hi = 0;
      int32_t block = 0;
      olmts_converter_band(converter_, &lo, &hi, &block);
      conversion["band"] = {{"fmin_hz", lo}, {"fmax_hz", hi}, {"block_scans", block}};
    }
    conversion["warnings"] = warnings_;
  }
  return {{"columns", columns}, {"conversion", conversion}};
}

void ScanUnits::Push(int64_t record_start, double offset, const double* values) {
  if (converter_ == nullptr) {
    if (options_.units == "counts") {
      double counts[12];
      for (int c = 0; c < channels_; ++c) counts[c] = values[c] * kCountsFullScale;
      sink_(record_start, offset, counts);
    } else {
      sink_(record_start, offset, values);
    }
    return;
  }
  const double t = offset - delay_s_;
  const double whole = std::floor(t);
  times_.push_back({record_start + static_cast<int64_t>(whole), t - whole});
  in_.insert(in_.end(), values, values + channels_);
  if (in_.size() >= kPushScans * static_cast<std::size_t>(channels_)) {
    Check(olmts_converter_push(converter_, in_.data(), static_cast<int32_t>(in_.size() / channels_)), "conversion");
    in_.clear();
    Drain();
  }
}

void ScanUnits::EndRun() {
  if (converter_ == nullptr) return;
  if (!in_.empty())
    Check(olmts_converter_push(converter_, in_.data(), static_cast<int32_t>(in_.size() / channels_)), "conversion");
  in_.clear();
  Check(olmts_converter_finish(converter_), "conversion");
  Drain();
  times_.clear();
  times_out_ = 0;
}

void ScanUnits::Drain() {
  for (;;) {
    out_.resize(kPushScans * static_cast<std::size_t>(channels_));
    int32_t got = 0;
    Check(olmts_converter_pull(converter_, out_.data(), static_cast<int32_t>(kPushScans), &got), "conversion");
    for (int32_t i = 0; i < got; ++i) {
      const auto& [seconds, fraction] = times_[times_out_++];
      sink_(seconds, fraction, out_.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(channels_));
    }
    if (got < static_cast<int32_t>(kPushScans)) break;
  }
  // Times already written are not needed again.
  if (times_out_ > (1u << 16)) {
    times_.erase(times_.begin(), times_.begin() + static_cast<std::ptrdiff_t>(times_out_));
    times_out_ = 0;
  }
}

}  // namespace olmts
