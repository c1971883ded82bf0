#include "filters/decimation.h"

#include <cmath>

#include "filters/acquisition_delay.h"
#include "filters/decimation_chain.h"

namespace olmtsfil {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kThreePi = 9.42477796076938;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kMinusTwoPi = -6.283185307179586;
// Slope of EdgeTaper: 1 / (0.5 - 0.4535).
constexpr double kTaperSlope = 21.50537634408602;
// Below this in both parts a comb denominator counts as a pole on the unit circle.
constexpr double kPoleThreshold = 1e-6;

// The chains are cascades of stages; beyond half its rate a stage's gain is 0
// while the sinc ratio that flattens the next stage may be 0 (0/0) or infinite
// (0 * inf) there. A stage with zero gain passes nothing, so those products and
// quotients are 0. Everywhere else they are the plain IEEE operations, so finite
// results keep every bit.
double StageProduct(double a, double b) {
  if ((a == 0.0 && std::isinf(b)) || (std::isinf(a) && b == 0.0)) return 0.0;
  return a * b;
}
double StageQuotient(double a, double b) {
  if (a == 0.0 && b == 0.0) return 0.0;
  return a / b;
}

// A low-rate FIR stage at `rate` with the sinc at twice that rate divided out,
// applied to the magnitude m of the stages before it.
double ThroughLowRateStage(double m, double f, double rate) {
  return StageQuotient(StageProduct(m, FirGain(f, rate)), SincRatio(f, kLowStageSincOrder, 2.0 * rate, rate));
}

double FrontMagnitude(const DecimationChain& c, double f, double fs, int16_t stream) {
  switch (c.front) {
    case ChainFront::kSinc:
      return SincPower(f, c.sinc_order, fs);
    case ChainFront::kSincFir:
      return StageProduct(SincPower(f, c.sinc_order, 2.0 * fs), FirGain(f, fs));
    case ChainFront::kFir:
    case ChainFront::kTaper: {
      double m = c.front == ChainFront::kFir ? FirGain(f, c.front_rate) : EdgeTaper(f, c.front_rate);
      if (fs < c.front_rate) {
        if (c.sinc_to_fs)
          m = StageProduct(m, SincRatio(f, c.sinc_order, c.front_rate, fs));
        else
          m = StageProduct(StageProduct(m, SincRatio(f, c.sinc_order, c.front_rate, 2.0 * fs)), FirGain(f, fs));
      }
      return m;
    }
    case ChainFront::kTaperCosine:
      return StageProduct(StageProduct(EdgeTaper(f, c.front_rate), CosineShape(f, c.front_rate)),
                          SincRatio(f, c.sinc_order, c.front_rate, fs));
    case ChainFront::kTaperToStreamRate: {
      double m = EdgeTaper(f, c.front_rate);
      // Stream k runs at front_rate / 2^k. Scaling by a power of two is exact, so
      // this equals the division by the shifted integer without its overflow for large k.
      if (stream > 0) m = StageProduct(m, SincRatio(f, c.sinc_order, c.front_rate, std::ldexp(c.front_rate, -stream)));
      return m;
    }
  }
  return 0.0;
}

// A comb for one mains frequency: the section of stream 5, and the one or two
// sections of the other streams.
struct MainsComb {
  const CombSectionParams* single;
  const CombSectionParams* first;
  const CombSectionParams* second;  // null for a single section
};
constexpr MainsComb kFirstComb50{&kN50a, &kN50b, nullptr};
constexpr MainsComb kFirstComb60{&kN60a, &kN60b, nullptr};
constexpr MainsComb kSecondComb50{&kM50a, &kM50b, &kM50c};
constexpr MainsComb kSecondComb60{&kM60a, &kM60b, &kM60c};

}  // namespace

double SincPower(double x, int32_t n, double c) {
  x = std::fabs(x);
  if (x == 0.0) return 1.0;
  if (x > 0.5 * c) return 0.0;
  const double t = (x * kPi) * (1.0 / c);
  // A subnormal frequency can make t exactly 0; sin t / t is then 1, not 0/0.
  double s = t == 0.0 ? 1.0 : std::sin(t) / t;
  if (s < 0.0) s = 0.0;
  double power = 1.0;
  for (int32_t i = 0; i < n; ++i) power *= s;
  return power;
}

double SincRatio(double x, int32_t n, double c1, double c2) {
  const double a = SincPower(x, n, c2);
  if (a <= 0.0) return a;
  return a / SincPower(x, n, c1);
}

double FirGain(double x, double c) {
  if (c <= 0.0) return 0.0;
  const double u = (std::fabs(x) * 100.0) / c;
  // The index is clamped before the conversion: u may be far beyond int range.
  const int i = u < 50.0 ? static_cast<int>(u) : 50;
  double w = u - i;
  if (w > 1.0) w = 1.0;
  return (1.0 - w) * kFirGainTable[i] + w * kFirGainTable[i + 1];
}

double EdgeTaper(double x, double c) {
  x = std::fabs(x);
  if (x <= 0.4535 * c) return 1.0;
  if (x >= 0.5 * c) return 0.0;
  return (0.5 - x / c) * kTaperSlope;
}

double CosineShape(double x, double c) { return 0.78 * std::cos(x * kPi / c) + 0.22 * std::cos(x * kThreePi / c); }

