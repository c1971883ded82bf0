// Walking a stream record by record: reading, skipping, seeking by time, gaps,
// dated sets of files, damaged and vanishing files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "reader_test_support.h"

namespace {

using namespace olmtsfil::testdata;

TagSpec SmallTag() {
  TagSpec t;
  t.scnt = 250;
  t.nchn = 2;
  t.rate = 250;  // one record per second
  return t;
}

class RecordReaderTest : public RecordingTest {
 protected:
  std::vector<uint8_t> ReadRecord(int stream, int32_t* status) {
    std::vector<uint8_t> block(SmallTag().DataBlockSize());
    *status = ReadRecHT(handle, stream, static_cast<int32_t>(block.size()), block.data());
    return block;
  }
};

// A recording still being written: the records that arrive while it is open
// are read, not taken for a record cut short by the end of the file as it
// was when the reader last looked at its size.
TEST_F(RecordReaderTest, RecordsWrittenWhileTheFileIsOpenAreRead) {
  const TagSpec t = SmallTag();
  const Bytes file = EncodeStream(t, 4);
  const std::size_t record_size = t.ltag + t.DataBlockSize();
  files.Write(".TS1", Bytes(file.begin(), file.begin() + 2 * record_size));
  ASSERT_NE(Open(), nullptr);
  int32_t status = 0;
  ReadRecord(1, &status);
  ASSERT_EQ(status, OLMTS_OK);  // the second record's tag is held
  {
    std::ofstream more(files.Path(".TS1"), std::ios::binary | std::ios::app);
    more.write(reinterpret_cast<const char*>(file.data() + 2 * record_size),
               static_cast<std::streamsize>(2 * record_size));
  }
  for (int r = 1; r < 4; ++r) {
    const std::vector<uint8_t> block = ReadRecord(1, &status);
    ASSERT_EQ(status, OLMTS_OK) << "record " << r;
    EXPECT_TRUE(std::equal(block.begin(), block.end(), file.begin() + r * record_size + t.ltag)) << r;
  }
  ReadRecord(1, &status);
  EXPECT_EQ(status, OLMTS_END_OF_DATA);
}

TEST_F(RecordReaderTest, ReadsSkipsAndEndsStickily) {
  TagSpec t = SmallTag();
  t.trailer_factor = 3;
  t.sbrec = 2;  // a trailer of 2 x 3 x 2 bytes belongs to the block
  const Bytes file = EncodeStream(t, 3);
  files.Write(".TS1", file);
  ASSERT_NE(Open(), nullptr);
  const std::size_t record_size = t.RecordSize();
  std::vector<uint8_t> block(t.DataBlockSize());
  ASSERT_EQ(ReadRecHT(handle, 1, static_cast<int32_t>(block.size()), block.data()), OLMTS_OK);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), file.begin() + t.ltag));
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 0), t.utc));
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 1), AddSeconds(t.utc, 1)));
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 0), AddSeconds(t.utc, 1)));
  ASSERT_EQ(ReadRecHT(handle, 1, static_cast<int32_t>(block.size()), block.data()), OLMTS_OK);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), file.begin() + 2 * record_size + t.ltag));
  // End of data: every reading call reports it and leaves the last tag alone.
  const std::vector<uint8_t> kept = block;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(ReadRecHT(handle, 1, static_cast<int32_t>(block.size()), block.data()), OLMTS_END_OF_DATA);
    EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_END_OF_DATA);
  }
  EXPECT_EQ(block, kept);
  int32_t status = 0;
  EXPECT_EQ(TagInt(handle, 1, 1, "SCNT", &status), -1);
  EXPECT_EQ(status, OLMTS_END_OF_DATA);
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 0), AddSeconds(t.utc, 2)));
  EXPECT_EQ(GapHT(handle, 1), OLMTS_GAP);
}

TEST_F(RecordReaderTest, TooSmallBufferLeavesTheRecordUnconsumed) {
  TagSpec t = SmallTag();
  const Bytes file = EncodeStream(t, 2);
  files.Write(".TS1", file);
  ASSERT_NE(Open(), nullptr);
  const int32_t size = static_cast<int32_t>(t.DataBlockSize());
  std::vector<uint8_t> block(size, 0xEE);
  EXPECT_EQ(ReadRecHT(handle, 1, size - 1, block.data()), OLMTS_NULL_HANDLE);
  EXPECT_EQ(block, std::vector<uint8_t>(size, 0xEE));
  // The tag of the refused record already shows as the last one.
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 0), t.utc));
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 1), t.utc));
  EXPECT_EQ(ReadRecHT(handle, 1, -5, block.data()), OLMTS_NULL_HANDLE);
  EXPECT_EQ(ReadRecHT(handle, 1, size, nullptr), OLMTS_NULL_HANDLE);
  ASSERT_EQ(ReadRecHT(handle, 1, size, block.data()), OLMTS_OK);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), file.begin() + t.ltag));
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 1), AddSeconds(t.utc, 1)));
}

