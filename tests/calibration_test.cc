// Opening calibration files and reading their header parameters.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "cal/calibration.h"
#include "olmtsfil.h"
#include "test_handles.h"
#include "writer/calibration_writer.h"

namespace {

using namespace olmtsfil::testdata;

// A box file of `tables` tables with `points` records each.
CalibrationFile SmallBox(int tables = 4, int points = 5, int nchn = 2) {
  BoxSpec desc;
  desc.nchn = nchn;
  desc.tables = tables;
  desc.points = points;
  return BoxCalibration(desc);
}

// `records` records; record i starts a table when starts(i).
CalibrationFile Sequenced(int records, const std::function<bool(int)>& starts, uint8_t ctyp = 2) {
  CalibrationFile file;
  file.header.ctyp = ctyp;
  file.header.nchn = 1;
  for (int i = 0; i < records; ++i) {
    CalRecord r;
    r.frequency = static_cast<float>(i + 1);
    r.sequence = starts(i) ? static_cast<int16_t>(i % 2) : static_cast<int16_t>(2 + i % 7);
    r.blocks.resize(1);
    file.records.push_back(r);
  }
  return file;
}

class CalibrationTest : public ::testing::Test {
 protected:
  ScratchDirectory dir{"cal"};
  std::string base = dir.File("cal");

