// The sensor response: interpolation in a sensor calibration, rescaling to the
// recording's nominal value, high-pass factors and the board correction.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "cal/calibration.h"
#include "olmtsfil.h"
#include "response/sensor_response.h"
#include "test_handles.h"
#include "writer/calibration_writer.h"
#include "writer/stream_writer.h"
#include "writer/table_writer.h"

namespace {

using namespace olmtsfil::testdata;
using C = std::complex<double>;

C ToStd(Complex c) { return {c.re, c.im}; }
C Stored(const CalBlock& b) { return {static_cast<float>(b.response.re), static_cast<float>(b.response.im)}; }
// First-order high-pass j f / (fc + j f), written independently of the library.
C HighPassOf(double f, double fc) { return C(0, f) / C(fc, f); }

// A coil: response rising with frequency up to a few hertz, then flat, with a
// phase that turns; three channels of slightly different gain.
Complex Coil(int, int channel, double f) {
  C r = C(0, f / 4.0) / C(1.0, f / 4.0) * (1.0 + 0.1 * channel);
  return {r.real(), r.imag()};
}

void ExpectNear(C actual, C expected, double tolerance, const std::string& what) {
  EXPECT_NEAR(actual.real(), expected.real(), tolerance * (1 + std::abs(expected))) << what;
  EXPECT_NEAR(actual.imag(), expected.imag(), tolerance * (1 + std::abs(expected))) << what;
}

class SensorResponseTest : public ::testing::Test {
 protected:
  ScratchDirectory dir{"sensor"};
  RecordingFiles files{dir.path(), "rec"};
  std::string cal_base = dir.File("coil");
  ScopedCalibration cal;
  ScopedRecording ts;
  CalibrationFile file;
  TableFile table;

  SensorResponseTest() {
    SensorSpec desc;
    desc.hnom = 0.8;
    desc.points = 15;  // half a decade apart: the coil more than doubles per step at the low end
    file = SensorCalibration(desc, Coil);
    table.Double("HNOM", 0.8).Double("CNOM", 0.4);
  }
  void Open() {
    cal.Close();
    ts.Close();
    file.Write(cal_base);
    cal = OpenCalibration(file.header.ctyp, cal_base);
    ASSERT_NE(cal.get(), nullptr);
    table.Write(files.Path(".TBL"));
    ts = OpenRecording(files.base());
    ASSERT_NE(ts.get(), nullptr);
  }
  int32_t Eval(double f, std::vector<C>* resp, std::vector<double>* aux) {
    std::vector<Complex> r(static_cast<std::size_t>(file.header.nchn), Complex{-7, -7});
    aux->assign(r.size(), -7.0);
    int32_t status = CalcSensorRespHT(cal, ts, f, r.data(), aux->data());
    resp->clear();
    for (Complex c : r) resp->push_back(ToStd(c));
    return status;
  }
  // Records 0 and 1 are the silent ones; 2 is the start record.
  const CalRecord& Rec(int k) const { return file.records[static_cast<std::size_t>(k)]; }
};

TEST_F(SensorResponseTest, InterpolatesLinearlyAtAndBetweenRecords) {
  Open();
  std::vector<C> r;
  std::vector<double> aux;
  // Exactly at a record: its values.
  ASSERT_EQ(Eval(Rec(10).frequency, &r, &aux), OLMTS_OK);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(r[c], Stored(Rec(10).blocks[c]));
    EXPECT_EQ(aux[c], Rec(10).blocks[c].scalar);
  }
  // Between two records: the straight line, for value and companion alike.
  for (double where : {0.25, 0.5, 0.9}) {
    const double f0 = Rec(14).frequency, f1 = Rec(15).frequency;
    const double f = f0 + where * (f1 - f0);
    ASSERT_EQ(Eval(f, &r, &aux), OLMTS_OK);
    for (int c = 0; c < 3; ++c) {
      const C q0 = Stored(Rec(14).blocks[c]), q1 = Stored(Rec(15).blocks[c]);
      ExpectNear(r[c], q0 + (q1 - q0) * (f - f0) / (f1 - f0), 1e-12, "value");
      const double s0 = Rec(14).blocks[c].scalar, s1 = Rec(15).blocks[c].scalar;
      EXPECT_NEAR(aux[c], s0 + (s1 - s0) * (f - f0) / (f1 - f0), 1e-12 * s1);
    }
  }
}