TEST_F(RecordReaderTest, EmptyDataBlockIsAFailedRead) {
  TagSpec t = SmallTag();
  t.scnt = 0;
  files.Write(".TS1", EncodeStream(t, 2));
  ASSERT_NE(Open(), nullptr);
  char buffer[4];
  EXPECT_EQ(ReadRecHT(handle, 1, sizeof buffer, buffer), OLMTS_READ_ERROR);
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_READ_ERROR);
  // Skipping such records is harmless.
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_END_OF_DATA);
}

TEST_F(RecordReaderTest, ArgumentChecksComeFirst) {
  files.Write(".TS1", EncodeStream(SmallTag(), 1));
  ASSERT_NE(Open(), nullptr);
  char buffer[4];
  TimeStamp t = MakeStamp(2026, 1, 1);
  for (int stream : {-1, 6}) {
    EXPECT_EQ(ReadRecHT(handle, stream, 4, buffer), OLMTS_BAD_STREAM);
    EXPECT_EQ(SkipRecHT(handle, stream), OLMTS_BAD_STREAM);
    EXPECT_EQ(SeekHT(handle, stream, t, 0), OLMTS_BAD_STREAM);
    EXPECT_EQ(GapHT(handle, stream), OLMTS_BAD_STREAM);
  }
  EXPECT_EQ(ReadRecHT(nullptr, 6, 4, buffer), OLMTS_NULL_HANDLE);
  EXPECT_EQ(SkipRecHT(nullptr, 6), OLMTS_NULL_HANDLE);
  EXPECT_EQ(SeekHT(nullptr, 6, t, 0), OLMTS_NULL_HANDLE);
  EXPECT_EQ(GapHT(nullptr, 6), OLMTS_NULL_HANDLE);
  // An unusable stream is refused before the mode is looked at.
  EXPECT_EQ(SeekHT(handle, 2, t, 1), OLMTS_BAD_STREAM);
  EXPECT_EQ(SeekHT(handle, 1, t, 1), OLMTS_BAD_SEEK_MODE);
  EXPECT_EQ(SeekHT(handle, 1, t, -1), OLMTS_BAD_SEEK_MODE);
}

TEST_F(RecordReaderTest, GapDetection) {
  struct Case {
    uint16_t rate;
    int8_t runt;
    uint16_t scnt;
    int seconds_between;
    int32_t expected;
  };
  const Case cases[] = {
      {250, 0, 250, 1, OLMTS_OK},                                    // 250 scans at 250 per second, 1 s apart
      {250, 0, 250, 2, OLMTS_GAP},                                   // a second missing
      {250, 0, 251, 1, OLMTS_GAP},                                   // one scan more than the time allows
      {15000, 1, 250, 1, OLMTS_OK},                                  // 15000 per minute
      {15000, -1, 250, 1, OLMTS_OK},                                 // any non-zero unit counts per minute here
      {15000, 2, 250, 1, OLMTS_OK},  {15000, 0, 250, 1, OLMTS_GAP},  // the same numbers per second do not join
      {60, 1, 3, 3, OLMTS_OK},                                       // 1 per second: 3 scans, 3 s
      {40, 1, 1, 2, OLMTS_OK},                                       // 2/3 per second: 1.33 scans round to 1
      {40, 1, 1, 1, OLMTS_OK},                                       // 0.67 rounds to 1
      {40, 1, 1, 3, OLMTS_GAP},                                      // 2 scans' time
  };
  for (const Case& c : cases) {
    TagSpec t = SmallTag();
    t.rate = c.rate;
    t.runt = c.runt;
    t.scnt = c.scnt;
    TagSpec second = t;
    second.utc = AddSeconds(t.utc, c.seconds_between);
    files.Write(".TS1", Joined({EncodeRecord(t, {}), EncodeRecord(second, {})}));
    ASSERT_NE(Open(), nullptr);
    EXPECT_EQ(GapHT(handle, 1), OLMTS_GAP);  // nothing consumed yet
    int64_t expected = -7, recorded = -7;
    double rate = -7;
    EXPECT_EQ(olmts_gap_scans(handle, 1, &expected, &recorded, &rate), OLMTS_GAP);
    EXPECT_EQ(expected, -7);
    ASSERT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
    EXPECT_EQ(GapHT(handle, 1), c.expected) << c.rate << " " << int{c.runt} << " " << c.scnt;
    // The counts the test compared: they differ exactly when it reports a gap.
    ASSERT_EQ(olmts_gap_scans(handle, 1, &expected, &recorded, &rate), OLMTS_OK);
    EXPECT_EQ(recorded, c.scnt);
    EXPECT_EQ(expected == recorded, c.expected == OLMTS_OK);
    EXPECT_DOUBLE_EQ(rate, c.runt == 0 ? c.rate : c.rate / 60.0);
    double held_rate = 0;
    ASSERT_EQ(olmts_record_rate_hz(handle, 1, 0, &held_rate), OLMTS_OK);
    EXPECT_EQ(held_rate, rate);
    ASSERT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
    EXPECT_EQ(GapHT(handle, 1), OLMTS_GAP);  // no next record
    EXPECT_EQ(olmts_gap_scans(handle, 1, nullptr, nullptr, nullptr), OLMTS_GAP);
    EXPECT_EQ(olmts_record_rate_hz(handle, 1, 1, &held_rate), OLMTS_END_OF_DATA);
  }
}