  ScopedCalibration Open(const CalibrationFile& file, int32_t kind) {
    file.Write(base);
    return OpenCalibration(kind, base);
  }
  // The loader's view, for the reasons the C interface does not report.
  olmtsfil::Status Reason(const CalibrationFile& file, int32_t kind, olmtsfil::Calibration& cal) {
    file.Write(base);
    return cal.Open(kind, base.c_str());
  }
};

TEST_F(CalibrationTest, OpensBoxAndSplitsTables) {
  CalibrationFile file = SmallBox(4, 5, 3);
  file.records[0].sequence = 5;  // record 0 starts table 0 whatever its sequence
  file.records[7].sequence = 0;  // splits table 1 at its third record
  auto cal = std::make_unique<olmtsfil::Calibration>();
  ASSERT_EQ(Reason(file, 1, *cal), olmtsfil::Status::kOk);
  EXPECT_EQ(cal->record_count, 20);
  EXPECT_EQ(cal->record_cursor, 0);
  ASSERT_EQ(cal->TableCount(), 5);
  const int expected[] = {0, 5, 7, 10, 15, 20};
  for (int t = 0; t <= 5; ++t) EXPECT_EQ(cal->table_start[static_cast<std::size_t>(t)], expected[t]);
  EXPECT_EQ(cal->Key(12), 2);
  EXPECT_EQ(cal->Frequency(12), file.records[12].frequency);
  EXPECT_EQ(cal->Block(12, 2).response.re, static_cast<float>(file.records[12].blocks[2].response.re));
  EXPECT_NE(cal->model.slot_frequency, nullptr);  // a box of more than three tables gets model buffers
  EXPECT_NE(cal->model.slot_value, nullptr);

  ScopedCalibration h = Open(file, 0x101);  // only the low byte of the kind counts
  ASSERT_NE(h.get(), nullptr);
  h.Close();
  EXPECT_EQ(h.get(), nullptr);
  h.Close();  // closing again through the same variable does nothing
}

TEST_F(CalibrationTest, DefaultBoxHoldsTheShapesItWasMadeFrom) {
  BoxSpec desc;  // 15 tables of 20 records, 5 channels
  desc.corner = [](int t, int c) { return static_cast<float>(0.001 * (t + 1) + 0.0001 * c); };
  auto cal = std::make_unique<olmtsfil::Calibration>();
  ASSERT_EQ(Reason(BoxCalibration(desc), 1, *cal), olmtsfil::Status::kOk);
  ASSERT_EQ(cal->TableCount(), 15);
  for (int t = 0; t < 15; ++t) {
    ASSERT_EQ(cal->TableEnd(t) - cal->TableBegin(t), 20);
    for (int k = cal->TableBegin(t); k < cal->TableEnd(t); ++k) {
      EXPECT_EQ(cal->Key(k), t);
      for (int c = 0; c < 5; ++c) {
        const Complex expected = TypicalBoxResponse(t, c, cal->Frequency(k));
        const olmtsfil::Calibration::ChannelBlock b = cal->Block(k, c);
        EXPECT_NEAR(b.response.re, expected.re, 1e-6);
        EXPECT_NEAR(b.response.im, expected.im, 1e-6);
        EXPECT_EQ(b.corner_frequency, desc.corner(t, c));
      }
    }
  }
}

TEST_F(CalibrationTest, SmallBoxAndSensorHaveNoModelBuffers) {
  auto cal = std::make_unique<olmtsfil::Calibration>();
  ASSERT_EQ(Reason(SmallBox(2, 5), 1, *cal), olmtsfil::Status::kOk);  // 3 table_start entries
  EXPECT_EQ(cal->model.slot_frequency, nullptr);
  auto sensor = std::make_unique<olmtsfil::Calibration>();
  SensorSpec desc;
  ASSERT_EQ(Reason(SensorCalibration(desc,
                                     [](int, int, double) {
                                       return Complex{1, 0};
                                     }),
                   2, *sensor),
            olmtsfil::Status::kOk);
  EXPECT_EQ(sensor->model.slot_value, nullptr);
}

TEST_F(CalibrationTest, KindMustMatchTheFile) {
  EXPECT_EQ(Open(SmallBox(), 2).get(), nullptr);
  CalibrationFile coil = Sequenced(
      3, [](int i) { return i == 0; }, 3);
  EXPECT_EQ(Open(coil, 2).get(), nullptr);
  EXPECT_NE(Open(coil, 3).get(), nullptr);
  for (int32_t kind : {0, 4, 0x100, -1}) {
    auto cal = std::make_unique<olmtsfil::Calibration>();
    EXPECT_EQ(Reason(coil, kind, *cal), olmtsfil::Status::kBadCalKind) << kind;
  }
}

TEST_F(CalibrationTest, OpenFailureReasonsInOrder) {
  using olmtsfil::Status;
  auto reason_for_path = [](int32_t kind, const std::string& path) {
    auto cal = std::make_unique<olmtsfil::Calibration>();
    return cal->Open(kind, path.c_str());
  };
  EXPECT_EQ(reason_for_path(9, std::string(257, 'a')), Status::kCalPathTooLong);  // length before kind
  EXPECT_EQ(reason_for_path(9, dir.File("none")), Status::kBadCalKind);
  EXPECT_EQ(reason_for_path(1, dir.File("none")), Status::kCalNotOpened);
  EXPECT_EQ(ScopedCalibration(CalOpenHT(1, nullptr)).get(), nullptr);

  Bytes valid = SmallBox().Encode();
  auto reason_for_bytes = [&](const Bytes& bytes, int32_t kind) {
    WriteFile(base + ".CLB", bytes);
    auto cal = std::make_unique<olmtsfil::Calibration>();
    return cal->Open(kind, base.c_str());
  };
  EXPECT_EQ(reason_for_bytes(Truncated(valid, 131), 1), Status::kCalHeaderShort);
  EXPECT_EQ(reason_for_bytes(Truncated(valid, 132), 1), Status::kCalRecordCount);  // header only
  // Wrong kind in the header is found before a bad channel count.
  namespace header = olmtsfil::layout::cal_header;
  EXPECT_EQ(reason_for_bytes(WithField(WithField(valid, header::kCtyp, 2), header::kNchn, 0), 1), Status::kBadCalKind);
  for (int nchn : {0, 13, -1, 300})
    EXPECT_EQ(reason_for_bytes(WithField(valid, header::kNchn, static_cast<uint16_t>(nchn)), 1),
              Status::kCalHeaderShort)
        << nchn;
}

TEST_F(CalibrationTest, TableAndRecordLimits) {
  using olmtsfil::Status;
  auto reason = [&](const CalibrationFile& f) {
    auto cal = std::make_unique<olmtsfil::Calibration>();
    return Reason(f, 2, *cal);
  };
  EXPECT_EQ(reason(Sequenced(100, [](int i) { return i == 0; })), Status::kOk);
  EXPECT_EQ(reason(Sequenced(101, [](int i) { return i == 0; })), Status::kCalTooLarge);
  // A long table in the middle is caught when the next one starts.
  EXPECT_EQ(reason(Sequenced(150, [](int i) { return i == 0 || i == 120; })), Status::kCalTooLarge);
  EXPECT_EQ(reason(Sequenced(300, [](int i) { return i % 10 == 0; })), Status::kOk);  // 30 tables
  EXPECT_EQ(reason(Sequenced(310, [](int i) { return i % 10 == 0; })), Status::kCalTooLarge);
}

TEST_F(CalibrationTest, MoreThan500RecordsReadAsTheFirst500) {
  // Whatever record 500 is, the last table ends at 500 and keeps the limits.
  for (bool record_500_starts : {false, true}) {
    CalibrationFile f =
        Sequenced(520, [&](int i) { return (i % 20 == 0 && i != 500) || (record_500_starts && i == 500); });
    auto cal = std::make_unique<olmtsfil::Calibration>();
    ASSERT_EQ(Reason(f, 2, *cal), olmtsfil::Status::kOk);
    EXPECT_EQ(cal->record_count, 500);
    ASSERT_EQ(cal->TableCount(), 25);
    EXPECT_EQ(cal->TableBegin(24), 480);
    EXPECT_EQ(cal->TableEnd(24), 500);
  }
  // A last table reaching past 100 records by record 500 is refused.
  CalibrationFile f = Sequenced(520, [](int i) { return i == 0 || i == 100 || i == 200 || i == 300 || i == 399; });
  auto cal = std::make_unique<olmtsfil::Calibration>();
  EXPECT_EQ(Reason(f, 2, *cal), olmtsfil::Status::kCalTooLarge);
  // 30 tables and more than 500 records: the end entry still fits.
  CalibrationFile thirty = Sequenced(510, [](int i) { return i < 29 * 17 ? i % 17 == 0 : i == 29 * 17; });
  cal = std::make_unique<olmtsfil::Calibration>();
  ASSERT_EQ(Reason(thirty, 2, *cal), olmtsfil::Status::kOk);
  EXPECT_EQ(cal->TableCount(), 30);
  EXPECT_EQ(cal->TableEnd(29), 500);
}

TEST_F(CalibrationTest, CutLastRecordIsNotCounted) {
  CalibrationFile f = Sequenced(10, [](int i) { return i == 0 || i == 5; });
  Bytes bytes = Truncated(f.Encode(), f.RecordOffset(10) - 1);
  WriteFile(base + ".CLC", bytes);
  auto cal = std::make_unique<olmtsfil::Calibration>();
  ASSERT_EQ(cal->Open(2, base.c_str()), olmtsfil::Status::kOk);
  EXPECT_EQ(cal->record_count, 9);
  EXPECT_EQ(cal->TableEnd(1), 9);
}

TEST_F(CalibrationTest, ReadsHeaderParameters) {
  CalibrationFile coil = Sequenced(
      3, [](int i) { return i == 0; }, 2);
  coil.header.hw = "coil-07e";
  coil.header.ver = "ABCDEFGHIJKL";  // fills all 12 bytes
  coil.header.hsn = "s123";
  coil.header.snum = 65000;
  coil.header.stat = 40000;
  coil.header.lfrq = -60;
  coil.header.hatt = 0.5;
  coil.header.hnom = 0.25;
  coil.header.cphc = 3.5;
  ScopedCalibration h = Open(coil, 2);
  ASSERT_NE(h.get(), nullptr);
  int32_t i = -7;
  EXPECT_EQ(ReadCalPrmHT(h, "snum", 0, &i), OLMTS_OK);
  EXPECT_EQ(i, 65000);  // unsigned 16 bits, zero-extended
  EXPECT_EQ(ReadCalPrmHT(h, "STAT", 0x100, &i), OLMTS_OK);
  EXPECT_EQ(i, 40000);
  EXPECT_EQ(ReadCalPrmHT(h, "NCHN", 0, &i), OLMTS_OK);
  EXPECT_EQ(i, 1);
  EXPECT_EQ(ReadCalPrmHT(h, "CTYP", 0, &i), OLMTS_OK);
  EXPECT_EQ(i, 2);
  EXPECT_EQ(ReadCalPrmHT(h, "LFRQ", 0, &i), OLMTS_OK);
  EXPECT_EQ(i, -60);
  double d = 0;
  EXPECT_EQ(ReadCalPrmHT(h, "HATT", 1, &d), OLMTS_OK);
  EXPECT_EQ(d, 0.5);
  EXPECT_EQ(ReadCalPrmHT(h, "hnom", 1, &d), OLMTS_OK);
  EXPECT_EQ(d, 0.25);
  EXPECT_EQ(ReadCalPrmHT(h, "CPHC", 1, &d), OLMTS_OK);
  EXPECT_EQ(d, 3.5);
  char text[16];
  std::memset(text, 'x', sizeof text);
  EXPECT_EQ(ReadCalPrmHT(h, "HW", 2, text), OLMTS_OK);
  EXPECT_STREQ(text, "COIL-07E");  // upper-cased at open
  EXPECT_EQ(text[15], 0);
  EXPECT_EQ(ReadCalPrmHT(h, "VER", 4, text), OLMTS_TYPE_MISMATCH);  // the descriptor's code only
  EXPECT_EQ(ReadCalPrmHT(h, "VER", 2, text), OLMTS_OK);
  EXPECT_STREQ(text, "ABCDEFGHIJKL");
  EXPECT_EQ(ReadCalPrmHT(h, "hsn", 2, text), OLMTS_OK);
  EXPECT_STREQ(text, "s123");
  TimeStamp stamp{};
  EXPECT_EQ(ReadCalPrmHT(h, "UTC", 5, &stamp), OLMTS_OK);
  EXPECT_EQ(std::memcmp(&stamp, &coil.header.utc, 8), 0);

  i = -7;
  EXPECT_EQ(ReadCalPrmHT(h, "HATT", 0, &i), OLMTS_TYPE_MISMATCH);
  EXPECT_EQ(ReadCalPrmHT(h, "HW", 3, &i), OLMTS_TYPE_MISMATCH);
  EXPECT_EQ(ReadCalPrmHT(h, "HW", 6, &i), OLMTS_TYPE_MISMATCH);
  EXPECT_EQ(ReadCalPrmHT(h, "HWX", 2, &i), OLMTS_NO_SUCH_NAME);
  EXPECT_EQ(ReadCalPrmHT(h, nullptr, 2, &i), OLMTS_NO_SUCH_NAME);
  EXPECT_EQ(i, -7);  // untouched on failure
  EXPECT_EQ(ReadCalPrmHT(nullptr, "HW", 2, text), OLMTS_NULL_CAL_HANDLE);
  h.Close();

  h = Open(SmallBox(), 1);
  ASSERT_NE(h.get(), nullptr);
  for (const char* sensor_only : {"hsn", "HNOM", "CPHC"})
    EXPECT_EQ(ReadCalPrmHT(h, sensor_only, sensor_only[0] == 'h' ? 2 : 1, text), OLMTS_NO_SUCH_NAME);
  EXPECT_EQ(ReadCalPrmHT(h, "HATT", 1, &d), OLMTS_OK);
}

TEST_F(CalibrationTest, ChannelFlagsFromHardware) {
  struct Case {
    const char* hw;
    std::array<int32_t, 6> flags;
  };
  const Case cases[] = {
      {"olm-h", {1, 1, 3, 0, 0, 0}}, {"OLM-EH", {0, 0, 0, 0, 0, 0}}, {"OLM5", {0, 0, 1, 1, 3, 0}},
      {"OLMH5", {1, 1, 3, 0, 0, 0}}, {"RJ25", {1, 0, 0, 0, 0, 0}},   {"pxr", {1, 0, 0, 0, 0, 0}},
      {"X3", {0, 0, 3, 0, 0, 0}},    {"X5", {0, 0, 1, 1, 3, 0}},     {"X6", {0, 0, 0, 1, 1, 3}},
      {"BE6", {0, 0, 0, 0, 0, 0}},   {"X35", {0, 0, 3, 0, 0, 0}},    {"", {0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    BoxSpec desc;
    desc.tables = 4;
    desc.points = 3;
    desc.hw = c.hw;
    auto cal = std::make_unique<olmtsfil::Calibration>();
    ASSERT_EQ(Reason(BoxCalibration(desc), 1, *cal), olmtsfil::Status::kOk) << c.hw;
    for (std::size_t k = 0; k < 12; ++k)
      EXPECT_EQ(cal->channel_flags[k], k < 6 ? c.flags[k] : 0) << c.hw << " channel " << k + 1;
  }
}

}  // namespace
