// A synthetic survey: several sites, each with two or three recordings of one
// recorder box and three induction coils, the calibrations of every box and
// coil in a folder of their own, and the faults a real survey shows (a damaged
// file, a missing file, a cut record, a recording without its table, a coil the
// table does not name, one calibration that serves nothing). Serves the survey
// inventory, its matching and its batch jobs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace olmtsfil::testdata {

struct SurveyDesc {
  int sites = 3;
  int seconds_per_file = 60;  // records of 1 s on the 150 Hz stream, per file of its set
  int recordings = 0;         // per site; 0: three at odd sites, two at even ones
};

// What was written, so that a test can compare an inventory with the truth.
struct SurveyRecording {
  std::string site;                       // folder name, e.g. "site02"
  std::string base;                       // base path (".TBL" may be missing, see problems)
  int box_serial = 0;                     // the "SNUM" of its record tags
  std::vector<std::string> coil_serials;  // Hx, Hy, Hz; empty where the table names none
  std::vector<std::string> problems;      // short kinds: "damaged", "missing-file", "cut", "no-table"
};

struct SampleSurvey {
  std::string directory;
  std::vector<SurveyRecording> recordings;
  std::vector<std::string> box_calibrations;     // base paths
  std::vector<std::string> sensor_calibrations;  // base paths
  std::string unmatched_calibration;             // base path of the one that serves no recording
};

// Writes the survey below `directory` (created when missing). Throws
// std::runtime_error when a file cannot be written.
SampleSurvey WriteSampleSurvey(const std::string& directory, const SurveyDesc& desc = {});

}  // namespace olmtsfil::testdata
