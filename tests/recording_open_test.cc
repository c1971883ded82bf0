// Opening a recording: which file each stream reads, the first tag of each
// stream, and the streams that stay unusable.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "reader_test_support.h"
#include "writer/spectral_writer.h"

namespace {

using namespace olmtsfil::testdata;

class RecordingOpenTest : public RecordingTest {};

TagSpec RateTag(uint16_t rate, uint16_t snum) {
  TagSpec t;
  t.rate = rate;
  t.scnt = 4;
  t.nchn = 2;
  t.snum = snum;
  return t;
}

// Records of several rates interleaved, as a ".TSH" file holds them.
Bytes InterleavedRates(const std::vector<uint16_t>& rates, int rounds, uint16_t snum) {
  Bytes out;
  for (int r = 0; r < rounds; ++r) {
    for (uint16_t rate : rates) {
      TagSpec t = RateTag(rate, snum);
      t.utc = AddSeconds(t.utc, r);
      Append(out, EncodeRecord(t, {}));
    }
  }
  return out;
}

TEST_F(RecordingOpenTest, EachStreamReadsItsOwnFile) {
  files.Write(".TFC", EncodeSpectralStream({SpectralTag(0, 2, 4, 2), 1, nullptr, 1}).bytes);
  for (int k = 1; k <= 5; ++k) {
    TagSpec t = RateTag(k == 2 ? 500 : 250, static_cast<uint16_t>(10 + k));
    files.Write(".TS" + std::to_string(k), EncodeStream(t, 2));
  }
  // Present but not needed: no stream falls back on them.
  files.Write(".TSH", InterleavedRates({20000}, 1, 99));
  files.Write(".TSL", InterleavedRates({1}, 1, 98));
  ASSERT_NE(Open(), nullptr);
  for (int k = 1; k <= 5; ++k) EXPECT_EQ(TagInt(handle, k, 1, "SNUM"), 10 + k) << "stream " << k;
  // Without the shared file in use, stream 2 keeps records of any rate.
  EXPECT_EQ(TagInt(handle, 2, 1, "RATE"), 500);
  EXPECT_EQ(TagInt(handle, 0, 1, "LEVAL"), 2);
}

TEST_F(RecordingOpenTest, SharedHighRateFileSplitsByRateAlsoForOwnFiles) {
  // Stream 2 has its own file, whose first record is of the low class; streams 3
  // and 4 fall back on ".TSH", which makes every one of streams 2-4 keep only its class.
  files.Write(".TS2", Joined({EncodeRecord(RateTag(500, 2), {}), EncodeRecord(RateTag(20000, 2), {})}));
  files.Write(".TSH", InterleavedRates({20000, 2000, 200}, 3, 7));
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(TagInt(handle, 2, 1, "RATE"), 20000);
  EXPECT_EQ(TagInt(handle, 2, 1, "SNUM"), 2);
  const int expected_rate[] = {0, 0, 0, 2000, 200};
  for (int k = 3; k <= 4; ++k) {
    int records = 0;
    while (TagInt(handle, k, 1, "RATE") == expected_rate[k]) {
      ASSERT_EQ(SkipRecHT(handle, k), OLMTS_OK);
      ++records;
    }
    EXPECT_EQ(records, 3) << "stream " << k;
    EXPECT_EQ(SkipRecHT(handle, k), OLMTS_END_OF_DATA);
  }
  EXPECT_EQ(SkipRecHT(handle, 5), OLMTS_BAD_STREAM);  // no ".TSL"
}

TEST_F(RecordingOpenTest, SharedFileNameTriedEvenIfAbsentSplitsByRate) {
  // No ".TSH" at all: looking for it for streams 3 and 4 is enough to make
  // stream 2 keep only records of 10000 per second or more.
  files.Write(".TS2", EncodeStream(RateTag(500, 2), 2));
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(SkipRecHT(handle, 2), OLMTS_BAD_STREAM);
  files.Write(".TS3", {});
  files.Write(".TS4", {});
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(TagInt(handle, 2, 1, "RATE"), 500);
}

TEST_F(RecordingOpenTest, HighRateStreamsReadTheSharedFileIndependently) {
  files.Write(".TSH", InterleavedRates({20000, 2000, 200}, 2, 7));
  files.Write(".TSL", InterleavedRates({1}, 2, 8));
  ASSERT_NE(Open(), nullptr);
  // Each stream has its own position in the shared file.
  EXPECT_EQ(SkipRecHT(handle, 2), OLMTS_OK);
  EXPECT_EQ(SkipRecHT(handle, 2), OLMTS_OK);
  EXPECT_EQ(SkipRecHT(handle, 2), OLMTS_END_OF_DATA);
  EXPECT_EQ(TagInt(handle, 3, 1, "RATE"), 2000);
  EXPECT_EQ(TagInt(handle, 4, 1, "RATE"), 200);
  EXPECT_EQ(TagInt(handle, 5, 1, "SNUM"), 8);
}

TEST_F(RecordingOpenTest, TableAloneOpensWithEveryStreamUnusable) {
  ASSERT_NE(Open(), nullptr);
  TimeStamp t = MakeStamp(2026, 1, 1);
  char buffer[16];
  for (int k = 0; k <= 5; ++k) {
    EXPECT_EQ(SkipRecHT(handle, k), OLMTS_BAD_STREAM);
    EXPECT_EQ(GapHT(handle, k), OLMTS_BAD_STREAM);
    EXPECT_EQ(SeekHT(handle, k, t, 0), OLMTS_BAD_STREAM);
    EXPECT_EQ(ReadRecHT(handle, k, sizeof buffer, buffer), OLMTS_BAD_STREAM);
    EXPECT_EQ(TagInt(handle, k, 1, "SCNT"), -1);
  }
}

TEST_F(RecordingOpenTest, OnlyLowRateFile) {
  files.Write(".TSL", EncodeStream(RateTag(1, 5), 2));
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(TagInt(handle, 5, 1, "SNUM"), 5);
  for (int k = 0; k <= 4; ++k) EXPECT_EQ(SkipRecHT(handle, k), OLMTS_BAD_STREAM);
}

TEST_F(RecordingOpenTest, FirstTagStateAfterOpen) {
  TagSpec t = RateTag(250, 3);
  t.utc = MakeStamp(2026, 5, 6, 7, 8, 9);
  files.Write(".TS1", EncodeStream(t, 2));
  ASSERT_NE(Open(), nullptr);
  int32_t status = 0;
  EXPECT_EQ(TagInt(handle, 1, 0, "SCNT", &status), -1);
  EXPECT_EQ(status, OLMTS_END_OF_DATA);  // nothing consumed yet
  EXPECT_TRUE(SameStamp(TagUtc(handle, 1, 1), t.utc));
  EXPECT_EQ(GapHT(handle, 1), OLMTS_GAP);
  // The file stands at the first data block.
  std::vector<uint8_t> block(t.DataBlockSize());
  ASSERT_EQ(ReadRecHT(handle, 1, static_cast<int32_t>(block.size()), block.data()), OLMTS_OK);
  Bytes file = ReadFile(files.Path(".TS1"));
  EXPECT_TRUE(std::equal(block.begin(), block.end(), file.begin() + t.ltag));
}

TEST_F(RecordingOpenTest, OlderSixteenByteTagsAreWidened) {
  TagSpec t = RateTag(0, 4);
  t.ltag = 0;
  t.scnt = 250;
  t.nchn = 3;
  t.lsmp = 7;   // not stored in the older kind; the reader assumes 3
  t.rate = 9;   // likewise: the rate is the scan count
  t.kind = 15;  // likewise
  files.Write(".TS1", EncodeStream(t, 3));
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(TagInt(handle, 1, 1, "LTAG"), 16);
  EXPECT_EQ(TagInt(handle, 1, 1, "LSMP"), 3);
  EXPECT_EQ(TagInt(handle, 1, 1, "RATE"), 250);
  // Bytes past the 16 stored ones read as 0, not as the samples that follow.
  EXPECT_EQ(TagInt(handle, 1, 1, "WINDX"), 0);
  EXPECT_EQ(TagInt(handle, 1, 1, "RUNT"), 0);
  const int32_t block = 250 * 3 * 3;
  std::vector<uint8_t> buffer(block);
  EXPECT_EQ(ReadRecHT(handle, 1, block - 1, buffer.data()), OLMTS_NULL_HANDLE);
  EXPECT_EQ(ReadRecHT(handle, 1, block, buffer.data()), OLMTS_OK);
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
  EXPECT_EQ(GapHT(handle, 1), OLMTS_OK);  // 250 scans at 250 per second, 1 s apart
  EXPECT_EQ(TagInt(handle, 1, 1, "WINDX"), 0);
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
  EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_END_OF_DATA);
}

