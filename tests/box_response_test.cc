// The box response through the C interface: the circuit branch on a calibration
// measured from a known circuit, the table branch on records with known values,
// and the digital factor on top of both.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "olmtsfil.h"
#include "test_handles.h"
#include "writer/box_circuit.h"
#include "writer/calibration_writer.h"
#include "writer/stream_writer.h"
#include "writer/table_writer.h"

namespace {

using namespace olmtsfil::testdata;
using C = std::complex<double>;

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
constexpr int kChannels = 5;  // TypicalTable: Ex 1, Ey 2, Hx 3, Hy 4, Hz 5

C Std(Complex z) { return {z.re, z.im}; }
double RelativeError(C got, C want) { return std::abs(got - want) / std::abs(want); }
bool Finite(C z) { return std::isfinite(z.real()) && std::isfinite(z.imag()); }

std::vector<C> Responses(const Complex* resp, int n) {
  std::vector<C> out;
  for (int c = 0; c < n; ++c) out.push_back(Std(resp[c]));
  return out;
}

// Records of the table branch: per channel c, response 1 + c + 0.01 f - 0.02j f
// and scalar 2 + c + 0.1 f, both linear in f so that interpolation and
// extrapolation along the line are exact.
C LineResponse(int c, double f, double slope = 1.0) { return {1.0 + c + 0.01 * slope * f, -0.02 * slope * f}; }
double LineScalar(int c, double f) { return 2.0 + c + 0.1 * f; }

CalRecord LineRecord(int16_t key, float f, int16_t sequence, float corner = 0.5f, double slope = 1.0) {
  CalRecord r;
  r.key = key;
  r.frequency = f;
  r.sequence = sequence;
  for (int c = 0; c < kChannels; ++c) {
    CalBlock b;
    C v = LineResponse(c, f, slope);
    b.response = {v.real(), v.imag()};
    b.scalar = static_cast<float>(LineScalar(c, f));
    b.corner_frequency = corner;
    r.blocks.push_back(b);
  }
  return r;
}

// Key 0 at 10, 20, 40, 80 Hz; key 1 at the same frequencies with twice the
// slope; key 3 a single record.
CalibrationFile LineCalibration() {
  CalibrationFile file;
  file.header.nchn = kChannels;
  file.header.hw = "OLM5";
  int16_t sequence = 1;
  for (float f : {10.0f, 20.0f, 40.0f, 80.0f}) file.records.push_back(LineRecord(0, f, sequence++));
  sequence = 1;
  for (float f : {10.0f, 20.0f, 40.0f, 80.0f}) file.records.push_back(LineRecord(1, f, sequence++, 0.5f, 2.0));
  file.records.push_back(LineRecord(3, 10.0f, 1));
  return file;
}

class BoxResponseTest : public ::testing::Test {
 protected:
  ScratchDirectory dir{"box_response"};
  RecordingFiles files{dir.path(), "rec"};
  std::string cal_base = dir.File("box");
  BoxCircuit circuit;
  ScopedRecording ts;
  ScopedCalibration cal;
  Complex resp[12];
  double aux[12];

  void OpenRecording(const TableFile& table) {
    ts.Close();
    table.Write(files.Path(".TBL"));
    ts = olmtsfil::testdata::OpenRecording(files.base());
    ASSERT_NE(ts.get(), nullptr);
  }
  void OpenCalibration(const CalibrationFile& file, int32_t kind = 1) {
    cal.Close();
    file.Write(cal_base);
    cal = olmtsfil::testdata::OpenCalibration(kind, cal_base);
    ASSERT_NE(cal.get(), nullptr);
  }
  // TypicalTable with a flat digital chain on stream 0: chain 17 without comb
  // sections has no delay and unit gain up to 0.4535 x 24 kHz.
  static TableFile FlatDigital(const std::string& hw) {
    TableFile t = TypicalTable();
    t.Set(Parameter::Text("HW", hw)).Set(Parameter::Int("TALS", 17)).Set(Parameter::Int("TCMB", 0));
    return t;
  }
  int32_t Response(int32_t stream, double f) {
    for (int c = 0; c < 12; ++c) {
      resp[c] = Complex{-99.0, -99.0};
      aux[c] = -99.0;
    }
    return CalcBoxRespHT(cal, ts, stream, f, resp, aux);
  }

