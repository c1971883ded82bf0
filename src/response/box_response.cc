#include "response/box_response.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "common/text.h"
#include "filters/decimation.h"
#include "response/front_end_eval.h"
#include "table/components.h"
#include "table/derived_parameters.h"

namespace olmtsfil {
namespace {

constexpr int kChannels = FrontEndModel::kMaxChannels;
constexpr std::size_t kText = 16;

// The six field components' channel parameters, in the order the settings are applied.
constexpr const char* kChannelNames[kComponentCount] = {kComponentNames[kEx].parameter, kComponentNames[kEy].parameter,
                                                        kComponentNames[kEz].parameter, kComponentNames[kHx].parameter,
                                                        kComponentNames[kHy].parameter, kComponentNames[kHz].parameter};

bool IsFinite(Complex z) { return std::isfinite(z.re) && std::isfinite(z.im); }

// A channel whose value overflowed or lost its meaning is reported unusable
// rather than handed out as a NaN.
bool MarkIfNotFinite(Complex& resp, double& aux) {
  if (IsFinite(resp) && !std::isnan(aux)) return false;
  resp = Complex{0.0, 0.0};
  aux = -1.0;
  return true;
}

// The upper-cased text of a 16-byte text parameter.
Status ReadUpperText(const ParameterTable& table, std::string_view name, char (&text)[kText]) {
  std::fill(std::begin(text), std::end(text), '\0');
  if (Status s = table.ReadText(name, text); s != Status::kOk) return s;
  UpperCaseInPlace(text, kText);
  return Status::kOk;
}

std::string_view TextOf(const char (&text)[kText]) { return FieldText(text, kText); }

// Reads integer parameters in order into `values` (each 0 unless read), stopping
// at the first failure unless that parameter is optional.
template <std::size_t N>
Status ReadIntegers(const ParameterTable& table, const char* const (&names)[N], int32_t (&values)[N],
                    std::string_view optional_a, std::string_view optional_b = {}) {
  for (std::size_t i = 0; i < N; ++i) values[i] = 0;
  for (std::size_t i = 0; i < N; ++i) {
    Status s = table.ReadInt(names[i], &values[i]);
    if (s == Status::kOk) continue;
    values[i] = 0;
    std::string_view name = names[i];
    if (name == optional_a || (!optional_b.empty() && name == optional_b)) continue;
    return s;
  }
  return Status::kOk;
}

// Channel numbers are 1 ... 12; anything else (0 for a component not recorded)
// assigns nothing.
bool ValidChannel(int32_t channel) { return channel >= 1 && channel <= kChannels; }

Status CalcBoxRespCircuit(Calibration& cal, const ParameterTable& table, double freq_hz, Complex* resp,
                          double* resp_aux) {
  char version[kText];
  if (Status s = ReadUpperText(table, "VER", version); s != Status::kOk) return s;

  static constexpr const char* kNames[14] = {kChannelNames[kEx],
                                             kChannelNames[kEy],
                                             kChannelNames[kEz],
                                             kChannelNames[kHx],
                                             kChannelNames[kHy],
                                             kChannelNames[kHz],
                                             "ACDC",
                                             "ACDH",
                                             "EGNC",
                                             "HGNC",
                                             "LPFR",
                                             "EXR",
                                             "EYR",
                                             "EZR"};
  int32_t v[14];
  if (Status s = ReadIntegers(table, kNames, v, "CHEZ", "EZR"); s != Status::kOk) return s;
  const int32_t acdc = v[6], acdh = v[7], egnc = v[8], hgnc = v[9], lpfr = v[10];
  const int32_t resistance[3] = {v[11], v[12], v[13]};

  // The 4270A0/4270A1 boards filter and terminate the horizontal magnetic inputs.
  const bool board = TextOf(version) == "4270A0" || TextOf(version) == "4270A1";

  FrontEndSettings settings;
  for (int component = kEx; component < kComponentCount; ++component) {
    const int32_t channel = v[component];
    if (!ValidChannel(channel)) continue;
    const auto c = static_cast<std::size_t>(channel - 1);
    const bool electric = component <= kEz;
    const bool horizontal_magnetic = component == kHx || component == kHy;
    settings.gain_code[c] = electric ? egnc : hgnc;
    settings.filter_code[c] = electric || (horizontal_magnetic && board) ? lpfr : 0;
    settings.coupling_code[c] = electric ? acdc : acdh;
    settings.input_resistance[c] =
        electric ? 0.5 * resistance[component] : (horizontal_magnetic && board ? 767.0 : 0.0);
    settings.input_capacitance[c] = 0.0;
  }

  const int nchn = cal.ChannelCount();
  if (Status s = EvalFrontEnd(freq_hz, settings, nchn, cal.model, resp); s != Status::kOk) return s;
  // A response that overflowed (far outside the calibrated band) is no response.
  for (int i = 0; i < nchn; ++i)
    if (!IsFinite(resp[i])) resp[i] = Complex{0.0, 0.0};
  for (int i = 0; i < nchn; ++i) {
    resp_aux[i] = 0.0;
    if (ComplexAbs(resp[i]) == 0.0) {
      resp_aux[i] = -1.0;
      return Status::kNoResponse;
    }
  }
  return Status::kOk;
}

Status CalcBoxRespTable(Calibration& cal, const ParameterTable& table, int32_t stream, double freq_hz, Complex* resp,
                        double* resp_aux) {
  char version[kText];
  if (Status s = ReadUpperText(table, "VER", version); s != Status::kOk) return s;
  // Boards "4264" keep a single calibration table, whatever the stream.
  const bool minute_board = Contains(TextOf(version), "4264");
  const int32_t key = minute_board ? cal.Key(0) : stream;

  std::array<int32_t, kChannels> coupling_code{};
  int32_t channels[kComponentCount];
  if (Status s = ReadIntegers(table, kChannelNames, channels, "CHEZ"); s != Status::kOk) return s;
  if (!minute_board) {
    static constexpr const char* kCouplingNames[2] = {"ACDC", "ACDH"};
    int32_t coupling[2];
    if (Status s = ReadIntegers(table, kCouplingNames, coupling, {}); s != Status::kOk) return s;
    for (int component = kEx; component < kComponentCount; ++component) {
      if (!ValidChannel(channels[component])) continue;
      coupling_code[static_cast<std::size_t>(channels[component] - 1)] = component <= kEz ? coupling[0] : coupling[1];
    }
  }

  int32_t upper = 0;
  if (Status s = FindBoxRecordPair(cal, key, freq_hz, &upper); s != Status::kOk) return s;
  const int32_t lower = upper - 1;
  const double f0 = static_cast<double>(cal.Frequency(lower));
  const double f1 = static_cast<double>(cal.Frequency(upper));
  const double d = f1 - f0;
  const double t = d != 0.0 ? (freq_hz - f0) / d : 0.0;
  const double w = std::clamp(t, 0.0, 1.0);

  bool unusable = false;
  const int nchn = cal.ChannelCount();
  for (int i = 0; i < nchn; ++i) {
    const Calibration::ChannelBlock b0 = cal.Block(lower, i);
    const Calibration::ChannelBlock b1 = cal.Block(upper, i);
    // The complex value follows the line through the pair beyond it; the scalar
    // takes the nearer record's value.
    resp[i] = ComplexAdd(ComplexScale(ComplexFromFloats(b0.response), 1.0 - t),
                         ComplexScale(ComplexFromFloats(b1.response), t));
    resp_aux[i] = static_cast<double>(b0.scalar) * (1.0 - w) + static_cast<double>(b1.scalar) * w;
    if (coupling_code[static_cast<std::size_t>(i)] != 0) {
      Complex h;
      FirstOrderHighPass(freq_hz, static_cast<double>(b1.corner_frequency), &h);
      resp[i] = ComplexMul(h, resp[i]);
      resp_aux[i] = resp_aux[i] * ComplexAbs(h);
    }
    MarkIfNotFinite(resp[i], resp_aux[i]);
    if (resp_aux[i] < 0.0) unusable = true;
  }
  return unusable ? Status::kNoResponse : Status::kOk;
}

}  // namespace

Status FindBoxRecordPair(Calibration& cal, int32_t key, double freq_hz, int32_t* upper) {
  const int32_t count = std::min(cal.record_count, static_cast<int32_t>(Calibration::kMaxRecords));
  // A pair needs two records; a single record would make the search look at the
  // one before record 0.
  if (count < 2) return Status::kOutOfCalRange;
  auto has_key = [&](int32_t k) { return static_cast<int32_t>(cal.Key(k)) == key; };
  auto f = [&](int32_t k) { return static_cast<double>(cal.Frequency(k)); };

  int32_t i = std::clamp(cal.record_cursor, 1, count - 1);
  Status status = Status::kOk;
  if (!has_key(i) || !has_key(i - 1)) {
    int32_t k = 0;
    while (k < count && !has_key(k)) ++k;
    if (k >= count - 1 || !has_key(k + 1)) return Status::kOutOfCalRange;
    i = k + 1;
  }
  if (f(i) < freq_hz) {
    while (i < count && has_key(i) && f(i) < freq_hz) ++i;
    // Stopped inside the block at a record at or above the frequency: found.
    // Otherwise the frequency lies above the block, whose last two records
    // extrapolate by less than 0.6 of their step.
    if (!(i < count && has_key(i))) {
      --i;
      if (!(freq_hz - f(i) < 0.6 * (f(i) - f(i - 1)))) status = Status::kOutOfCalRange;
    }
  } else {
    while (i > 1 && has_key(i - 2) && f(i - 1) > freq_hz) --i;
  }
  cal.record_cursor = i;
  if (status == Status::kOk) *upper = i;
  return status;
}

Status CalcBoxResp(Calibration& cal, const ParameterTable& table, int32_t stream, double freq_hz, Complex* resp,
                   double* resp_aux) {
  const int32_t n = CountChannels(table);
  if (n != cal.ChannelCount()) return Status::kChannelCountMismatch;
  // No calibration covers an infinite or undefined frequency.
  if (!std::isfinite(freq_hz)) return Status::kOutOfCalRange;

  char hardware[kText];
  if (Status s = ReadUpperText(table, "HW", hardware); s != Status::kOk) return s;
  const std::string_view hw = TextOf(hardware);
  const bool table_branch = Contains(hw, "OLM") && !Contains(hw, "A") && !Contains(hw, "PXR");
  Status branch = table_branch ? CalcBoxRespTable(cal, table, stream, freq_hz, resp, resp_aux)
                               : CalcBoxRespCircuit(cal, table, freq_hz, resp, resp_aux);
  if (branch != Status::kOk) return branch;

  int32_t tals = 0;
  if (Status s = table.ReadInt("TALS", &tals); s != Status::kOk) return s;
  int32_t lfrq = 0, tcmb = 0, k8sr = 0;
  if (table.ReadInt("LFRQ", &lfrq) != Status::kOk) lfrq = 0;
  if (table.ReadInt("TCMB", &tcmb) != Status::kOk) tcmb = 0;
  if (table.ReadInt("K8SR", &k8sr) != Status::kOk) k8sr = 0;

  double rate_hz = 0.0;
  if (Status s = SampleRateHz(table, stream, &rate_hz); s != Status::kOk) return s;
  Complex digital{0.0, 0.0};
  if (Status s = CalcDigitalResp(freq_hz, rate_hz, static_cast<int16_t>(stream), tcmb, tals, k8sr, lfrq, &digital);
      s != Status::kOk)
    return s;

  bool unusable = false;
  for (int i = 0; i < n; ++i) {
    if (!(resp_aux[i] < 0.0)) {
      resp[i] = ComplexMul(digital, resp[i]);
      resp_aux[i] = resp_aux[i] * ComplexAbs(digital);
      MarkIfNotFinite(resp[i], resp_aux[i]);
    }
    if (resp_aux[i] < 0.0) unusable = true;
  }
  return unusable ? Status::kNoResponse : Status::kOk;
}

}  // namespace olmtsfil
