// Damaged, cut-short and hostile stream files and dated sets: every one gives a
// status from the table of codes, writes nothing past a caller's buffer and
// leaves a handle that closes cleanly. Regression tests of faults found by
// fuzzing are named after the fault.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "malformed_input.h"
#include "ts/recording.h"

namespace {

using namespace olmtsfil::testdata;

TEST_F(MalformedInputTest, StreamCutShortDeliversItsWholeRecordsThenAStatus) {
  const Bytes full = SmallStream();
  const std::size_t record = full.size() / kRecords;
  for (std::size_t size = 0; size <= full.size(); ++size) {
    files.Write(".TS1", Truncated(full, size));
    ScopedRecording h = Open();
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
  }
}

// Fields of the tag that sizes or counts depend on, one byte of them at a time:
// the other bytes of the field keep their valid value.
struct SizingByte {
  const char* name;
  olmtsfil::layout::Field field;
  int byte;
};
namespace tag = olmtsfil::layout::tag;
constexpr SizingByte kSizingBytes[] = {
    {"SCNT low", tag::kScnt, 0}, {"SCNT high", tag::kScnt, 1},        {"NCHN", tag::kNchn, 0},  {"LTAG", tag::kLtag, 0},
    {"LSMP", tag::kLsmp, 0},     {"byte 27", tag::kTrailerFactor, 0}, {"SBREC", tag::kSbrec, 0}};
constexpr uint8_t kHostileBytes[] = {0, 1, 2, 3, 4, 15, 16, 17, 31, 32, 33, 59, 60, 61, 0x7F, 0x80, 0xFE, 0xFF};

// `bytes` with one byte of the tag at `base` set to `value`.
Bytes WithSizingByte(const Bytes& bytes, const SizingByte& sizing, uint8_t value, std::size_t base = 0) {
  const int shift = 8 * sizing.byte;
  const uint64_t valid = FieldValue(bytes, sizing.field, base);
  return WithField(bytes, sizing.field, (valid & ~(uint64_t{0xFF} << shift)) | (uint64_t{value} << shift), base);
}

TEST_F(MalformedInputTest, ChangedSizingFieldOfTheFirstTagGivesAStatus) {
  const Bytes full = SmallStream();
  for (const SizingByte& field : kSizingBytes) {
    for (uint8_t value : kHostileBytes) {
      files.Write(".TS1", WithSizingByte(full, field, value));
      ScopedRecording h = Open();
      const Drained d = DrainScans(h, 1);
      EXPECT_TRUE(kReadingStatuses.count(d.status)) << field.name << " = " << int{value} << ": " << d.status;
      EXPECT_NE(d.status, OLMTS_OK);
      ProbeStream(h, 1);
    }
  }
}

TEST_F(MalformedInputTest, ChangedSizingFieldOfALaterTagIsAnInconsistentTag) {
  const Bytes full = SmallStream();
  const std::size_t second = full.size() / kRecords;
  for (const SizingByte& field : kSizingBytes) {
    for (uint8_t value : kHostileBytes) {
      const Bytes changed = WithSizingByte(full, field, value, second);
      if (changed == full) continue;
      files.Write(".TS1", changed);
      ScopedRecording h = Open();
      const Drained d = DrainScans(h, 1);
      EXPECT_EQ(d.scans, 4) << field.name << " = " << int{value};
      EXPECT_EQ(d.status, OLMTS_TAG_MISMATCH) << field.name << " = " << int{value};
      ProbeStream(h, 1);
    }
  }
}

// A dated set of three files of stream 1, each with its records following on in
// time; `middle` replaces the second file's contents (nullopt: no second file).
class DatedSetTest : public MalformedInputTest {
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
  ScopedRecording h = Open();
  SetConcatHT(h, 1);
  const Drained d = DrainScans(h, 1);
  EXPECT_EQ(d.scans, 8);
  EXPECT_EQ(d.status, OLMTS_END_OF_DATA);
  ProbeStream(h, 1);
}

TEST_F(DatedSetTest, MissingMiddleFileEndsTheStream) {
  WriteSet(std::nullopt);
  ScopedRecording h = Open();
  SetConcatHT(h, 1);
  const Drained d = DrainScans(h, 1);
  EXPECT_EQ(d.scans, 8);
  EXPECT_EQ(d.status, OLMTS_END_OF_DATA);
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
    ScopedRecording h = Open();
    SetConcatHT(h, 1);
    const Drained d = DrainScans(h, 1);
    EXPECT_EQ(d.scans, c.scans);
    EXPECT_EQ(d.status, c.status);
    // Back to the first file and through the set again: the same end.
    EXPECT_EQ(SeekHT(h, 1, MakeStamp(2000, 1, 1), 0), OLMTS_SEEK_LATER);
    ProbeStream(h, 1);
  }
}

