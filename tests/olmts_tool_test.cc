// The olmts tool, run as a user runs it, on the sample recording: key fields of
// every subcommand's output, the demo's recovered tones and the error paths.
#include <gtest/gtest.h>

#if defined(OLMTS_TOOL_PATH)

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "olmtsfil.h"
#include "test_handles.h"
#include "writer/bytes_io.h"
#include "writer/sample_recording.h"
#include "writer/stream_writer.h"
#include "writer/table_writer.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace {

using namespace olmtsfil::testdata;
using Json = nlohmann::json;

struct Result {
  int exit_code = -1;
  bool crashed = false;
  std::string out, err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> cells;
  std::stringstream in(line);
  for (std::string cell; std::getline(in, cell, ',');) cells.push_back(cell);
  return cells;
}

class OlmtsTool : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDirectory("olmts_tool");
    Result r = Run("sample " + dir_->path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    base_ = dir_->path() + "/site1_314a";
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  // Runs the tool with `args` (already quoted where needed); stdout and stderr
  // go to files so that binary output survives.
  static Result Run(const std::string& args) {
    static int serial = 0;
    const std::string out = ScratchPath("out" + std::to_string(serial));
    const std::string err = ScratchPath("err" + std::to_string(serial++));
    const std::string command =
        std::string("\"") + OLMTS_TOOL_PATH + "\" " + args + " >\"" + out + "\" 2>\"" + err + "\"";
    const int status = std::system(command.c_str());
    Result r;
#if defined(_WIN32)
    r.exit_code = status;
#else
    if (WIFEXITED(status))
      r.exit_code = WEXITSTATUS(status);
    else
      r.crashed = true;
#endif
    r.out = Slurp(out);
    r.err = Slurp(err);
    std::remove(out.c_str());
    std::remove(err.c_str());
    return r;
  }
  static std::string ScratchPath(const std::string& name) {
    static ScratchDirectory scratch("olmts_tool_io");
    return scratch.File(name);
  }
  static Json RunJson(const std::string& args) {
    Result r = Run(args);
    EXPECT_EQ(r.exit_code, 0) << args << ": " << r.err;
    return Json::parse(r.out);
  }
  // A failing run: exit code 1, no crash, one message naming `file` and `text`.
  static void ExpectError(const std::string& args, const std::string& file, const std::string& text) {
    Result r = Run(args);
    EXPECT_FALSE(r.crashed) << args;
    EXPECT_EQ(r.exit_code, 1) << args;
    EXPECT_NE(r.err.find(file), std::string::npos) << args << ": " << r.err;
    EXPECT_NE(r.err.find(text), std::string::npos) << args << ": " << r.err;
  }

  static std::string Sensors() {
    return " --sensor " + dir_->path() + "/coil201 --sensor " + dir_->path() + "/coil202 --sensor " + dir_->path() +
           "/coil203";
  }

  static ScratchDirectory* dir_;
  static std::string base_;
};

ScratchDirectory* OlmtsTool::dir_ = nullptr;
std::string OlmtsTool::base_;

TEST_F(OlmtsTool, SampleWritesTheRecordingItsCalibrationsAndADescription) {
  const Json manifest = Json::parse(Slurp(dir_->File("sample.json")));
  EXPECT_EQ(manifest["base"], base_);
  EXPECT_EQ(manifest["tones"].size(), 15u);
  EXPECT_EQ(manifest["sensor_calibrations"].size(), 3u);
  for (const char* name : {"site1_314a.TBL", "site1_314a.TFC", "site1_314a.TS2", "site1_314a.TS3", "site1_314b.TS3",
                           "site1_315a.TS3", "site1_314a.TS4", "site1_315a.TS4", "box101.CLB", "coil201.CLC"})
    EXPECT_FALSE(ReadFile(dir_->File(name)).empty()) << name;
}

TEST_F(OlmtsTool, InfoSummarisesEveryStreamAloneAndOverItsFileSet) {
  const Json single = RunJson("info --json " + base_);
  EXPECT_EQ(single["hardware"], "OLM5A");
  EXPECT_EQ(single["channels"], 5);
  EXPECT_EQ(single["channel_map"], (Json{{"Ex", 1}, {"Ey", 2}, {"Hx", 3}, {"Hy", 4}, {"Hz", 5}}));
  ASSERT_EQ(single["streams"].size(), 4u);  // 0, 2, 3, 4
  const Json& medium = single["streams"][2];
  EXPECT_EQ(medium["stream"], 3);
  EXPECT_EQ(medium["records"], 300);
  EXPECT_EQ(medium["files"], (Json{"site1_314a.TS3"}));

  const Json all = RunJson("info --json --concat " + base_);
  const Json& bursts = all["streams"][1];
  EXPECT_EQ(bursts["stream"], 2);
  EXPECT_EQ(bursts["sample_rate_hz"], 2400.0);
  EXPECT_EQ(bursts["records"], 12);
  EXPECT_EQ(bursts["gaps"], 2);
  EXPECT_EQ(bursts["recorded_s"], 12.0);
  const Json& across = all["streams"][2];
  EXPECT_EQ(across["files"], (Json{"site1_314a.TS3", "site1_314b.TS3", "site1_315a.TS3"}));
  EXPECT_EQ(across["records"], 900);
  EXPECT_EQ(across["gaps"], 0);
  EXPECT_EQ(across["first_record"], "2026-03-14T23:50:00");
  EXPECT_EQ(across["last_record"], "2026-03-15T00:04:59");
  EXPECT_EQ(across["duration_s"], 900.0);
  EXPECT_EQ(all["streams"][3]["records"], 1200);
  EXPECT_EQ(all["streams"][0]["records"], 30);

  const Result text = Run("info " + base_ + ".TBL");  // the table file's name names the recording too
  EXPECT_EQ(text.exit_code, 0) << text.err;
  EXPECT_NE(text.out.find("Ex=1 Ey=2 Hx=3 Hy=4 Hz=5"), std::string::npos) << text.out;
}

