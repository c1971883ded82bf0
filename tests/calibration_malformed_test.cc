// Damaged, cut-short and hostile calibration files.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <string>

#include "malformed_input.h"

namespace {

using namespace olmtsfil::testdata;

// A sensor file of six one-channel records, a table starting at every third.
CalibrationFile SequencedSensor() {
  CalibrationFile file;
  file.header.ctyp = 2;
  file.header.nchn = 1;
  for (int i = 0; i < 6; ++i) {
    CalRecord r;
    r.frequency = static_cast<float>(i + 1);
    r.sequence = i % 3 == 0 ? static_cast<int16_t>(i % 2) : static_cast<int16_t>(2 + i % 7);
    r.blocks.resize(1);
    file.records.push_back(r);
  }
  return file;
}

// Every prefix of a file gives a handle exactly when it holds a whole header and
// a whole record, and the handle evaluates with known statuses.
TEST_F(MalformedInputTest, CalibrationCutShortOpensWithItsWholeRecordsOrNot) {
  ScopedRecording h = Open();
  auto high_pass = [](int, int channel, double f) { return HighPass(f, 0.5 + channel); };
  SensorSpec sensor;
  sensor.points = 6;
  BoxSpec one_channel = SmallBox();
  one_channel.nchn = 1;
  one_channel.points = 2;
  for (const CalibrationFile& cal : {BoxCalibration(SmallBox()), BoxCalibration(one_channel),
                                     SensorCalibration(sensor, high_pass), SequencedSensor()}) {
    const Bytes full = cal.Encode();
    const std::size_t record = CalibrationFile::RecordSize(cal.header.nchn);
    const std::string path = files.base() + (cal.header.ctyp == 1 ? ".CLB" : ".CLC");
    for (std::size_t size = 0; size <= full.size(); ++size) {
      WriteFile(path, Truncated(full, size));
      const std::size_t whole = size < 132 ? 0 : (size - 132) / record;
      // A short header (1240) or no whole record (1247): no handle.
      EXPECT_EQ(OpenAndEvaluate(cal.header.ctyp, files.base(), h), whole > 0) << "size " << size;
    }
  }
}

// Every single-byte defect of the header and the first record gives NULL or a
// usable handle.
TEST_F(MalformedInputTest, CalibrationWithADamagedHeaderOrFirstRecordByteGivesAStatus) {
  BoxSpec one_channel = SmallBox();
  one_channel.nchn = 1;
  one_channel.points = 2;
  for (const CalibrationFile& f : {BoxCalibration(one_channel), SequencedSensor()}) {
    const uint8_t ctyp = f.header.ctyp;
    const Bytes valid = f.Encode();
    int probes = 0;
    auto probe = [&](const Bytes& bytes) {
      // A fresh name per probe: replacing one file thousands of times is far slower.
      const std::string name = dir.File("m" + std::to_string(probes++));
      WriteFile(name + (ctyp == 1 ? ".CLB" : ".CLC"), bytes);
      ScopedCalibration h = OpenCalibration(ctyp, name);
      if (!h) return;
      char text[16];
      ReadCalPrmHT(h, "HW", 2, text);
    };
    const std::size_t limit = std::min(valid.size(), f.RecordOffset(1));
    for (std::size_t at = 0; at < limit; ++at)
      for (uint8_t v : {0x00, 0xFF}) probe(WithByte(valid, at, v));
  }
}

TEST_F(MalformedInputTest, CalibrationWithAChangedChannelCountGivesAStatus) {
  ScopedRecording h = Open();
  const Bytes full = BoxCalibration(SmallBox()).Encode();
  for (int16_t nchn : {0, 1, 2, 4, 5, 6, 11, 12, 13, 255, 256, 0x7FFF, -1, -12, -0x8000}) {
    WriteFile(files.base() + ".CLB", WithField(full, olmtsfil::layout::cal_header::kNchn, static_cast<uint16_t>(nchn)));
    const bool opened = OpenAndEvaluate(1, files.base(), h);
    // Outside 1 ... 12 no channel array could hold the records: refused.
    if (nchn < 1 || nchn > 12) {
      EXPECT_FALSE(opened) << nchn;
    } else if (nchn == 5) {
      EXPECT_TRUE(opened);
    }
  }
}

TEST_F(MalformedInputTest, CalibrationWithHostileRecordSequencesGivesAStatus) {
  ScopedRecording h = Open();
  auto with_sequences = [](CalibrationFile cal, const std::function<int16_t(int)>& sequence) {
    for (std::size_t i = 0; i < cal.records.size(); ++i) cal.records[i].sequence = sequence(static_cast<int>(i));
    return cal;
  };
  BoxSpec many = SmallBox();
  many.nchn = 1;
  many.tables = 1;
  many.points = 101;
  const CalibrationFile base = BoxCalibration(many);
  // One table of 101 records, 31 tables, tables of one record, negative and
  // extreme sequence numbers.
  EXPECT_FALSE(OpenAndEvaluate(1, (base.Write(files.base()), files.base()), h));
  EXPECT_FALSE(
      OpenAndEvaluate(1, (with_sequences(base, [](int) { return int16_t{0}; }).Write(files.base()), files.base()), h));
  EXPECT_TRUE(OpenAndEvaluate(
      1,
      (with_sequences(base, [](int i) { return static_cast<int16_t>(i % 4 == 0 ? 1 : 2); }).Write(files.base()),
       files.base()),
      h));
  for (int16_t extreme : {int16_t{-32768}, int16_t{32767}, int16_t{-1}}) {
    CalibrationFile small = BoxCalibration(SmallBox());
    for (CalRecord& r : small.records) r.sequence = extreme;
    small.Write(files.base());
    OpenAndEvaluate(1, files.base(), h);
  }
  // Four tables of a single record each: a circuit model from the fewest points.
  CalibrationFile single = BoxCalibration(SmallBox());
  single.records.resize(4);
  for (CalRecord& r : single.records) r.sequence = 1;
  single.Write(files.base());
  EXPECT_TRUE(OpenAndEvaluate(1, files.base(), h));
  // Frequencies that are not finite or go backwards.
  CalibrationFile odd = BoxCalibration(SmallBox());
  for (std::size_t i = 0; i < odd.records.size(); ++i)
    odd.records[i].frequency = i % 3 == 0   ? std::numeric_limits<float>::quiet_NaN()
                               : i % 3 == 1 ? -std::numeric_limits<float>::infinity()
                                            : 1e30f / static_cast<float>(i);
  odd.Write(files.base());
  EXPECT_TRUE(OpenAndEvaluate(1, files.base(), h));
}

}  // namespace
