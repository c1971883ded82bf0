// Block reading of scans: the same values as scan-by-scan reading across
// records, files and gaps; stops at gaps, faults and the end with the scans
// before them delivered; shares its position with the scan reader.
#include <gtest/gtest.h>

#include <vector>

#include "reader_test_support.h"
#include "scan_block_calls.h"

namespace {

using namespace olmtsfil::testdata;

constexpr int kScans = 7;  // per record: blocks of other sizes cut records
constexpr int kChannels = 3;

TagSpec BlockTag(TimeStamp utc) {
  TagSpec t;
  t.utc = utc;
  t.scnt = kScans;
  t.nchn = kChannels;
  t.rate = kScans;  // one record per second
  return t;
}

// Records of one file: `joined` consecutive runs, each `runs[i]` records long,
// separated by gaps of 10 s; global scan numbers continue over everything.
Bytes Runs(TimeStamp start, const std::vector<int>& runs, int64_t* first_scan) {
  Bytes out;
  TimeStamp at = start;
  for (int records : runs) {
    Append(out, EncodeStream(BlockTag(at), records, PatternSample, *first_scan));
    *first_scan += static_cast<int64_t>(records) * kScans;
    at = AddSeconds(at, records + 10);
  }
  return out;
}

class ScanBlockTest : public RecordingTest {
 protected:
  ScanBlockTest() { files = RecordingFiles(Dir(), DatedStem("r", 3, 5, 'a')); }

