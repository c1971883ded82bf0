// Delay of the decimation chains in samples: the stage sums of every chain type,
// and GetAcqDelayHT on recordings made by the test-data writer.
#include <gtest/gtest.h>

#include <cmath>

#include "filters/acquisition_delay.h"
#include "olmtsfil.h"
#include "reader_test_support.h"

namespace {

using olmtsfil::AcqDelaySamples;
using olmtsfil::Status;
using namespace olmtsfil::testdata;

double Delay(int32_t chain_type, double fs, int16_t stream = 1) {
  double d = -1.0;
  EXPECT_EQ(AcqDelaySamples(fs, stream, chain_type, 0, 50, &d), Status::kOk) << chain_type << " at " << fs;
  return d;
}

TEST(AcqDelaySamplesTest, FixedChains) {
  for (double fs : {1.0, 150.0, 2400.0, 24000.0, 96000.0}) {
    EXPECT_EQ(Delay(1, fs), 2.5);
    EXPECT_EQ(Delay(3, fs), 26.25);
    EXPECT_EQ(Delay(10, fs), 5.5);
    EXPECT_EQ(Delay(17, fs), 0.0);
  }
}

// The 25-sample FIR at 2400 Hz after a sinc of 2.5 samples at 4800 Hz.
double Stage2400(double fs) { return fs * 25.0 / 2400.0 - fs * 2.5 / 4800.0; }

TEST(AcqDelaySamplesTest, ChainsWithThe2400HzStageIncludeItsRate) {
  EXPECT_DOUBLE_EQ(Delay(2, 2400.0, 1), 50.0);  // 26.25 + 25 - 1.25
  EXPECT_EQ(Delay(2, 2400.0, 3), 26.25);        // stream 3 bypasses the stage
  EXPECT_EQ(Delay(2, 2401.0, 1), 26.25);
  EXPECT_NEAR(Delay(2, 150.0, 2), 26.25 + Stage2400(150.0), 1e-13);
  EXPECT_DOUBLE_EQ(Delay(8, 2400.0, 0), 26.25);
  EXPECT_EQ(Delay(8, 2400.0, 3), 2.5);
  EXPECT_NEAR(Delay(8, 24.0, 5), 2.5 + Stage2400(24.0), 1e-13);
}

TEST(AcqDelaySamplesTest, TaperedChains) {
  EXPECT_EQ(Delay(5, 24000.0), 38.7);
  EXPECT_EQ(Delay(4, 96000.0), 38.7);
  EXPECT_DOUBLE_EQ(Delay(5, 12000.0), 44.35);  // 19.35 + 25: the sinc to 24 kHz adds nothing
  // 1.6125 + 1.1458... + 25 + (10.4166... - 0.5208...)
  EXPECT_NEAR(Delay(5, 1000.0), 1.6125 + 2.5 * 1000.0 * (1.0 / 2000.0 - 1.0 / 24000.0) + 25.0 + Stage2400(1000.0),
              1e-12);
  EXPECT_NEAR(Delay(5, 1000.0), 37.654166666666667, 1e-12);
  EXPECT_DOUBLE_EQ(Delay(7, 6000.0), 11.55);  // 9.675 + 1.875
  // At 2400 Hz itself these chains do not pass the 2400 Hz stage: 3.87 + 1 + 25.
  EXPECT_DOUBLE_EQ(Delay(6, 2400.0), 29.87);
  // Below 150 Hz both low-rate stages add up.
  const double fs = 100.0;
  const double low = fs * 25.0 / 150.0 - fs * 2.5 / 300.0;
  EXPECT_NEAR(Delay(4, fs),
              fs * 38.7 / 24000.0 + 2.5 * fs * (1.0 / (2 * fs) - 1.0 / 24000.0) + 25.0 + Stage2400(fs) + low, 1e-12);
  EXPECT_NEAR(Delay(7, fs), fs * 38.7 / 24000.0 + 2.5 * (1.0 - fs / 24000.0) + Stage2400(fs) + low, 1e-12);
}

TEST(AcqDelaySamplesTest, ElevenAndTwelveUseTheLongerSinc) {
  EXPECT_EQ(Delay(11, 24000.0), 38.7);
  EXPECT_DOUBLE_EQ(Delay(12, 6000.0), 13.8);  // 9.675 + 5.5 * (1 - 1/4)
  EXPECT_DOUBLE_EQ(Delay(11, 12000.0), 44.35);
  const double fs = 100.0;
  const double expected = fs * 38.7 / 24000.0 + 5.5 * fs * (1.0 / (2 * fs) - 1.0 / 24000.0) + 25.0 +
                          (fs * 25.0 / 2400.0 - fs * 5.5 / 4800.0) + (fs * 25.0 / 150.0 - fs * 5.5 / 300.0);
  EXPECT_NEAR(Delay(11, fs), expected, 1e-12);
}

TEST(AcqDelaySamplesTest, CosineChains) {
  EXPECT_DOUBLE_EQ(Delay(14, 48000.0), 37.2);
  EXPECT_DOUBLE_EQ(Delay(14, 96000.0), 74.4);  // above r: no sinc stage
  EXPECT_DOUBLE_EQ(Delay(13, 12000.0), 18.6 + 2.75);
  EXPECT_DOUBLE_EQ(Delay(15, 96000.0), 37.2);
  EXPECT_DOUBLE_EQ(Delay(15, 24000.0), 9.3 + 5.5 * 0.75);
}

TEST(AcqDelaySamplesTest, ChainsWithoutModelAreRefused) {
  for (int32_t chain_type : {9, 16, 0, -1, 18, 1000}) {
    double d = 123.0;
    EXPECT_EQ(AcqDelaySamples(2400.0, 1, chain_type, 0, 50, &d), Status::kDecimationUnsupported) << chain_type;
    EXPECT_EQ(d, 123.0);
  }
}

TEST(AcqDelaySamplesTest, FiniteAndNonNegativeAtEveryRate) {
  for (int32_t chain_type = 1; chain_type <= 17; ++chain_type) {
    if (chain_type == 9 || chain_type == 16) continue;
    for (double fs = 0.0; fs <= 96000.0; fs += fs < 300.0 ? 0.5 : 7.0) {
      for (int16_t stream : {int16_t{0}, int16_t{3}, int16_t{5}}) {
        double d = -1.0;
        ASSERT_EQ(AcqDelaySamples(fs, stream, chain_type, 0, 50, &d), Status::kOk);
        ASSERT_TRUE(std::isfinite(d) && d >= 0.0) << chain_type << " at " << fs << ": " << d;
      }
    }
  }
}

// ---- Through the C interface --------------------------------------------------------

class AcqDelayHTTest : public RecordingTest {
 protected:
  AcqDelayHTTest() : RecordingTest("acqdelay") {}
};

TEST_F(AcqDelayHTTest, DelayOfEachStreamFollowsItsRate) {
  Open(TypicalTable());  // chain 5; streams at 2400, 24000, 2400, 150, 15, 1 Hz
  double d = -1.0;
  EXPECT_EQ(GetAcqDelayHT(handle, 1, &d), OLMTS_OK);
  EXPECT_EQ(d, 38.7);
  EXPECT_EQ(GetAcqDelayHT(handle, 3, &d), OLMTS_OK);
  EXPECT_NEAR(d, 27.960625, 1e-12);  // 150 Hz: not yet the 150 Hz stage
  double rate = 0.0;
  ASSERT_EQ(GetSampleRateHzHT(handle, 4, &rate), OLMTS_OK);
  double direct = 0.0;
  ASSERT_EQ(AcqDelaySamples(rate, 4, 5, 0, 50, &direct), Status::kOk);
  EXPECT_EQ(GetAcqDelayHT(handle, 4, &d), OLMTS_OK);
  EXPECT_EQ(d, direct);
  EXPECT_EQ(GetAcqDelayHT(handle, 5, nullptr), OLMTS_OK);  // nowhere to store it: no harm
}

TEST_F(AcqDelayHTTest, ArgumentChecksAndRateFailures) {
  double d = 7.0;
  EXPECT_EQ(GetAcqDelayHT(nullptr, 1, &d), OLMTS_NULL_HANDLE);
  Open(TypicalTable().Remove("SRL2"));
  EXPECT_EQ(GetAcqDelayHT(handle, 6, &d), OLMTS_BAD_STREAM);
  EXPECT_EQ(GetAcqDelayHT(handle, -1, &d), OLMTS_BAD_STREAM);
  EXPECT_EQ(GetAcqDelayHT(handle, 65537, &d), OLMTS_BAD_STREAM);  // checked before narrowing
  EXPECT_EQ(GetAcqDelayHT(handle, 2, &d), OLMTS_NO_SUCH_NAME);
  EXPECT_EQ(d, 7.0);
}

TEST_F(AcqDelayHTTest, ParameterLookups) {
  double d = 7.0;
  Open(TypicalTable().Remove("K8SR"));  // older recorders have none
  EXPECT_EQ(GetAcqDelayHT(handle, 1, &d), OLMTS_OK);
  EXPECT_EQ(d, 38.7);

  d = 7.0;
  Open(TypicalTable().Remove("LFRQ"));
  EXPECT_EQ(GetAcqDelayHT(handle, 1, &d), OLMTS_NO_SUCH_NAME);
  Open(TypicalTable().Remove("TALS"));
  EXPECT_EQ(GetAcqDelayHT(handle, 1, &d), OLMTS_NO_SUCH_NAME);
  Open(TypicalTable().Set(Parameter::Double("TALS", 5.0)));
  EXPECT_EQ(GetAcqDelayHT(handle, 1, &d), OLMTS_TYPE_MISMATCH);
  Open(TypicalTable().Set(Parameter::Double("LFRQ", 50.0)));
  EXPECT_EQ(GetAcqDelayHT(handle, 1, &d), OLMTS_TYPE_MISMATCH);
  Open(TypicalTable().Set(Parameter::Double("K8SR", 0.0)));  // present but unreadable: not forgiven
  EXPECT_EQ(GetAcqDelayHT(handle, 1, &d), OLMTS_TYPE_MISMATCH);
  Open(TypicalTable().Set(Parameter::Int("TALS", 9)));
  EXPECT_EQ(GetAcqDelayHT(handle, 1, &d), OLMTS_DECIMATION_UNSUPPORTED);
  EXPECT_EQ(d, 7.0);
}

TEST_F(AcqDelayHTTest, MinuteBasedBoard) {
  TableFile t = TypicalTable();
  t.Set(Parameter::Text("VER", "4264B1")).Set(Parameter::Int("TALS", 7)).Int("SRW2", 3);
  Open(t);
  double d = -1.0;
  EXPECT_EQ(GetAcqDelayHT(handle, 2, &d), OLMTS_OK);  // 4 Hz
  const double fs = 4.0;
  EXPECT_NEAR(d,
              fs * 38.7 / 24000.0 + 2.5 * (1.0 - fs / 24000.0) + Stage2400(fs) + fs * 25.0 / 150.0 - fs * 2.5 / 300.0,
              1e-12);
  EXPECT_EQ(GetAcqDelayHT(handle, 0, &d), OLMTS_BAD_STREAM);
}

TEST_F(AcqDelayHTTest, CorrectedChainOfOlderBoards) {
  // These boards store a wrong "TALS"; the table reads back chain 3.
  TableFile t = TypicalTable();
  t.Set(Parameter::Text("VER", "4258c0")).Int("SRPM", 1);
  Open(t);
  double d = -1.0;
  EXPECT_EQ(GetAcqDelayHT(handle, 2, &d), OLMTS_OK);
  EXPECT_EQ(d, 26.25);
}

}  // namespace
