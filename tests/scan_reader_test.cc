// Scan-by-scan reading: record-boundary flags, the 24-bit conversion, the end
// of a stream and buffers that must not be overrun.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "reader_test_support.h"

namespace {

using namespace olmtsfil::testdata;

class ScanReaderTest : public RecordingTest {};

constexpr double kFullScale = 8388608.0;  // 2^23

TagSpec ScanTag(uint16_t scnt, uint8_t nchn, uint8_t lsmp = 3) {
  TagSpec t;
  t.scnt = scnt;
  t.nchn = nchn;
  t.lsmp = lsmp;
  t.rate = scnt;  // one record per second
  return t;
}

TEST_F(ScanReaderTest, FlagsMarkRecordBoundaries) {
  files.Write(".TS1", EncodeStream(ScanTag(3, 2), 2));
  files.Write(".TS5", EncodeStream(ScanTag(1, 2), 2));
  ASSERT_NE(Open(), nullptr);
  int32_t flag = 99;
  double values[2];
  const int expected[] = {1, 0, -1, 1, 0, -1};
  for (int i = 0; i < 6; ++i) {
    ASSERT_EQ(ReadScanDblHT(handle, 1, &flag, values), OLMTS_OK);
    EXPECT_EQ(flag, expected[i]) << i;
  }
  // A record of one scan: the last-scan flag wins.
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(ReadScanDblHT(handle, 5, &flag, values), OLMTS_OK);
    EXPECT_EQ(flag, -1);
  }
}

TEST_F(ScanReaderTest, ValuesAreFractionsOfFullScaleAcrossRecords) {
  const TagSpec t = ScanTag(7, 3);
  files.Write(".TS1", EncodeStream(t, 4));
  ASSERT_NE(Open(), nullptr);
  int32_t flag = 0;
  double values[3];
  uint8_t raw[9];
  for (int scan = 0; scan < 28; ++scan) {
    ASSERT_EQ(ReadScanDblHT(handle, 1, &flag, values), OLMTS_OK);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(values[c], PatternSample(scan, c) / kFullScale) << scan << " " << c;
  }
  EXPECT_EQ(ReadScanHT(handle, 1, &flag, raw), OLMTS_END_OF_DATA);
  // ReadScanHT hands out the stored bytes.
  ASSERT_NE(Open(), nullptr);
  for (int scan = 0; scan < 28; ++scan) {
    ASSERT_EQ(ReadScanHT(handle, 1, &flag, raw), OLMTS_OK);
    Bytes expected;
    for (int c = 0; c < 3; ++c) PutSample(expected, PatternSample(scan, c), 3);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), raw)) << scan;
  }
}

TEST_F(ScanReaderTest, TwentyFourBitConversion) {
  TagSpec t = ScanTag(1, 4);
  const std::vector<int32_t> samples = {8388607, -8388608, 1, -1};
  files.Write(".TS1", EncodeRecord(t, samples));
  ASSERT_NE(Open(), nullptr);
  int32_t flag = 0;
  double values[4];
  uint8_t raw[12];
  ASSERT_EQ(ReadScanHT(handle, 1, &flag, raw), OLMTS_OK);
  const uint8_t stored[12] = {0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(std::memcmp(raw, stored, 12), 0);
  ASSERT_NE(Open(), nullptr);
  ASSERT_EQ(ReadScanDblHT(handle, 1, &flag, values), OLMTS_OK);
  EXPECT_EQ(values[0], 8388607.0 / 8388608.0);
  EXPECT_EQ(values[1], -1.0);
  EXPECT_EQ(values[2], std::ldexp(1.0, -23));
  EXPECT_EQ(values[3], -std::ldexp(1.0, -23));
}

TEST_F(ScanReaderTest, FourByteSamplesIgnoreTheirFourthByteAndAreServedWhole) {
  // 12 channels of 4 bytes: a 48-byte scan. The writer puts a marker in every
  // fourth byte that must not change the value.
  const TagSpec t = ScanTag(5, 12, 4);
  files.Write(".TS1", EncodeStream(t, 2));
  ASSERT_NE(Open(), nullptr);
  constexpr double kGuard = 12345.0;
  double values[12 + 4];
  int32_t flag = 0;
  for (int scan = 0; scan < 10; ++scan) {
    std::fill(std::begin(values), std::end(values), kGuard);
    ASSERT_EQ(ReadScanDblHT(handle, 1, &flag, values), OLMTS_OK);
    for (int c = 0; c < 12; ++c) EXPECT_EQ(values[c], PatternSample(scan, c) / kFullScale) << scan << " " << c;
    for (int g = 12; g < 16; ++g) EXPECT_EQ(values[g], kGuard);  // nothing past NCHN values
  }
  ASSERT_NE(Open(), nullptr);
  uint8_t raw[48 + 8];
  std::memset(raw, 0xCD, sizeof raw);
  ASSERT_EQ(ReadScanHT(handle, 1, &flag, raw), OLMTS_OK);
  Bytes expected;
  for (int c = 0; c < 12; ++c) PutSample(expected, PatternSample(0, c), 4);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), raw));
  for (int g = 48; g < 56; ++g) EXPECT_EQ(raw[g], 0xCD);
}

