// Complex values of the responses. The operations keep the exact formulas the
// responses were calibrated with: a division multiplies by the reciprocal of the
// squared magnitude, a magnitude is the plain root of the sum of squares, and
// neither rescales against overflow (a zero divisor gives IEEE infinities/NaNs).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "olmtsfil.h"

namespace olmtsfil {

using ::Complex;  // two doubles, real first: part of the exported interface

struct ComplexFloat {  // as stored in calibration records
  float re;
  float im;
};

inline Complex MakeComplex(double re, double im) { return Complex{re, im}; }
inline Complex ComplexAdd(Complex a, Complex b) { return {a.re + b.re, a.im + b.im}; }
inline Complex ComplexMul(Complex a, Complex b) {
  return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}
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
inline Complex ComplexFromFloats(float re, float im) { return {static_cast<double>(re), static_cast<double>(im)}; }
inline Complex ComplexFromFloats(ComplexFloat f) { return ComplexFromFloats(f.re, f.im); }

// True for +0.0 and -0.0 alike: every bit but the sign is zero.
inline bool IsZeroEitherSign(double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return (bits & 0x7FFFFFFFFFFFFFFFull) == 0;
}

// First-order high-pass with corner fc at frequency f (same unit): 1/(1 - j fc/f).
// At f = 0 (either sign) the factor is exactly 1, not the limit 0: callers rely on
// the analog response alone at 0 Hz. Always returns 0.
inline int32_t FirstOrderHighPass(double f, double fc, Complex* out) {
  *out = Complex{1.0, 0.0};
  if (IsZeroEitherSign(f)) return 0;
  double x = -fc / f;
  *out = ComplexRecip(Complex{1.0, x});
  return 0;
}

}  // namespace olmtsfil
