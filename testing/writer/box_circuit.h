// A recorder box front end with known element values and gain shapes, and the box
// calibration a measurement of it would give: the tables that the front-end model
// is built from, so tests and benchmarks can compare the model with its source.
#pragma once

#include <array>

#include "olmtsfil.h"
#include "writer/calibration_writer.h"

namespace olmtsfil::testdata {

struct BoxCircuit {
  // Output network: source resistance, shunt and series elements, fixed capacitor.
  double r19 = 297.0;
  double c14 = 3.3e-10;
  double l13 = 0.00022;
  double c3 = 3.3e-9;
  // Switchable capacitors C4 ... C7 as built (they differ from the nominal values
  // the model starts from, so the fit has something to find).
  std::array<double, 4> switched = {1.2e-8, 3.0e-8, 1.1e-7, 3.6e-7};
  // Bootstrap factors k of the capacitor groups C4 + C5 and C4 ... C7: those
  // capacitors then act as Ctot x (1 - k).
  double bootstrap_low = 0.4;
  double bootstrap_all = 0.7;
  // Lowest frequency (Hz) at which the bootstrapped groups are measured.
  double bootstrap_from = 100.0;
  // Gain amplifier per gain code -1 ... 2: gain[code + 1] x low-pass at 8 kHz
  // (shifted a little per channel).
  std::array<double, 4> gain = {1.0, 4.0, 16.0, 64.0};
  double gain_corner = 8000.0;
  // Coupling corners written into the first records of tables 0 and 9.
  float coupling_corner_1 = 0.5f;
  float coupling_corner_2 = 0.05f;

  // Response of the output network loaded by `capacitance` (F) at f Hz.
  Complex OutputNetwork(double f, double capacitance) const;
  // The gain amplifier of gain code -1 ... 2 on `channel`.
  Complex Gain(int code, int channel, double f) const;
  // Second gain factors selected by filter bit 0x40.
  Complex SecondGainLow(double f) const;   // with gain codes other than 1
  Complex SecondGainHigh(double f) const;  // with gain code 1
  // What table t of a calibration of this box holds at f Hz.
  Complex Table(int table, int channel, double f) const;

  // The input ladder from a unit source: source resistance r1, input shunt
  // impedance z2, series filter impedance zf, shunt C14, series L13, shunt
  // `capacitance`; the voltage across that last capacitor.
  Complex Ladder(double f, double r1, Complex z2, Complex zf, double capacitance) const;
};

// A box calibration of `circuit`: channel count `nchn`, hardware identifier `hw`,
// 15 tables keyed 0 ... 14; tables 3 ... 14 hold `points` records from f_low to
// f_high, tables 0 ... 2 one record each (a file holds at most 500 records).
CalibrationFile CircuitCalibration(const BoxCircuit& circuit, int nchn, int points = 41, double f_low = 1.0,
                                   double f_high = 20000.0, const std::string& hw = "BOX");

}  // namespace olmtsfil::testdata
