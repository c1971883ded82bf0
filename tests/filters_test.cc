// The digital part of the box response: elementary shapes, comb sections against
// their transfer function, the decimation chains' limits and phase, and the rule
// that a stage with zero gain silences the chain instead of producing NaN.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "filters/acquisition_delay.h"
#include "filters/decimation.h"

namespace {

using namespace olmtsfil;
constexpr double kPi = 3.14159265358979323846;

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// ---- Shapes ----------------------------------------------------------------------

TEST(ShapesTest, SincPower) {
  const double c = 2400.0;
  EXPECT_EQ(SincPower(0.0, 5, c), 1.0);
  EXPECT_EQ(SincPower(-0.0, 11, c), 1.0);
  EXPECT_NEAR(SincPower(c / 2, 5, c), std::pow(2.0 / kPi, 5), 1e-16);
  EXPECT_EQ(SincPower(std::nextafter(c / 2, 1e9), 5, c), 0.0);
  EXPECT_NEAR(SincPower(c / 4, 5, c), std::pow(std::sin(kPi / 4) / (kPi / 4), 5), 1e-15);
  EXPECT_EQ(SincPower(-c / 4, 5, c), SincPower(c / 4, 5, c));
  EXPECT_EQ(SincPower(c / 4, 0, c), 1.0);
  EXPECT_EQ(SincPower(c / 4, -3, c), 1.0);
  EXPECT_EQ(SincPower(5.0, 5, 0.0), 0.0);  // no band at all
  // sin t / t at a t that underflows to 0 is 1, not 0/0.
  EXPECT_EQ(SincPower(std::numeric_limits<double>::denorm_min(), 5, c), 1.0);
}

TEST(ShapesTest, SincRatio) {
  EXPECT_EQ(SincRatio(0.0, 5, 4800.0, 2400.0), 1.0);
  const double x = 700.0;
  EXPECT_NEAR(SincRatio(x, 5, 4800.0, 2400.0), SincPower(x, 5, 2400.0) / SincPower(x, 5, 4800.0), 1e-15);
  EXPECT_EQ(SincRatio(1300.0, 5, 4800.0, 2400.0), 0.0);  // numerator beyond its band
  // A narrower divisor band: its zero meets a live numerator.
  EXPECT_EQ(SincRatio(15000.0, 5, 24000.0, 48000.0), std::numeric_limits<double>::infinity());
}

TEST(ShapesTest, FirGain) {
  EXPECT_EQ(FirGain(0.0, 2400.0), 1.0);
  EXPECT_NEAR(FirGain(38.5, 100.0), (2.0282 + 2.0503) / 2, 1e-15);
  EXPECT_NEAR(FirGain(-38.5, 100.0), (2.0282 + 2.0503) / 2, 1e-15);
  EXPECT_EQ(FirGain(40.0, 100.0), 1.9609);
  EXPECT_NEAR(FirGain(49.5, 100.0), 0.00015, 1e-18);
  EXPECT_EQ(FirGain(50.0, 100.0), 0.0);
  EXPECT_EQ(FirGain(50.25, 100.0), 0.0);
  EXPECT_EQ(FirGain(1e300, 1.0), 0.0);
  EXPECT_EQ(FirGain(std::numeric_limits<double>::infinity(), 1.0), 0.0);
  EXPECT_EQ(FirGain(10.0, 0.0), 0.0);
  EXPECT_EQ(FirGain(10.0, -5.0), 0.0);
}

TEST(ShapesTest, EdgeTaperAndCosineShape) {
  const double c = 24000.0;
  EXPECT_EQ(EdgeTaper(0.0, c), 1.0);
  EXPECT_EQ(EdgeTaper(0.4535 * c, c), 1.0);
  EXPECT_NEAR(EdgeTaper(0.475 * c, c), 0.025 / 0.0465, 1e-12);
  EXPECT_NEAR(EdgeTaper(-0.475 * c, c), 0.5376344086, 1e-10);
  EXPECT_EQ(EdgeTaper(0.5 * c, c), 0.0);
  EXPECT_EQ(EdgeTaper(3 * c, c), 0.0);

  EXPECT_EQ(CosineShape(0.0, c), 1.0);
  EXPECT_NEAR(CosineShape(c / 3, c), 0.78 * 0.5 - 0.22, 1e-15);
  EXPECT_NEAR(CosineShape(c / 2, c), 0.0, 1e-15);
}

// ---- Comb sections -----------------------------------------------------------------

struct Section {
  double rate, lag, b1, b2, a1, a2, gain;
};

// The recorder's sections, written out independently of the library's constants.
const std::map<std::string, Section>& ReferenceSections() {
  static const std::map<std::string, Section> sections = {
      {"N50a", {3072, 31, 0.72, 0.28, -0.54, -0.21, 0.875043}},
      {"N50b", {2560, 52, -0.2, -0.8, 0.15, 0.6, 0.875043}},
      {"N60a", {3072, 26, 0.6, 0.4, -0.45, -0.3, 0.875043}},
      {"N60b", {3072, 52, -0.2, -0.8, 0.15, 0.6, 0.875043}},
      {"M50a", {3072, 31, 0.720605, 0.2804503, -0.5404537, -0.2103377, 0.874934}},
      {"M50b", {2560, 26, 0.6009653, 0.4008447, -0.5408687, -0.3607603, 0.9499548}},
      {"M50c", {2560, 52, -0.2, -0.8, 0.16, 0.64, 0.9}},
      {"M60a", {3072, 26, 0.6009653, 0.4008447, -0.4507239, -0.3006335, 0.874887}},
      {"M60b", {3072, 26, 0.6009653, 0.4008447, -0.5408687, -0.3607603, 0.9499548}},
      {"M60c", {3072, 52, -0.2, -0.8, 0.16, 0.64, 0.9}},
      {"D1", {24000, 2, 0, -1, 0, 0.8843, 0.8842}},
      {"D2", {24000, 2, 0, -1, 0, 0.9068, 0.9534}},
      {"P50a", {2400, 24, 1, 0, -0.882, 0, 0.941}},
      {"P50b", {2400, 48, -1, 0, 0.778, 0, 0.889}},
      {"P60a", {2400, 20, 1, 0, -0.9, 0, 0.95}},
      {"P60b", {2400, 40, -1, 0, 0.811, 0, 0.9055}},
  };
  return sections;
}

const std::map<std::string, const CombSectionParams*>& LibrarySections() {
  static const std::map<std::string, const CombSectionParams*> sections = {
      {"N50a", &kN50a}, {"N50b", &kN50b}, {"N60a", &kN60a}, {"N60b", &kN60b}, {"M50a", &kM50a}, {"M50b", &kM50b},
      {"M50c", &kM50c}, {"M60a", &kM60a}, {"M60b", &kM60b}, {"M60c", &kM60c}, {"D1", &kD1},     {"D2", &kD2},
      {"P50a", &kP50a}, {"P50b", &kP50b}, {"P60a", &kP60a}, {"P60b", &kP60b},
  };
  return sections;
}

// gain (1 + b1 z^-L + b2 z^-(L-1)) / (1 - a1 z^-L - a2 z^-(L-1)) on the unit circle.
std::complex<double> TransferFunction(double f, const Section& s) {
  const double omega = 2 * kPi * f / s.rate;
  const std::complex<double> z1 = std::polar(1.0, -s.lag * omega);
  const std::complex<double> z2 = std::polar(1.0, -(s.lag - 1) * omega);
  return s.gain * (1.0 + s.b1 * z1 + s.b2 * z2) / (1.0 - s.a1 * z1 - s.a2 * z2);
}

std::complex<double> Cascade(double f, std::initializer_list<const char*> names) {
  std::complex<double> h = 1.0;
  for (const char* name : names) h *= TransferFunction(f, ReferenceSections().at(name));
  return h;
}

std::complex<double> ToStd(Complex c) { return {c.re, c.im}; }

TEST(CombSectionTest, MatchesTheTransferFunction) {
  for (const auto& [name, reference] : ReferenceSections()) {
    const CombSectionParams& s = *LibrarySections().at(name);
    for (double f = 0.0; f <= 30000.0; f += 3.7) {
      const std::complex<double> expected = TransferFunction(f, reference);
      const std::complex<double> got = ToStd(CombSection(f, s));
      ASSERT_NEAR(std::abs(got - expected), 0.0, 1e-9 * std::max(1.0, std::abs(expected))) << name << " at " << f;
    }
  }
}

TEST(CombSectionTest, DirectCurrent) {
  // gain (1 + b1 + b2) / (1 - a1 - a2)
  EXPECT_NEAR(CombSection(0.0, kN50a).re, 0.875043 * 2.0 / 1.75, 1e-15);
  EXPECT_NEAR(CombSection(0.0, kN50a).re, 1.0000491428571, 1e-12);
  EXPECT_NEAR(CombSection(0.0, kP50a).re, 1.0, 1e-15);
  for (const char* name : {"N50b", "N60b", "M50c", "M60c", "P50b", "P60b", "D1", "D2"}) {
    const Complex h = CombSection(0.0, *LibrarySections().at(name));
    EXPECT_EQ(h.re, 0.0) << name;
    EXPECT_EQ(h.im, 0.0) << name;
  }
}

TEST(CombSectionTest, MainsNotches) {
  EXPECT_LT(ComplexAbs(CombSection(50.0, kP50a)), 1e-14);
  EXPECT_LT(ComplexAbs(CombSection(150.0, kP50a)), 1e-14);
  EXPECT_NEAR(ComplexAbs(CombSection(100.0, kP50a)), 1.0, 1e-12);
  EXPECT_LT(ComplexAbs(CombSection(60.0, kP60a)), 1e-14);
  // The first generation splits its lag between two taps: no exact zero.
  EXPECT_NEAR(ComplexAbs(CombSection(50.0, kN50a)), 0.0037, 1e-4);
  EXPECT_NEAR(ComplexAbs(CombSection(50.0, kN50b)), 0.0042, 1e-4);
  EXPECT_NEAR(ComplexAbs(CombSection(100.0, kN50b)), 0.0166, 1e-4);
}

TEST(CombSectionTest, PoleOnTheUnitCircleGivesZero) {
  // 1 - a1 z^-1 with a1 = 1 vanishes at 0 Hz.
  const Complex h = CombSection(0.0, 1000.0, 1.0, 0.5, 0.0, 1.0, 0.0, 2.0);
  EXPECT_EQ(h.re, 0.0);
  EXPECT_EQ(h.im, 0.0);
}

struct CombCase {
  int32_t tcmb, k8sr, lfrq;
  int16_t stream;
  std::initializer_list<const char*> sections;
};

TEST(CombResponseTest, ChoosesTheRecordersSections) {
  const CombCase cases[] = {
      {1, 7, 50, 5, {"N50a"}},         {1, 0, 50, 1, {"N50b"}},         {1, 0, 60, 5, {"N60a"}},
      {1, 1, 60, 0, {"N60b"}},         {2, 1, 50, 5, {"M50a"}},         {2, 1, 50, 3, {"M50b", "M50c"}},
      {2, 1, 60, 5, {"M60a"}},         {2, 1, 60, 4, {"M60b", "M60c"}}, {2, 0, 50, 2, {"D1"}},
      {3, 9, 55, 2, {"D1"}},  // DC blocking whatever the mains
      {4, 0, 60, 2, {"D2", "D2"}},     {2, 0, 50, 5, {"P50a"}},         {2, 0, 50, 4, {"P50a", "P50b"}},
      {3, 0, 50, 4, {"P50a"}},         {3, 0, 60, 1, {"P60a", "P60b"}}, {4, 0, 50, 5, {"P50a", "P50a"}},
      {4, 0, 60, 4, {"P60a", "P60a"}}, {4, 0, 50, 0, {"P50a", "P50b"}},
  };
  for (const CombCase& c : cases) {
    for (double f : {0.0, 17.0, 50.0, 333.3, 2000.0}) {
      Complex out{-9, -9};
      ASSERT_EQ(CombResponse(f, c.stream, c.tcmb, c.k8sr, c.lfrq, &out), Status::kOk);
      const std::complex<double> expected = Cascade(f, c.sections);
      EXPECT_NEAR(std::abs(ToStd(out) - expected), 0.0, 1e-9)
          << "tcmb " << c.tcmb << " k8sr " << c.k8sr << " lfrq " << c.lfrq << " stream " << c.stream << " f " << f;
    }
  }
}

TEST(CombResponseTest, NoCombAndUnsupportedSettings) {
  Complex out{-9, -9};
  ASSERT_EQ(CombResponse(50.0, 3, 0, 99, 77, &out), Status::kOk);
  EXPECT_EQ(out.re, 1.0);
  EXPECT_EQ(out.im, 0.0);

  const CombCase refused[] = {
      {1, 0, 55, 5, {}}, {2, 1, 0, 1, {}},   {3, 0, 55, 1, {}}, {4, 0, 61, 5, {}},
      {2, 2, 50, 1, {}}, {2, -1, 50, 2, {}}, {5, 0, 50, 1, {}}, {-1, 0, 50, 1, {}},
  };
  for (const CombCase& c : refused) {
    out = Complex{-9, -9};
    EXPECT_EQ(CombResponse(50.0, c.stream, c.tcmb, c.k8sr, c.lfrq, &out), Status::kCombUnsupported)
        << "tcmb " << c.tcmb << " k8sr " << c.k8sr << " lfrq " << c.lfrq << " stream " << c.stream;
    EXPECT_EQ(out.re, -9.0);
  }
}

// ---- Decimation chains -----------------------------------------------------------------

constexpr int32_t kChainTypes[] = {1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 14, 15, 17};
constexpr int16_t kStreams[] = {0, 1, 2, 3, 4, 5};
// Stream 3 skips the 2400 Hz stage of chains 2 and 8; chain 17 runs stream k at 24000 / 2^k.
constexpr int16_t kDistinctStreams[] = {0, 1, 3, 5};

std::vector<double> TestRates() {
  return {1,    2,    3,    4,     8,     12,    15,    24,    32,    50,    60,    75,    100,   128,   149,
          150,  151,  256,  300,   512,   1000,  1024,  1199,  1200,  2048,  2399,  2400,  2401,  3000,  4096,
          4800, 6000, 8192, 11999, 12000, 12001, 15000, 16384, 20000, 23999, 24000, 24001, 30000, 48000, 96000};
}

// 0 ... 1e6 Hz: a fine grid where the stages end, each stage edge and its
// neighbours, and a coarse logarithmic grid above.
std::vector<double> TestFrequencies(double fs) {
  std::vector<double> f;
  for (double x = 0.0; x <= 30000.0; x += 17.5) f.push_back(x);
  for (double x = 30000.0; x <= 1e6; x *= 1.05) f.push_back(x);
  f.push_back(1e6);
  for (double edge : {37.5, 75.0, 150.0, 300.0, 600.0, 1200.0, 2400.0, 6000.0, 10884.0, 12000.0, 24000.0, 48000.0,
                      fs / 4, fs / 2, fs, 2 * fs}) {
    f.push_back(edge);
    f.push_back(std::nextafter(edge, 0.0));
    f.push_back(std::nextafter(edge, 1e9));
    f.push_back(edge * 1.001);
  }
  return f;
}

TEST(DecimMagnitudeTest, LimitsAtZeroAndFarAboveTheRate) {
  for (int32_t type : kChainTypes) {
    for (double fs : TestRates()) {
      for (int16_t k : kStreams) {
        EXPECT_EQ(DecimMagnitude(0.0, fs, k, type), 1.0) << type << " " << fs << " " << k;
        const double beyond = std::max(fs, 48000.0);
        for (double f : {beyond, 1.5 * beyond, 1e6})
          EXPECT_EQ(DecimMagnitude(f, fs, k, type), 0.0) << type << " " << fs << " " << k << " " << f;
      }
    }
  }
  for (int32_t type : {9, 16, 0, 18, -3}) EXPECT_EQ(DecimMagnitude(0.0, 2400.0, 1, type), 0.0) << type;
}

double Sinc(double f, int n, double c) { return std::pow(std::sin(kPi * f / c) / (kPi * f / c), n); }

TEST(DecimMagnitudeTest, ChainSpecificStages) {
  // A plain sinc.
  EXPECT_NEAR(DecimMagnitude(600.0, 2400.0, 1, 1), Sinc(600.0, 5, 2400.0), 1e-15);
  EXPECT_NEAR(DecimMagnitude(600.0, 2400.0, 1, 10), Sinc(600.0, 11, 2400.0), 1e-15);
  // Chain 17: the taper alone on stream 0; on stream 3 a sinc at 24000 / 8 Hz.
  for (double f : {100.0, 1000.0, 1499.0, 11000.0}) {
    EXPECT_EQ(DecimMagnitude(f, 24000.0, 0, 17), EdgeTaper(f, 24000.0));
    const double expected = f < 1500.0 ? Sinc(f, 10, 3000.0) / Sinc(f, 10, 24000.0) : 0.0;
    EXPECT_NEAR(DecimMagnitude(f, 3000.0, 3, 17), expected, 1e-14 * std::max(1.0, expected)) << f;
  }
  // Chain 2 on stream 3 and chain 3 skip the 2400 Hz stage; chain 2 elsewhere has it.
  for (double f = 0.0; f < 1500.0; f += 11.0) {
    EXPECT_EQ(DecimMagnitude(f, 2400.0, 3, 2), DecimMagnitude(f, 2400.0, 1, 3));
    EXPECT_EQ(DecimMagnitude(f, 2400.0, 2, 3), DecimMagnitude(f, 2400.0, 3, 3));
  }
  const double f = 600.0;  // 25 percent of 2400 Hz
  EXPECT_NEAR(DecimMagnitude(f, 2400.0, 1, 2) / DecimMagnitude(f, 2400.0, 3, 2),
              1.3571 / (Sinc(f, 5, 2400.0) / Sinc(f, 5, 4800.0)), 1e-13);
}

// The chain magnitudes with plain IEEE products and quotients, as the stages
// multiply out; NaN where a dead stage meets a 0/0 or 0*inf.
double PlainMagnitude(double f, double fs, int16_t k, int32_t type) {
  auto low_stages = [&](double m) {
    if (fs < 2400) m = m * FirGain(f, 2400) / SincRatio(f, 5, 4800, 2400);
    if (fs < 150) m = m * FirGain(f, 150) / SincRatio(f, 5, 300, 150);
    return m;
  };
  switch (type) {
    case 2:
    case 3: {
      double m = SincPower(f, 5, 2 * fs) * FirGain(f, fs);
      return type == 2 && k != 3 ? m * FirGain(f, 2400) / SincRatio(f, 5, 4800, 2400) : m;
    }
    case 4:
    case 5:
    case 6:
    case 7: {
      double m = type == 4 ? FirGain(f, 24000) : EdgeTaper(f, 24000);
      if (fs < 24000)
        m = type == 7 ? m * SincRatio(f, 5, 24000, fs) : m * SincRatio(f, 5, 24000, 2 * fs) * FirGain(f, fs);
      return low_stages(m);
    }
    case 8:
      return k != 3 ? SincPower(f, 5, fs) * FirGain(f, 2400) / SincRatio(f, 5, 4800, 2400) : SincPower(f, 5, fs);
    case 11:
    case 12: {
      double m = EdgeTaper(f, 24000);
      if (fs < 24000)
        m = type == 12 ? m * SincRatio(f, 11, 24000, fs) : m * SincRatio(f, 11, 24000, 2 * fs) * FirGain(f, fs);
      return m;
    }
    case 13:
    case 14:
    case 15: {
      const double r = type == 13 ? 24000 : type == 14 ? 48000 : 96000;
      return EdgeTaper(f, r) * CosineShape(f, r) * SincRatio(f, 11, r, fs);
    }
    case 17:
      return k > 0 ? EdgeTaper(f, 24000) * SincRatio(f, 10, 24000, 24000.0 / (1 << k)) : EdgeTaper(f, 24000);
    default:
      return DecimMagnitude(f, fs, k, type);  // single-stage chains
  }
}

TEST(DecimMagnitudeTest, DeadStagesGiveZeroInsteadOfNaN) {
  struct Case {
    int32_t type;
    double fs;
    int16_t stream;
    double f;
  };
  // FIR gain 0 over a sinc ratio 0 (2400 Hz and 150 Hz stages), and a zero
  // taper or FIR gain times an infinite sinc ratio (24 kHz stage, cosine chains).
  const Case cases[] = {{2, 24000, 1, 1500},   {8, 24000, 0, 1300},  {5, 1000, 1, 1300},   {7, 600, 2, 1200.5},
                        {4, 100, 1, 80},       {5, 20000, 1, 15000}, {6, 13000, 4, 12500}, {11, 20000, 1, 15000},
                        {13, 48000, 1, 15000}, {14, 96000, 5, 30000}};
  for (const Case& c : cases) {
    EXPECT_TRUE(std::isnan(PlainMagnitude(c.f, c.fs, c.stream, c.type))) << c.type << " " << c.fs << " " << c.f;
    EXPECT_EQ(DecimMagnitude(c.f, c.fs, c.stream, c.type), 0.0) << c.type << " " << c.fs << " " << c.f;
  }
}

TEST(DecimMagnitudeTest, SameBitsAsThePlainProductsWhereTheyAreFinite) {
  long replaced = 0;
  for (int32_t type : kChainTypes) {
    for (double fs : TestRates()) {
      for (int16_t k : kDistinctStreams) {
        for (double f : TestFrequencies(fs)) {
          const double plain = PlainMagnitude(f, fs, k, type);
          const double m = DecimMagnitude(f, fs, k, type);
          if (std::isnan(plain)) {
            ++replaced;
            ASSERT_EQ(m, 0.0) << type << " " << fs << " " << k << " " << f;
          } else {
            ASSERT_TRUE(SameBits(m, plain))
                << type << " " << fs << " " << k << " " << f << ": " << m << " vs " << plain;
            ASSERT_TRUE(std::isfinite(m)) << type << " " << fs << " " << k << " " << f;
          }
        }
      }
    }
  }
  EXPECT_GT(replaced, 0);
}

TEST(DecimResponseTest, LinearPhaseOfTheDelay) {
  for (int32_t type : kChainTypes) {
    for (double fs : {15.0, 150.0, 1000.0, 2400.0, 6000.0, 24000.0, 96000.0}) {
      for (int16_t k : {int16_t{1}, int16_t{3}}) {
        double delay = 0.0;
        ASSERT_EQ(AcqDelaySamples(fs, k, type, 0, 50, &delay), Status::kOk);
        for (double f = 0.0; f <= fs; f += fs / 97) {
          Complex out{};
          ASSERT_EQ(DecimResponse(f, fs, k, type, 0, 50, &out), Status::kOk);
          const double m = DecimMagnitude(f, fs, k, type);
          const double phi = -2 * kPi * f / fs * delay;
          EXPECT_NEAR(out.re, m * std::cos(phi), 1e-11) << type << " " << fs << " " << f;
          EXPECT_NEAR(out.im, m * std::sin(phi), 1e-11) << type << " " << fs << " " << f;
        }
      }
    }
  }
}

TEST(DecimResponseTest, RefusesWhatHasNoModel) {
  const double inf = std::numeric_limits<double>::infinity();
  for (double fs : {-1.0, 0.0, -0.0, std::nan(""), inf}) {
    Complex out{-9, -9};
    EXPECT_EQ(DecimResponse(10.0, fs, 1, 5, 0, 50, &out), Status::kDecimationUnsupported) << fs;
    EXPECT_EQ(DecimResponse(0.0, fs, 1, 1, 0, 50, &out), Status::kDecimationUnsupported) << fs;
    EXPECT_EQ(out.re, -9.0);
  }
  Complex out{-9, -9};
  EXPECT_EQ(DecimResponse(10.0, 2400.0, -1, 5, 0, 50, &out), Status::kDecimationUnsupported);
  for (int32_t type : {9, 16, 0, 18})
    EXPECT_EQ(DecimResponse(10.0, 2400.0, 1, type, 0, 50, &out), Status::kDecimationUnsupported) << type;
  EXPECT_EQ(out.re, -9.0);
}

TEST(DecimResponseTest, FiniteEverywhere) {
  for (int32_t type : kChainTypes) {
    for (double fs : TestRates()) {
      for (int16_t k : kDistinctStreams) {
        for (double f : TestFrequencies(fs)) {
          Complex out{};
          ASSERT_EQ(DecimResponse(f, fs, k, type, 0, 50, &out), Status::kOk);
          ASSERT_TRUE(std::isfinite(out.re) && std::isfinite(out.im)) << type << " " << fs << " " << k << " " << f;
        }
      }
    }
  }
}

// ---- The digital response ------------------------------------------------------------------

TEST(CalcDigitalRespTest, CombTimesDecimationEverywhereFinite) {
  std::vector<double> freqs;
  for (double f = 0.0; f <= 1e6; f = f < 30000 ? f + 193.0 : f * 1.3) freqs.push_back(f);
  for (int32_t tcmb = 0; tcmb <= 4; ++tcmb) {
    for (int32_t k8sr : {0, 1}) {
      for (int32_t lfrq : {50, 60}) {
        for (int32_t type : kChainTypes) {
          for (double fs : {1.0, 20000.0, 96000.0}) {
            for (int16_t k : kStreams) {
              for (double f : freqs) {
                Complex comb{}, decimation{}, out{};
                ASSERT_EQ(CombResponse(f, k, tcmb, k8sr, lfrq, &comb), Status::kOk);
                ASSERT_EQ(DecimResponse(f, fs, k, type, k8sr, lfrq, &decimation), Status::kOk);
                ASSERT_EQ(CalcDigitalResp(f, fs, k, tcmb, type, k8sr, lfrq, &out), Status::kOk);
                const Complex product = ComplexMul(comb, decimation);
                ASSERT_TRUE(SameBits(out.re, product.re) && SameBits(out.im, product.im));
                ASSERT_TRUE(std::isfinite(out.re) && std::isfinite(out.im))
                    << tcmb << " " << k8sr << " " << lfrq << " " << type << " " << fs << " " << k << " " << f;
              }
            }
          }
        }
      }
    }
  }
}

TEST(CalcDigitalRespTest, FailuresLeaveTheResultAlone) {
  Complex out{-9, -9};
  // The comb is judged first.
  EXPECT_EQ(CalcDigitalResp(10.0, 2400.0, 1, 5, 9, 0, 50, &out), Status::kCombUnsupported);
  EXPECT_EQ(CalcDigitalResp(10.0, 2400.0, 1, 1, 5, 0, 55, &out), Status::kCombUnsupported);
  EXPECT_EQ(CalcDigitalResp(10.0, 2400.0, 1, 0, 9, 0, 50, &out), Status::kDecimationUnsupported);
  EXPECT_EQ(CalcDigitalResp(10.0, 0.0, 1, 0, 5, 0, 50, &out), Status::kDecimationUnsupported);
  EXPECT_EQ(CalcDigitalResp(10.0, 2400.0, -2, 0, 5, 0, 50, &out), Status::kDecimationUnsupported);
  EXPECT_EQ(out.re, -9.0);
  EXPECT_EQ(out.im, -9.0);
  // No comb, at 0 Hz: exactly one.
  ASSERT_EQ(CalcDigitalResp(0.0, 2400.0, 1, 0, 5, 0, 50, &out), Status::kOk);
  EXPECT_EQ(out.re, 1.0);
  EXPECT_EQ(out.im, 0.0);
}

}  // namespace