TEST_F(OlmtsTool, InfoListsTheFilesTheLibraryFollowsInASetCopiedInUpperCase) {
  RecordingFiles upper(dir_->path(), "UP314A");
  WriteFile(upper.Path(".TBL"), ReadFile(base_ + ".TBL"));
  WriteFile(upper.Path(".TS4"), ReadFile(dir_->File("site1_314a.TS4")));
  WriteFile(dir_->File("UP315A.TS4"), ReadFile(dir_->File("site1_315a.TS4")));
  const Json j = RunJson("info --json --concat " + upper.base());
  ASSERT_EQ(j["streams"].size(), 1u);
  EXPECT_EQ(j["streams"][0]["files"], (Json{"UP314A.TS4", "UP315A.TS4"}));
  EXPECT_EQ(j["streams"][0]["records"], 1200);
}

TEST_F(OlmtsTool, ParamsListsEveryParameterWithItsTypeAndValue) {
  const Json j = RunJson("params --json " + base_);
  const Json& list = j["parameters"];
  const ScopedRecording h = OpenRecording(base_);
  ASSERT_NE(h.get(), nullptr);
  char name[8];
  const int count = GCodePrmHT(h, -1, name) - OLMTS_PARAM_COUNT_BASE;
  EXPECT_EQ(list.size(), static_cast<std::size_t>(count));
  std::map<std::string, Json> by_name;
  for (const Json& p : list) by_name[p["name"]] = p;
  EXPECT_EQ(by_name["CHHZ"]["type"], "int32");
  EXPECT_EQ(by_name["CHHZ"]["value"], 5);
  EXPECT_EQ(by_name["FSCV"]["value"], 6.4);
  EXPECT_EQ(by_name["HW"]["value"], "OLM5A");
  EXPECT_EQ(by_name["NOTE"]["type"], "text");
  EXPECT_EQ(by_name["STIM"]["value"], "2026-03-14T23:50:00");
  EXPECT_EQ(by_name["RSVD"]["type"], "none");
  EXPECT_TRUE(by_name["RSVD"]["value"].is_null());
}

TEST_F(OlmtsTool, TagsAndGapsWalkEveryRecord) {
  const std::vector<std::string> tags = Lines(Run("tags " + base_ + " --stream 3 --concat").out);
  ASSERT_EQ(tags.size(), 901u);
  const std::vector<std::string> header = Split(tags[0]);
  const std::vector<std::string> first = Split(tags[1]);
  const std::vector<std::string> midnight = Split(tags[601]);
  ASSERT_EQ(header.size(), first.size());
  auto cell = [&](const std::vector<std::string>& row, const char* name) {
    for (std::size_t i = 0; i < header.size(); ++i)
      if (header[i] == name) return row[i];
    return std::string("?");
  };
  EXPECT_EQ(cell(first, "UTC"), "2026-03-14T23:50:00");
  EXPECT_EQ(cell(first, "SCNT"), "150");
  EXPECT_EQ(cell(first, "RATE"), "150");
  EXPECT_EQ(cell(first, "NCHN"), "5");
  EXPECT_EQ(cell(midnight, "UTC"), "2026-03-15T00:00:00");

  const std::vector<std::string> gaps = Lines(Run("gaps " + base_ + " --stream 2").out);
  ASSERT_EQ(gaps.size(), 3u);
  // Four 1 s records from 23:50:00, the next burst two minutes after the first.
  EXPECT_EQ(gaps[1], "3,2026-03-14T23:50:03,2026-03-14T23:52:00,280800,2400,278400,116");
  EXPECT_EQ(Lines(Run("gaps " + base_ + " --stream 3 --concat").out).size(), 1u);
}

TEST_F(OlmtsTool, ScansExportTheLibrarysValuesAsCsvAndRawDoubles) {
  const Result csv = Run("scans " + base_ + " --stream 3 --concat --start 2026-03-14T23:59:59.5 --count 150");
  ASSERT_EQ(csv.exit_code, 0) << csv.err;
  const std::vector<std::string> lines = Lines(csv.out);
  ASSERT_EQ(lines.size(), 151u);
  EXPECT_EQ(lines[0], "time,Ex,Ey,Hx,Hy,Hz");
  EXPECT_EQ(Split(lines[1])[0], "2026-03-14T23:59:59.500000");
  const std::vector<std::string> midnight = Split(lines[76]);
  EXPECT_EQ(midnight[0], "2026-03-15T00:00:00.000000");

  // The same scan read directly.
  ScopedRecording h = OpenRecording(base_);
  ASSERT_NE(h.get(), nullptr);
  SetConcatHT(h, 1);
  TimeStamp at{0, 0, 0, 15, 3, 26, 0, 20};
  ASSERT_EQ(SeekHT(h, 3, at, 0), OLMTS_OK);
  double values[5];
  int32_t flag = 0;
  ASSERT_EQ(ReadScanDblHT(h, 3, &flag, values), OLMTS_OK);
  h.Close();
  for (int c = 0; c < 5; ++c) EXPECT_EQ(std::stod(midnight[static_cast<std::size_t>(c) + 1]), values[c]) << c;

  const Result binary = Run("scans " + base_ + " --stream 3 --concat --start 2026-03-15T00:00:00 --count 4 --binary");
  ASSERT_EQ(binary.out.size(), 4u * 5u * sizeof(double));
  double raw[5];
  std::memcpy(raw, binary.out.data(), sizeof raw);
  for (int c = 0; c < 5; ++c) EXPECT_EQ(raw[c], values[c]) << c;

  EXPECT_EQ(Lines(Run("scans " + base_ + " --stream 4 --duration 2").out).size(), 31u);
  // Asking for more than there is: what exists, and a note.
  const Result tail = Run("scans " + base_ + " --stream 2 --start 2026-03-14T23:54:03 --count 5000");
  EXPECT_EQ(tail.exit_code, 0);
  EXPECT_EQ(Lines(tail.out).size(), 2401u);
  EXPECT_NE(tail.err.find("end of data after 2400 of 5000 scans"), std::string::npos) << tail.err;
}

