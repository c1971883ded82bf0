#include "writer/tone_fit.h"

#include <cmath>
#include <numbers>

namespace olmtsfil::testdata {

std::vector<std::pair<double, double>> FitTones(const std::vector<double>& t, const std::vector<double>& y,
                                                const std::vector<double>& freqs) {
  constexpr double kPi = std::numbers::pi;
  const std::size_t k = 2 * freqs.size() + 1;
  std::vector<double> a(k * k, 0.0), b(k, 0.0), row(k);
  for (std::size_t i = 0; i < t.size(); ++i) {
    for (std::size_t j = 0; j < freqs.size(); ++j) {
      // Whole cycles dropped first: times in seconds since 1970 keep their
      // phase to the microsecond.
      const double cycles = std::fmod(freqs[j] * t[i], 1.0);
      row[2 * j] = std::cos(2 * kPi * cycles);
      row[2 * j + 1] = std::sin(2 * kPi * cycles);
    }
    row[k - 1] = 1.0;
    for (std::size_t p = 0; p < k; ++p) {
      b[p] += row[p] * y[i];
      for (std::size_t q = 0; q < k; ++q) a[p * k + q] += row[p] * row[q];
    }
  }
  // The normal equations by Gauss-Jordan elimination: a handful of unknowns,
  // well conditioned for tones many periods long.
  for (std::size_t p = 0; p < k; ++p)
    for (std::size_t r = 0; r < k; ++r) {
      if (r == p) continue;
      const double m = a[r * k + p] / a[p * k + p];
      for (std::size_t q = 0; q < k; ++q) a[r * k + q] -= m * a[p * k + q];
      b[r] -= m * b[p];
    }
  std::vector<std::pair<double, double>> out;
  for (std::size_t j = 0; j < freqs.size(); ++j) {
    const double c = b[2 * j] / a[2 * j * k + 2 * j], s = b[2 * j + 1] / a[(2 * j + 1) * k + 2 * j + 1];
    out.push_back({std::hypot(c, s), std::atan2(-s, c) * 180 / kPi});
  }
  return out;
}

double WrapDegrees(double degrees) {
  double d = std::fmod(degrees, 360.0);
  if (d > 180.0) d -= 360.0;
  if (d <= -180.0) d += 360.0;
  return d;
}

}  // namespace olmtsfil::testdata