  // Two dated files, two gaps in the first: 2 + 3 records, then 4 records.
  void WriteSet() {
    int64_t scan = 0;
    const TimeStamp start = MakeStamp(2026, 3, 5, 10, 0, 0);
    files.Write(".TS1", Runs(start, {2, 3}, &scan));
    WriteFile(Dir() + "/" + DatedStem("r", 3, 5, 'b') + ".TS1", Runs(AddSeconds(start, 40), {4}, &scan));
  }
};

TEST_F(ScanBlockTest, BlocksEqualScanByScanAcrossRecordsFilesAndGaps) {
  WriteSet();
  ASSERT_NE(Open(), nullptr);
  for (int64_t block : {1, 5, 7, 8, 1000}) {
    int32_t end = 0;
    EXPECT_EQ(scan_block_compare(files.base().c_str(), 1, 1, block, &end), 9 * kScans) << block;
    EXPECT_EQ(end, OLMTS_END_OF_DATA) << block;
  }
  // Without concatenation the stream ends with its first file.
  int32_t end = 0;
  EXPECT_EQ(scan_block_compare(files.base().c_str(), 1, 0, 4, &end), 5 * kScans);
  EXPECT_EQ(end, OLMTS_END_OF_DATA);
}

TEST_F(ScanBlockTest, StopsAtEachGapThenResumes) {
  WriteSet();
  ASSERT_NE(Open(), nullptr);
  SetConcatHT(handle, 1);
  int64_t counts[8] = {};
  int32_t statuses[8] = {};
  // Runs of 2, 3 and 4 records; the file change between the last two is a gap too.
  ASSERT_EQ(scan_block_segments(handle, 1, 1000 * kChannels, counts, statuses, 8), 3);
  EXPECT_EQ(counts[0], 2 * kScans);
  EXPECT_EQ(statuses[0], OLMTS_GAP);
  EXPECT_EQ(counts[1], 3 * kScans);
  EXPECT_EQ(statuses[1], OLMTS_GAP);
  EXPECT_EQ(counts[2], 4 * kScans);
  EXPECT_EQ(statuses[2], OLMTS_END_OF_DATA);
  ASSERT_EQ(scan_block_segments(handle, 1, 1000 * kChannels, counts, statuses, 8), 1);
  EXPECT_EQ(counts[0], 0);  // the end stays the end
  EXPECT_EQ(statuses[0], OLMTS_END_OF_DATA);

  // A block that fills up inside a record leaves the rest for the next call,
  // which continues in the same record without a gap check.
  ASSERT_NE(Open(), nullptr);
  std::vector<int32_t> counts_out(4 * kChannels + 2);
  int64_t got = -1;
  EXPECT_EQ(olmts_read_scans_i32(handle, 1, 1, counts_out.data(), static_cast<int64_t>(counts_out.size()), &got),
            OLMTS_OK);
  ASSERT_EQ(got, 4);
  EXPECT_EQ(olmts_read_scans_i32(handle, 1, 1, counts_out.data(), static_cast<int64_t>(counts_out.size()), &got),
            OLMTS_OK);
  ASSERT_EQ(got, 4);
  for (int c = 0; c < kChannels; ++c) EXPECT_EQ(counts_out[c], PatternSample(4, c));
}

TEST_F(ScanBlockTest, AFaultEndsTheBlockAfterTheScansBeforeIt) {
  TagSpec t = BlockTag(MakeStamp(2026, 3, 5, 10, 0, 0));
  TagSpec other = t;
  other.utc = AddSeconds(t.utc, 3);
  other.snum = 2;  // disagrees with the first tag
  const Bytes file = Joined({EncodeStream(t, 3), EncodeStream(other, 1)});
  files.Write(".TS1", file);
  ASSERT_NE(Open(), nullptr);
  std::vector<double> values(100 * kChannels);
  int64_t got = -1;
  EXPECT_EQ(olmts_read_scans_dbl(handle, 1, 0, values.data(), static_cast<int64_t>(values.size()), &got),
            OLMTS_TAG_MISMATCH);
  EXPECT_EQ(got, 3 * kScans);
  EXPECT_EQ(values[(3 * kScans - 1) * kChannels + 2], PatternSample(3 * kScans - 1, 2) / 8388608.0);

  // A record cut short by the end of its file: the complete ones come first.
  files.Write(".TS1", Truncated(file, 2 * t.RecordSize() + 40));
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(olmts_read_scans_dbl(handle, 1, 0, values.data(), static_cast<int64_t>(values.size()), &got),
            OLMTS_READ_ERROR);
  EXPECT_EQ(got, 2 * kScans);
}

TEST_F(ScanBlockTest, SharesThePositionOfScanReadingAndChecksArguments) {
  files.Write(".TS1", EncodeStream(BlockTag(MakeStamp(2026, 3, 5, 10, 0, 0)), 2));
  ASSERT_NE(Open(), nullptr);
  int32_t flag = 0;
  double scan[kChannels];
  ASSERT_EQ(ReadScanDblHT(handle, 1, &flag, scan), OLMTS_OK);
  std::vector<double> values(2 * kChannels + 1, -7.0);  // room for two scans and a bit
  int64_t got = -1;
  EXPECT_EQ(olmts_read_scans_dbl(handle, 1, 0, values.data(), static_cast<int64_t>(values.size()), &got), OLMTS_OK);
  ASSERT_EQ(got, 2);
  EXPECT_EQ(values[0], PatternSample(1, 0) / 8388608.0);
  EXPECT_EQ(values[2 * kChannels], -7.0);  // the partial row stays untouched
  ASSERT_EQ(ReadScanDblHT(handle, 1, &flag, scan), OLMTS_OK);
  EXPECT_EQ(scan[1], PatternSample(3, 1) / 8388608.0);
  EXPECT_EQ(olmts_read_scans_dbl(handle, 1, 0, values.data(), 0, &got), OLMTS_OK);
  EXPECT_EQ(got, 0);

  got = 5;
  EXPECT_EQ(olmts_read_scans_dbl(nullptr, 1, 0, values.data(), 3, &got), OLMTS_NULL_HANDLE);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(olmts_read_scans_dbl(handle, 1, 0, values.data(), 3, nullptr), OLMTS_NULL_HANDLE);
  EXPECT_EQ(olmts_read_scans_dbl(handle, 1, 0, nullptr, 3, &got), OLMTS_NULL_HANDLE);
  EXPECT_EQ(olmts_read_scans_dbl(handle, 1, 0, values.data(), -1, &got), OLMTS_NULL_HANDLE);
  for (int32_t stream : {0, -1, 6, 5})  // 5: no file
    EXPECT_EQ(olmts_read_scans_i32(handle, stream, 0, reinterpret_cast<int32_t*>(values.data()), 3, &got),
              OLMTS_BAD_STREAM)
        << stream;
}

}  // namespace