TEST_F(RecordReaderTest, GapCountsOfAnOverlapAndOfUnusableStreams) {
  TagSpec t = SmallTag();
  t.rate = 250;
  t.scnt = 500;  // 2 s of scans, the next record 1 s later
  TagSpec second = t;
  second.utc = AddSeconds(t.utc, 1);
  files.Write(".TS1", Joined({EncodeRecord(t, {}), EncodeRecord(second, {})}));
  ASSERT_NE(Open(), nullptr);
  ASSERT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
  int64_t expected = 0, recorded = 0;
  ASSERT_EQ(olmts_gap_scans(handle, 1, &expected, &recorded, nullptr), OLMTS_OK);
  EXPECT_EQ(expected - recorded, -250);
  double rate = -1;
  EXPECT_EQ(olmts_gap_scans(handle, 2, &expected, nullptr, &rate), OLMTS_BAD_STREAM);
  EXPECT_EQ(olmts_gap_scans(handle, 6, nullptr, nullptr, nullptr), OLMTS_BAD_STREAM);
  EXPECT_EQ(olmts_record_rate_hz(handle, -1, 1, &rate), OLMTS_BAD_STREAM);
  EXPECT_EQ(olmts_record_rate_hz(handle, 1, 1, nullptr), OLMTS_NULL_HANDLE);
  EXPECT_EQ(rate, -1);
}

TEST_F(RecordReaderTest, SeekWithinAFile) {
  TagSpec t = SmallTag();
  t.scnt = 500;  // records 2 s apart
  files.Write(".TS1", EncodeStream(t, 5));
  ASSERT_NE(Open(), nullptr);
  auto start = [&](int r) { return AddSeconds(t.utc, 2 * r); };

  EXPECT_EQ(SeekHT(handle, 1, start(2), 0), OLMTS_OK);
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 1), start(2)));
  EXPECT_EQ(TagInt(handle, 1, 0, "SCNT"), -1);  // a forward move consumes nothing
  ASSERT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
  // Between two starts: the later record is next; the last tag stays.
  EXPECT_EQ(SeekHT(handle, 1, AddSeconds(start(3), 1), 0), OLMTS_SEEK_LATER);
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 1), start(4)));
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 0), start(2)));
  // Backward: restarts at the file's start and forgets the last record.
  EXPECT_EQ(SeekHT(handle, 1, start(1), 0), OLMTS_OK);
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 1), start(1)));
  int32_t status = 0;
  EXPECT_EQ(TagInt(handle, 1, 0, "SCNT", &status), -1);
  EXPECT_EQ(status, OLMTS_END_OF_DATA);
  // Before the first record: positioned on it.
  EXPECT_EQ(SeekHT(handle, 1, MakeStamp(2000, 1, 1), 0), OLMTS_SEEK_LATER);
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 1), start(0)));
  // After the last: the stream ends; an earlier time brings it back.
  EXPECT_EQ(SeekHT(handle, 1, AddSeconds(start(4), 1), 0), OLMTS_END_OF_DATA);
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_END_OF_DATA);
  EXPECT_EQ(SeekHT(handle, 1, start(3), 0), OLMTS_OK);
  std::vector<uint8_t> block(t.DataBlockSize());
  EXPECT_EQ(ReadRecHT(handle, 1, static_cast<int32_t>(block.size()), block.data()), OLMTS_OK);
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 0), start(3)));
  // Mode other than 0: nothing happens.
  EXPECT_EQ(SeekHT(handle, 1, start(0), 2), OLMTS_BAD_SEEK_MODE);
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 1), start(4)));
}