TEST_F(OlmtsTool, StartTimesAreReadInTheUsualIso8601Forms) {
  const auto first_time = [&](const std::string& start) {
    const Result r = Run("scans " + base_ + " --stream 3 --concat --count 1 --start \"" + start + "\"");
    EXPECT_EQ(r.exit_code, 0) << start << ": " << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    return lines.size() == 2 ? Split(lines[1])[0] : std::string();
  };
  EXPECT_EQ(first_time("2026-03-14 23:59:59Z"), "2026-03-14T23:59:59.000000");
  EXPECT_EQ(first_time("2026-03-14T23:59"), "2026-03-14T23:59:00.000000");
  EXPECT_EQ(first_time("2026-03-15"), "2026-03-15T00:00:00.000000");
  EXPECT_EQ(first_time("2026-03-14T23:59:59.001"), "2026-03-14T23:59:59.006667");  // the next scan
  EXPECT_EQ(first_time("2026-03-14T00:00:00"), "2026-03-14T23:50:00.000000");      // before the first record
  for (const char* bad : {"2026-02-29", "2026-03-14T24:00:00", "2026-03-14T23:59:60", "2026-3-14",
                          "2026-03-14T23:59:59.1234567890", "2026-03-14T23:59.5", "1969-12-31", "2026-03-14X"})
    ExpectError("scans " + base_ + " --stream 3 --start \"" + std::string(bad) + "\"", bad, "bad time");
}

TEST_F(OlmtsTool, SpectraGiveWindowLevelAndFrequencyOfEachCoefficient) {
  const std::vector<std::string> lines = Lines(Run("spectra " + base_).out);
  ASSERT_EQ(lines.size(), 301u);  // 30 records of 10 coefficients
  EXPECT_EQ(Split(lines[0]).size(), 5u + 10u);
  // Index 0 of level 0: (2 x 6 - 1) x 0.5 x 150 / 75 Hz; the carry level of the
  // first cycle is level 3, window 8.
  const std::vector<std::string> top = Split(lines[1]);
  EXPECT_EQ(std::vector<std::string>(top.begin(), top.begin() + 5),
            (std::vector<std::string>{"2026-03-14T23:50:00", "1", "0", "0", "11"}));
  const std::vector<std::string> carry = Split(lines[9]);
  EXPECT_EQ(std::vector<std::string>(carry.begin(), carry.begin() + 5),
            (std::vector<std::string>{"2026-03-14T23:50:00", "8", "3", "8", "0.875"}));
  // Every record carries its own time, and --start picks the record.
  const std::vector<std::string> later = Lines(Run("spectra " + base_ + " --start 2026-03-14T23:51:56 --count 1").out);
  ASSERT_EQ(later.size(), 2u);
  EXPECT_EQ(Split(later[1])[0], "2026-03-14T23:51:56");
  const Json j = RunJson("spectra --json " + base_ + " --count 10");
  ASSERT_EQ(j["coefficients"].size(), 10u);
  EXPECT_EQ(j["coefficients"][0]["frequency_hz"], 11.0);
  EXPECT_EQ(j["coefficients"][0]["Ex"].size(), 2u);
}

