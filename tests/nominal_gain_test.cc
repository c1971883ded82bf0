// Nominal box and sensor gains from a recording's table.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "olmtsfil.h"
#include "reader_test_support.h"

namespace {

using namespace olmtsfil::testdata;
using Gains = std::array<double, 12>;

// Channels Ex 1, Ey 2, Hx 3, Hy 4, Hz 5 and nothing else that the gains read.
TableFile Channels() {
  TableFile t;
  t.Int("CHEX", 1).Int("CHEY", 2).Int("CHEZ", 0).Int("CHHX", 3).Int("CHHY", 4).Int("CHHZ", 5);
  return t;
}

class NominalGainTest : public RecordingTest {
 protected:
  NominalGainTest() : RecordingTest("gain") {}

  // Box gains of `table`; every element starts as garbage so clearing shows.
  int32_t Box(const TableFile& table, Gains& g) { return Call(table, g, CalcBoxNomGainHT); }
  int32_t Sensor(const TableFile& table, Gains& g) { return Call(table, g, CalcSensorNomGainHT); }

 private:
  int32_t Call(const TableFile& table, Gains& g, int32_t (*f)(TsHandle*, double*)) {
    Open(table);
    g.fill(-99.0);
    return f(handle, g.data());
  }
};

TEST_F(NominalGainTest, BoxGainsFromCodes) {
  Gains g;
  TableFile t = Channels();
  t.Set(Parameter::Int("CHEZ", 6));
  t.Int("EGN", -4).Double("FSCV", 2.0).Int("HGN", 3).Double("HATT", 0.2);
  ASSERT_EQ(Box(t, g), OLMTS_OK);
  const Gains expected = {0.25 / 2.0, 0.25 / 2.0, 3 * 0.2 / 2.0, 3 * 0.2 / 2.0, 3 * 0.2 / 2.0, 0.25 / 2.0};
  for (std::size_t i = 0; i < 12; ++i) EXPECT_DOUBLE_EQ(g[i], expected[i]) << i;
  EXPECT_EQ(g[0], 0.125);

  // Gain code 6 of the magnetic amplifier is trimmed; default full scale 6.4.
  t.Set(Parameter::Int("HGN", 6)).Set(Parameter::Double("HATT", 1.0)).Remove("FSCV");
  ASSERT_EQ(Box(t, g), OLMTS_OK);
  EXPECT_DOUBLE_EQ(g[2], 6.0 / 6.4 * 0.935);
  EXPECT_DOUBLE_EQ(g[0], 0.25 / 6.4);
  t.Set(Parameter::Double("FSCV", -0.0));
  ASSERT_EQ(Box(t, g), OLMTS_OK);
  EXPECT_DOUBLE_EQ(g[4], 6.0 / 6.4 * 0.935);
}

TEST_F(NominalGainTest, BoxChannelNumbersAndOptionalReads) {
  Gains g;
  // No magnetic channel: "HGN" and "HATT" are never needed; 13 and -1 are absent.
  TableFile t;
  t.Int("CHEX", 2).Int("CHEY", 0).Int("CHHX", 13).Int("CHHY", -1).Int("CHHZ", 0).Int("EGN", 8);
  ASSERT_EQ(Box(t, g), OLMTS_OK);  // "CHEZ" missing is fine
  for (std::size_t i = 0; i < 12; ++i) EXPECT_EQ(g[i], i == 1 ? 8.0 / 6.4 : 0.0) << i;

  // No electric channel: "EGN" is never needed.
  t = Channels();
  t.Set(Parameter::Int("CHEX", 0)).Set(Parameter::Int("CHEY", 0)).Int("HGN", 1).Double("HATT", 0.5);
  t.Set(Parameter::Double("CHEZ", 1.0));  // stored with another type: not counted either
  ASSERT_EQ(Box(t, g), OLMTS_OK);
  EXPECT_EQ(g[2], 0.5 / 6.4);
}

TEST_F(NominalGainTest, BoxFailuresKeepWhatWasWritten) {
  Gains g;
  TableFile t = Channels();
  t.Int("EGN", 4);  // no "HGN"
  EXPECT_EQ(Box(t, g), OLMTS_NO_SUCH_NAME);
  EXPECT_EQ(g[0], 4 / 6.4);
  EXPECT_EQ(g[1], 4 / 6.4);
  for (std::size_t i = 2; i < 12; ++i) EXPECT_EQ(g[i], 0.0) << i;

  t.Int("HGN", 2);  // "HATT" missing
  EXPECT_EQ(Box(t, g), OLMTS_NO_SUCH_NAME);
  EXPECT_EQ(g[2], 0.0);

  t.Double("HATT", 1.0).Set(Parameter::Double("EGN", 4.0));
  EXPECT_EQ(Box(t, g), OLMTS_TYPE_MISMATCH);
  for (double v : g) EXPECT_EQ(v, 0.0);

  EXPECT_EQ(Box(TableFile().Int("CHEY", 1).Int("EGN", 1), g), OLMTS_NO_SUCH_NAME);  // "CHEX" counts
  g.fill(5.0);
  EXPECT_EQ(CalcBoxNomGainHT(nullptr, g.data()), OLMTS_NULL_HANDLE);
  for (double v : g) EXPECT_EQ(v, 0.0);
  EXPECT_EQ(CalcBoxNomGainHT(nullptr, nullptr), OLMTS_NULL_HANDLE);
}

TEST_F(NominalGainTest, SensorGainsOfBothFamilies) {
  Gains g;
  TableFile t = Channels();
  t.Text("HW", "box7").Double("EXLN", 80.0).Double("EYLN", 90.0).Double("HNOM", 0.25).Double("CNOM", 4.0);
  ASSERT_EQ(Sensor(t, g), OLMTS_OK);
  const Gains expected = {80.0, 90.0, 250000.0, 250000.0, 250000.0};
  for (std::size_t i = 0; i < 12; ++i) EXPECT_EQ(g[i], expected[i]) << i;

  // "pxr" in any case selects the coil family: only "CHHX" gets "CNOM" / 1000.
  t.Set(Parameter::Text("HW", "a-pxr-2")).Remove("HNOM");
  ASSERT_EQ(Sensor(t, g), OLMTS_OK);
  EXPECT_EQ(g[2], 4.0 * 0.001);
  EXPECT_EQ(g[3], 0.0);
  EXPECT_EQ(g[4], 0.0);
  EXPECT_EQ(g[0], 80.0);

  t.Set(Parameter::Text("HW", "RJ1")).Remove("CNOM");
  EXPECT_EQ(Sensor(t, g), OLMTS_NO_SUCH_NAME);
  EXPECT_EQ(g[1], 90.0);  // the electric values are already in place
}

TEST_F(NominalGainTest, SensorOptionalAndCountedReads) {
  Gains g;
  TableFile t = Channels();
  t.Int("CHEZ", 6).Double("EXLN", 50.0).Double("EYLN", 60.0).Double("HNOM", 1e-3);  // no "HW", no "EZLN"
  ASSERT_EQ(Sensor(t, g), OLMTS_OK);
  EXPECT_EQ(g[5], 0.0);
  EXPECT_EQ(g[2], 1e-3 * 1000000.0);

  t.Remove("EYLN");
  EXPECT_EQ(Sensor(t, g), OLMTS_NO_SUCH_NAME);
  EXPECT_EQ(g[0], 50.0);
  EXPECT_EQ(g[2], 0.0);

  TableFile electric_only;
  electric_only.Int("CHEX", 0).Int("CHEY", 0).Int("CHHX", 0).Int("CHHY", 0).Int("CHHZ", 0);
  EXPECT_EQ(Sensor(electric_only, g), OLMTS_OK);  // nothing else needed
  for (double v : g) EXPECT_EQ(v, 0.0);

  g.fill(1.0);
  EXPECT_EQ(CalcSensorNomGainHT(nullptr, g.data()), OLMTS_NULL_HANDLE);
  for (double v : g) EXPECT_EQ(v, 0.0);
}

}  // namespace
