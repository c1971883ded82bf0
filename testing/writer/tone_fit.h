// Least-squares fit of tones of known frequencies, shared by the demo, which
// shows the tones recovered from the sample recording, and the tests that check
// them.
#pragma once

#include <utility>
#include <vector>

namespace olmtsfil::testdata {

// Amplitude and phase (degrees, of A cos(2 pi f t + phase)) of each of the
// tones `freqs` in y(t), fitted together with an offset.
std::vector<std::pair<double, double>> FitTones(const std::vector<double>& t, const std::vector<double>& y,
                                                const std::vector<double>& freqs);

// Degrees in (-180, 180].
double WrapDegrees(double degrees);

}  // namespace olmtsfil::testdata