TEST_F(OlmtsTool, ResponseMultipliesBoxAndSensorAndReportsTheDelay) {
  const Json j = RunJson("response --json " + base_ + " --stream 3 --box " + dir_->path() + "/box101" + Sensors() +
                         " --freq 4 --freq 10");
  // Decimation chain 5 at 150 Hz: 150/24000 x 38.7 + 2.5 x 150 x (1/300 - 1/24000)
  // + 25 + 150 x 25/2400 - 150 x 2.5/4800 samples.
  const double expected_delay =
      150.0 / 24000 * 38.7 + 2.5 * 150 * (1.0 / 300 - 1.0 / 24000) + 25 + 150.0 * 25 / 2400 - 150.0 * 2.5 / 4800;
  EXPECT_NEAR(j["delay_samples"].get<double>(), expected_delay, 1e-9);
  EXPECT_NEAR(j["delay_s"].get<double>(), expected_delay / 150, 1e-12);
  ASSERT_EQ(j["responses"].size(), 2u);
  for (const Json& at : j["responses"]) {
    ASSERT_EQ(at["channels"].size(), 5u);
    for (const Json& ch : at["channels"]) {
      const std::complex<double> box{ch["box"]["re"].get<double>(), ch["box"]["im"].get<double>()};
      const std::complex<double> sensor{ch["sensor"]["re"].get<double>(), ch["sensor"]["im"].get<double>()};
      const std::complex<double> total{ch["total"]["re"].get<double>(), ch["total"]["im"].get<double>()};
      EXPECT_LT(std::abs(total - box * sensor), 1e-12 * std::abs(total));
    }
    // Electric channels take the dipole: 100 m x 1e-6 V per mV/km, not the
    // table's 100 of another scale; the coils are about 0.8 V/nT x f/4 Hz over
    // sqrt(1 + (f/4 Hz)^2) here (corner 4.0 Hz for Hx).
    EXPECT_EQ(at["channels"][0]["sensor"]["re"], 100.0 * 1e-6);
    EXPECT_EQ(at["channels"][0]["sensor"]["units"], "V/mV/km");
    EXPECT_EQ(at["channels"][2]["sensor"]["units"], "V/nT");
    // One meaning of "box": without the delay's phase; the library's value beside it.
    const double f0 = at["frequency_hz"].get<double>();
    for (const Json& ch : at["channels"]) {
      const std::complex<double> box{ch["box"]["re"].get<double>(), ch["box"]["im"].get<double>()};
      const std::complex<double> lib{ch["box_with_delay"]["re"].get<double>(),
                                     ch["box_with_delay"]["im"].get<double>()};
      EXPECT_LT(std::abs(box * std::polar(1.0, -2 * std::numbers::pi * f0 * j["delay_s"].get<double>()) - lib),
                1e-12 * std::abs(lib));
    }
    const double f = at["frequency_hz"].get<double>();
    const double coil = 0.8 * (f / 4.0) / std::sqrt(1 + (f / 4.0) * (f / 4.0));
    EXPECT_NEAR(at["channels"][2]["sensor"]["magnitude"].get<double>(), coil, 0.03 * coil);
  }
  const Result sweep = Run("response " + base_ + " --stream 3 --box " + dir_->path() + "/box101" + Sensors() +
                           " --fmin 0.1 --fmax 10 --points 3");
  EXPECT_EQ(sweep.exit_code, 0) << sweep.err;
  // A header of 9 lines around the 20 stage lines (4 per channel), then 3 x 5 rows.
  EXPECT_EQ(Lines(sweep.out).size(), 9u + 20u + 3u * 5u) << sweep.out;
  EXPECT_NE(sweep.out.find("Hx   sensor    nT     V"), std::string::npos) << sweep.out;
  EXPECT_NE(sweep.out.find("Ex   digitiser V      counts"), std::string::npos) << sweep.out;
  EXPECT_TRUE(j["warnings"].empty());
  EXPECT_EQ(j["stages"][0]["stages"][0]["name"], "dipole");
}

TEST_F(OlmtsTool, SpectraInPhysicalUnitsDivideByTheChainOfTheSpectralRate) {
  const std::string box = " --box " + dir_->path() + "/box101";
  const Result raw = Run("spectra " + base_ + " --count 4");
  const Result field = Run("spectra " + base_ + " --count 4 --units deconvolved" + box + Sensors());
  ASSERT_EQ(field.exit_code, 0) << field.err;
  EXPECT_NE(field.out.find("chain of stream 3"), std::string::npos) << field.out;
  EXPECT_NE(field.out.find("# columns: Ex=mV/km, Ey=mV/km, Hx=nT, Hy=nT, Hz=nT"), std::string::npos) << field.out;
  const std::vector<std::string> r = Lines(raw.out), f = Lines(field.out);
  ASSERT_EQ(f.size(), r.size() + 2);
  // The coefficient at 11 Hz of Ex, divided by the whole chain there.
  const auto cells = [](const std::string& line) {
    std::vector<double> out;
    std::stringstream in(line);
    for (std::string cell; std::getline(in, cell, ',');) out.push_back(std::stod(cell));
    return out;
  };
  // Cells after the record's time.
  std::vector<double> a = cells(r[1].substr(r[1].find(',') + 1)), b = cells(f[3].substr(f[3].find(',') + 1));
  a.insert(a.begin(), 0.0);  // keep the indices of window 1, level 2, index 3, frequency 4 ...
  b.insert(b.begin(), 0.0);
  ASSERT_EQ(a[4], 11.0);
  const Json chain = RunJson("response --json " + base_ + " --stream 3 --freq 11" + box + Sensors());
  const Json& ex = chain["responses"][0]["channels"][0]["total"];
  const std::complex<double> volts_per_unit{ex["re"].get<double>(), ex["im"].get<double>()};
  const std::complex<double> expected = std::complex<double>(a[5], a[6]) * 6.4 / volts_per_unit;
  EXPECT_NEAR(b[5], expected.real(), 1e-9 * std::abs(expected));
  EXPECT_NEAR(b[6], expected.imag(), 1e-9 * std::abs(expected));
  ExpectError("spectra " + base_ + " --units nominal", "--units nominal", "--box");
}

