// The tag walk: the records, gaps and times a SkipRecHT / GapHT walk finds,
// across files and gaps; faults and cut records end it with their status.
#include <gtest/gtest.h>

#include <vector>

#include "reader_test_support.h"

namespace {

using namespace olmtsfil::testdata;

constexpr int kScans = 5;

TagSpec WalkTag(TimeStamp utc) {
  TagSpec t;
  t.utc = utc;
  t.scnt = kScans;
  t.nchn = 2;
  t.rate = kScans;  // one record per second
  return t;
}

// The walk made of single calls, as callers did it before the walk existed.
struct ByCalls {
  int64_t records = 0, gaps = 0;
  TimeStamp last{};
  int32_t status = 0;
};

ByCalls WalkByCalls(TsHandle* h, int32_t k) {
  ByCalls w;
  while ((w.status = SkipRecHT(h, k)) == OLMTS_OK) {
    ++w.records;
    int32_t nchn = 0;
    if (GapHT(h, k) != OLMTS_OK && ReadTagHT(h, k, 1, "NCHN", OLMTS_TYPE_INT32, &nchn) == OLMTS_OK) ++w.gaps;
    w.last = TagUtc(h, k, 0);
  }
  return w;
}

class StreamWalkTest : public RecordingTest {
 protected:
  StreamWalkTest() { files = RecordingFiles(Dir(), DatedStem("w", 4, 7, 'a')); }
  const TimeStamp start = MakeStamp(2026, 4, 7, 9, 0, 0);

  // First file: 3 records, a 10 s gap, 2 records; second file 30 s later: 4 records.
  void WriteSet(Bytes* first = nullptr) {
    const Bytes a = Joined({EncodeStream(WalkTag(start), 3), EncodeStream(WalkTag(AddSeconds(start, 13)), 2)});
    files.Write(".TS1", a);
    WriteFile(Dir() + "/" + DatedStem("w", 4, 7, 'b') + ".TS1", EncodeStream(WalkTag(AddSeconds(start, 45)), 4));
    if (first != nullptr) *first = a;
  }
};

TEST_F(StreamWalkTest, FindsWhatSkippingFindsAcrossFilesAndGaps) {
  WriteSet();
  for (int32_t concat : {1, 0}) {
    ASSERT_NE(Open(), nullptr);
    SetConcatHT(handle, concat);
    const ByCalls expected = WalkByCalls(handle, 1);
    ASSERT_NE(Open(), nullptr);
    SetConcatHT(handle, concat);
    OlmtsStreamWalk walk;
    EXPECT_EQ(olmts_walk_stream(handle, 1, &walk), expected.status) << concat;
    EXPECT_EQ(walk.records, expected.records);
    EXPECT_EQ(walk.gaps, expected.gaps);
    EXPECT_TRUE(SameStamp(walk.first, start));
    EXPECT_TRUE(SameStamp(walk.last, expected.last)) << StampText(walk.last);
    // The stream stands at its end, as after the single calls.
    EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_END_OF_DATA);
  }
  // The numbers themselves: the gap inside the first file and the one between files.
  ASSERT_NE(Open(), nullptr);
  SetConcatHT(handle, 1);
  OlmtsStreamWalk walk;
  EXPECT_EQ(olmts_walk_stream(handle, 1, &walk), OLMTS_END_OF_DATA);
  EXPECT_EQ(walk.records, 9);
  EXPECT_EQ(walk.gaps, 2);
  EXPECT_TRUE(SameStamp(walk.last, AddSeconds(start, 48)));
  // Walking on from the end finds nothing; a seek brings the records back.
  EXPECT_EQ(olmts_walk_stream(handle, 1, &walk), OLMTS_END_OF_DATA);
  EXPECT_EQ(walk.records, 0);
  ASSERT_EQ(SeekHT(handle, 1, AddSeconds(start, 13), 0), OLMTS_OK);
  EXPECT_EQ(olmts_walk_stream(handle, 1, &walk), OLMTS_END_OF_DATA);
  EXPECT_EQ(walk.records, 6);
  EXPECT_EQ(walk.gaps, 1);
  EXPECT_TRUE(SameStamp(walk.first, AddSeconds(start, 13)));
}