// A dated set of stream files; each file continues the previous one in time.
struct SetFile {
  int month;
  int day;
  char sequence;
  int records;
};

class FileSetTest : public RecordReaderTest {
 protected:
  // Writes the files (stream 1) and the table for the first; returns the start
  // of every record in reading order.
  std::vector<TimeStamp> WriteSet(const std::vector<SetFile>& set, std::string directory = "") {
    if (directory.empty()) directory = Dir();
    std::vector<TimeStamp> starts;
    const TimeStamp first = MakeStamp(2025, 12, 30, 23);
    TagSpec t = SmallTag();
    t.utc = first;
    for (const SetFile& f : set) {
      const std::string path = directory + "/" + DatedStem("r", f.month, f.day, f.sequence) + ".TS1";
      WriteFile(path, EncodeStream(t, f.records));
      for (int r = 0; r < f.records; ++r) starts.push_back(AddSeconds(t.utc, r));
      t.utc = AddSeconds(t.utc, f.records);
    }
    files = RecordingFiles(directory, DatedStem("r", set[0].month, set[0].day, set[0].sequence));
    table_written_ = false;
    return starts;
  }

  // Reads stream 1 to its end by skipping; the start of every record met.
  std::vector<TimeStamp> Walk() {
    std::vector<TimeStamp> met;
    while (TagInt(handle, 1, 1, "SCNT") > 0) {
      met.push_back(TagUtc(handle, 1, 1));
      if (SkipRecHT(handle, 1) != OLMTS_OK) break;
    }
    return met;
  }

  void ExpectWalk(const std::vector<TimeStamp>& expected) {
    std::vector<TimeStamp> met = Walk();
    ASSERT_EQ(met.size(), expected.size());
    for (std::size_t i = 0; i < met.size(); ++i)
      EXPECT_TRUE(SameStamp(met[i], expected[i])) << i << ": " << StampText(met[i]);
  }
};

TEST_F(FileSetTest, ConcatenationFollowsSequenceLettersThenDays) {
  // Year end: c30a, c30b, (no c30c, so c30d is never reached), c31a, c31b, then 101a.
  std::vector<TimeStamp> starts =
      WriteSet({{12, 30, 'a', 2}, {12, 30, 'b', 1}, {12, 31, 'a', 2}, {12, 31, 'b', 1}, {1, 1, 'a', 2}});
  WriteFile(Dir() + "/" + DatedStem("r", 12, 30, 'd') + ".TS1", EncodeStream(SmallTag(), 3));
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(SetConcatHT(handle, 1), 1);
  ExpectWalk(starts);
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_END_OF_DATA);
  // The seams join without gaps.
  EXPECT_EQ(SeekHT(handle, 1, starts[2], 0), OLMTS_OK);  // first record of c30b, from the first file
  ASSERT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
  EXPECT_EQ(GapHT(handle, 1), OLMTS_OK);
}

TEST_F(FileSetTest, WithoutConcatenationAStreamEndsWithItsFile) {
  std::vector<TimeStamp> starts = WriteSet({{3, 5, 'a', 2}, {3, 5, 'b', 2}});
  ASSERT_NE(Open(), nullptr);
  ExpectWalk({starts[0], starts[1]});
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_END_OF_DATA);
  EXPECT_EQ(SeekHT(handle, 1, starts[3], 0), OLMTS_END_OF_DATA);
}

TEST_F(FileSetTest, AnEmptyFileInsideTheSetEndsTheStream) {
  // One file change per tag: the empty file is entered, and its end is the end.
  std::vector<TimeStamp> starts = WriteSet({{3, 5, 'a', 2}, {3, 5, 'b', 0}, {3, 5, 'c', 2}});
  ASSERT_NE(Open(), nullptr);
  SetConcatHT(handle, 1);
  ExpectWalk({starts[0], starts[1]});
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_END_OF_DATA);
}

TEST_F(FileSetTest, MonthEnds) {
  struct Case {
    int month, day, next_month, next_day;
  };
  for (const Case& c : std::initializer_list<Case>{{1, 31, 2, 1},
                                                   {4, 30, 5, 1},
                                                   {11, 30, 12, 1},
                                                   {6, 29, 6, 30},
                                                   {7, 30, 7, 31},
                                                   {8, 31, 9, 1},
                                                   {12, 31, 1, 1}}) {
    ScratchDirectory sub("month");
    files = RecordingFiles(sub.path(), "x");
    TagSpec t = SmallTag();
    const std::string stem0 = DatedStem("s", c.month, c.day, 'a');
    const std::string stem1 = DatedStem("s", c.next_month, c.next_day, 'a');
    WriteFile(sub.path() + "/" + stem0 + ".TS1", EncodeStream(t, 1));
    TagSpec later = t;
    later.utc = AddSeconds(t.utc, 1);
    WriteFile(sub.path() + "/" + stem1 + ".TS1", EncodeStream(later, 1));
    TypicalTable().Write(sub.path() + "/" + stem0 + ".TBL");
    handle = OpenRecording(sub.path() + "/" + stem0);
    ASSERT_NE(handle.get(), nullptr);
    SetConcatHT(handle, 1);
    EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
    EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 1), later.utc)) << stem0 << " -> " << stem1;
    handle.Close();
  }
}

