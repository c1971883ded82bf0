// The tag walk: the records, gaps and times a SkipRecHT / GapHT walk finds,
// across files and gaps; faults and cut records end it with their status.
// The survey: what the walk finds (and where the stream stands after) for a
// few tags per file, on sets with gaps, time going back, files cut short and
// files of another recording; and what it does not see.
#include <gtest/gtest.h>

#include <string>
#include <utility>
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

// ---- the survey ---------------------------------------------------------------

// What a pass over the stream found, and the stream's state afterwards.
struct Found {
  int32_t status = 0;
  int64_t records = 0, gaps = 0;
  TimeStamp first{}, last{};
  int32_t last_tag_status = 0;  // ReadTagHT of the record consumed last
  TimeStamp last_tag{};
  int32_t skip_after = 0;  // SkipRecHT after the pass
  int64_t tags_read = -1;  // the survey's only
};

void ExpectSame(const Found& walk, const Found& survey, const std::string& what) {
  EXPECT_EQ(survey.status, walk.status) << what;
  EXPECT_EQ(survey.records, walk.records) << what;
  EXPECT_EQ(survey.gaps, walk.gaps) << what;
  if (walk.records > 0) {
    EXPECT_TRUE(SameStamp(survey.first, walk.first)) << what << ": " << StampText(survey.first);
    EXPECT_TRUE(SameStamp(survey.last, walk.last)) << what << ": " << StampText(survey.last);
  }
  EXPECT_EQ(survey.last_tag_status, walk.last_tag_status) << what;
  if (walk.last_tag_status == OLMTS_OK) {
    EXPECT_TRUE(SameStamp(survey.last_tag, walk.last_tag)) << what;
  }
  EXPECT_EQ(survey.skip_after, walk.skip_after) << what;
}

class StreamSurveyTest : public RecordingTest {
 protected:
  const TimeStamp start = MakeStamp(2026, 4, 7, 9, 0, 0);

  std::string SetFile(char letter, const std::string& extension = ".TS1") const {
    return Dir() + "/" + DatedStem("s", 4, 7, letter) + extension;
  }
  StreamSurveyTest() { files = RecordingFiles(Dir(), DatedStem("s", 4, 7, 'a')); }

  // mode -1: olmts_walk_stream; 0: the survey; 1: the survey reading every tag.
  Found Pass(int mode, int32_t k = 1) {
    Found f;
    EXPECT_NE(Open(), nullptr);
    SetConcatHT(handle, 1);
    if (mode < 0) {
      OlmtsStreamWalk walk;
      f.status = olmts_walk_stream(handle, k, &walk);
      f.records = walk.records, f.gaps = walk.gaps, f.first = walk.first, f.last = walk.last;
    } else {
      OlmtsStreamSurvey survey;
      f.status = olmts_survey_stream(handle, k, mode, &survey);
      f.records = survey.records, f.gaps = survey.gaps, f.first = survey.first, f.last = survey.last;
      f.tags_read = survey.tags_read;
    }
    f.last_tag_status = ReadTagHT(handle, k, 0, "UTC", OLMTS_TYPE_TIMESTAMP, &f.last_tag);
    f.skip_after = SkipRecHT(handle, k);
    return f;
  }

  // The survey and the survey of every tag both equal the walk; the survey's
  // tags read, returned.
  int64_t ExpectAsWalk(const std::string& what, int32_t k = 1) {
    const Found walk = Pass(-1, k);
    const Found survey = Pass(0, k);
    ExpectSame(walk, survey, what);
    const Found every = Pass(1, k);
    ExpectSame(walk, every, what + " (every tag)");
    EXPECT_EQ(every.tags_read, walk.records) << what;
    EXPECT_LE(survey.tags_read, walk.records) << what;
    return survey.tags_read;
  }
};

// Runs of one-second records with the given starts (offsets from `start`) and lengths.
Bytes Runs(const TimeStamp& start, const std::vector<std::pair<int64_t, int>>& runs) {
  Bytes out;
  for (const auto& [offset, records] : runs) Append(out, EncodeStream(WalkTag(AddSeconds(start, offset)), records));
  return out;
}

