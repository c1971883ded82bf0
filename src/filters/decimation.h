// Complex response of the recorder's digital part at one frequency: the comb
// sections that suppress the mains and its harmonics (and the DC-blocking
// sections), times the decimation chain's magnitude with the linear phase of
// its delay. The box response multiplies its analog part by this factor.
//
// Frequencies and rates are in Hz. Every function is pure. The order of the
// floating-point operations is the one the responses were calibrated with;
// keep it when touching the formulas.
#pragma once

#include <cstdint>

#include "common/complex.h"
#include "common/status.h"

namespace olmtsfil {

// Gain of the fixed FIR stage at k percent of its rate, k = 0 ... 51 (a flat
// band rising towards the edge, then the stop band; zero from 50 percent on).
inline constexpr double kFirGainTable[52] = {
    1.0,    1.0009, 1.0029, 1.0049, 1.0078, 1.0126, 1.0186, 1.0248, 1.0317, 1.0404,  //
    1.0507, 1.0614, 1.0727, 1.0859, 1.1009, 1.1166, 1.133,  1.1513, 1.1717, 1.1933,  //
    1.2156, 1.24,   1.267,  1.2956, 1.3252, 1.3571, 1.3921, 1.4292, 1.4678, 1.5092,  //
    1.5543, 1.6022, 1.6523, 1.7059, 1.7642, 1.8256, 1.8903, 1.9611, 2.0282, 2.0503,  //
    1.9609, 1.7123, 1.3233, 0.8811, 0.4927, 0.2245, 0.0798, 0.0206, 0.0034, 0.0003,  //
    0.0,    0.0};

// One recursive comb section running at `rate`:
//   H(z) = gain * (1 + b1 z^-lag + b2 z^-(lag-1)) / (1 - a1 z^-lag - a2 z^-(lag-1)),
// a delay of lag samples split between lag and lag - 1 by the weights.
struct CombSectionParams {
  double rate;
  double lag;
  double b1;
  double b2;
  double a1;
  double a2;
  double gain;
};

// Mains notches at 50 Hz (N50, M50, P50) and 60 Hz (N60, M60, P60) of the three
// comb generations, and the two DC-blocking sections D1, D2.
inline constexpr CombSectionParams kN50a{3072, 31, 0.72, 0.28, -0.54, -0.21, 0.875043};
inline constexpr CombSectionParams kN50b{2560, 52, -0.2, -0.8, 0.15, 0.6, 0.875043};
inline constexpr CombSectionParams kN60a{3072, 26, 0.6, 0.4, -0.45, -0.3, 0.875043};
inline constexpr CombSectionParams kN60b{3072, 52, -0.2, -0.8, 0.15, 0.6, 0.875043};
inline constexpr CombSectionParams kM50a{3072, 31, 0.720605, 0.2804503, -0.5404537, -0.2103377, 0.874934};
inline constexpr CombSectionParams kM50b{2560, 26, 0.6009653, 0.4008447, -0.5408687, -0.3607603, 0.9499548};
inline constexpr CombSectionParams kM50c{2560, 52, -0.2, -0.8, 0.16, 0.64, 0.9};
inline constexpr CombSectionParams kM60a{3072, 26, 0.6009653, 0.4008447, -0.4507239, -0.3006335, 0.874887};
inline constexpr CombSectionParams kM60b{3072, 26, 0.6009653, 0.4008447, -0.5408687, -0.3607603, 0.9499548};
inline constexpr CombSectionParams kM60c{3072, 52, -0.2, -0.8, 0.16, 0.64, 0.9};
inline constexpr CombSectionParams kD1{24000, 2, 0, -1, 0, 0.8843, 0.8842};
inline constexpr CombSectionParams kD2{24000, 2, 0, -1, 0, 0.9068, 0.9534};
inline constexpr CombSectionParams kP50a{2400, 24, 1, 0, -0.882, 0, 0.941};
inline constexpr CombSectionParams kP50b{2400, 48, -1, 0, 0.778, 0, 0.889};
inline constexpr CombSectionParams kP60a{2400, 20, 1, 0, -0.9, 0, 0.95};
inline constexpr CombSectionParams kP60b{2400, 40, -1, 0, 0.811, 0, 0.9055};

// ---- Elementary shapes (x a frequency, c a rate; all even in x) ----

// (sin t / t)^n with t = pi x / c, cut to 0 beyond c / 2 and where negative; 1 at 0.
double SincPower(double x, int32_t n, double c);
// SincPower(x, n, c2) / SincPower(x, n, c1); 0 where the numerator is 0 and
// +infinity where only the divisor is (possible when c1 < c2).
double SincRatio(double x, int32_t n, double c1, double c2);
// kFirGainTable interpolated at x / c in percent; 0 for c <= 0 and from c / 2 on.
double FirGain(double x, double c);
// 1 up to 0.4535 c, falling linearly to 0 at c / 2.
double EdgeTaper(double x, double c);
// 0.78 cos(pi x / c) + 0.22 cos(3 pi x / c).
double CosineShape(double x, double c);

// ---- Comb sections ----

Complex CombSection(double freq, double rate, double lag, double b1, double b2, double a1, double a2, double gain);
inline Complex CombSection(double freq, const CombSectionParams& s) {
  return CombSection(freq, s.rate, s.lag, s.b1, s.b2, s.a1, s.a2, s.gain);
}

// Comb and DC-blocking sections chosen by "TCMB", "K8SR", "LFRQ" and the stream.
// kCombUnsupported (out untouched) for settings the recorder has no sections for.
Status CombResponse(double freq, int16_t stream, int32_t tcmb, int32_t k8sr, int32_t lfrq, Complex* out);

// ---- Decimation chain ----

// Magnitude of decimation chain `chain_type` ("TALS") at sample rate `fs`;
// 0 for chains without a model. Never NaN for finite arguments: where a stage's
// gain is 0 the magnitude is 0, even where the stage's sinc ratio is 0 or infinite.
double DecimMagnitude(double freq, double fs, int16_t stream, int32_t chain_type);

// Magnitude with the linear phase of the chain's delay (AcqDelaySamples).
// kDecimationUnsupported, with out untouched, for a sample rate that is not a
// positive finite number, a negative stream, or a chain without a model.
Status DecimResponse(double freq, double fs, int16_t stream, int32_t chain_type, int32_t k8sr, int32_t lfrq,
                     Complex* out);

// The digital part of the box response: CombResponse times DecimResponse.
// Returns the first failing status (131 or 132) with out untouched.
Status CalcDigitalResp(double freq, double sample_rate, int16_t stream, int32_t tcmb, int32_t tals, int32_t k8sr,
                       int32_t lfrq, Complex* out);

}  // namespace olmtsfil