TEST_F(RecordingOpenTest, BytesPastTheTagLengthReadAsZero) {
  TagSpec t = RateTag(250, 1);
  t.ltag = 32;
  t.scnt = 2;
  // Samples of all ones right after the tag must not show through bytes 32 on.
  files.Write(".TS1", EncodeStream(t, 2, [](int64_t, int) { return -1; }));
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(TagInt(handle, 1, 1, "WINDX"), 0);
  EXPECT_EQ(TagInt(handle, 1, 1, "NFREQ"), 0);
  ASSERT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
  EXPECT_EQ(TagInt(handle, 1, 1, "WISCN"), 0);
  EXPECT_EQ(TagInt(handle, 1, 0, "WISCN"), 0);
}

TEST_F(RecordingOpenTest, FirstTagLengthOutsideSixteenToSixtyMakesTheStreamUnusable) {
  for (int ltag : {1, 15, 61, 200, 255}) {
    TagSpec t = RateTag(250, 1);
    t.ltag = static_cast<uint8_t>(ltag);
    files.Write(".TS1", EncodeStream(t, 2));
    ASSERT_NE(Open(), nullptr);
    EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_BAD_STREAM) << "LTAG " << ltag;
    EXPECT_EQ(TagInt(handle, 1, 1, "SCNT"), -1);
  }
  // 16 and 17 store no sample length, so their data blocks are empty.
  for (int ltag : {16, 17, 18, 59, 60}) {
    TagSpec t = RateTag(250, 1);
    t.ltag = static_cast<uint8_t>(ltag);
    files.Write(".TS1", EncodeStream(t, 2));
    ASSERT_NE(Open(), nullptr);
    EXPECT_EQ(TagInt(handle, 1, 1, "LTAG"), ltag);
    EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_OK) << "LTAG " << ltag;
    EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
    EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_END_OF_DATA);
  }
}

