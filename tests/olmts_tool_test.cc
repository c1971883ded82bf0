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
  TsHandle* h = TSOpenHT(base_.c_str());
  ASSERT_NE(h, nullptr);
  char name[8];
  const int count = GCodePrmHT(h, -1, name) - OLMTS_PARAM_COUNT_BASE;
  TSCloseHT(&h);
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
  TsHandle* h = TSOpenHT(base_.c_str());
  ASSERT_NE(h, nullptr);
  SetConcatHT(h, 1);
  TimeStamp at{0, 0, 0, 15, 3, 26, 0, 20};
  ASSERT_EQ(SeekHT(h, 3, at, 0), OLMTS_OK);
  double values[5];
  int32_t flag = 0;
  ASSERT_EQ(ReadScanDblHT(h, 3, &flag, values), OLMTS_OK);
  TSCloseHT(&h);
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
  EXPECT_EQ(Split(lines[0]).size(), 4u + 10u);
  // Index 0 of level 0: (2 x 6 - 1) x 0.5 x 150 / 75 Hz; the carry level of the
  // first cycle is level 3, window 8.
  const std::vector<std::string> top = Split(lines[1]);
  EXPECT_EQ(std::vector<std::string>(top.begin(), top.begin() + 4), (std::vector<std::string>{"1", "0", "0", "11"}));
  const std::vector<std::string> carry = Split(lines[9]);
  EXPECT_EQ(std::vector<std::string>(carry.begin(), carry.begin() + 4),
            (std::vector<std::string>{"8", "3", "8", "0.875"}));
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
  const std::vector<double> a = cells(r[1]), b = cells(f[3]);
  ASSERT_EQ(a[3], 11.0);
  const Json chain = RunJson("response --json " + base_ + " --stream 3 --freq 11" + box + Sensors());
  const Json& ex = chain["responses"][0]["channels"][0]["total"];
  const std::complex<double> volts_per_unit{ex["re"].get<double>(), ex["im"].get<double>()};
  const std::complex<double> expected = std::complex<double>(a[4], a[5]) * 6.4 / volts_per_unit;
  EXPECT_NEAR(b[4], expected.real(), 1e-9 * std::abs(expected));
  EXPECT_NEAR(b[5], expected.imag(), 1e-9 * std::abs(expected));
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

  Bytes other = ReadFile(dir_->path() + "/box101.CLB");
  other[8] = 0x09;  // "SNUM" 777
  other[9] = 0x03;
  WriteFile(dir_->path() + "/box777.CLB", other);
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
  // Cut in the data block of record 300 (records of 32 + 15 x 5 x 3 bytes).
  WriteFile(cut.Path(".TS4"), Truncated(whole, 300 * 257 + 40));
  const Result r = Run("scans " + cut.base() + " --stream 4");
  EXPECT_FALSE(r.crashed);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("cut.TS4"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("status 1221"), std::string::npos) << r.err;
  // Unknown subcommands and options are refused by the parser.
  EXPECT_NE(Run("frobnicate").exit_code, 0);
  EXPECT_NE(Run("scans " + base_).exit_code, 0);  // --stream is required
}

}  // namespace

#else

TEST(OlmtsTool, NotBuilt) { GTEST_SKIP() << "the olmts tool is not part of this build"; }

#endif
