// Spectral coefficients of stream 0: their window, level and frequency index,
// the boundary flags, filler scans and frequencies in hertz.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "reader_test_support.h"
#include "writer/spectral_writer.h"

namespace {

using namespace olmtsfil::testdata;

constexpr double kFullScale = 8388608.0;

class SpectralTest : public RecordingTest {
 protected:
  SpectralFile WriteSpectral(const SpectralSpec& desc) {
    SpectralFile file = EncodeSpectralStream(desc);
    files.Write(".TFC", file.bytes);
    return file;
  }
};

struct Read {
  int32_t status = -1, flag = 0, window = 0, level = 0, freq_index = 0;
  std::vector<double> values;
};

Read ReadOne(TsHandle* h, int channels) {
  Read r;
  r.values.assign(2 * channels, 0.0);
  r.status = ReadDftScanHT(h, &r.flag, &r.window, &r.level, &r.freq_index, r.values.data());
  return r;
}

// The flag a caller should see for a coefficient of a record without fillers.
int ExpectedFlag(const TagSpec& t, const DftCoefficient& c) {
  if (c.scan == t.scnt - 1) return -1;
  if (c.scan == 0) return 1;
  const DftPosition& p = c.position;
  if (p.level == t.levtp && p.freq_index < t.nfrqt) {
    if (p.freq_index == 0) return 2;
    if (p.freq_index == t.nfrqt - 1) return -2;
    return 0;
  }
  const int within = (p.freq_index - t.nfrqt) % t.nfrqd;
  if (within == 0) return 2;
  if (within == t.nfrqd - 1) return -2;
  return 0;
}

TEST_F(SpectralTest, ExampleLayoutPositions) {
  // LEVTP 0, LEVAL 2, NFRQT 4, NFRQD 2: cycles of 10 scans, window step 8.
  SpectralSpec desc{SpectralTag(0, 2, 4, 2, 1, 2), 1, nullptr, 1};
  WriteSpectral(desc);
  ASSERT_NE(Open(), nullptr);
  const struct {
    int window, level, index;
  } expected[] = {
      {1, 0, 0},  {1, 0, 1},  {1, 0, 2},  {1, 0, 3},  {2, 1, 4},   {2, 1, 5},   {4, 2, 6},
      {4, 2, 7},  {8, 3, 8},  {8, 3, 9},  {9, 0, 0},  {9, 0, 1},   {9, 0, 2},   {9, 0, 3},
      {10, 1, 4}, {10, 1, 5}, {12, 2, 6}, {12, 2, 7}, {16, 4, 10}, {16, 4, 11},
  };
  for (const auto& e : expected) {
    Read r = ReadOne(handle, 1);
    ASSERT_EQ(r.status, OLMTS_OK);
    EXPECT_EQ(r.window, e.window);
    EXPECT_EQ(r.level, e.level);
    EXPECT_EQ(r.freq_index, e.index);
  }
  EXPECT_EQ(ReadOne(handle, 1).status, OLMTS_END_OF_DATA);
}

TEST_F(SpectralTest, SeveralWholeCyclesOfRecordsFollowTheWindowCounter) {
  struct Layout {
    int levtp, leval, nfrqt, nfrqd, channels, cycles, records;
  };
  for (const Layout& l : {Layout{0, 2, 4, 2, 2, 2, 5}, Layout{0, 0, 3, 1, 1, 3, 6}, Layout{0, 3, 12, 4, 3, 1, 17},
                          Layout{1, 2, 3, 3, 2, 2, 4}, Layout{2, 5, 5, 5, 1, 4, 3}}) {
    SpectralSpec desc{SpectralTag(l.levtp, l.leval, l.nfrqt, l.nfrqd, l.channels, l.cycles), l.records, nullptr, 1};
    const SpectralFile file = WriteSpectral(desc);
    ASSERT_NE(Open(), nullptr);
    std::vector<bool> level_seen(26, false);
    for (const DftCoefficient& c : file.coefficients) {
      Read r = ReadOne(handle, l.channels);
      ASSERT_EQ(r.status, OLMTS_OK);
      EXPECT_EQ(r.window, c.position.window) << "record " << c.record << " scan " << c.scan;
      EXPECT_EQ(r.level, c.position.level) << "record " << c.record << " scan " << c.scan;
      EXPECT_EQ(r.freq_index, c.position.freq_index) << "record " << c.record << " scan " << c.scan;
      EXPECT_EQ(r.flag, ExpectedFlag(desc.tag, c)) << "record " << c.record << " scan " << c.scan;
      for (int ch = 0; ch < l.channels; ++ch) {
        EXPECT_EQ(r.values[2 * ch], c.real[ch] / kFullScale);
        EXPECT_EQ(r.values[2 * ch + 1], c.imag[ch] / kFullScale);
      }
      level_seen[r.level] = true;
    }
    EXPECT_EQ(ReadOne(handle, l.channels).status, OLMTS_END_OF_DATA);
    // Every level of the cascade and the carries of all the cycles written.
    const int cycles = l.cycles * l.records;
    const int deepest = l.leval + 1 + static_cast<int>(std::log2(cycles));
    for (int level = l.levtp; level <= deepest; ++level) EXPECT_TRUE(level_seen[level]) << level;
  }
}

TEST_F(SpectralTest, NullPositionPointersAreAllowed) {
  WriteSpectral({SpectralTag(0, 2, 4, 2, 1, 1), 1, nullptr, 1});
  ASSERT_NE(Open(), nullptr);
  double values[2];
  EXPECT_EQ(ReadDftScanHT(handle, nullptr, nullptr, nullptr, nullptr, values), OLMTS_OK);
  int32_t flag = 0, level = -1;
  EXPECT_EQ(ReadDftScanHT(handle, &flag, nullptr, &level, nullptr, values), OLMTS_OK);
  EXPECT_EQ(level, 0);
  EXPECT_EQ(ReadDftScanHT(nullptr, &flag, nullptr, nullptr, nullptr, values), OLMTS_NULL_HANDLE);
}

TEST_F(SpectralTest, FillersAreSkippedAndTrailingOnesConsumedWithTheCoefficient) {
  // Record 0 of 10 scans: filler, 6 coefficients, coefficient, filler, filler.
  // Record 1: coefficient, filler, coefficients ...
  SpectralSpec desc{SpectralTag(0, 2, 4, 2, 2, 1), 2, nullptr, 1};
  desc.is_filler = [](int record, int scan) {
    return (record == 0 && (scan == 0 || scan >= 8)) || (record == 1 && scan == 1);
  };
  const SpectralFile file = WriteSpectral(desc);
  ASSERT_NE(Open(), nullptr);
  std::vector<Read> reads;
  for (;;) {
    Read r = ReadOne(handle, 2);
    if (r.status != OLMTS_OK) {
      EXPECT_EQ(r.status, OLMTS_END_OF_DATA);
      break;
    }
    reads.push_back(r);
  }
  ASSERT_EQ(reads.size(), file.coefficients.size());
  for (std::size_t i = 0; i < reads.size(); ++i) {
    EXPECT_EQ(reads[i].freq_index, file.coefficients[i].position.freq_index) << i;
    EXPECT_EQ(reads[i].values[0], file.coefficients[i].real[0] / kFullScale) << i;
  }
  // Record 0: the leading filler swallowed the new-record flag; scan 1 is
  // index 1 of level 0, inside its group.
  EXPECT_EQ(reads[0].freq_index, 1);
  EXPECT_EQ(reads[0].flag, 0);
  EXPECT_EQ(reads[2].flag, -2);  // index 3 ends level 0's group
  // Scan 7 is followed by the record's last two scans, both fillers: consumed
  // with it, so it reports the end of the record.
  EXPECT_EQ(reads[6].freq_index, 7);
  EXPECT_EQ(reads[6].flag, -1);
  // Record 1: its first coefficient, then a filler consumed with it, which
  // clears the new-record flag.
  EXPECT_EQ(reads[7].window, 9);
  EXPECT_EQ(reads[7].freq_index, 0);
  EXPECT_EQ(reads[7].flag, 0);
  EXPECT_EQ(reads[8].freq_index, 2);
  EXPECT_EQ(reads.back().flag, -1);
}

TEST_F(SpectralTest, RecordOfFillersOnlyIsPassedOver) {
  SpectralSpec desc{SpectralTag(0, 2, 4, 2, 1, 1), 3, nullptr, 1};
  desc.is_filler = [](int record, int) { return record == 1; };
  const SpectralFile file = WriteSpectral(desc);
  ASSERT_NE(Open(), nullptr);
  std::size_t count = 0;
  Read r;
  while ((r = ReadOne(handle, 1)).status == OLMTS_OK) {
    ASSERT_LT(count, file.coefficients.size());
    EXPECT_EQ(r.window, file.coefficients[count].position.window) << count;
    EXPECT_EQ(r.freq_index, file.coefficients[count].position.freq_index) << count;
    if (count == 10) {
      EXPECT_EQ(r.flag, 1);  // the first scan of the record after the fillers
    }
    ++count;
  }
  EXPECT_EQ(count, 20u);
  EXPECT_EQ(r.status, OLMTS_END_OF_DATA);
}

TEST_F(SpectralTest, WindowNumberThatDoesNotFitTheLevels) {
  // LEVTP 1, LEVAL 2 (through NFRQT = NFRQD): the low three bits of WINDX must be 010.
  SpectralSpec desc{SpectralTag(1, 2, 2, 2, 1, 1), 2, nullptr, 1};
  SpectralFile file = EncodeSpectralStream(desc);
  const std::size_t second_record = desc.tag.RecordSize();
  files.Write(".TFC", WithField(file.bytes, olmtsfil::layout::tag::kWindx, 6, second_record));  // 110
  ASSERT_NE(Open(), nullptr);
  for (int i = 0; i < desc.tag.scnt; ++i) ASSERT_EQ(ReadOne(handle, 1).status, OLMTS_OK);
  Read r;
  r.values = {7.0, 7.0};
  r.window = r.level = r.freq_index = -9;
  r.status = ReadDftScanHT(handle, &r.flag, &r.window, &r.level, &r.freq_index, r.values.data());
  EXPECT_EQ(r.status, OLMTS_BAD_WINDOW);
  EXPECT_EQ(r.window, -9);
  EXPECT_EQ(r.level, -9);
  EXPECT_EQ(r.freq_index, -9);
  EXPECT_EQ(r.values[0], 7.0);
  // Each scan of that record is refused in turn; then the stream ends.
  for (int i = 1; i < desc.tag.scnt; ++i) EXPECT_EQ(ReadOne(handle, 1).status, OLMTS_BAD_WINDOW);
  EXPECT_EQ(ReadOne(handle, 1).status, OLMTS_END_OF_DATA);
}

TEST_F(SpectralTest, NoCoefficientsPerLevel) {
  // NFRQD 0 passes the open check but leaves nothing to divide by.
  for (int nfrqt : {3, 0}) {
    TagSpec t = SpectralTag(0, 0, 3, 1, 1, 1);
    t.nfrqt = static_cast<uint8_t>(nfrqt);
    t.nfrqd = 0;
    t.scnt = 3;
    files.Write(".TFC", EncodeStream(t, 1, [](int64_t, int) { return 5; }));
    ASSERT_NE(Open(), nullptr);
    EXPECT_EQ(ReadOne(handle, 1).status, OLMTS_BAD_WINDOW) << nfrqt;
    EXPECT_EQ(GetDftFreqHT(handle, 0), 0.0);
    EXPECT_EQ(GetDftFreqHT(handle, 2), 0.0);
  }
}

TEST_F(SpectralTest, LevelsBeyondTheWordWidth) {
  // The second branch of the open check admits any LEVAL; such layouts must
  // give statuses and finite positions, never undefined shifts.
  for (int leval : {30, 31, 32, 40, 255}) {
    TagSpec t = SpectralTag(0, leval, 2, 2, 1, 1);
    t.scnt = static_cast<uint16_t>(std::min(CycleLength(t), 600));
    files.Write(".TFC", EncodeStream(t, 1, [](int64_t, int) { return 5; }));
    ASSERT_NE(Open(), nullptr);
    Read r = ReadOne(handle, 1);
    EXPECT_EQ(r.status, OLMTS_OK) << leval;
    EXPECT_EQ(r.level, 0);
    for (int i = 1; i < t.scnt; ++i) {
      r = ReadOne(handle, 1);
      ASSERT_EQ(r.status, OLMTS_OK) << leval << " " << i;
      if (i < t.scnt - 2) {
        EXPECT_EQ(r.freq_index, i);  // below the carry group
      }
    }
    EXPECT_EQ(GetDftFreqHT(handle, 48), 0.0);  // level 24: beyond the frequency list
  }
}

TEST_F(SpectralTest, FrequenciesInHertz) {
  // RATE 1024, WISCN 64, LEVTP 0, NFRQT 4, NFRQD 2.
  struct Unit {
    uint8_t runt;
    double unit;
  };
  const Unit units[] = {{0x00, 1.0},   {0x01, 1.0 / 60.0}, {0x02, 1.0 / 3600.0}, {0xFF, 10.0},
                        {0xFE, 100.0}, {0x03, 0.0},        {0x80, 0.0}};
  for (const Unit& u : units) {
    TagSpec t = SpectralTag(0, 2, 4, 2, 1, 1);
    t.runt = static_cast<int8_t>(u.runt);
    files.Write(".TFC", EncodeStream(t, 1, [](int64_t, int) { return 5; }));
    ASSERT_NE(Open(), nullptr);
    // Index i of level L lies at (j - 0.5) x unit x RATE / (2^L x WISCN), where j
    // counts down from the top of the level's group.
    const struct {
      int index;
      double at_unit_one;
    } expected[] = {{0, 88.0}, {3, 40.0}, {4, 28.0}, {5, 20.0}, {6, 14.0},
                    {7, 10.0}, {8, 7.0},  {9, 5.0},  {10, 3.5}, {11, 2.5}};
    for (const auto& e : expected) {
      EXPECT_NEAR(GetDftFreqHT(handle, e.index), e.at_unit_one * u.unit, 1e-15 * e.at_unit_one * 100)
          << int{u.runt} << " index " << e.index;
    }
    EXPECT_EQ(GetDftFreqHT(handle, -1), 0.0);
  }
  EXPECT_EQ(GetDftFreqHT(nullptr, 0), 0.0);

  TagSpec t = SpectralTag(0, 2, 4, 2, 1, 1);
  t.wiscn = 0;
  files.Write(".TFC", EncodeStream(t, 1, [](int64_t, int) { return 5; }));
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(GetDftFreqHT(handle, 0), 0.0);
  handle.Close();  // Windows removes no file that is open
  ASSERT_EQ(std::remove(files.Path(".TFC").c_str()), 0);
  ASSERT_NE(Open(), nullptr);
  EXPECT_EQ(GetDftFreqHT(handle, 0), 0.0);
  Read r = ReadOne(handle, 1);
  EXPECT_EQ(r.status, OLMTS_NO_MEMORY);  // no first tag, so no scan buffer
}

TEST_F(SpectralTest, CoefficientsWiderThanTheConversionBuffer) {
  // 8 channels of 8-byte samples: 64-byte scans, 16 values per coefficient.
  TagSpec t = SpectralTag(0, 2, 4, 2, 8, 1);
  t.lsmp = 8;
  SpectralSpec desc{t, 1, nullptr, 1};
  const SpectralFile file = WriteSpectral(desc);
  ASSERT_NE(Open(), nullptr);
  for (const DftCoefficient& c : file.coefficients) {
    std::vector<double> values(16 + 4, -3.0);
    int32_t flag = 0;
    ASSERT_EQ(ReadDftScanHT(handle, &flag, nullptr, nullptr, nullptr, values.data()), OLMTS_OK);
    for (int ch = 0; ch < 8; ++ch) {
      EXPECT_EQ(values[2 * ch], c.real[ch] / kFullScale);
      EXPECT_EQ(values[2 * ch + 1], c.imag[ch] / kFullScale);
    }
    for (int g = 16; g < 20; ++g) EXPECT_EQ(values[g], -3.0);
  }
}

}  // namespace