TEST_F(FileSetTest, TwentyEighthOfFebruaryGoesTo29thElseTo1stOfMarch) {
  std::vector<TimeStamp> starts = WriteSet({{2, 28, 'a', 1}, {2, 29, 'a', 1}, {3, 1, 'a', 1}});
  ASSERT_NE(Open(), nullptr);
  SetConcatHT(handle, 1);
  ExpectWalk(starts);

  ScratchDirectory common_year("feb");
  std::vector<TimeStamp> common = WriteSet({{2, 28, 'a', 1}, {2, 28, 'b', 1}, {3, 1, 'a', 2}}, common_year.path());
  ASSERT_NE(Open(), nullptr);
  SetConcatHT(handle, 1);
  ExpectWalk(common);
}

TEST_F(FileSetTest, ConcatenationSwitchedOnLateRevivesOnlyThroughASeek) {
  std::vector<TimeStamp> starts = WriteSet({{5, 9, 'a', 2}, {5, 9, 'b', 2}});
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_END_OF_DATA);
  SetConcatHT(handle, 1);
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_END_OF_DATA);
  // The held tag is that of the last record: a seek to it or later finds the
  // stream ended; a seek before it restarts the file and runs on into the next.
  EXPECT_EQ(SeekHT(handle, 1, starts[3], 0), OLMTS_END_OF_DATA);
  EXPECT_EQ(SeekHT(handle, 1, starts[1], 0), OLMTS_END_OF_DATA);
  EXPECT_EQ(SeekHT(handle, 1, starts[0], 0), OLMTS_OK);
  EXPECT_EQ(SeekHT(handle, 1, starts[3], 0), OLMTS_OK);
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 1), starts[3]));
}

TEST_F(FileSetTest, SeekAcrossFilesBothWays) {
  std::vector<TimeStamp> starts = WriteSet({{10, 1, 'a', 3}, {10, 1, 'b', 3}, {10, 2, 'a', 3}});
  ASSERT_NE(Open(), nullptr);
  SetConcatHT(handle, 1);
  EXPECT_EQ(SeekHT(handle, 1, starts[7], 0), OLMTS_OK);  // into the third file
  ASSERT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 1), starts[8]));
  // Back into the third file's own range: restarts that file only.
  EXPECT_EQ(SeekHT(handle, 1, starts[6], 0), OLMTS_OK);
  // Back into the first file: reopens it.
  EXPECT_EQ(SeekHT(handle, 1, starts[1], 0), OLMTS_OK);
  EXPECT_EQ(TagInt(handle, 1, 0, "SCNT"), -1);
  std::vector<TimeStamp> rest(starts.begin() + 1, starts.end());
  ExpectWalk(rest);
  // From an ended stream to before the whole set.
  EXPECT_EQ(SeekHT(handle, 1, MakeStamp(2020, 1, 1), 0), OLMTS_SEEK_LATER);
  ExpectWalk(starts);
}

TEST_F(FileSetTest, FirstFileGoneWhileSeekingBackKeepsTheCurrentFilesFirstRecord) {
  std::vector<TimeStamp> starts = WriteSet({{10, 1, 'a', 2}, {10, 1, 'b', 2}});
  ASSERT_NE(Open(), nullptr);
  SetConcatHT(handle, 1);
  ASSERT_EQ(SeekHT(handle, 1, starts[3], 0), OLMTS_OK);
  std::filesystem::remove(Dir() + "/" + DatedStem("r", 10, 1, 'a') + ".TS1");
  EXPECT_EQ(SeekHT(handle, 1, starts[0], 0), OLMTS_CANNOT_REOPEN);
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 1), starts[2]));
  int32_t status = 0;
  EXPECT_EQ(TagInt(handle, 1, 0, "SCNT", &status), -1);
  EXPECT_EQ(status, OLMTS_END_OF_DATA);
  // The position is that record's data block, not the middle of one.
  std::vector<uint8_t> block(SmallTag().DataBlockSize());
  ASSERT_EQ(ReadRecHT(handle, 1, static_cast<int32_t>(block.size()), block.data()), OLMTS_OK);
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 1), starts[3]));
  EXPECT_EQ(GapHT(handle, 1), OLMTS_OK);
}