TEST_F(OlmtsTool, ResponseNamesEveryStandInAndRefusesForeignCalibrations) {
  const std::string box = " --box " + dir_->path() + "/box101";
  const std::string hx = " --sensor " + dir_->path() + "/coil201";
  const Result nominal = Run("response " + base_ + " --stream 3 --freq 1" + box + hx);
  EXPECT_EQ(nominal.exit_code, 0) << nominal.err;
  EXPECT_NE(nominal.err.find("warning: Hy (channel 4): no sensor calibration: table HNOM = 0.8 V/nT"),
            std::string::npos)
      << nominal.err;
  EXPECT_NE(nominal.err.find("Hz (channel 5)"), std::string::npos) << nominal.err;
  EXPECT_EQ(nominal.err.find("Hx (channel 3)"), std::string::npos) << nominal.err;
  ExpectError("response " + base_ + " --stream 3 --freq 1 --require-sensors" + box + hx, base_, "Hy, Hz");

  // Hy's coil given first: it lands on Hx, whose serial the table names otherwise.
  const Result swapped = Run("response " + base_ + " --stream 3 --freq 1" + box + " --sensor " + dir_->path() +
                             "/coil202 --sensor " + dir_->path() + "/coil201 --sensor " + dir_->path() + "/coil203");
  EXPECT_EQ(swapped.exit_code, 0) << swapped.err;
  EXPECT_NE(swapped.err.find("Hx (channel 3): sensor serial differs"), std::string::npos) << swapped.err;

  WriteFile(dir_->path() + "/box777.CLB",
            WithField(ReadFile(dir_->path() + "/box101.CLB"), olmtsfil::layout::cal_header::kSnum, 777));
  ExpectError("response " + base_ + " --stream 3 --freq 1 --box " + dir_->path() + "/box777" + Sensors(), "box777.CLB",
              "--force-box");
  const Result forced =
      Run("response " + base_ + " --stream 3 --freq 1 --force-box --box " + dir_->path() + "/box777" + Sensors());
  EXPECT_EQ(forced.exit_code, 0) << forced.err;
  EXPECT_NE(forced.err.find("calibration of another box"), std::string::npos) << forced.err;
}

TEST_F(OlmtsTool, DemoRecoversTheInjectedTonesWithinOnePercent) {
  ScratchDirectory demo("olmts_demo");
  const Result r = Run("demo " + demo.path());
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  int rows = 0;
  for (const std::string& line : Lines(r.out)) {
    const std::size_t percent = line.find('%');
    const bool tone_row = line.find("mV/km") != std::string::npos || line.find(" nT") != std::string::npos;
    if (percent == std::string::npos || !tone_row) continue;
    const std::size_t start = line.rfind(' ', percent);
    const double error = std::stod(line.substr(start + 1, percent - start - 1));
    EXPECT_LT(std::abs(error), 1.0) << line;
    ++rows;
  }
  // Two tones per component below the stream's Nyquist frequency, from the
  // spectrum and again from the deconvolved time series.
  EXPECT_EQ(rows, 20);
  EXPECT_NE(r.out.find("in deconvolved units"), std::string::npos);
  EXPECT_NE(r.out.find("across midnight"), std::string::npos);
}

TEST_F(OlmtsTool, ErrorsNameTheFileAndTheStatusAndNeverCrash) {
  const std::string missing = dir_->File("nothing");
  ExpectError("info " + missing, "nothing.TBL", "no such table file");
  ExpectError("scans " + base_ + " --stream 9", "site1_314a", "status 1223");
  ExpectError("scans " + base_ + " --stream 5", "site1_314a.TSL", "status 1223");
  ExpectError("scans " + base_ + " --stream 0", "site1_314a.TFC", "spectral");
  ExpectError("tags " + base_ + " --stream 1", "site1_314a.TS1", "stream not usable");
  ExpectError("scans " + base_ + " --stream 3 --start 2026-13-01T00:00:00", "2026-13-01", "bad time");
  ExpectError("scans " + base_ + " --stream 3 --start yesterday", "yesterday", "ISO 8601");
  ExpectError("scans " + base_ + " --stream 3 --start 2026-03-16T00:00:00 --concat", "site1_314a.TS3",
              "status 1220 (end of data");
  ExpectError("response " + base_ + " --stream 3 --freq 1 --box " + missing, "nothing.CLB", "no such file");
  // A coil calibration given as the box: the kind does not match.
  WriteFile(dir_->File("coil_as_box.CLB"), ReadFile(dir_->File("coil201.CLC")));
  ExpectError("response " + base_ + " --stream 3 --freq 1 --box " + dir_->File("coil_as_box"), "coil_as_box.CLB",
              "not a box calibration");
  ExpectError("response " + base_ + " --stream 3 --box " + dir_->path() + "/box101", "response", "--freq");
  ExpectError("response " + base_ + " --stream 3 --freq 1e6 --box " + dir_->path() + "/box101" + Sensors(),
              "coil201.CLC", "status 1229");

  // A sample cannot be written below a file.
  ExpectError("sample " + base_ + ".TBL/sample", "site1_314a.TBL/sample", "cannot write the sample recording");

  // A table file of garbage opens nothing.
  WriteFile(dir_->File("garbage.TBL"), Bytes(100, 0xFF));
  ExpectError("params " + dir_->File("garbage"), "garbage.TBL", "unreadable");
  // A truncated stream file ends early with a status, not a crash.
  const Bytes whole = ReadFile(base_ + ".TS4");
  RecordingFiles cut(dir_->path(), "cut");
  WriteFile(cut.Path(".TBL"), ReadFile(base_ + ".TBL"));
  // Cut in the data block of record 300.
  const TagSpec tag = DecodeTag(whole);
  ASSERT_EQ(tag.RecordSize(), 32u + 15 * 5 * 3);
  WriteFile(cut.Path(".TS4"), Truncated(whole, 300 * tag.RecordSize() + 40));
  const Result r = Run("scans " + cut.base() + " --stream 4");
  EXPECT_FALSE(r.crashed);
  EXPECT_EQ(r.exit_code, 2);  // what was read is delivered, the fault reported
  EXPECT_NE(r.err.find("cut.TS4"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("status 1221"), std::string::npos) << r.err;
}

// Usage errors: one prefix, one hint, one exit code, whatever the parser or the
// command finds wrong.
TEST_F(OlmtsTool, UsageErrorsSayOlmtsPointToHelpAndExitOne) {
  const auto expect_usage = [&](const std::string& args, const std::string& text) {
    const Result r = Run(args);
    EXPECT_EQ(r.exit_code, 1) << args;
    EXPECT_EQ(r.err.rfind("olmts: ", 0), 0u) << args << ": " << r.err;
    EXPECT_NE(r.err.find("--help"), std::string::npos) << args << ": " << r.err;
    EXPECT_NE(r.err.find(text), std::string::npos) << args << ": " << r.err;
    EXPECT_LT(r.err.size(), 200u) << args << ": " << r.err;  // no 309-digit range
  };
  expect_usage("frobnicate", "unknown command 'frobnicate'");
  expect_usage("tags " + base_, "--stream is required");
  expect_usage("scans " + base_ + " --stream 3 --count -1", "whole number");
  expect_usage("scans " + base_ + " --stream 3 --count 2.5", "whole number");
  expect_usage("scans " + base_ + " --stream 3 --duration nan", "finite");
  expect_usage("scans " + base_ + " --stream 3 --duration inf", "finite");
  expect_usage("response " + base_ + " --stream 3 --box b --fmin inf --fmax 10 --points 3", "finite");
  const Result help = Run("--help");
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("Exit status"), std::string::npos);
}

