// olmts: answers a field geophysicist's first questions about a recording from
// the shell: what is in it, is it complete, what do the samples look like, and
// what is the instrument's response.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <iostream>
#include <new>

#include "olmts/commands.h"
#include "olmts/tool.h"

namespace {

// Stream numbers are checked by the commands so that the message can name the
// recording's file.
void AddStream(CLI::App* command, int* stream) {
  command->add_option("--stream,-s", *stream, "stream number: 0 spectral, 1 ... 5 time series")->required();
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "olmts: inspect electromagnetic field recordings and their calibrations.\n"
      "BASE is a recording's path without extension (BASE.TBL is its table file).\n"
      "Times are ISO 8601, e.g. 2026-03-14T10:00:00.",
      "olmts"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "olmts " OLMTS_VERSION);

  olmts::InfoOptions info;
  CLI::App* info_cmd =
      app.add_subcommand("info", "identifiers, channel map and every stream's files, records and gaps");
  info_cmd->add_option("BASE", info.base, "recording base path")->required();
  info_cmd->add_flag("--concat", info.concat, "follow each stream over its dated file set");
  info_cmd->add_flag("--json", info.json, "machine-readable output");

  olmts::ParamsOptions params;
  CLI::App* params_cmd = app.add_subcommand("params", "every table parameter with type, value and auxiliary fields");
  params_cmd->add_option("BASE", params.base, "recording base path")->required();
  params_cmd->add_flag("--json", params.json, "machine-readable output");

  olmts::RecordOptions tags;
  CLI::App* tags_cmd = app.add_subcommand("tags", "the tag fields of each record of a stream");
  tags_cmd->add_option("BASE", tags.base, "recording base path")->required();
  AddStream(tags_cmd, &tags.stream);
  tags_cmd->add_flag("--concat", tags.concat, "follow the stream over its dated file set");

  olmts::RecordOptions gaps;
  CLI::App* gaps_cmd = app.add_subcommand("gaps", "every gap of a stream with its time and size");
  gaps_cmd->add_option("BASE", gaps.base, "recording base path")->required();
  AddStream(gaps_cmd, &gaps.stream);
  gaps_cmd->add_flag("--concat", gaps.concat, "follow the stream over its dated file set");

  olmts::ScansOptions scans;
  CLI::App* scans_cmd = app.add_subcommand(
      "scans", "samples as CSV (time and one column per channel, fractions of full scale) or raw doubles");
  scans_cmd->add_option("BASE", scans.base, "recording base path")->required();
  AddStream(scans_cmd, &scans.stream);
  scans_cmd->add_option("--start", scans.start, "first scan at or after this time (ISO 8601)");
  CLI::Option* count_opt =
      scans_cmd->add_option("--count,-n", scans.count, "number of scans")->check(CLI::NonNegativeNumber);
  scans_cmd->add_option("--duration", scans.duration_s, "seconds of data")
      ->check(CLI::NonNegativeNumber)
      ->excludes(count_opt);
  scans_cmd->add_flag("--concat", scans.concat, "continue into the next files of the stream's set");
  scans_cmd->add_flag("--binary", scans.binary, "raw little-endian doubles, one per channel and scan, no time");

  olmts::SpectraOptions spectra;
  CLI::App* spectra_cmd = app.add_subcommand("spectra", "spectral coefficients with window, level and frequency");
  spectra_cmd->add_option("BASE", spectra.base, "recording base path")->required();
  spectra_cmd->add_option("--count,-n", spectra.count, "number of coefficients")->check(CLI::NonNegativeNumber);