// Regression: names carry no year, so a year of daily files chains from its last
// day back to its first, and reading or seeking with concatenation never ended.
TEST_F(FileSetTest, AYearOfDailyFilesEndsInsteadOfComingRound) {
  std::vector<SetFile> year;
  const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (int m = 3; m < 15; ++m) {  // from 1 March round to the end of February
    const int month = (m - 1) % 12 + 1;
    for (int d = 1; d <= days[month - 1]; ++d) year.push_back({month, d, 'a', 1});
  }
  std::vector<TimeStamp> starts = WriteSet(year);
  ASSERT_NE(Open(), nullptr);
  SetConcatHT(handle, 1);
  EXPECT_EQ(SeekHT(handle, 1, MakeStamp(2030, 1, 1), 0), OLMTS_END_OF_DATA);
  EXPECT_EQ(SeekHT(handle, 1, starts[0], 0), OLMTS_OK);
  ExpectWalk(starts);

  // Started on a later letter of a day whose letters have a hole, the chain
  // comes round without meeting its first file again; it still ends.
  ScratchDirectory tail("tail");
  year.insert(year.begin() + 1, {3, 1, 'c', 1});
  std::vector<TimeStamp> tail_starts = WriteSet(std::vector<SetFile>(year.begin() + 1, year.end()), tail.path());
  WriteFile(tail.path() + "/" + DatedStem("r", 3, 1, 'a') + ".TS1", EncodeStream(SmallTag(), 1));
  ASSERT_NE(Open(), nullptr);
  SetConcatHT(handle, 1);
  EXPECT_EQ(SeekHT(handle, 1, MakeStamp(2030, 1, 1), 0), OLMTS_END_OF_DATA);
}

TEST_F(RecordReaderTest, TagsThatDisagreeEndTheStream) {
  struct Case {
    const char* what;
    std::function<void(TagSpec&)> change;
    bool agrees;
  };
  const Case cases[] = {
      {"SNUM", [](TagSpec& t) { t.snum = 2; }, false},
      {"SCNT", [](TagSpec& t) { t.scnt = 249; }, false},
      {"NCHN", [](TagSpec& t) { t.nchn = 3; }, false},
      {"LTAG", [](TagSpec& t) { t.ltag = 60; }, false},
      {"kind", [](TagSpec& t) { t.kind = 1; }, false},
      {"LSMP", [](TagSpec& t) { t.lsmp = 4; }, false},
      {"byte 26", [](TagSpec& t) { t.byte26 = 1; }, false},
      {"byte 27", [](TagSpec& t) { t.trailer_factor = 1; }, false},
      {"SBREC", [](TagSpec& t) { t.sbrec = 1; }, false},
      {"bytes 30-31", [](TagSpec& t) { t.bytes30 = 0x100; }, false},
      {"RATE", [](TagSpec& t) { t.rate = 251; }, false},
      {"RUNT", [](TagSpec& t) { t.runt = 1; }, false},
      {"STAT", [](TagSpec& t) { t.stat = 9; }, true},
      {"SATC", [](TagSpec& t) { t.satc = 9; }, true},
      {"CLST", [](TagSpec& t) { t.clst = 9; }, true},
      {"TERR", [](TagSpec& t) { t.terr = 9; }, true},
      {"byte 29", [](TagSpec& t) { t.byte29 = 9; }, true},
      {"LEVAL of a time series", [](TagSpec& t) { t.leval = 3; }, true},
  };
  for (const Case& c : cases) {
    TagSpec t = SmallTag();
    TagSpec second = t;
    second.utc = AddSeconds(t.utc, 1);
    c.change(second);
    files.Write(".TS1", Joined({EncodeStream(t, 1), EncodeRecord(second, {})}));
    ASSERT_NE(Open(), nullptr);
    int32_t status = 0;
    std::vector<uint8_t> block = ReadRecord(1, &status);
    ASSERT_EQ(status, OLMTS_OK) << c.what;
    const int32_t expected = c.agrees ? OLMTS_OK : OLMTS_TAG_MISMATCH;
    EXPECT_EQ(SkipRecHT(handle, 1), expected) << c.what;
    if (!c.agrees) {
      EXPECT_EQ(TagInt(handle, 1, 1, "SCNT", &status), -1);
      EXPECT_EQ(status, OLMTS_TAG_MISMATCH);
      EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_TAG_MISMATCH);
      EXPECT_EQ(SeekHT(handle, 1, AddSeconds(t.utc, 5), 0), OLMTS_TAG_MISMATCH);
    }
  }
}