// Damaged copies of the sample recording: every way a stream can end short is
// named with its file, and changes the exit code.
class OlmtsDamaged : public OlmtsTool {
 protected:
  // A fresh copy of the sample in its own folder.
  static std::string Copy(ScratchDirectory& into) {
    const Result r = Run("sample " + into.path());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return into.path() + "/site1_314a";
  }
};

TEST_F(OlmtsDamaged, CorruptionInAMiddleFileNamesFileRecordAndStatusAndExitsTwo) {
  ScratchDirectory dir("olmts_corrupt");
  const std::string base = Copy(dir);
  Bytes middle = ReadFile(dir.File("site1_314b.TS3"));
  for (std::size_t i = 0; i < 2000; ++i) middle[middle.size() / 2 + i] = 0xAB;
  WriteFile(dir.File("site1_314b.TS3"), middle);

  const Result info = Run("info --concat " + base);
  EXPECT_EQ(info.exit_code, 2) << info.err;
  EXPECT_NE(info.err.find("site1_314b.TS3 (stream 3): reading stopped at record 450 of the stream (record 150 of "
                          "this file), after the record of 2026-03-14T23:57:29"),
            std::string::npos)
      << info.err;
  EXPECT_NE(info.err.find("status 1225 ("), std::string::npos) << info.err;
  EXPECT_NE(info.err.find("not reached: site1_315a.TS3"), std::string::npos) << info.err;
  EXPECT_NE(info.out.find("site1_315a.TS3 (not read)"), std::string::npos) << info.out;
  EXPECT_EQ(Run("info --concat --allow-errors " + base).exit_code, 0);
  const Json j = Json::parse(Run("info --json --concat " + base).out);
  EXPECT_EQ(j["streams"][2]["complete"], false);
  EXPECT_EQ(j["streams"][2]["files_not_read"], (Json{"site1_315a.TS3"}));
  EXPECT_EQ(j["streams"][3]["complete"], true);

  for (const char* command : {"scans", "tags", "gaps"}) {
    const Result r = Run(std::string(command) + " " + base + " --stream 3 --concat");
    EXPECT_EQ(r.exit_code, 2) << command << ": " << r.err;
    EXPECT_NE(r.err.find("site1_314b.TS3 (stream 3): reading stopped at record 450"), std::string::npos)
        << command << ": " << r.err;
    EXPECT_EQ(Run(std::string(command) + " " + base + " --stream 3 --concat --allow-errors").exit_code, 0) << command;
  }
  // What could be read is still delivered: 450 records of 150 scans.
  EXPECT_EQ(Lines(Run("scans " + base + " --stream 3 --concat --allow-errors").out).size(), 450u * 150u + 1u);
}

TEST_F(OlmtsDamaged, SpectraThatStopEarlyAreReported) {
  ScratchDirectory dir("olmts_corrupt_tfc");
  const std::string base = Copy(dir);
  const Bytes whole = ReadFile(base + ".TFC");
  WriteFile(base + ".TFC", Truncated(whole, whole.size() - 7));
  const Result r = Run("spectra " + base);
  EXPECT_EQ(r.exit_code, 2) << r.err;
  EXPECT_NE(r.err.find("site1_314a.TFC (stream 0): reading stopped at record 29"), std::string::npos) << r.err;
}

