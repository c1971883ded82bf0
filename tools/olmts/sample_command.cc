// `sample` and `demo`: the sample recording and the walk through a typical use.
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <fstream>

#include "olmts/commands.h"
#include "olmts/tool.h"
#include "writer/sample_recording.h"

namespace olmts {
namespace {

using olmtsfil::testdata::SampleRecording;

olmtsfil::testdata::SampleRecording WriteSample(const std::string& directory) {
  try {
    return olmtsfil::testdata::WriteSampleRecording(directory);
  } catch (const std::exception& e) {
    throw ToolError(directory + ": cannot write the sample recording: " + e.what());
  }
}

// A description next to the files, for scripts and tests in other languages.
nlohmann::ordered_json Manifest(const SampleRecording& sample) {
  nlohmann::ordered_json j;
  j["base"] = sample.base;
  j["box_calibration"] = sample.box_calibration;
  j["sensor_calibrations"] = sample.sensor_calibrations;
  j["reference"] = FormatTime(sample.reference);
  j["noise_rms"] = sample.noise_rms;
  j["tones"] = nlohmann::ordered_json::array();
  for (const auto& tone : sample.tones) {
    j["tones"].push_back({{"component", olmtsfil::testdata::SampleComponentName(tone.component)},
                          {"channel", tone.component + 1},
                          {"frequency_hz", tone.frequency_hz},
                          {"amplitude", tone.amplitude},
                          {"unit", olmtsfil::testdata::SampleComponentUnit(tone.component)},
                          {"phase_deg", tone.phase_deg}});
  }
  j["streams"] = nlohmann::ordered_json::array();
  for (const auto& s : sample.streams) {
    j["streams"].push_back({{"stream", s.stream},
                            {"rate_hz", s.rate_hz},
                            {"scans_per_record", s.scans_per_record},
                            {"records", s.records},
                            {"bursts", s.bursts},
                            {"first_record", FormatTime(s.first_record)},
                            {"files", s.files}});
  }
  j["spectral_records"] = sample.spectral_records;
  j["analysis"] = {{"stream", sample.analysis_stream},
                   {"start", FormatTime(sample.analysis_start)},
                   {"scans", sample.analysis_scans}};
  return j;
}

}  // namespace

void RunSample(const std::string& directory) {
  const SampleRecording sample = WriteSample(directory);
  const std::string manifest_path = directory + "/sample.json";
  std::ofstream manifest(manifest_path);
  manifest << Manifest(sample).dump(2) << '\n';
  if (!manifest) throw ToolError(manifest_path + ": cannot write the description");
  std::cout << "recording:  " << sample.base << "  (" << sample.streams.size() << " time-series streams, "
            << sample.spectral_records << " spectral records)\n";
  if (!sample.box_calibration.empty()) std::cout << "box:        " << sample.box_calibration << ".CLB\n";
  for (const std::string& sensor : sample.sensor_calibrations) std::cout << "sensor:     " << sensor << ".CLC\n";
  std::cout << "described:  " << manifest_path << '\n';
}

void RunDemo(const std::string& directory) { RunSample(directory); }

}  // namespace olmts