TEST_F(RecordingOpenTest, LaterTagLengthOutsideLimitsIsADisagreement) {
  for (int ltag : {1, 15, 61, 255}) {
    TagSpec t = RateTag(250, 1);
    TagSpec bad = t;
    bad.ltag = static_cast<uint8_t>(ltag);
    bad.utc = AddSeconds(t.utc, 1);
    files.Write(".TS1", Joined({EncodeStream(t, 1), EncodeRecord(bad, {})}));
    ASSERT_NE(Open(), nullptr);
    EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_OK);
    EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_TAG_MISMATCH) << "LTAG " << ltag;
    EXPECT_EQ(SkipRecHT(handle, 1), OLMTS_TAG_MISMATCH);
    // A backward seek goes back to the first record.
    EXPECT_EQ(SeekHT(handle, 1, t.utc, 0), OLMTS_OK);
  }
}

TEST_F(RecordingOpenTest, MissingEmptyAndShortStreams) {
  files.Write(".TS1", {});
  files.Write(".TS2", Truncated(EncodeStream(RateTag(20000, 1), 1), 15));  // tag cut short
  TagSpec t = RateTag(250, 1);
  files.Write(".TS3", Truncated(EncodeStream(t, 1), 20));  // cut inside the tag's remainder
  files.Write(".TS4", Truncated(EncodeStream(t, 1), 40));  // cut inside the data block: the tag is whole
  std::filesystem::create_directory(files.Path(".TS5"));   // opens on some systems, reads nothing
  ASSERT_NE(Open(), nullptr);
  for (int k : {0, 1, 2, 3, 5}) EXPECT_EQ(SkipRecHT(handle, k), OLMTS_BAD_STREAM) << "stream " << k;
  std::vector<uint8_t> buffer(t.DataBlockSize());
  EXPECT_EQ(ReadRecHT(handle, 4, static_cast<int32_t>(buffer.size()), buffer.data()), OLMTS_READ_ERROR);
  EXPECT_EQ(ReadRecHT(handle, 4, static_cast<int32_t>(buffer.size()), buffer.data()), OLMTS_READ_ERROR);
  EXPECT_EQ(TagInt(handle, 4, 0, "SCNT"), -1);
}

