// Damaged, cut-short and hostile files: every one gives a status from the table of
// codes, writes nothing past a caller's buffer and leaves a handle that closes
// cleanly. Regression tests of faults found by fuzzing are named after the fault.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "olmtsfil.h"
#include "ts/recording.h"
#include "writer/calibration_writer.h"
#include "writer/stream_writer.h"
#include "writer/table_writer.h"

namespace {

using namespace olmtsfil::testdata;

TagSpec SmallTag() {
  TagSpec t;
  t.nchn = 3;
  t.scnt = 4;
  t.rate = 4;
  return t;
}

// Every status a reading call may give on a bad file; anything else is a fault.
const std::set<int32_t> kReadingStatuses = {OLMTS_OK,           OLMTS_BAD_SEEK_MODE, OLMTS_GAP,
                                            OLMTS_SEEK_LATER,   OLMTS_END_OF_DATA,   OLMTS_READ_ERROR,
                                            OLMTS_NULL_HANDLE,  OLMTS_BAD_STREAM,    OLMTS_TAG_MISMATCH,
                                            OLMTS_NO_MEMORY,    OLMTS_CANNOT_REOPEN, OLMTS_BAD_WINDOW,
                                            OLMTS_NO_SUCH_NAME, OLMTS_TYPE_MISMATCH};

// Buffers of exactly the size a call promises to fill: under the sanitizers a
// byte written past the promise is reported.
template <typename T>
std::unique_ptr<T[]> Exact(std::size_t count) {
  return std::unique_ptr<T[]>(new T[count]);
}

// How a stream ended after reading everything it would give.
struct Drained {
  int scans = 0;       // scans delivered
  int32_t status = 0;  // the status that ended the reading
};

// Reads every scan of stream k with buffers sized from its first tag, as a caller
// that looked at the tag right after the open would.
Drained DrainScans(TsHandle* h, int k, int limit = 100000) {
  int32_t channels = 0, sample_size = 0;
  ReadTagHT(h, k, 1, "NCHN", OLMTS_TYPE_INT32, &channels);
  ReadTagHT(h, k, 1, "LSMP", OLMTS_TYPE_INT32, &sample_size);
  Drained d;
  for (int i = 0; i < limit; ++i) {
    int32_t flag = 0;
    auto values = Exact<double>(static_cast<std::size_t>(channels));
    auto scan = Exact<uint8_t>(static_cast<std::size_t>(channels * sample_size));
    d.status = (i % 2 == 0 || k == 0) ? ReadScanHT(h, k, &flag, scan.get()) : ReadScanDblHT(h, k, &flag, values.get());
    if (d.status != OLMTS_OK) break;
    ++d.scans;
  }
  return d;
}

Drained DrainSpectral(TsHandle* h, int limit = 100000) {
  int32_t channels = 0;
  ReadTagHT(h, 0, 1, "NCHN", OLMTS_TYPE_INT32, &channels);
  Drained d;
  for (int i = 0; i < limit; ++i) {
    int32_t flag = 0, window = 0, level = 0, index = 0;
    auto values = Exact<double>(2 * static_cast<std::size_t>(channels));
    d.status = ReadDftScanHT(h, &flag, &window, &level, &index, values.get());
    if (d.status != OLMTS_OK) break;
    GetDftFreqHT(h, index);
    ++d.scans;
  }
  return d;
}

// Every other reading call once on stream k; each must answer with a known status.
void ProbeStream(TsHandle* h, int k) {
  const TimeStamp early = MakeStamp(1999, 1, 1), late = MakeStamp(2099, 1, 1);
  std::vector<int32_t> statuses;
  statuses.push_back(SeekHT(h, k, late, 0));
  statuses.push_back(SeekHT(h, k, early, 0));
  statuses.push_back(GapHT(h, k));
  statuses.push_back(SkipRecHT(h, k));
  statuses.push_back(GapHT(h, k));
  for (int32_t size : {0, 1, 37, 4096}) {
    auto buffer = Exact<uint8_t>(static_cast<std::size_t>(size));
    statuses.push_back(ReadRecHT(h, k, size, buffer.get()));
  }
  for (const char* name : {"UTC", "SCNT", "NCHN", "LTAG", "LSMP", "SBREC", "CLST", "WINDX"}) {
    for (int32_t which : {0, 1}) {
      auto out = Exact<uint8_t>(std::string(name) == "UTC" ? 8 : 4);
      statuses.push_back(
          ReadTagHT(h, k, which, name, std::string(name) == "UTC" ? OLMTS_TYPE_TIMESTAMP : 0, out.get()));
    }
  }
  for (int32_t status : statuses) EXPECT_TRUE(kReadingStatuses.count(status)) << "status " << status;
}

class HostileInputTest : public ::testing::Test {
 protected:
  ScratchDirectory dir{"hostile"};
  RecordingFiles files{dir.path(), "x314a"};