Complex CombSection(double freq, double rate, double lag, double b1, double b2, double a1, double a2, double gain) {
  const double omega = (freq * kTwoPi) / rate;
  const Complex z1{std::cos(-lag * omega), std::sin(-lag * omega)};
  const Complex z2{std::cos((1.0 - lag) * omega), std::sin((1.0 - lag) * omega)};
  const Complex one{1.0, 0.0};
  const Complex num = ComplexAdd(ComplexAdd(one, ComplexScale(z1, b1)), ComplexScale(z2, b2));
  const Complex den{(one.re - a1 * z1.re) - a2 * z2.re, (one.im - a1 * z1.im) - a2 * z2.im};
  Complex q{0.0, 0.0};
  if (!(std::fabs(den.re) < kPoleThreshold && std::fabs(den.im) < kPoleThreshold)) q = ComplexDiv(num, den);
  return ComplexScale(q, gain);
}

Status CombResponse(double freq, int16_t stream, int32_t tcmb, int32_t k8sr, int32_t lfrq, Complex* out) {
  if (tcmb == 0) {
    *out = Complex{1.0, 0.0};
    return Status::kOk;
  }
  // The first comb and, on recorders with "K8SR" set, the second: one set of
  // sections on stream 5, another elsewhere.
  if (tcmb == 1 || (tcmb == 2 && k8sr == 1)) {
    const MainsComb* comb = nullptr;
    if (lfrq == 50)
      comb = tcmb == 1 ? &kFirstComb50 : &kSecondComb50;
    else if (lfrq == 60)
      comb = tcmb == 1 ? &kFirstComb60 : &kSecondComb60;
    else
      return Status::kCombUnsupported;
    if (stream == 5)
      *out = CombSection(freq, *comb->single);
    else if (comb->second == nullptr)
      *out = CombSection(freq, *comb->first);
    else
      *out = ComplexMul(CombSection(freq, *comb->first), CombSection(freq, *comb->second));
    return Status::kOk;
  }
  if ((tcmb == 2 && k8sr == 0) || tcmb == 3 || tcmb == 4) {
    if (stream == 2) {  // DC blocking only, whatever the mains
      if (tcmb == 4) {
        const Complex d2 = CombSection(freq, kD2);
        *out = ComplexMul(d2, d2);
      } else {
        *out = CombSection(freq, kD1);
      }
      return Status::kOk;
    }
    const bool single = stream == 5 || (tcmb >= 3 && stream == 4);
    const CombSectionParams* first = nullptr;
    const CombSectionParams* second = nullptr;
    if (lfrq == 50) {
      first = &kP50a;
      second = &kP50b;
    } else if (lfrq == 60) {
      first = &kP60a;
      second = &kP60b;
    } else {
      return Status::kCombUnsupported;
    }
    const Complex a = CombSection(freq, *first);
    if (!single)
      *out = ComplexMul(a, CombSection(freq, *second));
    else
      *out = tcmb == 4 ? ComplexMul(a, a) : a;
    return Status::kOk;
  }
  return Status::kCombUnsupported;
}

double DecimMagnitude(double freq, double fs, int16_t stream, int32_t chain_type) {
  const DecimationChain* chain = FindDecimationChain(chain_type);
  if (chain == nullptr) return 0.0;
  double m = FrontMagnitude(*chain, freq, fs, stream);
  switch (chain->low_stages) {
    case LowRateStages::kNone:
      break;
    case LowRateStages::k2400ExceptStream3:
      if (stream != 3) m = ThroughLowRateStage(m, freq, kStage2400Rate);
      break;
    case LowRateStages::kBelowTheirRates:
      if (!chain->magnitude_low_stages) break;
      if (fs < kStage2400Rate) m = ThroughLowRateStage(m, freq, kStage2400Rate);
      if (fs < kStage150Rate) m = ThroughLowRateStage(m, freq, kStage150Rate);
      break;
  }
  return m;
}

Status DecimResponse(double freq, double fs, int16_t stream, int32_t chain_type, int32_t k8sr, int32_t lfrq,
                     Complex* out) {
  if (fs < 0.0 || stream < 0) return Status::kDecimationUnsupported;
  // At a rate of 0 (or a non-finite one) freq / fs makes the phase NaN: such a
  // stream has no response to give.
  if (!(fs > 0.0) || !std::isfinite(fs)) return Status::kDecimationUnsupported;
  double delay = 0.0;
  if (Status s = AcqDelaySamples(fs, stream, chain_type, k8sr, lfrq, &delay); s != Status::kOk) return s;
  const double phi = (freq / fs) * kMinusTwoPi * delay;
  const double m = DecimMagnitude(freq, fs, stream, chain_type);
  *out = Complex{m * std::cos(phi), m * std::sin(phi)};
  return Status::kOk;
}

Status CalcDigitalResp(double freq, double sample_rate, int16_t stream, int32_t tcmb, int32_t tals, int32_t k8sr,
                       int32_t lfrq, Complex* out) {
  Complex comb{};
  if (Status s = CombResponse(freq, stream, tcmb, k8sr, lfrq, &comb); s != Status::kOk) return s;
  Complex decimation{};
  if (Status s = DecimResponse(freq, sample_rate, stream, tals, k8sr, lfrq, &decimation); s != Status::kOk) return s;
  *out = ComplexMul(comb, decimation);
  return Status::kOk;
}

}  // namespace olmtsfil
