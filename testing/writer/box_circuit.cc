#include "writer/box_circuit.h"

#include <cmath>
#include <complex>
#include <vector>

namespace olmtsfil::testdata {
namespace {

using C = std::complex<double>;
constexpr double kTwoPi = 6.283185307179586;

C ToStd(Complex z) { return {z.re, z.im}; }
Complex FromStd(C z) { return {z.real(), z.imag()}; }

}  // namespace

Complex BoxCircuit::OutputNetwork(double f, double capacitance) const {
  const C jw(0.0, kTwoPi * f);
  // Source behind R19 with C14 across it, then L13 in series, into the capacitor.
  const C z_source = r19 / (1.0 + jw * c14 * r19);
  const C h1 = 1.0 / (1.0 + jw * c14 * r19);
  const C z_series = z_source + jw * l13;
  return FromStd(h1 / (1.0 + jw * capacitance * z_series));
}

Complex BoxCircuit::Gain(int code, int channel, double f) const {
  return FromStd(gain[static_cast<std::size_t>(code + 1)] * ToStd(LowPass(f, gain_corner + 200.0 * channel)));
}

Complex BoxCircuit::SecondGainLow(double f) const { return FromStd(0.5 * ToStd(LowPass(f, 3000.0))); }
Complex BoxCircuit::SecondGainHigh(double f) const { return FromStd(0.25 * ToStd(LowPass(f, 6000.0))); }

Complex BoxCircuit::Table(int table, int channel, double f) const {
  const C m = ToStd(OutputNetwork(f, c3));
  auto g = [&](int code) { return ToStd(Gain(code, channel, f)); };
  const double c4 = switched[0], c5 = switched[1], c6 = switched[2], c7 = switched[3];
  switch (table) {
    case 3:
      return FromStd(g(2) * m);
    case 4:
      return FromStd(g(-1) * m);
    case 5:
      return FromStd(g(0) * m);
    case 6:
      return FromStd(g(1) * m);
    case 7:
      return FromStd(ToStd(SecondGainLow(f)) * g(1) * m);
    case 8:
      return FromStd(ToStd(SecondGainHigh(f)) * g(2) * m);
    case 9:
    case 10:
    case 11:
    case 12:
      return FromStd(g(2) * ToStd(OutputNetwork(f, c3 + switched[static_cast<std::size_t>(table - 9)])));
    case 13:
      return FromStd(g(2) * ToStd(OutputNetwork(f, (c3 + c4 + c5) * (1.0 - bootstrap_low))));
    case 14:
      return FromStd(g(2) * ToStd(OutputNetwork(f, (c3 + c4 + c5 + c6 + c7) * (1.0 - bootstrap_all))));
    default:
      return {1.0, 0.0};  // tables the model does not read
  }
}

Complex BoxCircuit::Ladder(double f, double r1, Complex z2, Complex zf_value, double capacitance) const {
  const C jw(0.0, kTwoPi * f);
  const C zc = 1.0 / (jw * capacitance);
  const C z14 = 1.0 / (jw * c14);
  const C zf = ToStd(zf_value);
  // Voltage division from the output back to the source.
  const C z_out = jw * l13 + zc;
  const C z_mid = z14 * z_out / (z14 + z_out);
  const C z_in = zf + z_mid;
  const C z_shunt = ToStd(z2) * z_in / (ToStd(z2) + z_in);
  const C v1 = z_shunt / (r1 + z_shunt);
  const C v2 = v1 * z_mid / z_in;
  return FromStd(v2 * zc / z_out);
}

CalibrationFile CircuitCalibration(const BoxCircuit& circuit, int nchn, int points, double f_low, double f_high,
                                   const std::string& hw) {
  CalibrationFile file;
  file.header.nchn = static_cast<int16_t>(nchn);
  file.header.ctyp = 1;
  file.header.hw = hw;
  for (int t = 0; t < 15; ++t) {
    // The model reads only the first record of table 0 and nothing of tables 1
    // and 2; the bootstrapped groups are measured where their capacitors act
    // (below, the output network hardly differs from its open-circuit transfer).
    std::vector<double> frequencies = t <= 2    ? std::vector<double>{f_low}
                                      : t >= 13 ? LogFrequencies(circuit.bootstrap_from, f_high, points)
                                                : LogFrequencies(f_low, f_high, points);
    int16_t sequence = 1;
    for (double f : frequencies) {
      CalRecord r;
      r.key = static_cast<int16_t>(t);
      r.frequency = static_cast<float>(f);
      r.sequence = sequence++;
      for (int c = 0; c < nchn; ++c) {
        CalBlock b;
        Complex v = circuit.Table(t, c, static_cast<double>(r.frequency));
        b.response = {static_cast<float>(v.re), static_cast<float>(v.im)};
        b.scalar = static_cast<float>(std::hypot(v.re, v.im));
        b.corner_frequency = t == 0 ? circuit.coupling_corner_1 : t == 9 ? circuit.coupling_corner_2 : 0.0f;
        r.blocks.push_back(b);
      }
      file.records.push_back(std::move(r));
    }
  }
  return file;
}

}  // namespace olmtsfil::testdata