TEST_F(OlmtsDamaged, AMiddleFileThatCannotBeReadIsNamed) {
  ScratchDirectory dir("olmts_unreadable");
  const std::string base = Copy(dir);
  // A folder in the file's place exists but reads nothing, even for root.
  std::remove(dir.File("site1_314b.TS3").c_str());
  ASSERT_EQ(std::system(("mkdir \"" + dir.File("site1_314b.TS3") + "\"").c_str()), 0);
  const Result info = Run("info --concat " + base);
  EXPECT_EQ(info.exit_code, 2);
  EXPECT_NE(info.err.find("site1_314b.TS3 (stream 3): files of the set not read: site1_315a.TS3"), std::string::npos)
      << info.err;
  const Result scans = Run("scans " + base + " --stream 3 --concat --count 100000");
  EXPECT_EQ(scans.exit_code, 2);
  EXPECT_EQ(Lines(scans.out).size(), 300u * 150u + 1u);
  std::system(("rmdir \"" + dir.File("site1_314b.TS3") + "\"").c_str());

#if !defined(_WIN32)
  // A file without read permission: the library continues with the next one,
  // which is a gap in time and a file that must be named.
  WriteFile(dir.File("site1_314b.TS3"), ReadFile(dir_->File("site1_314b.TS3")));
  ASSERT_EQ(std::system(("chmod 000 \"" + dir.File("site1_314b.TS3") + "\"").c_str()), 0);
  if (std::FILE* probe = std::fopen(dir.File("site1_314b.TS3").c_str(), "rb")) {
    std::fclose(probe);  // root reads it anyway
  } else {
    const Result r = Run("info --concat " + base);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("site1_314b.TS3 (stream 3): file of the set exists but could not be read"), std::string::npos)
        << r.err;
    const Result s = Run("scans " + base + " --stream 3 --concat");
    EXPECT_EQ(s.exit_code, 2);
    EXPECT_NE(s.err.find("gap after the record of 2026-03-14T23:54:59"), std::string::npos) << s.err;
  }
  std::system(("chmod 644 \"" + dir.File("site1_314b.TS3") + "\"").c_str());
#endif

  // Removed: the library goes on with the next day's file; the gap in time is
  // what shows, and scans stop there.
  std::remove(dir.File("site1_314b.TS3").c_str());
  const Result removed = Run("scans " + base + " --stream 3 --concat");
  EXPECT_EQ(removed.exit_code, 0);
  EXPECT_EQ(Lines(removed.out).size(), 300u * 150u + 1u);
  EXPECT_NE(removed.err.find("gap after the record of 2026-03-14T23:54:59, next record at 2026-03-15T00:00:00"),
            std::string::npos)
      << removed.err;
}

// JSON output names what the CSV's comment rows say: each column's units, the
// delay applied to the times, the band restored and the chain's warnings.
TEST_F(OlmtsTool, ScansAsJsonCarryTheUnitsOfEveryColumnAndTheConversion) {
  const std::string two_coils =
      " --box " + dir_->path() + "/box101 --sensor " + dir_->path() + "/coil201 --sensor " + dir_->path() + "/coil202";
  const std::string args = base_ + " --stream 4 --units deconvolved" + two_coils;
  const Result json = Run("scans --json " + args);
  ASSERT_EQ(json.exit_code, 0) << json.err;
  const Json j = Json::parse(json.out);
  EXPECT_EQ(j["units"], "deconvolved");
  const std::vector<std::string> want = {"UTC", "mV/km", "mV/km", "nT", "nT", "nT"};
  ASSERT_EQ(j["columns"].size(), want.size());
  for (std::size_t c = 0; c < want.size(); ++c) EXPECT_EQ(j["columns"][c]["units"], want[c]) << c;
  EXPECT_EQ(j["columns"][5]["name"], "Hz");
  const Json& conv = j["conversion"];
  EXPECT_GT(conv["delay_s"].get<double>(), 0.0);
  EXPECT_GT(conv["band"]["fmax_hz"].get<double>(), conv["band"]["fmin_hz"].get<double>());
  ASSERT_EQ(conv["warnings"].size(), 1u);
  EXPECT_NE(conv["warnings"][0].get<std::string>().find("Hz"), std::string::npos) << conv["warnings"][0];

  // The rows are the CSV's, time and values.
  const std::vector<std::string> csv = Lines(Run("scans " + args).out);
  std::size_t header = 0;
  while (header < csv.size() && csv[header].rfind("time,", 0) != 0) ++header;
  ASSERT_EQ(csv.size() - header - 1, j["rows"].size());
  for (std::size_t i = 0; i < j["rows"].size(); i += 997) {
    const std::vector<std::string> cells = Split(csv[header + 1 + i]);
    EXPECT_EQ(cells[0], j["rows"][i][0]);
    for (std::size_t c = 1; c < cells.size(); ++c)
      EXPECT_EQ(std::stod(cells[c]), j["rows"][i][c].get<double>()) << i << " " << c;
  }

  const Json plain = RunJson("scans --json " + base_ + " --stream 4 --count 3");
  EXPECT_TRUE(plain["conversion"].is_null());
  EXPECT_EQ(plain["columns"][1]["units"], "fraction");
}

TEST_F(OlmtsTool, ScansStopAtTheFirstGapUnlessAskedToGoOnWithTrueTimes) {
  const Result stop = Run("scans " + base_ + " --stream 2");
  EXPECT_EQ(stop.exit_code, 0);
  EXPECT_EQ(Lines(stop.out).size(), 9601u);
  EXPECT_NE(stop.err.find("gap after the record of 2026-03-14T23:50:03, next record at 2026-03-14T23:52:00"),
            std::string::npos)
      << stop.err;
  EXPECT_EQ(Run("scans " + base_ + " --stream 2 --binary").out.size(), 9600u * 5u * sizeof(double));

  const std::vector<std::string> all = Lines(Run("scans " + base_ + " --stream 2 --across-gaps").out);
  ASSERT_EQ(all.size(), 28801u);
  EXPECT_EQ(Split(all[9600])[0], "2026-03-14T23:50:03.999583");
  EXPECT_EQ(Split(all[9601])[0], "2026-03-14T23:52:00.000000");

  const Result binary = Run("scans " + base_ + " --stream 2 --across-gaps --binary");
  EXPECT_EQ(binary.out.size(), 28800u * 5u * sizeof(double));
  EXPECT_NE(binary.err.find("segment start 2026-03-14T23:52:00.000000 first_row 9600 rows 9600"), std::string::npos)
      << binary.err;

  const Json j = RunJson("scans --json " + base_ + " --stream 2 --across-gaps --count 9601");
  EXPECT_EQ(j["segments"].size(), 2u);
  EXPECT_EQ(j["segments"][1]["start"], "2026-03-14T23:52:00.000000");
  EXPECT_EQ(j["rows"].size(), 9601u);
  EXPECT_EQ(j["channels"], (Json{"Ex", "Ey", "Hx", "Hy", "Hz"}));

  // A start inside a gap is said, not passed over.
  const Result inside = Run("scans " + base_ + " --stream 2 --start 2026-03-14T23:51:00 --count 1");
  EXPECT_EQ(Split(Lines(inside.out)[1])[0], "2026-03-14T23:52:00.000000");
  EXPECT_NE(inside.err.find("no scan at 2026-03-14T23:51:00"), std::string::npos) << inside.err;
}