TEST_F(SensorResponseTest, RescalesToTheRecordingsNominalValue) {
  const double f = Rec(12).frequency;
  std::vector<C> r;
  std::vector<double> aux;
  table.Set(Parameter::Double("HNOM", 0.4));  // half the calibration's: twice the response
  Open();
  ASSERT_EQ(Eval(f, &r, &aux), OLMTS_OK);
  EXPECT_EQ(r[1], Stored(Rec(12).blocks[1]) * 2.0);
  EXPECT_EQ(aux[1], Rec(12).blocks[1].scalar * 2.0);

  table.Set(Parameter::Double("HNOM", 0.0));  // no nominal value: unchanged
  Open();
  ASSERT_EQ(Eval(f, &r, &aux), OLMTS_OK);
  EXPECT_EQ(r[1], Stored(Rec(12).blocks[1]));

  file.header.ctyp = 3;  // the second coil kind takes "CNOM"
  table.Set(Parameter::Double("CNOM", 1.6));
  Open();
  ASSERT_EQ(Eval(f, &r, &aux), OLMTS_OK);
  EXPECT_EQ(r[2], Stored(Rec(12).blocks[2]) * 0.5);

  // A negative ratio: every channel is computed and marked unusable.
  table.Set(Parameter::Double("CNOM", -0.8));
  Open();
  ASSERT_EQ(Eval(f, &r, &aux), OLMTS_NO_RESPONSE);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(r[c], -Stored(Rec(12).blocks[c]));
    EXPECT_LT(aux[c], 0.0);
  }
}

TEST_F(SensorResponseTest, AppliesBothHighPassFactors) {
  for (CalRecord& rec : file.records)
    for (CalBlock& b : rec.blocks) b.corner_frequency = 0.5f;
  file.header.cphc = 0.02;
  Open();
  std::vector<C> r;
  std::vector<double> aux;
  for (int k : {3, 9, 16}) {
    const double f = Rec(k).frequency;
    ASSERT_EQ(Eval(f, &r, &aux), OLMTS_OK);
    const C h = HighPassOf(f, 0.5) * HighPassOf(f, 0.02);
    ExpectNear(r[0], Stored(Rec(k).blocks[0]) * h, 1e-13, "two high-passes");
    EXPECT_NEAR(aux[0], Rec(k).blocks[0].scalar * std::abs(h), 1e-13);
  }
  // At the corner the factor is (1 + j)/2; a corner of 0 or below applies none.
  file.header.cphc = -3.0;
  for (CalRecord& rec : file.records)
    for (CalBlock& b : rec.blocks) b.corner_frequency = static_cast<float>(Rec(8).frequency);
  Open();
  ASSERT_EQ(Eval(Rec(8).frequency, &r, &aux), OLMTS_OK);
  ExpectNear(r[2], Stored(Rec(8).blocks[2]) * C(0.5, 0.5), 1e-15, "at the corner");
  EXPECT_NEAR(aux[2], Rec(8).blocks[2].scalar / std::sqrt(2.0), 1e-15);
}

