// `response`: the instrument's response per channel at chosen frequencies, from
// a box calibration and the sensor calibrations, and the stream's acquisition
// delay.
#include <charconv>
#include <cmath>
#include <complex>
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "olmts/cli.h"
#include "olmts/commands.h"
#include "olmts/output.h"
#include "olmts/response.h"
#include "olmts/tool.h"
#include "olmts/units_cli.h"

namespace olmts {
namespace {

struct ResponseOptions {
  std::string base;
  std::string box;
  std::vector<std::string> sensors;
  ChainOptions chain;
  int stream = 1;
  std::optional<double> fmin, fmax;
  int points = 0;
  std::vector<double> frequencies;
  bool json = false;
};

constexpr const char* kBoxMeaning =
    "box: analog front end x digital filters, V/V, without the delay's linear phase (the delay is the time shift "
    "below); box_with_delay: the library's own value, with it";

std::vector<double> Frequencies(const ResponseOptions& options) {
  if (!options.frequencies.empty()) return options.frequencies;
  if (!options.fmin || !options.fmax || options.points <= 0)
    throw ToolError("response: give --freq F ... or --fmin, --fmax and --points");
  if (*options.fmax < *options.fmin) throw ToolError("response: --fmax is below --fmin");
  std::vector<double> out;
  const int n = options.points;
  for (int i = 0; i < n; ++i) {
    const double x = n == 1 ? 0.0 : static_cast<double>(i) / (n - 1);
    out.push_back(*options.fmin * std::pow(*options.fmax / *options.fmin, x));
  }
  return out;
}

Json Part(const ResponseValue& v, const std::string& units) {
  Json j;
  j["re"] = v.value.real();
  j["im"] = v.value.imag();
  j["magnitude"] = std::abs(v.value);
  j["phase_deg"] = PhaseDegrees(v.value);
  j["units"] = units;
  j["aux"] = v.aux;
  j["usable"] = v.usable;
  j["outside_calibration"] = v.outside;
  return j;
}

Json StageJson(const OlmtsStageInfo& s) {
  return {{"name", s.name},
          {"input_units", s.input_units},
          {"output_units", s.output_units},
          {"gain", s.gain},
          {"gain_frequency_hz", s.gain_frequency_hz},
          {"calibrated_hz", {s.fmin_hz, s.fmax_hz}},
          {"source", s.source},
          {"serial", s.serial},
          {"table_nominal", (s.flags & OLMTS_STAGE_TABLE_NOMINAL) != 0},
          {"serial_mismatch", (s.flags & OLMTS_STAGE_SERIAL_MISMATCH) != 0},
          {"unusable", (s.flags & OLMTS_STAGE_UNUSABLE) != 0}};
}

void RunResponse(const ResponseOptions& options) {
  if ((options.fmin || options.fmax || options.points) && !(options.fmin && options.fmax && options.points > 0))
    throw ToolError("response: a sweep needs --fmin, --fmax and --points");
  const std::vector<double> frequencies = Frequencies(options);
  Recording recording(options.base);
  recording.RequireStream(options.stream);
  const int stream = options.stream;
  InstrumentResponse instrument(recording, stream, options.box, options.sensors, options.chain);
  const double rate = recording.SampleRate(stream);
  const double delay = instrument.DelaySamples();
  const std::vector<std::string> names = ChannelNames(recording.get(), instrument.channels());
  for (const std::string& w : instrument.Warnings()) std::cerr << "olmts: warning: " << w << '\n';

  // Every response first, so that a failure prints only its message.
  std::vector<std::vector<ChannelResponse>> responses;
  for (double f : frequencies) responses.push_back(instrument.At(f));

  std::vector<std::string> first_units(static_cast<std::size_t>(instrument.channels()));
  for (int c = 0; c < instrument.channels(); ++c)
    first_units[static_cast<std::size_t>(c)] = "V/" + instrument.ChannelUnits(c);
  Json rows = Json::array();
  bool any_outside = false;
  if (!options.json) {
    std::cout << "recording  " << recording.base() << "  stream " << stream << ", " << Number(rate) << " Hz\n";
    std::cout << "box        " << instrument.box_path() << '\n';
    std::cout << "           " << kBoxMeaning << '\n';
    std::cout << "delay      " << Number(delay) << " samples = " << Number(delay / rate)
              << " s: a scan stamped t describes the field at t - delay\n\n";
    std::printf("%-4s %-9s %-6s %-6s %12s  %s\n", "chan", "stage", "input", "output", "gain", "source");
    for (int c = 0; c < instrument.channels(); ++c) {
      const std::vector<OlmtsStageInfo> stages = instrument.Stages(c);
      for (std::size_t k = 0; k < stages.size(); ++k) {
        const OlmtsStageInfo& s = stages[k];
        const std::string source = k == 0 ? instrument.SensorSource(c) : std::string(s.source);
        std::printf("%-4s %-9s %-6s %-6s %12.6g  %s\n", names[static_cast<std::size_t>(c)].c_str(), s.name,
                    s.input_units, s.output_units, s.gain, source.c_str());
      }
    }
    std::printf("(gains at %g Hz)\n\n", instrument.Stages(0).front().gain_frequency_hz);
    std::printf("%10s %-4s %11s %8s %-8s %11s %8s %11s %8s %-8s\n", "freq_hz", "chan", "first_mag", "first_deg",
                "units", "box_mag", "box_deg", "total_mag", "total_deg", "units");
  }
  for (std::size_t i = 0; i < frequencies.size(); ++i) {
    const double f = frequencies[i];
    const std::vector<ChannelResponse>& channels = responses[i];
    Json jf;
    jf["frequency_hz"] = f;
    jf["channels"] = Json::array();
    for (int c = 0; c < instrument.channels(); ++c) {
      const ChannelResponse& r = channels[static_cast<std::size_t>(c)];
      const std::string& unit = first_units[static_cast<std::size_t>(c)];
      if (options.json) {
        jf["channels"].push_back({{"channel", c + 1},
                                  {"name", names[static_cast<std::size_t>(c)]},
                                  {"sensor", Part(r.sensor, unit)},
                                  {"box", Part(r.box, "V/V")},
                                  {"box_with_delay", Part(r.library_box, "V/V")},
                                  {"sensor_source", instrument.SensorSource(c)},
                                  {"total", Part(r.total, unit)}});
        continue;
      }
      const auto cells = [](const ResponseValue& v) {
        char text[48];
        if (!v.usable)
          std::snprintf(text, sizeof text, "%11s %8s", "n/a", "");
        else
          std::snprintf(text, sizeof text, "%11.6g %8.3f", std::abs(v.value), PhaseDegrees(v.value));
        return std::string(text);
      };
      const bool outside = r.total.outside;
      any_outside = any_outside || outside;
      std::printf("%10.5g %-4s %s %-8s %s %s %-8s%s\n", f, names[static_cast<std::size_t>(c)].c_str(),
                  cells(r.sensor).c_str(), unit.c_str(), cells(r.box).c_str(), cells(r.total).c_str(), unit.c_str(),
                  outside ? " *" : "");
    }
    rows.push_back(jf);
  }
  if (any_outside) std::cout << "* outside the frequencies the calibrations cover: extrapolated by the library\n";
  if (options.json) {
    Json j;
    j["base"] = recording.base();
    j["stream"] = stream;
    j["sample_rate_hz"] = rate;
    j["box"] = instrument.box_path();
    j["box_definition"] = kBoxMeaning;
    j["phase_convention"] =
        "exp(+j 2 pi f t): a field A cos(2 pi f t + p) is recorded as |H| A cos(2 pi f t + p + arg H)";
    j["sensors"] = Json::array();
    for (int c = 0; c < instrument.channels(); ++c) j["sensors"].push_back(instrument.SensorSource(c));
    j["stages"] = Json::array();
    for (int c = 0; c < instrument.channels(); ++c) {
      Json list = Json::array();
      for (const OlmtsStageInfo& s : instrument.Stages(c)) list.push_back(StageJson(s));
      j["stages"].push_back({{"channel", c + 1}, {"name", names[static_cast<std::size_t>(c)]}, {"stages", list}});
    }
    j["warnings"] = instrument.Warnings();
    j["delay_samples"] = delay;
    j["delay_s"] = delay / rate;
    j["responses"] = rows;
    std::cout << j.dump(2) << '\n';
  }
}

}  // namespace

void AddResponseCommand(CLI::App& app) {
  const auto [command, options] = AddSubcommand(
      app, "response", "box, sensor and total response per channel, and the acquisition delay", RunResponse);
  AddBase(command, &options->base);
  command->add_option("--box", options->box, "box calibration base path (BOX.CLB)")->required();
  command->add_option("--sensor", options->sensors,
                      "sensor calibration base path (SENSOR.CLC); repeat for one file per magnetic "
                      "component, in the order Hx, Hy, Hz");
  command->add_option("--sensor-kind", options->chain.sensor_kind, "sensor calibration kind: 2, or 3 for CNOM sensors")
      ->check(CLI::IsMember({2, 3}));
  AddStream(command, &options->stream);
  CLI::Option* fmin =
      command->add_option("--fmin", options->fmin, "lowest frequency of a sweep, Hz")->check(kFinitePositive);
  CLI::Option* fmax =
      command->add_option("--fmax", options->fmax, "highest frequency of a sweep, Hz")->check(kFinitePositive);
  CLI::Option* points =
      command->add_option("--points", options->points, "points of a logarithmic sweep")->check(CLI::Range(1, 100000));
  CLI::Option* freq =
      command->add_option("--freq,-f", options->frequencies, "frequencies, Hz")->check(kFiniteNonNegative);
  freq->excludes(fmin)->excludes(fmax)->excludes(points);
  AddChainOptions(command, &options->chain);
  AddJson(command, &options->json);
}

}  // namespace olmts
