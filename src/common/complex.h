// Complex values of the responses. The operations keep the exact formulas the
// responses were calibrated with: a division multiplies by the reciprocal of the
// squared magnitude, a magnitude is the plain root of the sum of squares, and
// neither rescales against overflow (a zero divisor gives IEEE infinities/NaNs).
// The circuit model alone uses the scaled forms in namespace `circuit`.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "olmtsfil.h"

namespace olmtsfil {

using ::Complex;  // two doubles, real first: part of the exported interface

struct ComplexFloat {  // as stored in calibration records
  float re;
  float im;
};

inline Complex ComplexAdd(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }
inline Complex ComplexMul(Complex a, Complex b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
inline Complex ComplexScale(Complex a, double r) { return {a.re * r, a.im * r}; }
inline Complex ComplexDiv(Complex a, Complex b) {
  double k = 1.0 / (b.re * b.re + b.im * b.im);
  return {(a.re * b.re + a.im * b.im) * k, (a.im * b.re - a.re * b.im) * k};
}
inline Complex ComplexRecip(Complex a) {
  double k = 1.0 / (a.re * a.re + a.im * a.im);
  return {a.re * k, -a.im * k};
}
inline double ComplexAbs(Complex a) { return std::sqrt(a.re * a.re + a.im * a.im); }
inline Complex ComplexFromFloats(ComplexFloat f) { return {static_cast<double>(f.re), static_cast<double>(f.im)}; }

// First-order high-pass with corner fc at frequency f (same unit): 1/(1 - j fc/f).
// At f = 0 (either sign) the factor is exactly 1, not the limit 0: callers rely on
// the analog response alone at 0 Hz. Always returns 0.
inline int32_t FirstOrderHighPass(double f, double fc, Complex* out) {
  *out = Complex{1.0, 0.0};
  if (f == 0.0) return 0;
  double x = -fc / f;
  *out = ComplexRecip(Complex{1.0, x});
  return 0;
}

// Impedance arithmetic of the front-end circuit model, both where it is fitted
// (at calibration open) and where it is evaluated. Impedances span many decades,
// so division and magnitude scale by the larger part first (Smith's method) and
// no intermediate square overflows or underflows.
namespace circuit {

inline Complex Divide(Complex x, Complex y) {
  if (std::fabs(y.re) >= std::fabs(y.im)) {
    double r = y.im / y.re;
    double den = y.re + y.im * r;
    return {(x.re + x.im * r) / den, (x.im - x.re * r) / den};
  }
  double r = y.re / y.im;
  double den = y.re * r + y.im;
  return {(x.re * r + x.im) / den, (x.im * r - x.re) / den};
}

inline double Magnitude(Complex z) {
  double a = std::fabs(z.re);
  double b = std::fabs(z.im);
  double m = std::max(a, b);
  double s = std::min(a, b);
  if (m == 0.0) return 0.0;
  double q = s / m;
  return m * std::sqrt(1.0 + q * q);
}

inline Complex Add(Complex a, Complex b) { return ComplexAdd(a, b); }
inline Complex Sub(Complex a, Complex b) { return {a.re - b.re, a.im - b.im}; }
inline Complex Mul(Complex a, Complex b) { return ComplexMul(a, b); }
inline Complex Real(double x) { return {x, 0.0}; }
inline Complex Imag(double x) { return {0.0, x}; }
inline Complex Reciprocal(Complex y) { return Divide(Real(1.0), y); }

}  // namespace circuit

}  // namespace olmtsfil