TEST_F(RecordReaderTest, AgreementDependsOnTheRecordKind) {
  struct Case {
    uint8_t kind;
    std::function<void(TagSpec&)> change;
    bool agrees;
  };
  const Case cases[] = {
      {5, [](TagSpec& t) { t.rate = 251; }, true},  // other kinds: rate free
      {5, [](TagSpec& t) { t.runt = 1; }, true},
      {15, [](TagSpec& t) { t.rate = 251; }, false},
      {15, [](TagSpec& t) { t.leval = 4; }, false},
      {15, [](TagSpec& t) { t.levtp = 1; }, false},
      {15, [](TagSpec& t) { t.nfrqd = 3; }, false},
      {15, [](TagSpec& t) { t.nfrqt = 3; }, true},  // not part of the rule
      {15, [](TagSpec& t) { t.windx = 99; }, true},
      {0, [](TagSpec& t) { t.nfrqd = 3; }, true},
  };
  for (const Case& c : cases) {
    TagSpec t = SmallTag();
    t.kind = c.kind;
    t.ltag = 60;
    t.leval = 2;
    t.nfrqd = 2;
    t.nfrqt = 4;
    TagSpec second = t;
    second.utc = AddSeconds(t.utc, 1);
    c.change(second);
    files.Write(".TS1", Joined({EncodeRecord(t, {}), EncodeRecord(second, {})}));
    ASSERT_NE(Open(), nullptr);
    EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
    EXPECT_EQ(SkipRecHT(handle, 1), c.agrees ? OLMTS_OK : OLMTS_TAG_MISMATCH) << int{c.kind};
  }
}

TEST_F(RecordReaderTest, FileTruncatedInsideATagOrADataBlock) {
  TagSpec t = SmallTag();
  const Bytes whole = EncodeStream(t, 3);
  const std::size_t record = t.RecordSize();
  struct Case {
    std::size_t size;
    int good_records;  // readable before the failure
    int32_t failure;
  };
  const Case cases[] = {
      {2 * record + 10, 2, OLMTS_END_OF_DATA},         // inside the third tag's first 16 bytes
      {2 * record + 20, 2, OLMTS_END_OF_DATA},         // inside the rest of the tag
      {2 * record + t.ltag + 7, 2, OLMTS_READ_ERROR},  // inside the third data block
      {2 * record + t.ltag, 2, OLMTS_READ_ERROR},      // the tag whole, no data at all
  };
  for (const Case& c : cases) {
    files.Write(".TS1", Truncated(whole, c.size));
    ASSERT_NE(Open(), nullptr);
    int32_t status = 0;
    for (int r = 0; r < c.good_records; ++r) {
      ReadRecord(1, &status);
      ASSERT_EQ(status, OLMTS_OK);
    }
    ReadRecord(1, &status);
    EXPECT_EQ(status, c.failure) << c.size;
    ReadRecord(1, &status);
    EXPECT_EQ(status, c.failure) << c.size;
    // Skipping passes over a short data block; the next tag is then missing.
    ASSERT_NE(Open(), nullptr);
    EXPECT_EQ(SeekHT(handle, 1, AddSeconds(t.utc, 60), 0), OLMTS_END_OF_DATA) << c.size;
    EXPECT_EQ(SeekHT(handle, 1, t.utc, 0), OLMTS_OK);
  }
}

TEST_F(RecordReaderTest, FileThatShrinksAfterOpening) {
  TagSpec t = SmallTag();
  t.nchn = 5;  // records of several kilobytes, beyond what one buffered read holds
  const Bytes whole = EncodeStream(t, 10);
  files.Write(".TS1", whole);
  ASSERT_NE(Open(), nullptr);
  const std::size_t record = t.RecordSize();
  std::filesystem::resize_file(files.Path(".TS1"), 2 * record + record / 2);
  std::vector<uint8_t> block(t.DataBlockSize());
  int good = 0;
  int32_t status = OLMTS_OK;
  while ((status = ReadRecHT(handle, 1, static_cast<int32_t>(block.size()), block.data())) == OLMTS_OK) ++good;
  EXPECT_EQ(good, 2);
  EXPECT_EQ(status, OLMTS_READ_ERROR);
  std::filesystem::resize_file(files.Path(".TS1"), 0);
  EXPECT_EQ(SeekHT(handle, 1, t.utc, 0), OLMTS_END_OF_DATA);  // nothing left to restart from
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_END_OF_DATA);
}