  void SetUp() override { TypicalTable().Write(files.Path(".TBL")); }

  // Opens the recording; the table is valid, so the open never fails on account
  // of the stream files.
  TsHandle* Open() {
    TsHandle* h = TSOpenHT(files.base().c_str());
    EXPECT_NE(h, nullptr);
    return h;
  }
};

// Three records of 4 scans of 3 channels, 32-byte tags: 68 bytes each.
constexpr int kRecords = 3;
Bytes SmallStream() { return EncodeStream(SmallTag(), kRecords); }

TEST_F(HostileInputTest, EveryPrefixOfATableOpensWhatIsWholeOrNothing) {
  for (TableLayout layout : {TableLayout::kCurrent32, TableLayout::kOlder25}) {
    TableFile table = TypicalTable();
    table.layout = layout;
    const Bytes full = table.Encode();
    const std::size_t header = layout == TableLayout::kCurrent32 ? 32 : 0;
    const std::size_t record = layout == TableLayout::kCurrent32 ? 32 : 25;
    for (std::size_t size = 0; size <= full.size(); ++size) {
      WriteFile(files.Path(".TBL"), Truncated(full, size));
      TsHandle* h = TSOpenHT(files.base().c_str());
      const std::size_t whole = size < 32 ? 0 : std::min((size - header) / record, table.params.size());
      if (whole == 0) {
        EXPECT_EQ(h, nullptr) << "size " << size;
        TSCloseHT(&h);
        continue;
      }
      ASSERT_NE(h, nullptr) << "size " << size;
      char name[8];
      EXPECT_EQ(GCodePrmHT(h, -1, name), OLMTS_PARAM_COUNT_BASE + static_cast<int32_t>(whole)) << "size " << size;
      int32_t channel = 0;
      EXPECT_EQ(ReadPrmHT(h, "CHEX", OLMTS_TYPE_INT32, &channel), OLMTS_OK);
      TSCloseHT(&h);
      EXPECT_EQ(h, nullptr);
    }
  }
}

TEST_F(HostileInputTest, EveryPrefixOfAStreamDeliversItsWholeRecordsThenAStatus) {
  const Bytes full = SmallStream();
  const std::size_t record = full.size() / kRecords;
  for (std::size_t size = 0; size <= full.size(); ++size) {
    files.Write(".TS1", Truncated(full, size));
    TsHandle* h = Open();
    const std::size_t whole = size / record, rest = size % record;
    const Drained d = DrainScans(h, 1);
    if (size < 32) {
      // Not even the first tag: the stream is unusable (1234 when nothing of the
      // tag sizes a buffer).
      EXPECT_TRUE(d.status == OLMTS_BAD_STREAM || d.status == OLMTS_NO_MEMORY) << "size " << size;
      EXPECT_EQ(d.scans, 0);
    } else {
      EXPECT_EQ(d.scans, static_cast<int>(whole) * 4) << "size " << size;
      // Cut inside a data block: unreadable record; inside a tag or at a record's
      // end: the end of the data.
      EXPECT_EQ(d.status, rest >= 32 ? OLMTS_READ_ERROR : OLMTS_END_OF_DATA) << "size " << size;
    }
    ProbeStream(h, 1);
    TSCloseHT(&h);
  }
}

TEST_F(HostileInputTest, EveryPrefixOfASpectralFileDeliversItsWholeRecordsThenAStatus) {
  TagSpec t;
  t.kind = 15;
  t.ltag = 60;
  t.nchn = 2;
  t.lsmp = 6;
  t.scnt = 10;
  t.rate = 1024;
  t.wiscn = 64;
  t.leval = 2;
  t.nfrqt = 4;
  t.nfrqd = 2;
  t.windx = 1;
  Bytes full;
  for (int r = 0; r < kRecords; ++r) {
    t.windx = 1 + 8 * r;
    t.utc = AddSeconds(MakeStamp(2026, 3, 14, 10), r);
    std::vector<int32_t> samples(20, 1000 * (r + 1));
    samples[0] = -8388608;  // a filler scan first in each record
    Bytes rec = EncodeRecord(t, samples);
    full.insert(full.end(), rec.begin(), rec.end());
  }
  const std::size_t record = full.size() / kRecords;
  for (std::size_t size = 0; size <= full.size(); ++size) {
    files.Write(".TFC", Truncated(full, size));
    TsHandle* h = Open();
    const std::size_t whole = size / record, rest = size % record;
    const Drained d = DrainSpectral(h);
    if (size < 60) {
      EXPECT_TRUE(d.status == OLMTS_BAD_STREAM || d.status == OLMTS_NO_MEMORY) << "size " << size;
      EXPECT_EQ(d.scans, 0);
    } else {
      EXPECT_EQ(d.scans, static_cast<int>(whole) * 9) << "size " << size;
      EXPECT_EQ(d.status, rest >= 60 ? OLMTS_READ_ERROR : OLMTS_END_OF_DATA) << "size " << size;
    }
    ProbeStream(h, 0);
    TSCloseHT(&h);
  }
}

// Opens a calibration and evaluates it the way a caller would, with arrays of the
// channel counts the calls promise to fill; returns whether it opened.
bool OpenAndEvaluate(int32_t kind, const std::string& base, TsHandle* recording) {
  CalHandle* cal = CalOpenHT(kind, base.c_str());
  if (cal == nullptr) return false;
  int32_t nchn = 0;
  EXPECT_EQ(ReadCalPrmHT(cal, "NCHN", OLMTS_TYPE_INT32, &nchn), OLMTS_OK);
  EXPECT_TRUE(nchn >= 1 && nchn <= 12) << nchn;
  int32_t recording_channels = 0;
  GetNumChnHT(recording, &recording_channels);
  const std::set<int32_t> allowed = {OLMTS_OK,
                                     OLMTS_COMB_UNSUPPORTED,
                                     OLMTS_DECIMATION_UNSUPPORTED,
                                     OLMTS_NO_SUCH_NAME,
                                     OLMTS_TYPE_MISMATCH,
                                     OLMTS_NULL_HANDLE,
                                     OLMTS_BAD_STREAM,
                                     OLMTS_OUT_OF_CAL_RANGE,
                                     OLMTS_BAD_CAL_KIND,
                                     OLMTS_NO_RESPONSE,
                                     OLMTS_BAD_RATE_CODE,
                                     OLMTS_NO_MODEL,
                                     OLMTS_CHANNEL_COUNT_MISMATCH};
  for (double f : {0.0, -1.0, 1e-3, 1.0, 50.0, 1e4, 1e300, std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::quiet_NaN()}) {
    auto resp = Exact<Complex>(static_cast<std::size_t>(nchn));
    auto aux = Exact<double>(static_cast<std::size_t>(nchn));
    int32_t status = CalcSensorRespHT(cal, recording, f, resp.get(), aux.get());
    EXPECT_TRUE(allowed.count(status)) << "sensor response status " << status << " at " << f;
    for (int32_t stream : {1, 2}) {
      auto box = Exact<Complex>(static_cast<std::size_t>(recording_channels));
      auto box_aux = Exact<double>(static_cast<std::size_t>(recording_channels));
      status = CalcBoxRespHT(cal, recording, stream, f, box.get(), box_aux.get());
      EXPECT_TRUE(allowed.count(status)) << "box response status " << status << " at " << f;
    }
  }
  CalCloseHT(&cal);
  EXPECT_EQ(cal, nullptr);
  return true;
}

BoxSpec SmallBox() {
  BoxSpec box;
  box.nchn = 5;  // the channel count of the typical recording
  box.tables = 4;
  box.points = 3;
  return box;
}

TEST_F(HostileInputTest, EveryPrefixOfACalibrationOpensWithItsWholeRecordsOrNot) {
  TsHandle* h = Open();
  auto high_pass = [](int, int channel, double f) { return HighPass(f, 0.5 + channel); };
  SensorSpec sensor;
  sensor.points = 6;
  const CalibrationFile box = BoxCalibration(SmallBox());
  for (const CalibrationFile& cal : {box, SensorCalibration(sensor, high_pass)}) {
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
  TSCloseHT(&h);
}

// Bytes of the tag that sizes or counts depend on.
struct SizingField {
  const char* name;
  std::size_t offset;
};
constexpr SizingField kSizingFields[] = {{"SCNT low", 10}, {"SCNT high", 11}, {"NCHN", 12}, {"LTAG", 13},
                                         {"LSMP", 17},     {"byte 27", 27},   {"SBREC", 28}};
constexpr uint8_t kHostileBytes[] = {0, 1, 2, 3, 4, 15, 16, 17, 31, 32, 33, 59, 60, 61, 0x7F, 0x80, 0xFE, 0xFF};

TEST_F(HostileInputTest, ChangedSizingFieldOfTheFirstTagGivesAStatus) {
  const Bytes full = SmallStream();
  for (const SizingField& field : kSizingFields) {
    for (uint8_t value : kHostileBytes) {
      files.Write(".TS1", WithByte(full, field.offset, value));
      TsHandle* h = Open();
      const Drained d = DrainScans(h, 1);
      EXPECT_TRUE(kReadingStatuses.count(d.status)) << field.name << " = " << int{value} << ": " << d.status;
      EXPECT_NE(d.status, OLMTS_OK);
      ProbeStream(h, 1);
      TSCloseHT(&h);
    }
  }
}

TEST_F(HostileInputTest, ChangedSizingFieldOfALaterTagIsAnInconsistentTag) {
  const Bytes full = SmallStream();
  const std::size_t second = full.size() / kRecords;
  for (const SizingField& field : kSizingFields) {
    for (uint8_t value : kHostileBytes) {
      if (full[second + field.offset] == value) continue;
      files.Write(".TS1", WithByte(full, second + field.offset, value));
      TsHandle* h = Open();
      const Drained d = DrainScans(h, 1);
      EXPECT_EQ(d.scans, 4) << field.name << " = " << int{value};
      EXPECT_EQ(d.status, OLMTS_TAG_MISMATCH) << field.name << " = " << int{value};
      ProbeStream(h, 1);
      TSCloseHT(&h);
    }
  }
}

TEST_F(HostileInputTest, ChangedHeaderChannelCountOfACalibrationGivesAStatus) {
  TsHandle* h = Open();
  const Bytes full = BoxCalibration(SmallBox()).Encode();
  for (int16_t nchn : {0, 1, 2, 4, 5, 6, 11, 12, 13, 255, 256, 0x7FFF, -1, -12, -0x8000}) {
    Bytes bytes =
        WithByte(WithByte(full, 10, static_cast<uint8_t>(nchn & 0xFF)), 11, static_cast<uint8_t>((nchn >> 8) & 0xFF));
    WriteFile(files.base() + ".CLB", bytes);
    const bool opened = OpenAndEvaluate(1, files.base(), h);
    // Outside 1 ... 12 no channel array could hold the records: refused.
    if (nchn < 1 || nchn > 12) {
      EXPECT_FALSE(opened) << nchn;
    } else if (nchn == 5) {
      EXPECT_TRUE(opened);
    }
  }
  TSCloseHT(&h);
}

TEST_F(HostileInputTest, HostileRecordSequencesOfACalibrationGiveAStatus) {
  TsHandle* h = Open();
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
  TSCloseHT(&h);
}

// A dated set of three files of stream 1, each with its records following on in
// time; `middle` replaces the second file's contents (nullopt: no second file).
class DatedSetTest : public HostileInputTest {
 protected:
  RecordingFiles second{dir.path(), "x314b"};
  RecordingFiles third{dir.path(), "x314c"};

  void WriteSet(const std::optional<Bytes>& middle) {
    TagSpec t = SmallTag();
    files.Write(".TS1", EncodeStream(t, 2));
    t.utc = AddSeconds(t.utc, 2);
    if (middle) second.Write(".TS1", *middle);
    t.utc = AddSeconds(t.utc, 2);
    third.Write(".TS1", EncodeStream(t, 2));
  }
};

TEST_F(DatedSetTest, EmptyMiddleFileEndsTheStream) {
  WriteSet(Bytes{});
  TsHandle* h = Open();
  SetConcatHT(h, 1);
  const Drained d = DrainScans(h, 1);
  EXPECT_EQ(d.scans, 8);
  EXPECT_EQ(d.status, OLMTS_END_OF_DATA);
  ProbeStream(h, 1);
  TSCloseHT(&h);
}

TEST_F(DatedSetTest, MissingMiddleFileEndsTheStream) {
  WriteSet(std::nullopt);
  TsHandle* h = Open();
  SetConcatHT(h, 1);
  const Drained d = DrainScans(h, 1);
  EXPECT_EQ(d.scans, 8);
  EXPECT_EQ(d.status, OLMTS_END_OF_DATA);
  TSCloseHT(&h);
}

TEST_F(DatedSetTest, DamagedMiddleFileGivesItsStatusAfterTheWholeRecords) {
  TagSpec t = SmallTag();
  t.utc = AddSeconds(t.utc, 2);
  const Bytes middle = EncodeStream(t, 2);
  TagSpec other = t;
  other.nchn = 4;
  struct Case {
    Bytes bytes;
    int scans;
    int32_t status;
  };
  const Case cases[] = {
      {Truncated(middle, 10), 8, OLMTS_END_OF_DATA},                      // a tag cut short
      {Truncated(middle, middle.size() / 2 + 40), 12, OLMTS_READ_ERROR},  // a data block cut short
      {EncodeStream(other, 2), 8, OLMTS_TAG_MISMATCH},                    // another channel count
      {Bytes(200, 0xFF), 8, OLMTS_TAG_MISMATCH},                          // not a stream at all
  };
  for (const Case& c : cases) {
    WriteSet(c.bytes);
    TsHandle* h = Open();
    SetConcatHT(h, 1);
    const Drained d = DrainScans(h, 1);
    EXPECT_EQ(d.scans, c.scans);
    EXPECT_EQ(d.status, c.status);
    // Back to the first file and through the set again: the same end.
    EXPECT_EQ(SeekHT(h, 1, MakeStamp(2000, 1, 1), 0), OLMTS_SEEK_LATER);
    ProbeStream(h, 1);
    TSCloseHT(&h);
  }
}

TEST_F(HostileInputTest, FileCutShortAfterTheOpenGivesAStatus) {
  const Bytes full = SmallStream();
  const std::size_t record = full.size() / kRecords;
  for (std::size_t cut : {std::size_t{0}, std::size_t{10}, record - 1, record + 20, record + 40, 2 * record}) {
    files.Write(".TS1", full);
    TsHandle* h = Open();
    int32_t flag = 0;
    double values[3];
    ASSERT_EQ(ReadScanDblHT(h, 1, &flag, values), OLMTS_OK);  // the first record is now in memory
    std::filesystem::resize_file(files.Path(".TS1"), cut);
    const Drained d = DrainScans(h, 1);
    // The scans in memory come first; then a record that cannot be read whole.
    EXPECT_GE(d.scans, 3) << "cut " << cut;
    EXPECT_TRUE(d.status == OLMTS_READ_ERROR || d.status == OLMTS_END_OF_DATA) << "cut " << cut << ": " << d.status;
    ProbeStream(h, 1);
    TSCloseHT(&h);
  }
}

TEST_F(DatedSetTest, FirstFileRemovedAfterTheOpenCannotBeReopened) {
  WriteSet(EncodeStream(
      [] {
        TagSpec t = SmallTag();
        t.utc = AddSeconds(t.utc, 2);
        return t;
      }(),
      2));
  TsHandle* h = Open();
  SetConcatHT(h, 1);
  EXPECT_EQ(DrainScans(h, 1).scans, 24);
  std::filesystem::remove(files.Path(".TS1"));
  EXPECT_EQ(SeekHT(h, 1, MakeStamp(2000, 1, 1), 0), OLMTS_CANNOT_REOPEN);
  ProbeStream(h, 1);
  TSCloseHT(&h);
}

// Regression: a tag whose sizes promise a data block of gigabytes made the scan
// reader allocate a buffer of that size for a file of a few bytes.
TEST_F(HostileInputTest, HugeDataBlockInShortFileAllocatesNoBuffer) {
  TagSpec t = SmallTag();
  t.scnt = 65535;
  t.nchn = 255;
  t.lsmp = 255;
  t.trailer_factor = 255;
  t.sbrec = 255;
  files.Write(".TS1", EncodeTag(t));
  olmtsfil::Recording recording;
  ASSERT_EQ(recording.Open(files.base().c_str()), olmtsfil::Status::kOk);
  int32_t flag = 7;
  std::vector<uint8_t> scan(255 * 255);
  EXPECT_EQ(recording.ReadScan(1, &flag, scan.data()), olmtsfil::Status::kReadError);
  EXPECT_EQ(flag, 0);
  EXPECT_FALSE(recording.stream(1).record_buffer);
  // The failure is sticky, as for any record that cannot be read.
  EXPECT_EQ(recording.ReadScan(1, &flag, scan.data()), olmtsfil::Status::kReadError);
  EXPECT_FALSE(recording.stream(1).record_buffer);
}

// Regression: the dates of a set wrap from December to January, so one file for
// every day of the year made the set a ring, and a seek past its last record never
// returned.
TEST_F(HostileInputTest, DatedSetCoveringTheWholeYearDoesNotWrapToItsFirstFile) {
  TagSpec t = SmallTag();
  int day_index = 0;
  for (int month = 1; month <= 12; ++month) {
    const int days = month == 2 ? 29 : (month == 4 || month == 6 || month == 9 || month == 11) ? 30 : 31;
    for (int day = 1; day <= days; ++day, ++day_index) {
      RecordingFiles day_file{dir.path(), DatedStem("x", month, day, 'a')};
      TagSpec dated = t;
      dated.utc = AddSeconds(MakeStamp(2026, 1, 1), 86400 * day_index);
      day_file.Write(".TS1", EncodeStream(dated, 1));
    }
  }
  TsHandle* h = Open();
  SetConcatHT(h, 1);
  EXPECT_EQ(SeekHT(h, 1, MakeStamp(2099, 1, 1), 0), OLMTS_END_OF_DATA);
  EXPECT_EQ(SeekHT(h, 1, MakeStamp(2000, 1, 1), 0), OLMTS_SEEK_LATER);
  // Every day once, from 14 March to the end of the set at 13 March.
  EXPECT_EQ(DrainScans(h, 1).scans, 366 * 4);
  TSCloseHT(&h);

  // Started on a later file of 14 March whose name differs in case from the
  // ring's: the ring passes 14 March without meeting that file, and still ends.
  RecordingFiles upper{dir.path(), "X314C"};
  TypicalTable().Write(upper.Path(".TBL"));
  upper.Write(".TS1", EncodeStream(t, 1));
  h = TSOpenHT(upper.base().c_str());
  ASSERT_NE(h, nullptr);
  SetConcatHT(h, 1);
  EXPECT_EQ(SeekHT(h, 1, MakeStamp(2099, 1, 1), 0), OLMTS_END_OF_DATA);
  TSCloseHT(&h);
}

}  // namespace