TEST_F(ScanReaderTest, EndOfDataIsStickyAndTouchesNothing) {
  files.Write(".TS1", EncodeStream(ScanTag(2, 1), 1));
  ASSERT_NE(Open(), nullptr);
  int32_t flag = 0;
  double value = 0;
  ASSERT_EQ(ReadScanDblHT(handle, 1, &flag, &value), OLMTS_OK);
  ASSERT_EQ(ReadScanDblHT(handle, 1, &flag, &value), OLMTS_OK);
  EXPECT_EQ(flag, -1);
  for (int i = 0; i < 3; ++i) {
    flag = 7;
    value = 42.0;
    EXPECT_EQ(ReadScanDblHT(handle, 1, &flag, &value), OLMTS_END_OF_DATA);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(value, 42.0);
  }
  uint8_t raw[3] = {1, 2, 3};
  EXPECT_EQ(ReadScanHT(handle, 1, &flag, raw), OLMTS_END_OF_DATA);
  EXPECT_EQ(raw[0], 1);
}

TEST_F(ScanReaderTest, TrailerIsNeverHandedOut) {
  TagSpec t = ScanTag(2, 2);
  t.trailer_factor = 4;
  t.sbrec = 3;
  files.Write(".TS1", EncodeStream(t, 3));
  ASSERT_NE(Open(), nullptr);
  int32_t flag = 0;
  double values[2];
  for (int scan = 0; scan < 6; ++scan) {
    ASSERT_EQ(ReadScanDblHT(handle, 1, &flag, values), OLMTS_OK);
    EXPECT_EQ(values[1], PatternSample(scan, 1) / kFullScale) << scan;
  }
  EXPECT_EQ(ReadScanDblHT(handle, 1, &flag, values), OLMTS_END_OF_DATA);
}

TEST_F(ScanReaderTest, StreamChecks) {
  files.Write(".TS1", EncodeStream(ScanTag(2, 1), 1));
  ASSERT_NE(Open(), nullptr);
  int32_t flag = 5;
  double value = 0;
  uint8_t raw[8];
  // Stream 0 is refused before the handle is looked at.
  EXPECT_EQ(ReadScanDblHT(nullptr, 0, &flag, &value), OLMTS_BAD_STREAM);
  EXPECT_EQ(ReadScanDblHT(handle, 0, &flag, &value), OLMTS_BAD_STREAM);
  EXPECT_EQ(ReadScanDblHT(nullptr, 1, &flag, &value), OLMTS_NULL_HANDLE);
  EXPECT_EQ(ReadScanDblHT(nullptr, 6, &flag, &value), OLMTS_NULL_HANDLE);
  EXPECT_EQ(ReadScanHT(nullptr, 1, &flag, raw), OLMTS_NULL_HANDLE);
  EXPECT_EQ(flag, 5);
  EXPECT_EQ(ReadScanDblHT(handle, 6, &flag, &value), OLMTS_BAD_STREAM);
  EXPECT_EQ(ReadScanHT(handle, -1, &flag, raw), OLMTS_BAD_STREAM);
  // A stream without a file has no buffer size: the buffer cannot be made.
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(ReadScanHT(handle, 3, &flag, raw), OLMTS_NO_MEMORY);
    EXPECT_EQ(ReadScanDblHT(handle, 3, &flag, &value), OLMTS_NO_MEMORY);
    EXPECT_EQ(flag, 0);
  }
  EXPECT_EQ(ReadScanHT(handle, 0, &flag, raw), OLMTS_NO_MEMORY);
}

TEST_F(ScanReaderTest, UnusableStreamWithAFirstTagIsRefused) {
  // A spectral stream that fails its layout check keeps its first tag.
  TagSpec t = ScanTag(2, 1);
  t.kind = 15;
  t.ltag = 60;
  t.levtp = 1;
  t.leval = 2;
  t.nfrqt = 4;
  t.nfrqd = 2;
  files.Write(".TFC", EncodeStream(t, 1));
  ASSERT_NE(Open(), nullptr);
  int32_t flag = 0;
  uint8_t raw[3];
  EXPECT_EQ(ReadScanHT(handle, 0, &flag, raw), OLMTS_BAD_STREAM);
  double values[2];
  EXPECT_EQ(ReadDftScanHT(handle, &flag, nullptr, nullptr, nullptr, values), OLMTS_BAD_STREAM);
}