#if !defined(_WIN32)
// A pipe cannot be sought: it is how a failing skip over a data block shows.
class UnseekableStreamTest : public RecordReaderTest {
 protected:
  void OpenOverPipe(const Bytes& content) {
    TypicalTable().Write(files.Path(".TBL"));
    table_written_ = true;
    const std::string fifo = files.Path(".TS1");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([fifo, content] {
      // The reader opens the pipe during TSOpenHT; give up after two seconds.
      int fd = -1;
      for (int i = 0; i < 2000 && fd < 0; ++i) {
        fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      if (fd < 0) return;
      ssize_t written = ::write(fd, content.data(), content.size());
      (void)written;
      ::close(fd);
    });
    handle = OpenRecording(files.base());
    writer.join();
  }
};

TEST_F(UnseekableStreamTest, FailedSkipFailsTheStreamInsteadOfReadingDataAsATag) {
  TagSpec t = SmallTag();
  t.scnt = 3;
  OpenOverPipe(EncodeStream(t, 3));
  ASSERT_NE(handle, nullptr);
  ASSERT_TRUE(SameStamp(TagUtc(handle, 1, 1), t.utc));
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_READ_ERROR);
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_READ_ERROR);
  int32_t status = 0;
  EXPECT_EQ(TagInt(handle, 1, 1, "SCNT", &status), -1);
  EXPECT_EQ(status, OLMTS_READ_ERROR);
  EXPECT_EQ(GapHT(handle, 1), OLMTS_GAP);
}

TEST_F(UnseekableStreamTest, FailedRewindWhileSeekingBackward) {
  TagSpec t = SmallTag();
  t.scnt = 3;
  OpenOverPipe(EncodeStream(t, 3));
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(SeekHT(handle, 1, MakeStamp(2000, 1, 1), 0), OLMTS_READ_ERROR);
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_READ_ERROR);
  int32_t status = 0;
  EXPECT_EQ(TagInt(handle, 1, 0, "SCNT", &status), -1);
  EXPECT_EQ(status, OLMTS_END_OF_DATA);
}

TEST_F(UnseekableStreamTest, FailedSkipWhileSeekingForward) {
  TagSpec t = SmallTag();
  t.scnt = 3;
  OpenOverPipe(EncodeStream(t, 3));
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(SeekHT(handle, 1, AddSeconds(t.utc, 30), 0), OLMTS_READ_ERROR);
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_READ_ERROR);
}
#endif

// A data block can reach 65535 x 255 x 255 + 255 x 255 x 255 = 4,277,994,750
// bytes: past 2^31, and the third record of a file of such blocks starts beyond
// 4 GiB. The file is sparse, so it costs no disk space.
TEST_F(RecordReaderTest, HugeDataBlocksAreSkippedAndSoughtAcross) {
  TagSpec t;
  t.ltag = 60;
  t.scnt = 65535;
  t.nchn = 255;
  t.lsmp = 255;
  t.trailer_factor = 255;
  t.sbrec = 255;
  t.rate = 65535;
  const uint64_t record = t.RecordSize();
  ASSERT_EQ(t.DataBlockSize(), 4277994750u);
  const std::string path = files.Path(".TS1");
  WriteFile(path, {});
  // Standard streams and std::filesystem, not off_t: that is 32 bits wide on Windows.
  std::error_code resized;
  std::filesystem::resize_file(path, 3 * record, resized);
  if (resized) GTEST_SKIP() << "no sparse files here";
  std::vector<TimeStamp> starts;
  {
    std::fstream io(path, std::ios::in | std::ios::out | std::ios::binary);
    for (int r = 0; r < 3; ++r) {
      TagSpec tag = t;
      tag.utc = AddSeconds(t.utc, 3600 * r);
      starts.push_back(tag.utc);
      Bytes bytes = EncodeTag(tag);
      io.seekp(static_cast<std::streamoff>(r * record));
      io.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
      ASSERT_TRUE(io.good()) << r;
    }
  }
  ASSERT_GT(std::filesystem::file_size(path), uint64_t{1} << 33);

  ASSERT_NE(Open(), nullptr);
  for (int r = 0; r < 3; ++r) {
    EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 1), starts[r])) << r;
    ASSERT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
  }
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_END_OF_DATA);
  EXPECT_EQ(SeekHT(handle, 1, starts[0], 0), OLMTS_OK);  // back from the end
  EXPECT_EQ(SeekHT(handle, 1, starts[2], 0), OLMTS_OK);  // forward over two blocks
  EXPECT_EQ(SeekHT(handle, 1, starts[1], 0), OLMTS_OK);  // back, and over one again
  EXPECT_EQ(SeekHT(handle, 1, AddSeconds(starts[1], 1), 0), OLMTS_SEEK_LATER);
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 1), starts[2]));
  char small[16];
  EXPECT_EQ(ReadRecHT(handle, 1, sizeof small, small), OLMTS_NULL_HANDLE);  // no int32 buffer can hold it
}

}  // namespace