TEST_F(StreamSurveyTest, FindsTheWalksGapsAndTimeGoingBackForAFewTags) {
  // First file: 600 records with a 10 s gap, time going back 5 s, three gaps in
  // a row and a gap before its last record; the second file joins it; the third
  // follows after a gap and goes back before its end.
  files.Write(".TS1", Runs(start, {{0, 200}, {210, 150}, {355, 100}, {460, 1}, {470, 1}, {480, 147}, {700, 1}}));
  WriteFile(SetFile('b'), Runs(start, {{701, 400}}));
  WriteFile(SetFile('c'), Runs(start, {{1200, 300}, {1400, 99}}));
  const int64_t tags = ExpectAsWalk("gaps");
  const Found survey = Pass(0);
  EXPECT_EQ(survey.records, 1399);
  EXPECT_EQ(survey.gaps, 8);  // 6 in the first file, 1 before the third, 1 in it going back
  EXPECT_EQ(survey.status, OLMTS_END_OF_DATA);
  EXPECT_LT(tags, 120) << "the survey reads tags around gaps and file ends, not every tag";

  // Evenly spaced files: a handful of tags each.
  files.Write(".TS1", Runs(start, {{0, 500}}));
  WriteFile(SetFile('b'), Runs(start, {{500, 500}}));
  WriteFile(SetFile('c'), Runs(start, {{1000, 500}}));
  EXPECT_LE(ExpectAsWalk("even"), 9);

  // Without concatenation the survey ends with the first file, as the walk.
  ASSERT_NE(Open(), nullptr);
  OlmtsStreamSurvey only_first;
  EXPECT_EQ(olmts_survey_stream(handle, 1, 0, &only_first), OLMTS_END_OF_DATA);
  EXPECT_EQ(only_first.records, 500);
  EXPECT_EQ(only_first.record_size, static_cast<int64_t>(WalkTag(start).RecordSize()));
}

TEST_F(StreamSurveyTest, FilesCutShortEndItWhereTheWalkEnds) {
  const Bytes first = Runs(start, {{0, 300}, {320, 100}});
  const TagSpec t = WalkTag(start);
  const std::size_t record = t.RecordSize();
  WriteFile(SetFile('b'), Runs(start, {{420, 200}}));
  // Inside the first file's last data block, inside its tag, and after a few
  // bytes of a tag (a fragment the reader passes over into the next file).
  for (const std::size_t cut : {std::size_t{t.ltag} + 3, std::size_t{t.ltag} - 4, std::size_t{5}}) {
    files.Write(".TS1", Truncated(first, 399 * record + cut));
    ExpectAsWalk("first file cut " + std::to_string(cut) + " bytes into a record");
  }
  files.Write(".TS1", first);
  for (const std::size_t cut : {std::size_t{t.ltag} + 3, std::size_t{t.ltag} - 4, std::size_t{5}}) {
    WriteFile(SetFile('b'), Truncated(Runs(start, {{420, 200}}), 150 * record + cut));
    ExpectAsWalk("last file cut " + std::to_string(cut) + " bytes into a record");
  }
  // A file shorter than one record, and an empty one, inside the set.
  WriteFile(SetFile('b'), Truncated(Runs(start, {{420, 1}}), record - 1));
  WriteFile(SetFile('c'), Runs(start, {{421, 50}}));
  ExpectAsWalk("a file shorter than a record");
  WriteFile(SetFile('b'), Bytes{});
  ExpectAsWalk("an empty file");
}

TEST_F(StreamSurveyTest, AFileOfAnotherRecordingMeetsTheWalksFault) {
  files.Write(".TS1", Runs(start, {{0, 300}}));
  TagSpec other = WalkTag(AddSeconds(start, 300));
  other.snum = 9;  // another box
  WriteFile(SetFile('b'), EncodeStream(other, 200));
  ExpectAsWalk("another box");
  // One of the same box, made earlier: it joins with time going back.
  WriteFile(SetFile('b'), Runs(start, {{-4000, 200}}));
  ExpectAsWalk("an earlier recording");
  // Of another rate: its tags disagree.
  other = WalkTag(AddSeconds(start, 300));
  other.rate = 2 * kScans;
  WriteFile(SetFile('b'), EncodeStream(other, 200));
  ExpectAsWalk("another rate");
}

