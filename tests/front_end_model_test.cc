// The front-end circuit model built from a box calibration: a calibration measured
// on a known circuit must give back that circuit's response.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <string>
#include <vector>

#include "cal/calibration.h"
#include "cal/front_end_model.h"
#include "response/front_end_eval.h"
#include "writer/box_circuit.h"

namespace {

using namespace olmtsfil::testdata;
using olmtsfil::Calibration;
using olmtsfil::FrontEndModel;
using olmtsfil::FrontEndSettings;
using olmtsfil::Status;
using C = std::complex<double>;

constexpr double kTwoPi = 6.283185307179586;
constexpr int kChannels = 3;
constexpr int kPoints = 41;

C Std(Complex z) { return {z.re, z.im}; }
double RelativeError(C got, C want) { return std::abs(got - want) / std::abs(want); }

class FrontEndModelTest : public ::testing::Test {
 protected:
  ScratchDirectory dir{"front_end"};
  std::string base = dir.File("box");
  BoxCircuit circuit;

  std::unique_ptr<Calibration> Open(const CalibrationFile& file) {
    file.Write(base);
    auto cal = std::make_unique<Calibration>();
    EXPECT_EQ(cal->Open(1, base.c_str()), Status::kOk);
    return cal;
  }
  std::unique_ptr<Calibration> OpenCircuit(const std::string& hw = "BOX") {
    return Open(CircuitCalibration(circuit, kChannels, kPoints, 1.0, 20000.0, hw));
  }

  static FrontEndSettings Uniform(int gain, int filter, int coupling, double resistance = 0.0) {
    FrontEndSettings s;
    s.gain_code.fill(gain);
    s.filter_code.fill(filter);
    s.coupling_code.fill(coupling);
    s.input_resistance.fill(resistance);
    return s;
  }
  static C Eval(Calibration& cal, const FrontEndSettings& s, int channel, double f) {
    Complex out[12];
    EXPECT_EQ(olmtsfil::EvalFrontEnd(f, s, cal.ChannelCount(), cal.model, out), Status::kOk);
    return Std(out[channel]);
  }
  double Element(const Calibration& cal, int k, int c) const {
    return cal.model.component_values[static_cast<std::size_t>(k * cal.ChannelCount() + c)];
  }

