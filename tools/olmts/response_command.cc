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

namespace olmts {
namespace {

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

Json Part(const ResponseValue& v) {
  Json j;
  j["re"] = v.value.real();
  j["im"] = v.value.imag();
  j["magnitude"] = std::abs(v.value);
  j["phase_deg"] = PhaseDegrees(v.value);
  j["aux"] = v.aux;
  j["usable"] = v.usable;
  return j;
}

void RunResponse(const ResponseOptions& options) {
  if ((options.fmin || options.fmax || options.points) && !(options.fmin && options.fmax && options.points > 0))
    throw ToolError("response: a sweep needs --fmin, --fmax and --points");
  const std::vector<double> frequencies = Frequencies(options);
  Recording recording(options.base);
  recording.RequireStream(options.stream);
  InstrumentResponse instrument(recording, options.box, options.sensors, options.sensor_kind);
  const int stream = options.stream;
  const double rate = recording.SampleRate(stream);
  double delay = 0;
  Check(GetAcqDelayHT(recording.get(), stream, &delay),
        recording.base() + ".TBL: acquisition delay of stream " + std::to_string(stream));
  const std::vector<std::string> names = ChannelNames(recording.get(), instrument.channels());

  // Every response first, so that a failure prints only its message.
  std::vector<std::vector<ChannelResponse>> responses;
  for (double f : frequencies) responses.push_back(instrument.At(stream, f));

  Json rows = Json::array();
  if (!options.json) {
    std::cout << "recording  " << recording.base() << "  stream " << stream << ", " << Number(rate) << " Hz\n";
    std::cout << "box        " << instrument.box_path() << '\n';
    for (int c = 0; c < instrument.channels(); ++c)
      std::cout << "sensor " << names[static_cast<std::size_t>(c)]
                << (names[static_cast<std::size_t>(c)].size() < 3 ? "  " : " ") << "  " << instrument.SensorSource(c)
                << '\n';
    std::cout << "delay      " << Number(delay) << " samples = " << Number(delay / rate) << " s\n\n";
    std::printf("%10s %-4s %11s %8s %9s %11s %8s %9s %11s %8s %9s\n", "freq_hz", "chan", "box_mag", "box_deg",
                "box_aux", "sensor_mag", "sens_deg", "sens_aux", "total_mag", "total_deg", "total_aux");
  }
  for (std::size_t i = 0; i < frequencies.size(); ++i) {
    const double f = frequencies[i];
    const std::vector<ChannelResponse>& channels = responses[i];
    Json jf;
    jf["frequency_hz"] = f;
    jf["channels"] = Json::array();
    for (int c = 0; c < instrument.channels(); ++c) {
      const ChannelResponse& r = channels[static_cast<std::size_t>(c)];
      if (options.json) {
        jf["channels"].push_back({{"channel", c + 1},
                                  {"name", names[static_cast<std::size_t>(c)]},
                                  {"box", Part(r.box)},
                                  {"sensor", Part(r.sensor)},
                                  {"sensor_source", instrument.SensorSource(c)},
                                  {"total", Part(r.total)}});
        continue;
      }
      const auto cells = [](const ResponseValue& v) {
        char text[48];
        if (!v.usable)
          std::snprintf(text, sizeof text, "%11s %8s %9.3g", "n/a", "", v.aux);
        else
          std::snprintf(text, sizeof text, "%11.6g %8.3f %9.3g", std::abs(v.value), PhaseDegrees(v.value), v.aux);
        return std::string(text);
      };
      std::printf("%10.5g %-4s %s %s %s\n", f, names[static_cast<std::size_t>(c)].c_str(), cells(r.box).c_str(),
                  cells(r.sensor).c_str(), cells(r.total).c_str());
    }
    rows.push_back(jf);
  }
  if (options.json) {
    Json j;
    j["base"] = recording.base();
    j["stream"] = stream;
    j["sample_rate_hz"] = rate;
    j["box"] = instrument.box_path();
    j["sensors"] = Json::array();
    for (int c = 0; c < instrument.channels(); ++c) j["sensors"].push_back(instrument.SensorSource(c));
    j["delay_samples"] = delay;
    j["delay_s"] = delay / rate;
    j["responses"] = rows;
    std::cout << j.dump(2) << '\n';
  }
}

}  // namespace

void AddResponseCommand(CLI::App& app) {
  auto options = std::make_shared<ResponseOptions>();
  CLI::App* command =
      app.add_subcommand("response", "box, sensor and total response per channel, and the acquisition delay");
  AddBase(command, &options->base);
  command->add_option("--box", options->box, "box calibration base path (BOX.CLB)")->required();
  command->add_option("--sensor", options->sensors,
                      "sensor calibration base path (SENSOR.CLC); repeat for one file per magnetic "
                      "component, in the order Hx, Hy, Hz");
  command->add_option("--sensor-kind", options->sensor_kind, "sensor calibration kind: 2, or 3 for CNOM sensors")
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
  AddJson(command, &options->json);
  command->callback([options] { RunResponse(*options); });
}

}  // namespace olmts
