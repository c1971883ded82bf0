#include "response/sensor_response.h"

#include <array>
#include <cmath>
#include <string_view>

#include "common/text.h"

namespace olmtsfil {

namespace {

constexpr int32_t kInt = static_cast<int32_t>(ValueType::kInt32);
constexpr int32_t kDouble = static_cast<int32_t>(ValueType::kDouble);
constexpr int32_t kText = static_cast<int32_t>(ValueType::kText16);

// Delay of the board's converter, in radians per Hz.
constexpr double kBoardPhasePerHz = 5.235987750000114e-05;

// A start record carries the lead signal of the calibration run; records before
// it hold no measurement.
constexpr double kLeadThreshold = 0.001;

}  // namespace

Status FindSensorRecordPair(Calibration& cal, double freq_hz, int* lo_out, int* hi_out) {
  const int count = cal.record_count;
  auto f = [&](int k) { return static_cast<double>(cal.Frequency(k)); };
  int lo = 0;
  int hi = 1;
  if (count > 1) {
    while (hi < count && f(lo) == 0.0) {
      ++lo;
      ++hi;
    }
  }
  while (hi < count) {
    const Calibration::ChannelBlock lead = cal.Block(lo, 0);
    if (cal.Sequence(lo) == 1 && ComplexAbs(ComplexFromFloats(lead.lead_pair)) > kLeadThreshold) break;
    ++lo;
    ++hi;
  }
  // Records that step back in frequency (a new table starting lower) are passed
  // over: lo only ever moves up in frequency.
  int previous = lo;
  while (hi < count && f(hi) < freq_hz) {
    if (f(hi) >= f(lo)) {
      previous = lo;
      lo = hi;
    }
    ++hi;
  }
  Status status = Status::kOk;
  if (hi >= count) {
    // Above the last record: extrapolate over at most 0.6 of the last step.
    hi = count - 1;
    lo = previous;
    if (!(freq_hz - f(hi) < 0.6 * (f(hi) - f(lo)))) status = Status::kOutOfCalRange;
  }
  // A NaN stops the walk at once and would otherwise pass as lying inside.
  if (!std::isfinite(freq_hz)) status = Status::kOutOfCalRange;
  cal.record_cursor = hi;
  *lo_out = lo;
  *hi_out = hi;
  return status;
}

Status ApplyBoardCorrection(const Calibration& cal, double freq_hz, Complex* resp, double* resp_aux) {
  const double phase = kBoardPhasePerHz * freq_hz;
  *resp = ComplexMul(*resp, Complex{std::cos(phase), std::sin(phase)});
  int32_t mains_hz = 0;
  if (cal.ReadParameter("LFRQ", kInt, &mains_hz) != Status::kOk) {
    *resp_aux = -1.0;
    return Status::kNoResponse;
  }
  Complex g = ComplexRecip(Complex{1.0, freq_hz / 120000.0});
  if (mains_hz == 60) {
    const Complex r = ComplexRecip(Complex{1.0, 3.0 * freq_hz / 31831.0});
    Complex a = ComplexScale(r, 0.75);
    a.re += 0.25;
    g = ComplexMul(a, g);
  }
  *resp = ComplexMul(*resp, g);
  *resp_aux = *resp_aux * ComplexAbs(g);
  if (*resp_aux < 0.0) *resp_aux = -1.0;
  return Status::kOk;
}

Status CalcSensorResp(Calibration* cal, const ParameterTable* table, double freq_hz, Complex* resp, double* resp_aux) {
  if (cal == nullptr) return Status::kNullCalHandle;

  double second_corner = 0.0;  // "CPHC" is optional
  cal->ReadParameter("CPHC", kDouble, &second_corner);
  char version[16] = {};
  cal->ReadParameter("VER", kText, version);
  UpperCaseInPlace(version, sizeof version);
  const std::string_view ver = FieldText(version, sizeof version);
  const bool board_flag = ver.starts_with("4270A") || ver.starts_with("4270BX");

  int32_t kind = 0;
  if (Status s = cal->ReadParameter("CTYP", kInt, &kind); s != Status::kOk) return s;
  double cal_nominal = 0.0;
  if (Status s = cal->ReadParameter("HNOM", kDouble, &cal_nominal); s != Status::kOk) return s;
  double table_nominal = 0.0;
  if (kind == 2 || kind == 3) {
    if (table == nullptr) return Status::kNullHandle;
    if (Status s = table->ReadDouble(kind == 2 ? "HNOM" : "CNOM", &table_nominal); s != Status::kOk) return s;
  }
  const double ratio = table_nominal != 0.0 ? cal_nominal / table_nominal : 1.0;

  int lo = 0;
  int hi = 0;
  if (Status s = FindSensorRecordPair(*cal, freq_hz, &lo, &hi); s != Status::kOk) return s;

  const double f0 = static_cast<double>(cal->Frequency(lo));
  const double f1 = static_cast<double>(cal->Frequency(hi));
  const double d = f1 - f0;
  const double t = d != 0.0 ? (freq_hz - f0) / d : 0.0;
  const double w = t < 0.0 ? 0.0 : (t > 1.0 ? 1.0 : t);

  const int channels = cal->ChannelCount();
  std::array<Complex, Calibration::kMaxChannels> out{};
  std::array<double, Calibration::kMaxChannels> aux{};
  bool any_negative = false;
  for (int i = 0; i < channels; ++i) {
    const Calibration::ChannelBlock b0 = cal->Block(lo, i);
    const Calibration::ChannelBlock b1 = cal->Block(hi, i);
    const Complex q0 = ComplexFromFloats(b0.response);
    const Complex q1 = ComplexFromFloats(b1.response);
    // The complex value follows the straight line through the pair also outside
    // it; the companion value stays at the nearer record.
    Complex r = ComplexAdd(ComplexScale(q0, 1.0 - t), ComplexScale(q1, t));
    double a = static_cast<double>(b0.scalar) * (1.0 - w) + static_cast<double>(b1.scalar) * w;
    // Below the first record of a steeply rising response a coil is proportional
    // to frequency; the straight line would cross zero instead.
    if (t < 0.0 && f0 > 0.0 && ComplexAbs(q1) > 2.0 * ComplexAbs(q0)) r = ComplexScale(q0, freq_hz / f0);
    r = ComplexScale(r, ratio);
    a = a * ratio;
    Complex h1;
    FirstOrderHighPass(freq_hz, static_cast<double>(b1.corner_frequency), &h1);
    r = ComplexMul(h1, r);
    a = a * ComplexAbs(h1);
    if (!(a < 0.0) && second_corner > 0.0) {
      Complex h2;
      FirstOrderHighPass(freq_hz, second_corner, &h2);
      r = ComplexMul(h2, r);
      a = a * ComplexAbs(h2);
    }
    if (board_flag && !(a < 0.0)) ApplyBoardCorrection(*cal, freq_hz, &r, &a);
    out[static_cast<std::size_t>(i)] = r;
    aux[static_cast<std::size_t>(i)] = a;
    if (a < 0.0) any_negative = true;
  }
  for (int i = 0; i < channels; ++i) {
    if (resp != nullptr) resp[i] = out[static_cast<std::size_t>(i)];
    if (resp_aux != nullptr) resp_aux[i] = aux[static_cast<std::size_t>(i)];
  }
  return any_negative ? Status::kNoResponse : Status::kOk;
}

}  // namespace olmtsfil