TEST_F(OlmtsTool, SpectralStreamHasNoGapsAndNoRate) {
  ExpectError("gaps " + base_ + " --stream 0", "site1_314a.TFC", "spectral records, not a sampled series");
  const Json j = RunJson("info --json " + base_);
  const Json& spectral = j["streams"][0];
  EXPECT_EQ(spectral["kind"], "spectral");
  EXPECT_EQ(spectral["records"], 30);
  EXPECT_EQ(spectral["coefficients_per_record"], 10);
  EXPECT_EQ(spectral["last_record"], "2026-03-14T23:51:56");
  EXPECT_FALSE(spectral.contains("sample_rate_hz"));
  EXPECT_FALSE(spectral.contains("recorded_s"));
}

TEST_F(OlmtsTool, TagsAndGapsGiveJson) {
  const Json tags = RunJson("tags --json " + base_ + " --stream 2");
  ASSERT_EQ(tags["records"].size(), 12u);
  EXPECT_EQ(tags["records"][4]["UTC"], "2026-03-14T23:52:00");
  EXPECT_EQ(tags["records"][0]["SCNT"], 2400);
  const Json gaps = RunJson("gaps --json " + base_ + " --stream 2");
  ASSERT_EQ(gaps["gaps"].size(), 2u);
  EXPECT_EQ(gaps["gaps"][0]["missing_scans"], 278400);
  EXPECT_EQ(gaps["gaps"][0]["missing_s"], 116.0);
  EXPECT_EQ(gaps["complete"], true);
}

TEST_F(OlmtsTool, CalibrationsAndRecordingsTakeTheirOwnExtensionInAnyCase) {
  const std::string box = dir_->path() + "/box101";
  const auto run = [&](const std::string& box_arg, const std::string& sensor_arg) {
    return Run("response --json " + base_ + ".TBL --stream 3 --freq 1 --box " + box_arg + " --sensor " + sensor_arg);
  };
  const Result plain = run(box, dir_->path() + "/coil201");
  ASSERT_EQ(plain.exit_code, 0) << plain.err;
  EXPECT_EQ(run(box + ".CLB", dir_->path() + "/coil201.CLC").out, plain.out);
  WriteFile(dir_->File("lower.clb"), ReadFile(box + ".CLB"));
  WriteFile(dir_->File("lower.clc"), ReadFile(dir_->File("coil201.CLC")));
  // The library forms the upper-case name; a lower-case copy is found through it
  // only where the file system ignores case, so only the error is portable.
  const Result lower = run(dir_->File("lower.clb"), dir_->File("lower.clc"));
  EXPECT_EQ(lower.err.find(".clb.CLB"), std::string::npos) << lower.err;
}

TEST_F(OlmtsTool, ASensorOfAnotherKindIsNamedAsSuch) {
  ExpectError("response " + base_ + " --stream 3 --freq 1 --box " + dir_->path() + "/box101 --sensor " + dir_->path() +
                  "/coil201 --sensor-kind 3",
              "coil201.CLC", "not a kind-3 sensor calibration, the file holds a kind-2 sensor calibration");
}

TEST_F(OlmtsTool, TimesWithAnOffsetAreConvertedToUtc) {
  const auto first_time = [&](const std::string& start) {
    const Result r = Run("scans " + base_ + " --stream 3 --concat --count 1 --start \"" + start + "\"");
    EXPECT_EQ(r.exit_code, 0) << start << ": " << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    return lines.size() == 2 ? Split(lines[1])[0] : std::string();
  };
  EXPECT_EQ(first_time("2026-03-15T01:00:00+01:00"), "2026-03-15T00:00:00.000000");
  EXPECT_EQ(first_time("2026-03-14T19:59:00-0400"), "2026-03-14T23:59:00.000000");
  EXPECT_EQ(first_time("2026-03-15T00:00:00.5Z"), "2026-03-15T00:00:00.500000");
  ExpectError("scans " + base_ + " --stream 3 --start 2026-03-15T01:00:00+25:00", "+25:00", "bad time");
}

#if !defined(_WIN32)
TEST_F(OlmtsTool, WriteFailuresNameTheReason) {
  if (std::FILE* full = std::fopen("/dev/full", "wb")) {
    std::fclose(full);
    const std::string command = std::string("\"") + OLMTS_TOOL_PATH + "\" scans " + base_ +
                                " --stream 3 >/dev/full 2>" + ScratchPath("full_err");
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_NE(Slurp(ScratchPath("full_err")).find("No space left on device"), std::string::npos);
  }
}
#endif

}  // namespace

#else

TEST(OlmtsTool, NotBuilt) { GTEST_SKIP() << "the olmts tool is not part of this build"; }

#endif