  // The measured circuit's analog response for the settings of TypicalTable.
  C Analog(int c, double f, double r1, int gain, int coupling) const {
    double w = kTwoPi * f;
    C h = Std(circuit.Ladder(f, std::max(r1, 1.0), Complex{0.0, -1e9}, Complex{424.0 + 55.0, w * 0.001}, circuit.c3));
    h *= Std(circuit.Gain(gain, c, f));
    if (coupling == 1) h *= Std(HighPass(f, circuit.coupling_corner_1));
    return h;
  }
};

TEST_F(BoxResponseTest, ArgumentChecksComeInOrder) {
  OpenRecording(TypicalTable());
  OpenCalibration(CircuitCalibration(circuit, kChannels));
  EXPECT_EQ(CalcBoxRespHT(nullptr, nullptr, 1, 10.0, resp, aux), OLMTS_NULL_CAL_HANDLE);
  EXPECT_EQ(CalcBoxRespHT(cal, nullptr, 1, 10.0, resp, aux), OLMTS_NULL_HANDLE);
  EXPECT_EQ(CalcBoxRespHT(cal, ts, 1, 10.0, nullptr, aux), OLMTS_NO_RESPONSE);
  // Four channels in the recording, five in the calibration.
  OpenRecording(TypicalTable().Set(Parameter::Int("CHHZ", 0)));
  EXPECT_EQ(Response(1, 10.0), OLMTS_CHANNEL_COUNT_MISMATCH);
  EXPECT_EQ(resp[0].re, -99.0);
}

TEST_F(BoxResponseTest, CircuitBranchFollowsTheMeasuredCircuitTimesTheDigitalChain) {
  // Chain 1 at 24 kHz on stream 1: sinc^5 with a delay of 2.5 samples.
  OpenRecording(TypicalTable().Set(Parameter::Int("TALS", 1)));
  OpenCalibration(CircuitCalibration(circuit, kChannels));
  const double fs = 24000.0;
  for (double f : {0.7, 3.0, 47.0, 333.0, 1234.0, 5000.0, 9000.0}) {
    ASSERT_EQ(Response(1, f), OLMTS_OK) << f;
    double x = kPi * f / fs;
    C digital = std::pow(std::sin(x) / x, 5) * std::polar(1.0, -kTwoPi * f / fs * 2.5);
    C want[kChannels] = {Analog(0, f, 250.0, 1, 0), Analog(1, f, 250.0, 1, 0), Analog(2, f, 0.0, 0, 1),
                         Analog(3, f, 0.0, 0, 1), Analog(4, f, 0.0, 0, 1)};
    for (int c = 0; c < kChannels; ++c) {
      C got = Std(resp[c]);
      EXPECT_LT(RelativeError(got, want[c] * digital), 0.01) << "channel " << c << " f " << f;
      EXPECT_NEAR(std::arg(got / (want[c] * digital)), 0.0, 0.01) << "channel " << c << " f " << f;
      EXPECT_EQ(aux[c], 0.0);  // the circuit branch has no companion value
    }
  }
}

TEST_F(BoxResponseTest, ResponseAtZeroHertzIsReal) {
  OpenCalibration(CircuitCalibration(circuit, kChannels));
  for (int tals : {1, 2, 5, 8, 11, 13, 17}) {
    OpenRecording(TypicalTable().Set(Parameter::Int("TALS", tals)));
    for (int stream : {1, 2, 3}) {
      ASSERT_EQ(Response(stream, 0.0), OLMTS_OK) << tals;
      for (int c = 0; c < kChannels; ++c)
        EXPECT_LE(std::fabs(resp[c].im), 1e-6 * std::fabs(resp[c].re)) << "chain " << tals << " channel " << c;
    }
  }
}

TEST_F(BoxResponseTest, BranchIsChosenFromTheRecordingsHardware) {
  // The model's tables under keys 100 ... 114, and a pair with key 0 after them
  // for the table branch on stream 0.
  CalibrationFile file = CircuitCalibration(circuit, kChannels);
  for (CalRecord& r : file.records) r.key = static_cast<int16_t>(r.key + 100);
  file.records.push_back(LineRecord(0, 1.0f, 1));
  file.records.push_back(LineRecord(0, 9000.0f, 2));
  OpenCalibration(file);
  struct Case {
    const char* hw;
    bool table;
  } cases[] = {{"OLM5", true}, {"olmh", true}, {"OLM5A", false}, {"OLMPXR", false}, {"SIM5", false}};
  for (const Case& k : cases) {
    OpenRecording(FlatDigital(k.hw));
    ASSERT_EQ(Response(0, 100.0), OLMTS_OK) << k.hw;
    // The table branch carries the records' scalar; the circuit branch none.
    if (k.table)
      EXPECT_GT(aux[0], 1.0) << k.hw;
    else
      EXPECT_EQ(aux[0], 0.0) << k.hw;
  }
}

TEST_F(BoxResponseTest, BoardRulesOfTheHorizontalMagneticChannels) {
  OpenCalibration(CircuitCalibration(circuit, kChannels));
  TableFile table = FlatDigital("SIM5A").Set(Parameter::Int("LPFR", 7));
  OpenRecording(table.Set(Parameter::Text("VER", "4270A2")));
  ASSERT_EQ(Response(0, 2000.0), OLMTS_OK);
  std::vector<C> plain = Responses(resp, kChannels);
  OpenRecording(table.Set(Parameter::Text("VER", "4270a0")));
  ASSERT_EQ(Response(0, 2000.0), OLMTS_OK);
  std::vector<C> board = Responses(resp, kChannels);
  OpenRecording(table.Set(Parameter::Text("VER", "4270A1")));
  ASSERT_EQ(Response(0, 2000.0), OLMTS_OK);
  EXPECT_EQ(Std(resp[2]), board[2]);

  EXPECT_EQ(board[0], plain[0]);  // electric channels filter on every board
  EXPECT_EQ(board[1], plain[1]);
  EXPECT_EQ(board[4], plain[4]);  // Hz never
  // Hx and Hy: LPFR 7 switches in every capacitor and 767 ohm terminate the input,
  // so at 2 kHz the board's response is far below the plain one.
  for (int c : {2, 3}) {
    EXPECT_LT(std::abs(board[static_cast<std::size_t>(c)]), 0.5 * std::abs(plain[static_cast<std::size_t>(c)]));
    C want_plain = Analog(c, 2000.0, 0.0, 0, 1);
    EXPECT_LT(RelativeError(plain[static_cast<std::size_t>(c)], want_plain), 0.01);
  }
  // With LPFR 0 the board's only difference left is the 767 ohm source.
  OpenRecording(table.Set(Parameter::Int("LPFR", 0)));
  ASSERT_EQ(Response(0, 2000.0), OLMTS_OK);
  EXPECT_LT(RelativeError(Std(resp[2]), Analog(2, 2000.0, 767.0, 0, 1)), 0.01);
  EXPECT_LT(RelativeError(Std(resp[4]), Analog(4, 2000.0, 0.0, 0, 1)), 0.01);
}

TEST_F(BoxResponseTest, OptionalAndRequiredParameters) {
  OpenCalibration(CircuitCalibration(circuit, kChannels));
  OpenRecording(FlatDigital("SIM5A").Remove("CHEZ").Remove("EZR").Remove("LFRQ").Remove("K8SR").Remove("TCMB"));
  EXPECT_EQ(Response(0, 10.0), OLMTS_OK);
  for (const char* name : {"HW", "VER", "ACDC", "ACDH", "EGNC", "HGNC", "LPFR", "EXR", "EYR", "TALS"}) {
    OpenRecording(FlatDigital("SIM5A").Remove(name));
    EXPECT_EQ(Response(0, 10.0), OLMTS_NO_SUCH_NAME) << name;
  }
  // Without "CHEX" but with "CHEZ" the count still matches, and the read fails.
  OpenRecording(FlatDigital("SIM5A").Remove("CHEX").Set(Parameter::Int("CHEZ", 1)));
  EXPECT_EQ(Response(0, 10.0), OLMTS_NO_SUCH_NAME);
  OpenRecording(FlatDigital("SIM5A").Set(Parameter::Double("EGNC", 1.0)));
  EXPECT_EQ(Response(0, 10.0), OLMTS_TYPE_MISMATCH);
  // Statuses of the sample rate and of the digital chain are passed on.
  OpenRecording(FlatDigital("SIM5A"));
  EXPECT_EQ(Response(6, 10.0), OLMTS_BAD_STREAM);
  OpenRecording(FlatDigital("SIM5A").Set(Parameter::Int("TALS", 9)));
  EXPECT_EQ(Response(0, 10.0), OLMTS_DECIMATION_UNSUPPORTED);
  OpenRecording(FlatDigital("SIM5A").Set(Parameter::Int("TCMB", 7)));
  EXPECT_EQ(Response(0, 10.0), OLMTS_COMB_UNSUPPORTED);
}

TEST_F(BoxResponseTest, ChannelsWithoutAResponseAreMarked) {
  OpenCalibration(CircuitCalibration(circuit, kChannels));
  // Gain code 12 has no slot: Ex (channel 1) is zero, and the channels after it
  // are not visited.
  OpenRecording(FlatDigital("SIM5A").Set(Parameter::Int("EGNC", 12)));
  EXPECT_EQ(Response(0, 10.0), OLMTS_NO_RESPONSE);
  EXPECT_EQ(aux[0], -1.0);
  EXPECT_EQ(aux[1], -99.0);
  // On the magnetic channels only: the electric ones come out whole.
  OpenRecording(FlatDigital("SIM5A").Set(Parameter::Int("HGNC", -2)));
  EXPECT_EQ(Response(0, 10.0), OLMTS_NO_RESPONSE);
  EXPECT_EQ(aux[0], 0.0);
  EXPECT_EQ(aux[1], 0.0);
  EXPECT_EQ(aux[2], -1.0);
}

TEST_F(BoxResponseTest, CalibrationsWithoutAModelAreRefused) {
  OpenRecording(FlatDigital("SIM5A"));
  BoxSpec desc;
  desc.nchn = kChannels;
  desc.tables = 14;
  desc.points = 10;
  OpenCalibration(BoxCalibration(desc));
  EXPECT_EQ(Response(0, 10.0), OLMTS_NO_MODEL);
  SensorSpec sensor;
  sensor.nchn = kChannels;
  OpenCalibration(SensorCalibration(sensor, TypicalBoxResponse), 2);
  EXPECT_EQ(Response(0, 10.0), OLMTS_NO_MODEL);
}

TEST_F(BoxResponseTest, TableBranchInterpolatesAndExtrapolatesAlongTheRecords) {
  OpenCalibration(LineCalibration());
  OpenRecording(FlatDigital("OLM5").Set(Parameter::Int("ACDH", 0)));
  // Inside, below (the first two records' line) and above by less than 0.6 of
  // the last step (the last two records' line; the scalar stays at the last).
  for (double f : {10.0, 15.0, 33.3, 80.0, 2.0, 0.0, 80.0 + 0.59 * 40.0}) {
    ASSERT_EQ(Response(0, f), OLMTS_OK) << f;
    for (int c = 0; c < kChannels; ++c) {
      EXPECT_LT(std::abs(Std(resp[c]) - LineResponse(c, f)), 1e-5) << "f " << f << " channel " << c;
      EXPECT_NEAR(aux[c], LineScalar(c, std::clamp(f, 10.0, 80.0)), 1e-5) << "f " << f << " channel " << c;
    }
  }
  EXPECT_EQ(Response(0, 80.0 + 0.6 * 40.0), OLMTS_OUT_OF_CAL_RANGE);
  EXPECT_EQ(Response(0, 1e6), OLMTS_OUT_OF_CAL_RANGE);
  // Stream 1 has its own key; key 3 has a single record; key 2 none.
  OpenRecording(FlatDigital("OLM5").Set(Parameter::Int("ACDH", 0)).Set(Parameter::Int("TALS", 1)));
  ASSERT_EQ(Response(1, 30.0), OLMTS_OK);
  double x = kPi * 30.0 / 24000.0;
  C digital = std::pow(std::sin(x) / x, 5) * std::polar(1.0, -kTwoPi * 30.0 / 24000.0 * 2.5);
  EXPECT_LT(std::abs(Std(resp[1]) - LineResponse(1, 30.0, 2.0) * digital), 1e-5);
  EXPECT_NEAR(aux[1], LineScalar(1, 30.0) * std::abs(digital), 1e-5);
  EXPECT_EQ(Response(3, 10.0), OLMTS_OUT_OF_CAL_RANGE);
  EXPECT_EQ(Response(2, 10.0), OLMTS_OUT_OF_CAL_RANGE);
}

TEST_F(BoxResponseTest, TableBranchCouplingAndTheMinuteBoardKey) {
  OpenCalibration(LineCalibration());
  // Ex and Ey couple directly (ACDC 0), the magnetic channels through the upper
  // record's corner (0.5 Hz); at 0 Hz the high-pass is 1.
  OpenRecording(FlatDigital("OLM5"));
  ASSERT_EQ(Response(0, 30.0), OLMTS_OK);
  C hp = Std(HighPass(30.0, 0.5));
  EXPECT_LT(std::abs(Std(resp[0]) - LineResponse(0, 30.0)), 1e-5);
  EXPECT_LT(std::abs(Std(resp[3]) - LineResponse(3, 30.0) * hp), 1e-5);
  EXPECT_NEAR(aux[3], LineScalar(3, 30.0) * std::abs(hp), 1e-5);
  ASSERT_EQ(Response(0, 0.0), OLMTS_OK);
  EXPECT_LT(std::abs(Std(resp[3]) - LineResponse(3, 0.0)), 1e-6);

  // A "4264" board reads the first record's key (0) on every stream, applies no
  // coupling and needs no ACDC/ACDH; its rates come from the minute codes.
  TableFile minute = FlatDigital("OLM5").Set(Parameter::Text("VER", "X4264B")).Remove("ACDC").Remove("ACDH");
  minute.Set(Parameter::Int("SRW1", 0)).Set(Parameter::Int("SRW2", 0)).Set(Parameter::Int("SRW3", 0));
  OpenRecording(minute.Set(Parameter::Int("TALS", 1)));
  for (int stream : {1, 2, 3}) {
    ASSERT_EQ(Response(stream, 5.0), OLMTS_OK) << stream;
    double x = kPi * 5.0 / 24.0;
    C digital = std::pow(std::sin(x) / x, 5) * std::polar(1.0, -kTwoPi * 5.0 / 24.0 * 2.5);
    EXPECT_LT(std::abs(Std(resp[3]) - LineResponse(3, 5.0) * digital), 1e-5) << stream;
  }
}

TEST_F(BoxResponseTest, RecordCursorMakesNoDifferenceToTheResult) {
  OpenCalibration(LineCalibration());
  OpenRecording(FlatDigital("OLM5"));
  const std::vector<double> sweep = {12.0, 25.0, 70.0, 90.0, 50.0, 11.0, 5.0, 41.0, 100.0, 30.0};
  std::vector<C> swept;
  for (double f : sweep) {
    ASSERT_EQ(Response(0, f), OLMTS_OK);
    swept.push_back(Std(resp[2]));
    EXPECT_EQ(Response(1, f), OLMTS_OK);  // moves the cursor to the other key
  }
  for (std::size_t i = 0; i < sweep.size(); ++i) {
    const ScopedCalibration fresh = olmtsfil::testdata::OpenCalibration(1, cal_base);
    ASSERT_EQ(CalcBoxRespHT(fresh, ts, 0, sweep[i], resp, aux), OLMTS_OK);
    EXPECT_EQ(Std(resp[2]), swept[i]) << sweep[i];
  }
}

TEST_F(BoxResponseTest, SingleRecordFileHasNoPair) {
  CalibrationFile file;
  file.header.nchn = kChannels;
  file.records.push_back(LineRecord(0, 10.0f, 1));
  OpenCalibration(file);
  OpenRecording(FlatDigital("OLM5"));
  EXPECT_EQ(Response(0, 10.0), OLMTS_OUT_OF_CAL_RANGE);
}

TEST_F(BoxResponseTest, DelayPhaseMatchesTheAcquisitionDelay) {
  // A flat analog part: the phase left is the chain's linear phase.
  CalibrationFile file;
  file.header.nchn = kChannels;
  for (int16_t key = 0; key <= 5; ++key)
    for (int16_t i = 0; i < 2; ++i) {
      CalRecord r = LineRecord(key, i == 0 ? 0.0f : 1e5f, static_cast<int16_t>(i + 1));
      for (CalBlock& b : r.blocks) b.response = {1.0, 0.0};
      file.records.push_back(r);
    }
  OpenCalibration(file);
  for (int tals : {1, 2, 3, 5, 7, 8, 10, 11, 12, 14}) {
    OpenRecording(FlatDigital("OLM5").Set(Parameter::Int("TALS", tals)).Set(Parameter::Int("ACDH", 0)));
    for (int stream = 1; stream <= 5; ++stream) {
      double delay = 0.0, fs = 0.0;
      ASSERT_EQ(GetAcqDelayHT(ts, stream, &delay), OLMTS_OK);
      ASSERT_EQ(GetSampleRateHzHT(ts, stream, &fs), OLMTS_OK);
      for (double fraction : {0.01, 0.1, 0.23, 0.37}) {
        double f = fraction * fs;
        ASSERT_EQ(Response(stream, f), OLMTS_OK);
        C r = Std(resp[0]);
        if (std::abs(r) < 1e-9) continue;  // no phase where a stage blocks
        double expected = -kTwoPi * f / fs * delay;
        double difference = std::remainder(std::arg(r) - expected, kTwoPi);
        EXPECT_NEAR(difference, 0.0, 1e-9) << "chain " << tals << " stream " << stream << " f " << f;
      }
    }
  }
}

TEST_F(BoxResponseTest, NeverNaN) {
  OpenCalibration(CircuitCalibration(circuit, kChannels));
  std::vector<double> frequencies = {0.0,    -0.0,    -5.0,    1e-300,  1e-6, 0.3, 50.0,  1199.9,  1200.0, 1200.1,
                                     2400.0, 12000.0, 18000.0, 24000.0, 1e5,  1e9, 1e200, 1.7e308, -1e300};
  for (int tals : {1, 2, 4, 5, 6, 7, 8, 11, 12, 13, 17}) {
    for (const char* hw : {"SIM5A", "OLM5"}) {
      OpenRecording(FlatDigital(hw).Set(Parameter::Int("TALS", tals)).Set(Parameter::Int("LPFR", 0x45)));
      for (int stream = 0; stream <= 5; ++stream) {
        for (double f : frequencies) {
          int32_t status = Response(stream, f);
          for (int c = 0; c < kChannels; ++c) {
            ASSERT_TRUE(Finite(Std(resp[c])) || resp[c].re == -99.0) << tals << " " << hw << " " << f;
            ASSERT_FALSE(std::isnan(aux[c])) << tals << " " << hw << " " << f;
          }
          if (status == OLMTS_OK) {
            for (int c = 0; c < kChannels; ++c) EXPECT_GE(aux[c], 0.0);
          }
        }
      }
    }
  }
  OpenRecording(FlatDigital("SIM5A"));
  for (double f : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
    EXPECT_EQ(Response(0, f), OLMTS_OUT_OF_CAL_RANGE);
    EXPECT_EQ(resp[0].re, -99.0);
  }
  // A stream of rate 0 has no digital response.
  OpenRecording(FlatDigital("SIM5A").Set(Parameter::Int("SRL0", 0)));
  int32_t status = Response(0, 10.0);
  EXPECT_NE(status, OLMTS_OK);
  for (int c = 0; c < kChannels; ++c) EXPECT_TRUE(Finite(Std(resp[c])));
}

}  // namespace