TEST_F(StreamSurveyTest, ATagThatDoesNotFitHasItsFileWalked) {
  Bytes a = Runs(start, {{0, 400}});
  const std::size_t record = WalkTag(start).RecordSize();
  WriteFile(SetFile('b'), Runs(start, {{400, 400}}));
  // The last record's tag of another box: the survey looks at it and walks the file.
  files.Write(".TS1", WithField(a, olmtsfil::layout::tag::kSnum, 9, 399 * record));
  EXPECT_EQ(ExpectAsWalk("last tag disagrees"), 399);  // every record passed
  // A tag length no tag has, where the halving looks (the middle of a run with a gap).
  Bytes gapped = Runs(start, {{0, 200}, {300, 200}});
  files.Write(".TS1", WithField(gapped, olmtsfil::layout::tag::kLtag, 3, 200 * record));
  ExpectAsWalk("a middle tag unreadable");
  const Found found = Pass(0);
  EXPECT_EQ(found.status, OLMTS_TAG_MISMATCH);
  EXPECT_EQ(found.records, 200);
}

TEST_F(StreamSurveyTest, WhatItCannotSeeTheWalkDoes) {
  // Inside a run whose ends fit: a damaged tag, and a jump back made up by a
  // jump forward. Reading every tag finds both.
  const std::size_t record = WalkTag(start).RecordSize();
  files.Write(".TS1", WithField(Runs(start, {{0, 400}}), olmtsfil::layout::tag::kSnum, 9, 123 * record));
  Found quick = Pass(0), every = Pass(1), walk = Pass(-1);
  EXPECT_EQ(quick.status, OLMTS_END_OF_DATA);
  EXPECT_EQ(quick.records, 400);
  EXPECT_LT(quick.tags_read, quick.records);  // it says it did not read them all
  EXPECT_EQ(walk.status, OLMTS_TAG_MISMATCH);
  ExpectSame(walk, every, "every tag");

  files.Write(".TS1", Runs(start, {{0, 100}, {90, 10}, {110, 290}}));
  quick = Pass(0), walk = Pass(-1);
  EXPECT_EQ(walk.gaps, 2);
  EXPECT_EQ(quick.gaps, 0);
  EXPECT_EQ(quick.records, walk.records);
}

TEST_F(StreamSurveyTest, StreamsNotEvenlySpacedAreWalked) {
  // 30 records per minute of one scan each: a record may be followed 2 s or 1 s
  // later and still join (stamps are whole seconds), so no run can be judged by its ends.
  TagSpec slow = WalkTag(start);
  slow.scnt = 1;
  slow.rate = 30;
  slow.runt = 1;
  files.Write(".TS1", EncodeStream(slow, 300));
  EXPECT_EQ(ExpectAsWalk("two spacings join"), 300);
  // Records of several rates in the shared high-rate file.
  TagSpec high = WalkTag(start), low = WalkTag(start);
  high.rate = 1024, high.scnt = 1024;
  low.rate = 4, low.scnt = 4;
  Bytes shared;
  for (int i = 0; i < 100; ++i) {
    high.utc = low.utc = AddSeconds(start, i);
    Append(shared, EncodeStream(high, 1));
    Append(shared, EncodeStream(low, 1));
  }
  files.Write(".TSH", shared);
  EXPECT_EQ(ExpectAsWalk("shared file, stream 3", 3), 100);
  EXPECT_EQ(ExpectAsWalk("shared file, stream 4", 4), 100);

  OlmtsStreamSurvey survey;
  survey.records = 7;
  EXPECT_EQ(olmts_survey_stream(handle, 6, 0, &survey), OLMTS_BAD_STREAM);
  EXPECT_EQ(survey.records, 0);
  EXPECT_EQ(olmts_survey_stream(handle, 2, 0, &survey), OLMTS_BAD_STREAM);  // no records of its rate
  EXPECT_EQ(olmts_survey_stream(handle, 1, 0, nullptr), OLMTS_NULL_HANDLE);
  EXPECT_EQ(olmts_survey_stream(nullptr, 1, 0, &survey), OLMTS_NULL_HANDLE);
}

}  // namespace