TEST_F(SensorResponseTest, BelowAndAboveTheRecords) {
  Open();
  std::vector<C> r;
  std::vector<double> aux;
  const CalRecord& first = Rec(2);
  const CalRecord& second = Rec(3);
  // The coil rises steeply at the low end: proportional to frequency below it.
  ASSERT_GT(std::abs(Stored(second.blocks[0])), 2 * std::abs(Stored(first.blocks[0])));
  const double f = first.frequency / 4.0;
  ASSERT_EQ(Eval(f, &r, &aux), OLMTS_OK);
  ExpectNear(r[0], Stored(first.blocks[0]) * (f / first.frequency), 1e-15, "proportional");
  EXPECT_EQ(aux[0], first.blocks[0].scalar);  // the nearer record's companion value
  ASSERT_EQ(Eval(0.0, &r, &aux), OLMTS_OK);
  EXPECT_EQ(r[0], C(0.0, 0.0));

  // Above the last record: the line through the last two, up to 0.6 of the last step.
  const CalRecord& last = file.records.back();
  const CalRecord& before = file.records[file.records.size() - 2];
  const double step = static_cast<double>(last.frequency) - before.frequency;
  const double fa = last.frequency + 0.5 * step;
  ASSERT_EQ(Eval(fa, &r, &aux), OLMTS_OK);
  const C q0 = Stored(before.blocks[1]), q1 = Stored(last.blocks[1]);
  ExpectNear(r[1], q1 + (q1 - q0) * 0.5, 1e-12, "extrapolated");
  EXPECT_EQ(aux[1], last.blocks[1].scalar);
  ASSERT_EQ(Eval(last.frequency + 0.59 * step, &r, &aux), OLMTS_OK);
  ASSERT_EQ(Eval(last.frequency + 0.6 * step * (1 + 1e-12), &r, &aux), OLMTS_OUT_OF_CAL_RANGE);
  EXPECT_EQ(aux[1], -7.0);  // nothing written
}

TEST_F(SensorResponseTest, FlatResponseFollowsTheLineBelowTheFirstRecord) {
  file = SensorCalibration(SensorSpec{}, [](int, int, double f) { return Complex{2.0 + 0.001 * f, 0.5}; });
  table.Set(Parameter::Double("HNOM", file.header.hnom));
  Open();
  std::vector<C> r;
  std::vector<double> aux;
  const double f0 = Rec(2).frequency, f1 = Rec(3).frequency;
  ASSERT_EQ(Eval(0.0, &r, &aux), OLMTS_OK);
  const C q0 = Stored(Rec(2).blocks[0]), q1 = Stored(Rec(3).blocks[0]);
  ExpectNear(r[0], q0 + (q1 - q0) * (0.0 - f0) / (f1 - f0), 1e-12, "line below");
}

TEST_F(SensorResponseTest, StartRecordSearch) {
  // A quiet record (lead signal below the threshold) and a record of sequence 2
  // before the real start are passed over, like the silent ones.
  file.records[2].blocks[0].lead_pair = {0.0005, 0.0005};
  file.records[3].sequence = 2;
  file.records[4].sequence = 1;
  Open();
  std::vector<C> r;
  std::vector<double> aux;
  ASSERT_EQ(Eval(Rec(2).frequency, &r, &aux), OLMTS_OK);
  // Below the start record (4): proportional to frequency from record 4 down.
  const double f = Rec(2).frequency;
  ExpectNear(r[0], Stored(Rec(4).blocks[0]) * (f / Rec(4).frequency), 1e-15, "from the start record");

  // No start record at all: the last record taken twice.
  for (CalRecord& rec : file.records) rec.blocks[0].lead_pair = {0.0, 0.0};
  Open();
  const CalRecord& last = file.records.back();
  ASSERT_EQ(Eval(last.frequency / 2, &r, &aux), OLMTS_OK);
  EXPECT_EQ(r[1], Stored(last.blocks[1]));
  EXPECT_EQ(Eval(last.frequency, &r, &aux), OLMTS_OUT_OF_CAL_RANGE);
}