  olmts::ResponseOptions response;
  CLI::App* response_cmd =
      app.add_subcommand("response", "box, sensor and total response per channel, and the acquisition delay");
  response_cmd->add_option("BASE", response.base, "recording base path")->required();
  response_cmd->add_option("--box", response.box, "box calibration base path (BOX.CLB)")->required();
  response_cmd->add_option("--sensor", response.sensors,
                           "sensor calibration base path (SENSOR.CLC); repeat for one file per magnetic "
                           "component, in the order Hx, Hy, Hz");
  response_cmd->add_option("--sensor-kind", response.sensor_kind, "sensor calibration kind: 2, or 3 for CNOM sensors")
      ->check(CLI::IsMember({2, 3}));
  AddStream(response_cmd, &response.stream);
  CLI::Option* fmin =
      response_cmd->add_option("--fmin", response.fmin, "lowest frequency of a sweep, Hz")->check(CLI::PositiveNumber);
  CLI::Option* fmax =
      response_cmd->add_option("--fmax", response.fmax, "highest frequency of a sweep, Hz")->check(CLI::PositiveNumber);
  CLI::Option* points = response_cmd->add_option("--points", response.points, "points of a logarithmic sweep")
                            ->check(CLI::Range(1, 100000));
  CLI::Option* freq =
      response_cmd->add_option("--freq,-f", response.frequencies, "frequencies, Hz")->check(CLI::NonNegativeNumber);
  freq->excludes(fmin)->excludes(fmax)->excludes(points);
  response_cmd->add_flag("--json", response.json, "machine-readable output");

  std::string sample_dir;
  CLI::App* sample_cmd = app.add_subcommand("sample", "write the sample recording and its calibrations into DIR");
  std::string survey_dir;
  int survey_sites = 3;
  int survey_seconds = 60;
  CLI::Option* sample_dir_opt = sample_cmd->add_option("DIR", sample_dir, "folder, created when missing");
  CLI::Option* survey_opt =
      sample_cmd->add_option("--survey", survey_dir, "write a synthetic survey of several sites into this folder");
  sample_cmd->add_option("--sites", survey_sites, "sites of the survey (2 or 3 recordings each)")
      ->check(CLI::Range(1, 99))
      ->capture_default_str();
  sample_cmd->add_option("--seconds", survey_seconds, "seconds per file of the survey's 150 Hz stream")
      ->check(CLI::Range(4, 86400))
      ->capture_default_str();
  sample_dir_opt->excludes(survey_opt);

  std::string demo_dir = "olmts-demo";
  CLI::App* demo_cmd = app.add_subcommand(
      "demo", "write the sample recording, calibrate a stretch of it and compare with the injected tones");
  demo_cmd->add_option("DIR", demo_dir, "folder for the sample recording")->capture_default_str();

  CLI::App* survey_cmd = app.add_subcommand(
      "survey",
      "inventory of every recording and calibration below DIR, calibrations matched by serial; batch export "
      "(the olmtsfil Python package does it: `olmts survey --help` lists its options)");
  // Everything after `survey` goes to the package, --help included.
  survey_cmd->prefix_command();
  survey_cmd->set_help_flag();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }

  try {
    if (*info_cmd) olmts::RunInfo(info);
    if (*params_cmd) olmts::RunParams(params);
    if (*tags_cmd) olmts::RunTags(tags);
    if (*gaps_cmd) olmts::RunGaps(gaps);
    if (*scans_cmd) olmts::RunScans(scans);
    if (*spectra_cmd) olmts::RunSpectra(spectra);
    if (*response_cmd) {
      if ((response.fmin || response.fmax || response.points) &&
          !(response.fmin && response.fmax && response.points > 0))
        throw olmts::ToolError("response: a sweep needs --fmin, --fmax and --points");
      olmts::RunResponse(response);
    }
    if (*survey_cmd) return olmts::RunSurvey(survey_cmd->remaining());
    if (*sample_cmd && !survey_dir.empty()) olmts::RunSampleSurvey(survey_dir, survey_sites, survey_seconds);
    if (*sample_cmd && survey_dir.empty()) {
      if (sample_dir.empty()) throw olmts::ToolError("sample: give DIR, or --survey DIR");
      olmts::RunSample(sample_dir);
    }
    if (*demo_cmd) olmts::RunDemo(demo_dir);
    std::cout.flush();
    if (!std::cout) throw olmts::ToolError("cannot write the output");
  } catch (const olmts::ToolError& e) {
    std::cout.flush();
    std::fprintf(stderr, "olmts: %s\n", e.what());
    return 1;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "olmts: out of memory\n");
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "olmts: %s\n", e.what());
    return 1;
  }
  return 0;
}
