#include "olmts/export/instrument_chain.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>

namespace olmts::exporting {

namespace {

// Counts of the 24-bit converter per volt at its input: 2^23 counts span the
// full-scale voltage.
constexpr double kCountsPerFullScale = 8388608.0;

}  // namespace

InstrumentChain::InstrumentChain(const Recording& recording, const std::string& box,
                                 const std::vector<std::string>& sensors, int sensor_kind)
    : recording_(recording), response_(recording, box, sensors, sensor_kind) {
  double full_scale = 0;
  // The library's gains use the same rule: a missing or zero value means 6.4 V.
  if (ReadPrmHT(recording.get(), "FSCV", OLMTS_TYPE_DOUBLE, &full_scale) == OLMTS_OK && full_scale != 0 &&
      std::isfinite(full_scale))
    full_scale_v_ = std::fabs(full_scale);
  dipole_m_.assign(12, 0.0);
  static const char* const kChannels[] = {"CHEX", "CHEY", "CHEZ"};
  static const char* const kLengths[] = {"EXLN", "EYLN", "EZLN"};
  for (int i = 0; i < 3; ++i) {
    int32_t n = 0;
    double length = 0;
    if (ReadPrmHT(recording.get(), kChannels[i], OLMTS_TYPE_INT32, &n) == OLMTS_OK && n >= 1 && n <= 12 &&
        ReadPrmHT(recording.get(), kLengths[i], OLMTS_TYPE_DOUBLE, &length) == OLMTS_OK && std::isfinite(length))
      dipole_m_[static_cast<std::size_t>(n - 1)] = length;
  }
}

double InstrumentChain::SensitivityFrequency(double rate_hz) { return std::min(1.0, rate_hz / 10.0); }

std::vector<double> InstrumentChain::ListFrequencies(double rate_hz, double sensitivity_frequency_hz) {
  const double nyquist = rate_hz / 2;
  std::vector<double> f;
  const int per_decade = 10;
  for (int i = -5 * per_decade; i < -per_decade; ++i) f.push_back(nyquist * std::pow(10.0, i / double(per_decade)));
  // The digital filters shape the last decade below Nyquist.
  for (int i = 1; i <= 40; ++i) f.push_back(nyquist * (0.1 + 0.9 * i / 40.0));
  f.push_back(sensitivity_frequency_hz);
  std::sort(f.begin(), f.end());
  f.erase(std::unique(f.begin(), f.end()), f.end());
  return f;
}

void InstrumentChain::Describe(int stream, double rate_hz, const Component& component,
                               ChannelDescription& channel) const {
  const int index = component.channel - 1;
  if (index < 0 || index >= response_.channels()) return;
  const double f0 = SensitivityFrequency(rate_hz);
  const std::vector<double> freqs = ListFrequencies(rate_hz, f0);
  double delay_samples = 0;
  Check(GetAcqDelayHT(recording_.get(), stream, &delay_samples), recording_.base() + ".TBL: acquisition delay");
  const double delay_s = delay_samples / rate_hz;

  std::vector<std::complex<double>> box, sensor;
  for (double f : freqs) {
    const ChannelResponse r = response_.At(stream, f).at(static_cast<std::size_t>(index));
    if (!r.box.usable) throw ToolError(response_.box_path() + ": no box response for " + component.name);
    // The library's box response carries the linear phase of the delay; the
    // delay is declared on its own in the digitiser stage.
    box.push_back(r.box.value * std::polar(1.0, 2 * std::numbers::pi * f * delay_s));
    sensor.push_back(r.sensor.value);
    if (component.magnetic && !r.sensor.usable)
      throw ToolError(response_.SensorSource(index) + ": no sensor response for " + component.name);
  }
  const std::size_t at0 = static_cast<std::size_t>(std::find(freqs.begin(), freqs.end(), f0) - freqs.begin());

  std::vector<ResponseStage> stages;
  const auto list = [&](std::string name, std::string description, std::string in, std::string out,
                        const std::vector<std::complex<double>>& values) {
    ResponseStage s;
    s.kind = ResponseStage::Kind::kList;
    s.name = std::move(name);
    s.description = std::move(description);
    s.input_units = std::move(in);
    s.output_units = std::move(out);
    s.gain = std::abs(values[at0]);
    s.gain_frequency_hz = f0;
    s.frequencies_hz = freqs;
    for (const auto& v : values) s.normalized.push_back(s.gain != 0 ? v / s.gain : v);
    return s;
  };
  const auto gain = [&](std::string name, std::string description, std::string in, std::string out, double value) {
    ResponseStage s;
    s.name = std::move(name);
    s.description = std::move(description);
    s.input_units = std::move(in);
    s.output_units = std::move(out);
    s.gain = value;
    s.gain_frequency_hz = f0;
    return s;
  };

  if (component.magnetic) {
    const std::string source = response_.SensorSource(index);
    if (source.rfind("nominal", 0) == 0)
      stages.push_back(gain("sensor", "induction coil, " + source, "nT", "V", sensor[at0].real()));
    else
      stages.push_back(list("sensor", "induction coil, " + source, "nT", "V", sensor));
    channel.sensor_description = "induction coil, " + source;
  } else {
    const double length = dipole_m_[static_cast<std::size_t>(index)];
    if (!(length > 0))
      throw ToolError(recording_.base() + ".TBL: no dipole length for " + component.name + " on channel " +
                      std::to_string(component.channel));
    // A field of 1 mV/km over L metres gives L microvolts.
    stages.push_back(gain("electrode line", "dipole of " + std::to_string(length) + " m", "mV/km", "V", length * 1e-6));
    channel.sensor_description = "electrode line, dipole length " + std::to_string(length) + " m";
  }
  stages.push_back(list("box", "analog front end and decimation filters, " + response_.box_path(), "V", "V", box));
  ResponseStage digitiser = gain("digitiser", "24-bit converter, full scale " + std::to_string(full_scale_v_) + " V",
                                 "V", "count", kCountsPerFullScale / full_scale_v_);
  digitiser.digital = true;
  digitiser.sample_rate_hz = rate_hz;
  digitiser.delay_s = delay_s;
  stages.push_back(digitiser);

  double sensitivity = 1;
  for (const ResponseStage& s : stages) sensitivity *= s.gain;
  channel.stages = std::move(stages);
  channel.sensitivity = sensitivity;
  channel.sensitivity_frequency_hz = f0;
  // Serials from the table, "HSNX" ... (12 characters of text).
  static const char* const kSerials[] = {"HSNX", "HSNY", "HSNZ"};
  if (component.magnetic) {
    const int axis = component.axis == 'x' ? 0 : component.axis == 'y' ? 1 : 2;
    char text[17] = {};
    if (ReadPrmHT(recording_.get(), kSerials[axis], OLMTS_TYPE_TEXT16, text) == OLMTS_OK)
      channel.sensor_serial = std::string(text, strnlen(text, 16));
  }
}

}  // namespace olmts::exporting