TEST_F(SensorResponseTest, WalkPassesOverRecordsSteppingBack) {
  // A second table that starts lower again: its low records never become lo.
  CalibrationFile extra = SensorCalibration(SensorSpec{}, Coil);
  const std::size_t n = file.records.size();
  for (std::size_t k = 2; k < 12; ++k) file.records.push_back(extra.records[k]);
  file.records.push_back(extra.records.back());
  file.records.back().frequency *= 2;
  file.records.back().sequence = 50;
  Open();
  std::vector<C> r;
  std::vector<double> aux;
  const CalRecord& last = file.records[n - 1];
  const CalRecord& top = file.records.back();
  const double f = last.frequency * 1.5;
  ASSERT_EQ(Eval(f, &r, &aux), OLMTS_OK);
  const double t = (f - last.frequency) / (static_cast<double>(top.frequency) - last.frequency);
  ExpectNear(r[0], Stored(last.blocks[0]) * (1 - t) + Stored(top.blocks[0]) * t, 1e-12, "pair across tables");

  auto core = std::make_unique<olmtsfil::Calibration>();
  ASSERT_EQ(core->Open(2, cal_base.c_str()), olmtsfil::Status::kOk);
  int lo = -1, hi = -1;
  EXPECT_EQ(olmtsfil::FindSensorRecordPair(*core, f, &lo, &hi), olmtsfil::Status::kOk);
  EXPECT_EQ(lo, static_cast<int>(n) - 1);
  EXPECT_EQ(hi, static_cast<int>(file.records.size()) - 1);
  EXPECT_EQ(core->record_cursor, hi);
  EXPECT_EQ(olmtsfil::FindSensorRecordPair(*core, 1e9, &lo, &hi), olmtsfil::Status::kOutOfCalRange);
  EXPECT_EQ(core->record_cursor, hi);  // stored on failure too
}

TEST_F(SensorResponseTest, BoardCorrection) {
  const double k = 5.235987750000114e-05;
  std::vector<C> r;
  std::vector<double> aux;
  struct Case {
    const char* ver;
    int32_t lfrq;
    bool corrected;
  };
  for (const Case& c :
       {Case{"4270a1", 50, true}, Case{"4270BX7", 60, true}, Case{"4270B", 60, false}, Case{"X4270A", 50, false}}) {
    file.header.ver = c.ver;
    file.header.lfrq = c.lfrq;
    Open();
    for (int rec : {6, 15}) {
      const double f = Rec(rec).frequency;
      ASSERT_EQ(Eval(f, &r, &aux), OLMTS_OK);
      C g = 1.0;
      if (c.corrected) {
        g = std::polar(1.0, k * f) / C(1.0, f / 120000.0);
        if (c.lfrq == 60) g *= 0.25 + 0.75 / C(1.0, 3 * f / 31831.0);
      }
      ExpectNear(r[0], Stored(Rec(rec).blocks[0]) * g, 1e-14, c.ver);
      const double mag = c.corrected ? std::abs(g) : 1.0;
      EXPECT_NEAR(aux[0], Rec(rec).blocks[0].scalar * mag, 1e-14) << c.ver;
    }
  }
}

TEST_F(SensorResponseTest, FailuresLeaveOutputsUntouched) {
  Open();
  std::vector<Complex> r(3, Complex{-7, -7});
  std::vector<double> aux(3, -7.0);
  EXPECT_EQ(CalcSensorRespHT(nullptr, ts, 1.0, r.data(), aux.data()), OLMTS_NULL_CAL_HANDLE);
  EXPECT_EQ(CalcSensorRespHT(cal, nullptr, 1.0, r.data(), aux.data()), OLMTS_NULL_HANDLE);
  for (double f : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity()})
    EXPECT_EQ(CalcSensorRespHT(cal, ts, f, r.data(), aux.data()), OLMTS_OUT_OF_CAL_RANGE) << f;
  EXPECT_EQ(aux[0], -7.0);
  EXPECT_EQ(r[2].re, -7.0);
  EXPECT_EQ(CalcSensorRespHT(cal, ts, 1.0, nullptr, nullptr), OLMTS_OK);  // outputs are optional

  table.Remove("HNOM");
  Open();
  EXPECT_EQ(CalcSensorRespHT(cal, ts, 1.0, r.data(), aux.data()), OLMTS_NO_SUCH_NAME);
  table.Set(Parameter::Int("HNOM", 1));
  Open();
  EXPECT_EQ(CalcSensorRespHT(cal, ts, 1.0, r.data(), aux.data()), OLMTS_TYPE_MISMATCH);
  EXPECT_EQ(aux[1], -7.0);

  // A box calibration has no "HNOM".
  BoxSpec desc;
  desc.tables = 2;
  file = BoxCalibration(desc);
  Open();
  EXPECT_EQ(CalcSensorRespHT(cal, ts, 1.0, r.data(), aux.data()), OLMTS_NO_SUCH_NAME);
}

}  // namespace