TEST_F(StreamWalkTest, ACutRecordEndsTheWalkAsReadingWould) {
  Bytes first;
  WriteSet(&first);
  const TagSpec t = WalkTag(start);
  const std::size_t record = t.RecordSize();
  // The first file ends 3 bytes into its fifth record's data block. Skipping
  // passes over it and goes on into the second file; reading and the walk stop.
  files.Write(".TS1", Truncated(first, 4 * record + t.ltag + 3));
  ASSERT_NE(Open(), nullptr);
  SetConcatHT(handle, 1);
  OlmtsStreamWalk walk;
  EXPECT_EQ(olmts_walk_stream(handle, 1, &walk), OLMTS_READ_ERROR);
  EXPECT_EQ(walk.records, 4);
  EXPECT_EQ(walk.gaps, 1);
  EXPECT_TRUE(SameStamp(walk.last, AddSeconds(start, 13)));
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_READ_ERROR);  // the stream stays failed
  ASSERT_NE(Open(), nullptr);
  SetConcatHT(handle, 1);
  std::vector<uint8_t> buffer(record);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(ReadRecHT(handle, 1, static_cast<int64_t>(buffer.size()), buffer.data()), 0);
  EXPECT_EQ(ReadRecHT(handle, 1, static_cast<int64_t>(buffer.size()), buffer.data()), OLMTS_READ_ERROR);

  // A tag cut short is the clean end of the file: the records before it count.
  files.Write(".TS1", Truncated(first, 2 * record + 7));
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(olmts_walk_stream(handle, 1, &walk), OLMTS_END_OF_DATA);
  EXPECT_EQ(walk.records, 2);
  EXPECT_EQ(walk.gaps, 0);
}

TEST_F(StreamWalkTest, ReadingBeforeAndAfterAWalkSeesTheSameBytes) {
  // The walk reads the files from memory; the stream's own reading must pick up
  // exactly where it stood before (its buffer holding bytes ahead) and after.
  Bytes first;
  WriteSet(&first);
  const TagSpec t = WalkTag(start);
  const std::size_t record = t.RecordSize();
  std::vector<uint8_t> buffer(record);
  auto read = [&] { return ReadRecHT(handle, 1, static_cast<int64_t>(buffer.size()), buffer.data()); };
  ASSERT_NE(Open(), nullptr);
  SetConcatHT(handle, 1);
  ASSERT_EQ(read(), OLMTS_OK);
  ASSERT_EQ(read(), OLMTS_OK);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(t.DataBlockSize())),
            Bytes(first.begin() + static_cast<std::ptrdiff_t>(record + t.ltag),
                  first.begin() + static_cast<std::ptrdiff_t>(2 * record)));
  OlmtsStreamWalk walk;
  EXPECT_EQ(olmts_walk_stream(handle, 1, &walk), OLMTS_END_OF_DATA);
  EXPECT_EQ(walk.records, 7);
  EXPECT_TRUE(SameStamp(walk.first, AddSeconds(start, 2)));
  EXPECT_EQ(read(), OLMTS_END_OF_DATA);
  // Back to the third record of the first file: the bytes read are the file's.
  ASSERT_EQ(SeekHT(handle, 1, AddSeconds(start, 2), 0), OLMTS_OK);
  ASSERT_EQ(read(), OLMTS_OK);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(t.DataBlockSize())),
            Bytes(first.begin() + static_cast<std::ptrdiff_t>(2 * record + t.ltag),
                  first.begin() + static_cast<std::ptrdiff_t>(3 * record)));
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 0), AddSeconds(start, 2)));
}

TEST_F(StreamWalkTest, AFaultEndsTheWalkAndArgumentsAreChecked) {
  TagSpec other = WalkTag(AddSeconds(start, 3));
  other.snum = 9;  // disagrees with the first tag
  files.Write(".TS1", Joined({EncodeStream(WalkTag(start), 3), EncodeStream(other, 2)}));
  ASSERT_NE(Open(), nullptr);
  OlmtsStreamWalk walk;
  EXPECT_EQ(olmts_walk_stream(handle, 1, &walk), OLMTS_TAG_MISMATCH);
  EXPECT_EQ(walk.records, 3);
  EXPECT_EQ(walk.gaps, 0);  // the next record is not held: no gap test

  walk.records = 77;
  EXPECT_EQ(olmts_walk_stream(handle, 6, &walk), OLMTS_BAD_STREAM);
  EXPECT_EQ(walk.records, 0);
  EXPECT_EQ(olmts_walk_stream(handle, 2, &walk), OLMTS_BAD_STREAM);  // no file
  EXPECT_EQ(olmts_walk_stream(handle, 1, nullptr), OLMTS_NULL_HANDLE);
  EXPECT_EQ(olmts_walk_stream(nullptr, 1, &walk), OLMTS_NULL_HANDLE);
}

}  // namespace
