#include "writer/sample_survey.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <stdexcept>

#include "writer/box_circuit.h"
#include "writer/calibration_writer.h"
#include "writer/stream_writer.h"
#include "writer/table_writer.h"

namespace olmtsfil::testdata {
namespace {

constexpr int kChannels = 5;

std::string Two(int n) {
  char text[16];  // room for any int, so the compiler sees no truncation
  std::snprintf(text, sizeof text, "%02d", n);
  return text;
}

// A slow tone per channel and a little pattern, cheap to compute and different
// for every site, so that exports of different recordings never coincide.
SampleFunction SiteSignal(int site, double rate) {
  return [site, rate](int64_t scan, int channel) {
    const double t = static_cast<double>(scan) / rate;
    const double tone = std::sin(2 * std::numbers::pi * (0.5 + 0.25 * channel + 0.01 * site) * t);
    return static_cast<int32_t>(std::lround(200000.0 * tone)) + PatternSample(scan, channel) % 1000;
  };
}

void WriteCoil(const std::string& base, const std::string& serial, int number) {
  SensorSpec desc;
  desc.nchn = 1;
  desc.points = 20;
  desc.hnom = 0.8;
  const double corner = 3.0 + 0.1 * (number % 10);
  CalibrationFile file = SensorCalibration(desc, [corner](int, int, double f) {
    const Complex shape = Product(HighPass(f, corner), LowPass(f, 8000.0));
    return Complex{0.8 * shape.re, 0.8 * shape.im};
  });
  file.header.hw = "COIL";
  file.header.hsn = serial;
  file.header.snum = static_cast<uint16_t>(number);
  file.Write(base);
}

// A measurement of the front-end circuit the tables' hardware names, so that
// every stream's box stage has its gain and the exports carry responses.
void WriteBox(const std::string& base, int serial) {
  BoxCircuit circuit;
  CalibrationFile file = CircuitCalibration(circuit, 5, 24, 0.01, 20000.0, "OLM5");
  file.header.snum = static_cast<uint16_t>(serial);
  file.header.ver = "4270A2";
  file.header.hatt = 0.2;
  file.Write(base);
}

void Damage(const std::string& path, std::size_t offset, std::size_t bytes) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(offset));
  for (std::size_t i = 0; i < bytes; ++i) f.put(static_cast<char>(0xA5));
  if (!f) throw std::runtime_error(path + ": cannot damage");
}

}  // namespace

SampleSurvey WriteSampleSurvey(const std::string& directory, const SurveyDesc& desc) {
  namespace fs = std::filesystem;
  SampleSurvey survey;
  survey.directory = directory;
  const std::string calibrations = directory + "/calibrations";
  fs::create_directories(calibrations);

  for (int site = 1; site <= desc.sites; ++site) {
    const std::string name = "site" + Two(site);
    const std::string folder = directory + "/" + name;
    fs::create_directories(folder);
    const int box_serial = 100 + site;
    survey.box_calibrations.push_back(calibrations + "/box" + std::to_string(box_serial));
    WriteBox(survey.box_calibrations.back(), box_serial);
    std::vector<std::string> coils;
    for (int c = 0; c < 3; ++c) {
      coils.push_back("C" + Two(site) + std::string(1, "XYZ"[c]));
      survey.sensor_calibrations.push_back(calibrations + "/coil" + Two(site) + std::string(1, "xyz"[c]));
      WriteCoil(survey.sensor_calibrations.back(), coils.back(), 200 + 3 * site + c);
    }

    const int recordings = desc.recordings > 0 ? desc.recordings : site % 2 == 1 ? 3 : 2;
    for (int r = 0; r < recordings; ++r) {
      SurveyRecording rec;
      rec.site = name;
      rec.box_serial = box_serial;
      rec.coil_serials = coils;
      const int day = 10 + 2 * r;  // one recording every other day
      // A prefix per recording: dated sets of different recordings never run into each other.
      const std::string prefix = "s" + Two(site) + std::string(1, static_cast<char>('a' + r)) + "_";
      rec.base = folder + "/" + DatedStem(prefix, 4, day, 'a');

      TableFile table = TypicalTable();
      table.Set(Parameter::Text("SITE", "Survey site " + std::to_string(site)));
      table.Set(Parameter::Text("HW", "OLM5A"));
      table.Set(Parameter::Int("SRL4", 150));
      table.Set(Parameter::Int("SRL5", 15));
      table.Set(Parameter::Text("HSNX", coils[0]));
      table.Set(Parameter::Text("HSNY", coils[1]));
      // The second site's first recording was set up without the Hz coil's
      // serial: only a mapping the user gives can match it.
      if (!(site == 2 && r == 0))
        table.Set(Parameter::Text("HSNZ", coils[2]));
      else
        rec.coil_serials[2].clear();

      // 150 Hz over three files of one day on stream 4, 15 Hz over two days on
      // stream 5 (without a file of stream 2, streams 2-4 keep records by rate class).
      TagSpec medium;
      medium.nchn = kChannels;
      medium.scnt = 150;
      medium.rate = 150;
      medium.snum = static_cast<uint16_t>(box_serial);
      medium.utc = MakeStamp(2026, 4, day, 23, 58, 0);
      const int n = desc.seconds_per_file;
      const std::vector<std::string> medium_files = {DatedStem(prefix, 4, day, 'a'), DatedStem(prefix, 4, day, 'b'),
                                                     DatedStem(prefix, 4, day, 'c')};
      for (std::size_t f = 0; f < medium_files.size(); ++f) {
        TagSpec t = medium;
        t.utc = AddSeconds(medium.utc, static_cast<int64_t>(f) * n);
        WriteFile(folder + "/" + medium_files[f] + ".TS4",
                  EncodeStream(t, n, SiteSignal(site, 150.0), static_cast<int64_t>(f) * n * 150));
      }
      TagSpec low = medium;
      low.scnt = 15;
      low.rate = 15;
      for (int f = 0; f < 2; ++f) {
        TagSpec t = low;
        t.utc = AddSeconds(low.utc, static_cast<int64_t>(f) * n * 3 / 2);
        WriteFile(folder + "/" + DatedStem(prefix, 4, day + f, 'a') + ".TS5",
                  EncodeStream(t, n * 3 / 2, SiteSignal(site, 15.0), static_cast<int64_t>(f) * n * 3 / 2 * 15));
      }
      table.Write(rec.base + ".TBL");

      const std::size_t medium_record = medium.RecordSize();
      if (site == 1 && r == 1) {
        // Overwritten bytes across a tag in the middle of the second file.
        Damage(folder + "/" + medium_files[1] + ".TS4", medium_record * static_cast<std::size_t>(n / 2) - 10, 2000);
        rec.problems.push_back("damaged");
      }
      if (site == 2 && r == 1) {
        fs::remove(folder + "/" + medium_files[1] + ".TS4");  // the file of the set after it is never reached
        rec.problems.push_back("missing-file");
      }
      if (site == 3 && r == 0) {
        // The last record of the low-rate stream cut short.
        const std::string path = folder + "/" + DatedStem(prefix, 4, day + 1, 'a') + ".TS5";
        fs::resize_file(path, fs::file_size(path) - 100);
        rec.problems.push_back("cut");
      }
      if (site == 3 && r == 2) {
        fs::remove(rec.base + ".TBL");
        rec.problems.push_back("no-table");
      }
      survey.recordings.push_back(rec);
    }
  }
  // A box no recording of the survey was made with.
  survey.unmatched_calibration = calibrations + "/box999";
  WriteBox(survey.unmatched_calibration, 999);
  return survey;
}

}  // namespace olmtsfil::testdata