  // The circuit's input stage with the plain filter branch (R12 + R9, L8), no
  // input capacitance and the given low-pass capacitance.
  C Input(double f, double r1, double capacitance, double r12 = 424.0) const {
    double w = kTwoPi * f;
    Complex z2{0.0, -1.0 / std::max(w * 0.0, 1e-9)};
    return Std(circuit.Ladder(f, std::max(r1, 1.0), z2, Complex{r12 + 55.0, w * 0.001}, capacitance));
  }
  // Frequency where |H| of code `filter` falls to 1/sqrt(2) of its 1 Hz value.
  static double Corner(Calibration& cal, int filter, int channel) {
    FrontEndSettings s = Uniform(2, filter, 0);
    double reference = std::abs(Eval(cal, s, channel, 1.0));
    double low = 10.0, high = 1e6;
    for (int i = 0; i < 80; ++i) {
      double mid = std::sqrt(low * high);
      (std::abs(Eval(cal, s, channel, mid)) > reference / std::sqrt(2.0) ? low : high) = mid;
    }
    return low;
  }
};

TEST_F(FrontEndModelTest, FollowsTheMeasuredCircuitForEveryBaseGainCode) {
  auto cal = OpenCircuit();
  ASSERT_EQ(cal->model.element_count, 20);
  ASSERT_EQ(cal->model.slot_count, 11);
  const std::vector<double> grid = LogFrequencies(1.0, 20000.0, kPoints);
  for (int gain = -1; gain <= 2; ++gain) {
    FrontEndSettings s = Uniform(gain, 0, 0);
    for (int c = 0; c < kChannels; ++c) {
      // At the measured frequencies the gain slot is the measurement itself.
      for (std::size_t i = 0; i < grid.size(); i += 3) {
        double f = static_cast<float>(grid[i]);
        C want = Input(f, 0.0, circuit.c3) * Std(circuit.Gain(gain, c, f));
        EXPECT_LT(RelativeError(Eval(*cal, s, c, f), want), 1e-5) << "gain " << gain << " f " << f;
      }
      // Between them, within the linear interpolation's accuracy.
      for (double f : {0.3, 7.7, 333.0, 4100.0, 9999.0, 15000.0}) {
        C got = Eval(*cal, s, c, f);
        C want = Input(f, 0.0, circuit.c3) * Std(circuit.Gain(gain, c, f));
        EXPECT_LT(RelativeError(got, want), 0.01) << "gain " << gain << " f " << f;
        EXPECT_NEAR(std::arg(got / want), 0.0, 0.01) << "gain " << gain << " f " << f;
      }
    }
  }
}

TEST_F(FrontEndModelTest, RatioGainCodesAndTheSecondGainFactor) {
  auto cal = OpenCircuit();
  const double f = static_cast<float>(LogFrequencies(1.0, 20000.0, kPoints)[33]);
  const int c = 1;
  C input = Input(f, 0.0, circuit.c3);
  C m = Std(circuit.OutputNetwork(f, circuit.c3));
  C g0 = Std(circuit.Gain(0, c, f)), g1 = Std(circuit.Gain(1, c, f)), g2 = Std(circuit.Gain(2, c, f));
  EXPECT_LT(RelativeError(Eval(*cal, Uniform(7, 0, 0), c, f), input * g0 * m), 1e-5);  // table 5 as measured
  EXPECT_LT(RelativeError(Eval(*cal, Uniform(8, 0, 0), c, f), input * g1 / g0), 1e-5);
  EXPECT_LT(RelativeError(Eval(*cal, Uniform(9, 0, 0), c, f), input * g2 / g1), 1e-5);

  // Bit 0x40 switches the resonant branch into the filter and multiplies the
  // gain by the second factor: the high one for gain code 1, the low one else.
  const double w = kTwoPi * f;
  C za = C(55.0, w * 0.001) + 1.0 / C(0.0, w * 5.6e-9) + 100.0;
  C zb = C(137.0, w * 0.01);
  C zf = 424.0 + 1.0 / (1.0 / za + 1.0 / zb);
  C resonant = Std(circuit.Ladder(f, 1.0, Complex{0.0, -1e9}, Complex{zf.real(), zf.imag()}, circuit.c3));
  C low = Std(circuit.SecondGainLow(f)), high = Std(circuit.SecondGainHigh(f));
  EXPECT_LT(RelativeError(Eval(*cal, Uniform(1, 0x40, 0), c, f), resonant * g1 * high), 1e-5);
  EXPECT_LT(RelativeError(Eval(*cal, Uniform(0, 0x40, 0), c, f), resonant * g0 * low), 1e-5);

  // Bit 0x80 alone takes the second branch (R12 + R11, L10); 0x82 adds C5.
  C second = Std(circuit.Ladder(f, 1.0, Complex{0.0, -1e9}, Complex{424.0 + 137.0, w * 0.01}, circuit.c3));
  EXPECT_LT(RelativeError(Eval(*cal, Uniform(2, 0x80, 0), c, f), second * g2), 1e-5);

  // 0x45: resonant branch with C3 + C4 + C5 + C6; 0x82: second branch with
  // C3 + C5 (the capacitors as the model fitted them).
  const double c4 = Element(*cal, 4, c), c5 = Element(*cal, 5, c), c6 = Element(*cal, 6, c);
  C resonant_456 =
      Std(circuit.Ladder(f, 1.0, Complex{0.0, -1e9}, Complex{zf.real(), zf.imag()}, circuit.c3 + c4 + c5 + c6));
  EXPECT_LT(RelativeError(Eval(*cal, Uniform(2, 0x45, 0), c, f), resonant_456 * g2 * low), 1e-5);
  C second_5 = Std(circuit.Ladder(f, 1.0, Complex{0.0, -1e9}, Complex{424.0 + 137.0, w * 0.01}, circuit.c3 + c5));
  EXPECT_LT(RelativeError(Eval(*cal, Uniform(2, 0x82, 0), c, f), second_5 * g2), 1e-5);
}

TEST_F(FrontEndModelTest, FitsTheSwitchedCapacitorsOfTheCircuit) {
  auto cal = OpenCircuit();
  for (int c = 0; c < kChannels; ++c) {
    EXPECT_EQ(Element(*cal, 0, c), 0.0) << "channel disabled";
    for (int k = 0; k < 4; ++k)
      EXPECT_NEAR(Element(*cal, 4 + k, c) / circuit.switched[static_cast<std::size_t>(k)], 1.0, 0.02)
          << "C" << 4 + k << " channel " << c;
  }
}

TEST_F(FrontEndModelTest, LargerCapacitorCodesLowerTheCorner) {
  auto cal = OpenCircuit();
  const double c4 = circuit.switched[0], c5 = circuit.switched[1], c6 = circuit.switched[2], c7 = circuit.switched[3];
  const double capacitance[8] = {0, c4, c5, c4 + c5, c6, c4 + c5 + c6, c7, c4 + c5 + c6 + c7};
  double previous = 1e9;
  for (int code = 0; code < 8; ++code) {
    double corner = Corner(*cal, code, 0);
    EXPECT_LT(corner, previous) << "code " << code;
    previous = corner;
    // The corner sits where the circuit with the capacitors as built has it;
    // the gain's own low-pass is common to both sides.
    double cs = circuit.c3 + capacitance[code];
    C at_corner = Input(corner, 0.0, cs) * Std(circuit.Gain(2, 0, corner));
    C at_one = Input(1.0, 0.0, cs) * Std(circuit.Gain(2, 0, 1.0));
    EXPECT_NEAR(std::abs(at_corner) / std::abs(at_one), 1.0 / std::sqrt(2.0), 0.03) << "code " << code;
  }
}

TEST_F(FrontEndModelTest, BootstrappedCapacitorsActAsTheirEffectiveValue) {
  auto cal = OpenCircuit();
  const double c4 = circuit.switched[0], c5 = circuit.switched[1], c6 = circuit.switched[2], c7 = circuit.switched[3];
  struct Case {
    int filter;
    double effective;
  } cases[] = {{0x13, (circuit.c3 + c4 + c5) * (1 - circuit.bootstrap_low)},
               {0x27, (circuit.c3 + c4 + c5 + c6 + c7) * (1 - circuit.bootstrap_all)}};
  for (const Case& k : cases) {
    for (double f : {2.0, 150.0, 1200.0, 3000.0}) {
      C want = Input(f, 0.0, k.effective) * Std(circuit.Gain(2, 0, f));
      EXPECT_LT(RelativeError(Eval(*cal, Uniform(2, k.filter, 0), 0, f), want), 0.03)
          << "filter " << k.filter << " f " << f;
    }
  }
  // Selector 3 has no bootstrap factor: the plain capacitors act.
  C plain = Input(1200.0, 0.0, circuit.c3 + c4 + c5) * Std(circuit.Gain(2, 0, 1200.0));
  EXPECT_LT(RelativeError(Eval(*cal, Uniform(2, 0x33, 0), 0, 1200.0), plain), 0.03);
}

TEST_F(FrontEndModelTest, CouplingCornersComeFromTablesZeroAndNine) {
  auto cal = OpenCircuit();
  const double fc1 = circuit.coupling_corner_1, fc2 = circuit.coupling_corner_2;
  C dc = Eval(*cal, Uniform(0, 0, 0), 1, fc1);
  C ac1 = Eval(*cal, Uniform(0, 0, 1), 1, fc1);
  EXPECT_NEAR((ac1 / dc).real(), 0.5, 1e-12);
  EXPECT_NEAR((ac1 / dc).imag(), 0.5, 1e-12);
  C ac2 = Eval(*cal, Uniform(0, 0, 2), 1, fc2) / Eval(*cal, Uniform(0, 0, 0), 1, fc2);
  EXPECT_NEAR(ac2.real(), 0.5, 1e-12);
  EXPECT_NEAR(ac2.imag(), 0.5, 1e-12);
  EXPECT_EQ(Eval(*cal, Uniform(0, 0, 5), 1, fc1), dc);  // other codes couple directly
}

TEST_F(FrontEndModelTest, ResponseAtZeroHertzIsReal) {
  auto cal = OpenCircuit();
  for (int coupling : {0, 1, 2}) {
    for (int filter : {0, 0x07, 0x13, 0x27, 0x45, 0x82}) {
      for (int gain = -1; gain <= 9; ++gain) {
        C h = Eval(*cal, Uniform(gain, filter, coupling, 250.0), 0, 0.0);
        ASSERT_TRUE(std::isfinite(h.real()) && std::isfinite(h.imag()));
        // Real up to the 1 GOhm reactance the input shunt is clamped to: R1 x 1e-9 rad.
        EXPECT_LE(std::fabs(h.imag()), 250.0 * 1.01e-9 * std::fabs(h.real()))
            << "gain " << gain << " filter " << filter << " coupling " << coupling;
      }
    }
  }
}

TEST_F(FrontEndModelTest, VariantFlagsShapeTheElements) {
  // "OLM" with "H" and no "E": channels 1 and 2 carry flag 1, channel 3 flags 3.
  auto cal = OpenCircuit("OLMH");
  const double f = 2000.0;
  for (int c : {0, 1}) {
    EXPECT_EQ(Element(*cal, 12, c), 332.0);
    C want = Input(f, 0.0, circuit.c3, 332.0) * Std(circuit.Gain(2, c, f));
    EXPECT_LT(RelativeError(Eval(*cal, Uniform(2, 0, 0), c, f), want), 0.01);
  }
  // Without switchable capacitors every capacitor code gives C3 alone.
  C reference = Eval(*cal, Uniform(2, 0, 0), 2, f);
  for (int code = 1; code < 8; ++code) EXPECT_EQ(Eval(*cal, Uniform(2, code, 0), 2, f), reference);
  EXPECT_EQ(Element(*cal, 16, 2), 1e9);
  EXPECT_EQ(Element(*cal, 10, 2), 0.001);
  EXPECT_EQ(Element(*cal, 11, 2), 55.0);
  EXPECT_EQ(Element(*cal, 0, 2), 0.0);
}

TEST_F(FrontEndModelTest, GainCodesWithoutASlotGiveZeroForThatChannelOnly) {
  auto cal = OpenCircuit();
  FrontEndSettings s = Uniform(2, 0, 0);
  s.gain_code[1] = 10;
  s.gain_code[2] = -2;
  Complex out[kChannels];
  ASSERT_EQ(olmtsfil::EvalFrontEnd(100.0, s, kChannels, cal->model, out), Status::kOk);
  EXPECT_NE(std::abs(Std(out[0])), 0.0);
  EXPECT_EQ(std::abs(Std(out[1])), 0.0);
  EXPECT_EQ(std::abs(Std(out[2])), 0.0);
}

TEST_F(FrontEndModelTest, NoModelWithoutFifteenTables) {
  for (int tables : {4, 14}) {
    BoxSpec desc;
    desc.nchn = 2;
    desc.tables = tables;
    desc.points = 10;
    auto cal = Open(BoxCalibration(desc));
    EXPECT_EQ(cal->model.element_count, 0);
    EXPECT_EQ(cal->model.slot_count, 0);
    Complex out[2] = {{7.0, 7.0}, {7.0, 7.0}};
    EXPECT_EQ(olmtsfil::EvalFrontEnd(10.0, Uniform(0, 0, 0), 2, cal->model, out), Status::kNoModel);
    EXPECT_EQ(out[0].re, 7.0);  // untouched
  }
  // A sensor calibration never has one.
  FrontEndModel empty;
  Complex out[1];
  EXPECT_EQ(olmtsfil::EvalFrontEnd(10.0, Uniform(0, 0, 0), 1, empty, out), Status::kNoModel);
}

TEST_F(FrontEndModelTest, OversizedTablesStayWithinTheSlotCapacity) {
  // The loader never passes tables of more than 100 records, but the model must
  // not rely on it: stretch table 3 (loaded three times) over 400 records.
  BoxSpec desc;
  desc.nchn = 2;
  desc.tables = 25;
  desc.points = 20;
  auto cal = Open(BoxCalibration(desc));
  ASSERT_EQ(cal->model.slot_count, 11);
  for (int t = 4; t <= 15; ++t) cal->table_start[static_cast<std::size_t>(t)] = 456 + t;
  olmtsfil::BuildFrontEndModel(*cal);
  ASSERT_EQ(cal->model.slot_count, 11);
  EXPECT_EQ(cal->model.slot_start[4] - cal->model.slot_start[3], 401);
  EXPECT_LE(cal->model.slot_start[11], FrontEndModel::kPointCapacity);
  // Tables running backwards or past the records read are empty or cut at the
  // last record: the build refuses rather than read outside them.
  cal->table_start[6] = 10;
  olmtsfil::BuildFrontEndModel(*cal);
  EXPECT_EQ(cal->model.slot_count, 0);
  cal->table_start[6] = 462;
  cal->table_start[15] = 9999;
  cal->record_count = 465;
  olmtsfil::BuildFrontEndModel(*cal);
  EXPECT_EQ(cal->model.slot_count, 0);  // tables 10 ... 14 would start beyond the records
}

TEST_F(FrontEndModelTest, LastTableWithoutEndEntryEndsAtTheLastRecord) {
  auto cal = OpenCircuit();
  const std::vector<int32_t> starts(cal->model.slot_start.begin(), cal->model.slot_start.end());
  const C before = Eval(*cal, Uniform(2, 0x13, 1), 0, 777.0);
  // Drop the end entry, as a reader that stops at 500 records without one would.
  ASSERT_EQ(cal->table_start[static_cast<std::size_t>(cal->table_count) - 1], cal->record_count);
  cal->table_start[static_cast<std::size_t>(cal->table_count) - 1] = 0;
  --cal->table_count;
  olmtsfil::BuildFrontEndModel(*cal);
  ASSERT_EQ(cal->model.slot_count, 11);
  EXPECT_EQ(std::vector<int32_t>(cal->model.slot_start.begin(), cal->model.slot_start.end()), starts);
  EXPECT_EQ(Eval(*cal, Uniform(2, 0x13, 1), 0, 777.0), before);
}

TEST_F(FrontEndModelTest, EqualNeighbouringFrequenciesInterpolateWithoutDividingByZero) {
  FrontEndModel m;
  m.slot_frequency.reset(new double[4]{0.0, 10.0, 10.0, 20.0});
  m.slot_value.reset(new Complex[4]{{1, 0}, {2, 2}, {4, 4}, {6, 0}});
  m.slot_count = 1;
  m.slot_start[0] = 0;
  m.slot_start[1] = 4;
  auto at = [&](double f) { return Std(olmtsfil::InterpolateSlot(m, 1, 0, f, 0)); };
  EXPECT_EQ(at(5.0), C(1.5, 1.0));
  EXPECT_EQ(at(10.0), C(2.0, 2.0));  // the first point of the frequency ends the interval below it
  EXPECT_EQ(at(15.0), C(5.0, 2.0));
  EXPECT_EQ(at(99.0), C(6.0, 0.0));  // no extrapolation above the last point
  // Below the first point (0 Hz) the real part extrapolates, the imaginary part
  // scales the first point's by 1 + r.
  EXPECT_EQ(at(-5.0), C(0.5, 0.0));

  // A slot that starts with two points at one frequency.
  m.slot_frequency.reset(new double[3]{0.0, 0.0, 8.0});
  m.slot_value.reset(new Complex[3]{{1, 1}, {3, 3}, {5, 5}});
  m.slot_start[1] = 3;
  EXPECT_EQ(at(0.0), C(3.0, 3.0));
  EXPECT_EQ(at(-1.0), C(1.0, 1.0));
  EXPECT_EQ(at(4.0), C(4.0, 4.0));
}

TEST_F(FrontEndModelTest, DuplicatedFrequenciesInTheFileBuildAFiniteModel) {
  CalibrationFile file = CircuitCalibration(circuit, 2, 30);
  for (std::size_t i = 1; i < file.records.size(); i += 5)
    if (file.records[i].sequence > 2) file.records[i].frequency = file.records[i - 1].frequency;
  auto cal = Open(file);
  ASSERT_EQ(cal->model.slot_count, 11);
  for (double f : {0.0, 0.01, 1.0, 55.0, 1000.0, 19999.0, 1e5}) {
    for (int gain = -1; gain <= 9; ++gain) {
      C h = Eval(*cal, Uniform(gain, 0x13, 1), 1, f);
      EXPECT_TRUE(std::isfinite(h.real()) && std::isfinite(h.imag())) << f;
    }
  }
}

}  // namespace