TEST_F(RecordingOpenTest, SpectralStreamCheck) {
  struct Case {
    int levtp, leval, nfrqt, nfrqd;
    bool usable;
  };
  const Case cases[] = {
      {0, 2, 4, 2, true},     // first branch
      {0, 23, 12, 4, true},   // first branch at its limits
      {0, 24, 12, 4, false},  // LEVAL too large
      {0, 2, 13, 4, false},   // NFRQT too large
      {0, 2, 4, 5, false},    // NFRQD too large
      {1, 2, 4, 2, false},    // LEVTP not 0
      {3, 2, 4, 2, false},    // LEVTP above LEVAL
      {0, 2, 5, 5, true},     // second branch: NFRQD = NFRQT, NFRQD above 4
      {1, 2, 2, 2, true},     // second branch with LEVTP 1
      {0, 40, 3, 3, true},    // second branch lets LEVAL reach beyond the word width
  };
  for (const Case& c : cases) {
    SpectralSpec desc{SpectralTag(c.levtp, c.leval, c.nfrqt, c.nfrqd, 1, 1), 1, nullptr, 1};
    desc.tag.scnt = 4;
    files.Write(".TFC", EncodeStream(desc.tag, 1, [](int64_t, int) { return 5; }));
    ASSERT_NE(Open(), nullptr);
    const int32_t expected = c.usable ? OLMTS_OK : OLMTS_BAD_STREAM;
    EXPECT_EQ(SkipRecHT(handle, 0), expected) << c.levtp << " " << c.leval << " " << c.nfrqt << " " << c.nfrqd;
    if (!c.usable) {
      EXPECT_EQ(GetDftFreqHT(handle, 0), 0.0);
      int32_t flag = 0;
      double values[2];
      EXPECT_EQ(ReadDftScanHT(handle, &flag, nullptr, nullptr, nullptr, values), OLMTS_BAD_STREAM);
    }
  }
}

TEST_F(RecordingOpenTest, BaseNameOf256CharactersOpens257DoesNot) {
  // Nested folders keep every file-name component short.
  std::string folder = Dir();
  while (folder.size() < 200) {
    folder += "/" + std::string(40, 'd');
    std::filesystem::create_directory(folder);
  }
  std::string base = folder + "/";
  base += std::string(256 - base.size(), 'r');
  ASSERT_EQ(base.size(), 256u);
  const std::string longer = base + "s";
  for (const std::string& b : {base, longer}) {
    TypicalTable().Write(b + ".TBL");
    WriteFile(b + ".TS1", EncodeStream(RateTag(250, 1), 2));
  }
  ScopedRecording h = OpenRecording(base);
  ASSERT_NE(h.get(), nullptr);
  EXPECT_EQ(SkipRecHT(h, 1), OLMTS_OK);  // the 260-character stream path was kept whole
  EXPECT_EQ(SkipRecHT(h, 1), OLMTS_OK);
  EXPECT_EQ(SkipRecHT(h, 1), OLMTS_END_OF_DATA);
  h.Close();
  EXPECT_EQ(h.get(), nullptr);
  h.Close();  // harmless the second time
  EXPECT_EQ(OpenRecording(longer).get(), nullptr);
}

TEST_F(RecordingOpenTest, ConcatenationFlag) {
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(SetConcatHT(handle, 7), 1);
  EXPECT_EQ(SetConcatHT(handle, 0), 0);
  EXPECT_EQ(SetConcatHT(handle, -1), 1);
  EXPECT_EQ(SetConcatHT(nullptr, 1), 0);
}

}  // namespace