TEST_F(ScanReaderTest, RecordsWithoutScansArePassedOver) {
  // A trailer gives such records a data block, so they read without failure.
  TagSpec t = ScanTag(0, 2);
  t.trailer_factor = 1;
  t.sbrec = 1;
  t.rate = 1;
  files.Write(".TS1", EncodeStream(t, 4));
  ASSERT_NE(Open(), nullptr);
  int32_t flag = 9;
  double values[2] = {7, 7};
  EXPECT_EQ(ReadScanDblHT(handle, 1, &flag, values), OLMTS_END_OF_DATA);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(values[0], 7);
  // Without a trailer the block is empty: nothing to allocate.
  t.trailer_factor = 0;
  files.Write(".TS2", EncodeStream(t, 2));
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(ReadScanDblHT(handle, 2, &flag, values), OLMTS_NO_MEMORY);
}

TEST_F(ScanReaderTest, SamplesWithoutBytes) {
  // LSMP 0: the scans are empty, the values 0; with no trailer there is no
  // data block at all.
  TagSpec t = ScanTag(2, 3, 0);
  t.trailer_factor = 1;
  t.sbrec = 1;
  files.Write(".TS1", EncodeStream(t, 2));
  t.trailer_factor = 0;
  files.Write(".TS5", EncodeStream(t, 2));
  ASSERT_NE(Open(), nullptr);
  int32_t flag = 0;
  double values[3] = {9, 9, 9};
  for (int scan = 0; scan < 4; ++scan) {
    ASSERT_EQ(ReadScanDblHT(handle, 1, &flag, values), OLMTS_OK);
    EXPECT_EQ(flag, scan % 2 == 0 ? 1 : -1);
    EXPECT_EQ(values[0], 0.0);
    EXPECT_EQ(values[2], 0.0);
  }
  EXPECT_EQ(ReadScanDblHT(handle, 1, &flag, values), OLMTS_END_OF_DATA);
  EXPECT_EQ(ReadScanDblHT(handle, 5, &flag, values), OLMTS_NO_MEMORY);
}

TEST_F(ScanReaderTest, DisagreeingRecordStopsScanReadingStickily) {
  TagSpec t = ScanTag(2, 2);
  TagSpec bad = t;
  bad.utc = AddSeconds(t.utc, 1);
  bad.nchn = 40;  // its scans would not fit the stream's buffer
  files.Write(".TS1", Joined({EncodeStream(t, 1), EncodeRecord(bad, {})}));
  ASSERT_NE(Open(), nullptr);
  int32_t flag = 0;
  double values[40];
  EXPECT_EQ(ReadScanDblHT(handle, 1, &flag, values), OLMTS_OK);
  EXPECT_EQ(ReadScanDblHT(handle, 1, &flag, values), OLMTS_OK);
  EXPECT_EQ(ReadScanDblHT(handle, 1, &flag, values), OLMTS_TAG_MISMATCH);
  EXPECT_EQ(ReadScanDblHT(handle, 1, &flag, values), OLMTS_TAG_MISMATCH);
}

TEST_F(ScanReaderTest, PendingScansComeBeforeARepositioning) {
  const TagSpec t = ScanTag(3, 1);
  files.Write(".TS1", EncodeStream(t, 3));
  ASSERT_NE(Open(), nullptr);
  int32_t flag = 0;
  double value = 0;
  ASSERT_EQ(ReadScanDblHT(handle, 1, &flag, &value), OLMTS_OK);
  ASSERT_EQ(SeekHT(handle, 1, AddSeconds(t.utc, 2), 0), OLMTS_OK);
  ASSERT_EQ(ReadScanDblHT(handle, 1, &flag, &value), OLMTS_OK);
  EXPECT_EQ(value, PatternSample(1, 0) / kFullScale);  // still the first record
  ASSERT_EQ(ReadScanDblHT(handle, 1, &flag, &value), OLMTS_OK);
  EXPECT_EQ(flag, -1);
  ASSERT_EQ(ReadScanDblHT(handle, 1, &flag, &value), OLMTS_OK);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(value, PatternSample(6, 0) / kFullScale);  // then the third
}

TEST_F(ScanReaderTest, ScansContinueIntoTheNextFileOfTheSet) {
  const TagSpec t = ScanTag(2, 1);
  files = RecordingFiles(Dir(), DatedStem("q", 7, 31, 'a'));
  files.Write(".TS1", EncodeStream(t, 1));
  TagSpec later = t;
  later.utc = AddSeconds(t.utc, 1);
  WriteFile(Dir() + "/" + DatedStem("q", 8, 1, 'a') + ".TS1", EncodeStream(later, 1, PatternSample, 2));
  ASSERT_NE(Open(), nullptr);
  SetConcatHT(handle, 1);
  int32_t flag = 0;
  double value = 0;
  for (int scan = 0; scan < 4; ++scan) {
    ASSERT_EQ(ReadScanDblHT(handle, 1, &flag, &value), OLMTS_OK);
    EXPECT_EQ(value, PatternSample(scan, 0) / kFullScale);
  }
  EXPECT_EQ(ReadScanDblHT(handle, 1, &flag, &value), OLMTS_END_OF_DATA);
}

}  // namespace