TEST_F(MalformedInputTest, FileCutShortAfterTheOpenGivesAStatus) {
  const Bytes full = SmallStream();
  const std::size_t record = full.size() / kRecords;
  for (std::size_t cut : {std::size_t{0}, std::size_t{10}, record - 1, record + 20, record + 40, 2 * record}) {
    files.Write(".TS1", full);
    ScopedRecording h = Open();
    int32_t flag = 0;
    double values[3];
    ASSERT_EQ(ReadScanDblHT(h, 1, &flag, values), OLMTS_OK);  // the first record is now in memory
    std::filesystem::resize_file(files.Path(".TS1"), cut);
    const Drained d = DrainScans(h, 1);
    // The scans in memory come first; then a record that cannot be read whole.
    EXPECT_GE(d.scans, 3) << "cut " << cut;
    EXPECT_TRUE(d.status == OLMTS_READ_ERROR || d.status == OLMTS_END_OF_DATA) << "cut " << cut << ": " << d.status;
    ProbeStream(h, 1);
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
  ScopedRecording h = Open();
  SetConcatHT(h, 1);
  EXPECT_EQ(DrainScans(h, 1).scans, 24);
  std::filesystem::remove(files.Path(".TS1"));
  EXPECT_EQ(SeekHT(h, 1, MakeStamp(2000, 1, 1), 0), OLMTS_CANNOT_REOPEN);
  ProbeStream(h, 1);
}

// Regression: a tag whose sizes promise a data block of gigabytes made the scan
// reader allocate a buffer of that size for a file of a few bytes.
TEST_F(MalformedInputTest, HugeDataBlockInShortFileAllocatesNoBuffer) {
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
TEST_F(MalformedInputTest, DatedSetCoveringTheWholeYearDoesNotWrapToItsFirstFile) {
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
  ScopedRecording h = Open();
  SetConcatHT(h, 1);
  EXPECT_EQ(SeekHT(h, 1, MakeStamp(2099, 1, 1), 0), OLMTS_END_OF_DATA);
  EXPECT_EQ(SeekHT(h, 1, MakeStamp(2000, 1, 1), 0), OLMTS_SEEK_LATER);
  // Every day once, from 14 March to the end of the set at 13 March.
  EXPECT_EQ(DrainScans(h, 1).scans, 366 * 4);
  h.Close();

  // Started on a later file of 14 March whose name differs in case from the
  // ring's: the ring passes 14 March without meeting that file, and still ends.
  RecordingFiles upper{dir.path(), "X314C"};
  TypicalTable().Write(upper.Path(".TBL"));
  upper.Write(".TS1", EncodeStream(t, 1));
  h = OpenRecording(upper.base());
  ASSERT_NE(h.get(), nullptr);
  SetConcatHT(h, 1);
  EXPECT_EQ(SeekHT(h, 1, MakeStamp(2099, 1, 1), 0), OLMTS_END_OF_DATA);
}

}  // namespace
