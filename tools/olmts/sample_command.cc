// `sample`: writes the sample recording, its calibrations and a description.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <numbers>

#include "olmts/cli.h"
#include "olmts/commands.h"
#include "olmts/sample.h"
#include "olmts/tool.h"
#include "writer/sample_recording.h"
#include "writer/sample_survey.h"

namespace olmts {
namespace {

using olmtsfil::testdata::SampleRecording;

// A description next to the files, for scripts and tests in other languages.
nlohmann::ordered_json Manifest(const SampleRecording& sample) {
  nlohmann::ordered_json j;
  j["base"] = sample.base;
  j["box_calibration"] = sample.box_calibration;
  j["sensor_calibrations"] = sample.sensor_calibrations;
  j["reference"] = FormatTime(sample.reference);
  j["noise_rms"] = sample.noise_rms;
  // How a tone is meant: the field at the site, on true UTC times (a scan's
  // stamp minus the acquisition delay), in the response's e^{+j 2 pi f t}
  // convention; docs/units.md.
  j["tone_convention"] =
      "amplitude * cos(2 pi frequency_hz (t - reference) + phase_deg), t the UTC time of the field in seconds, "
      "amplitude in the tone's unit (mV/km electric, nT magnetic) at the sensor; responses use exp(+j 2 pi f t), so "
      "the recorded tone is |H| amplitude cos(... + phase_deg + arg H)";
  j["tones"] = nlohmann::ordered_json::array();
  for (const auto& tone : sample.tones) {
    j["tones"].push_back({{"component", olmtsfil::testdata::SampleComponentName(tone.component)},
                          {"channel", tone.component + 1},
                          {"frequency_hz", tone.frequency_hz},
                          {"amplitude", tone.amplitude},
                          {"unit", olmtsfil::testdata::SampleComponentUnit(tone.component)},
                          {"phase_deg", tone.phase_deg},
                          {"phase_reference", "cosine at reference, exp(+j 2 pi f t)"}});
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

void RunSampleSurvey(const std::string& directory, int sites, int seconds_per_file, int recordings) {
  olmtsfil::testdata::SampleSurvey survey;
  try {
    survey = olmtsfil::testdata::WriteSampleSurvey(directory, {sites, seconds_per_file, recordings});
  } catch (const std::exception& e) {
    throw ToolError(directory + ": cannot write the survey: " + e.what());
  }
  nlohmann::ordered_json j;
  j["directory"] = survey.directory;
  j["recordings"] = nlohmann::ordered_json::array();
  for (const auto& r : survey.recordings)
    j["recordings"].push_back({{"site", r.site},
                               {"base", r.base},
                               {"box_serial", r.box_serial},
                               {"coil_serials", r.coil_serials},
                               {"problems", r.problems}});
  j["box_calibrations"] = survey.box_calibrations;
  j["sensor_calibrations"] = survey.sensor_calibrations;
  j["unmatched_calibration"] = survey.unmatched_calibration;
  const std::string manifest_path = directory + "/survey.json";
  std::ofstream manifest(manifest_path);
  manifest << j.dump(2) << '\n';
  if (!manifest) throw ToolError(manifest_path + ": cannot write the description");
  std::cout << "survey:     " << directory << "  (" << sites << " sites, " << survey.recordings.size()
            << " recordings, " << survey.box_calibrations.size() + survey.sensor_calibrations.size() + 1
            << " calibrations)\n";
  std::cout << "described:  " << manifest_path << '\n';
}

}  // namespace

SampleRecording WriteSample(const std::string& directory) {
  try {
    return olmtsfil::testdata::WriteSampleRecording(directory);
  } catch (const std::exception& e) {
    throw ToolError(directory + ": cannot write the sample recording: " + e.what());
  }
}

void AddSampleCommand(CLI::App& app) {
  auto directory = std::make_shared<std::string>();
  CLI::App* command = app.add_subcommand("sample", "write the sample recording and its calibrations into DIR");
  auto survey = std::make_shared<std::string>();
  auto sites = std::make_shared<int>(3);
  auto seconds = std::make_shared<int>(60);
  auto recordings = std::make_shared<int>(0);
  CLI::Option* dir = command->add_option("DIR", *directory, "folder, created when missing");
  CLI::Option* survey_dir =
      command->add_option("--survey", *survey, "write a synthetic survey of several sites into this folder instead");
  command->add_option("--sites", *sites, "sites of the survey (2 or 3 recordings each)")
      ->check(CLI::Range(1, 99))
      ->capture_default_str();
  command->add_option("--seconds", *seconds, "seconds per file of the survey's 150 Hz stream")
      ->check(CLI::Range(4, 2000000))
      ->capture_default_str();
  command->add_option("--recordings", *recordings, "recordings per site (default: 3 at odd sites, 2 at even)")
      ->check(CLI::Range(1, 26));
  dir->excludes(survey_dir);
  command->callback([directory, survey, sites, seconds, recordings] {
    if (!survey->empty()) return RunSampleSurvey(*survey, *sites, *seconds, *recordings);
    if (directory->empty()) throw ToolError("sample: give DIR, or --survey DIR");
    RunSample(*directory);
  });
}

}  // namespace olmts
