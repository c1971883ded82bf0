#include "units/chain.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "table/components.h"

namespace olmtsfil::units {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kCountsFullScale = 8388608.0;  // 2^23: a fraction of 1.0 is 2^23 counts
constexpr double kDefaultFullScaleVolts = 6.4;  // the library's own default for "FSCV"

std::string Text16(const char* raw) {
  std::string s(raw, strnlen(raw, 16));
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  std::size_t first = s.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : s.substr(first);
}

std::string Upper(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

// Every stage kind has one name and one pair of units: a channel's chain runs
// from its physical units through the box's volts to the digitiser's counts.
struct StageKind {
  int32_t kind;
  const char* name;
  const char* input_units;
  const char* output_units;
};
constexpr StageKind kStageKinds[] = {
    {OLMTS_STAGE_DIPOLE, "dipole", "mV/km", "V"},
    {OLMTS_STAGE_SENSOR, "sensor", "nT", "V"},
    {OLMTS_STAGE_BOX, "box", "V", "V"},
    {OLMTS_STAGE_DIGITISER, "digitiser", "V", "counts"},
};

Stage StageOf(int32_t kind) {
  Stage s;
  for (const StageKind& k : kStageKinds) {
    if (k.kind != kind) continue;
    s.kind = k.kind;
    s.name = k.name;
    s.input_units = k.input_units;
    s.output_units = k.output_units;
  }
  return s;
}

bool ReadTableText(TsHandle* ts, const char* name, std::string* out) {
  char raw[17] = {};
  if (ReadPrmHT(ts, name, OLMTS_TYPE_TEXT16, raw) != OLMTS_OK) return false;
  *out = Text16(raw);
  return true;
}

bool ReadTableDouble(TsHandle* ts, const char* name, double* out) {
  return ReadPrmHT(ts, name, OLMTS_TYPE_DOUBLE, out) == OLMTS_OK;
}

// The serial of the box that wrote the stream's records, from the tag of the
// next record or else of the last one read. False when the stream has none.
bool RecordSerial(TsHandle* ts, int32_t stream, int32_t* serial) {
  for (int32_t which : {1, 0}) {
    int32_t v = 0;
    if (ReadTagHT(ts, stream, which, "SNUM", OLMTS_TYPE_INT32, &v) == OLMTS_OK) {
      *serial = v;
      return true;
    }
  }
  return false;
}

bool Outside(const FrequencyRange& r, double f) {
  if (r.low <= 0 && r.high <= 0) return false;
  return f < r.low || f > r.high;
}

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

double DefaultGainFrequency(double rate_hz) {
  // Far below the decimation filters' edge, where their compensation of the
  // converter's sinc droop is flattest, and above the front end's coupling
  // high-passes for every stream rate the recorder has.
  return rate_hz / 100.0;
}

int32_t Chain::Build(const ChainInputs& in) {
  ts_ = in.ts;
  box_ = in.box;
  stream_ = in.stream;
  if (ts_ == nullptr) return OLMTS_NULL_HANDLE;
  if (box_ == nullptr) return OLMTS_NULL_CAL_HANDLE;
  if (in.stream < 1 || in.stream > 5) return OLMTS_BAD_STREAM;
  if (int32_t st = GetSampleRateHzHT(ts_, stream_, &rate_); st != OLMTS_OK) return st;
  if (!(rate_ > 0)) return OLMTS_BAD_STREAM;
  if (int32_t st = GetAcqDelayHT(ts_, stream_, &delay_samples_); st != OLMTS_OK) return st;
  gain_frequency_ = in.gain_frequency_hz > 0 ? in.gain_frequency_hz : DefaultGainFrequency(rate_);
  if (!std::isfinite(gain_frequency_)) return OLMTS_BAD_ARGUMENT;

  int32_t count = 0;
  GetNumChnHT(ts_, &count);
  if (count < 1 || count > 12) return OLMTS_CHANNEL_COUNT_MISMATCH;
  int32_t box_channels = 0;
  if (int32_t st = ReadCalPrmHT(box_, "NCHN", OLMTS_TYPE_INT32, &box_channels); st != OLMTS_OK) return st;
  if (box_channels != count) return OLMTS_CHANNEL_COUNT_MISMATCH;

  // Which box this calibration was measured on, against the box that recorded.
  int32_t box_serial = 0;
  ReadCalPrmHT(box_, "SNUM", OLMTS_TYPE_INT32, &box_serial);
  int32_t record_serial = 0;
  int32_t box_flags = 0;
  std::string box_source = "calibration SNUM " + std::to_string(box_serial);
  if (RecordSerial(ts_, stream_, &record_serial)) {
    if (record_serial != box_serial) {
      if ((in.options & OLMTS_CHAIN_FORCE_BOX) == 0) return OLMTS_BOX_SERIAL_MISMATCH;
      box_flags |= OLMTS_STAGE_BOX_FORCED;
      box_source += " (records SNUM " + std::to_string(record_serial) + ")";
    }
  } else {
    box_source += " (records carry no SNUM to compare)";
  }

  double full_scale = 0;
  int32_t digitiser_flags = 0;
  std::string digitiser_source = "table FSCV";
  if (!ReadTableDouble(ts_, "FSCV", &full_scale) || full_scale == 0.0) {
    full_scale = kDefaultFullScaleVolts;
    digitiser_flags |= OLMTS_STAGE_ASSUMED;
    digitiser_source = "FSCV missing: 6.4 V assumed";
  }
  digitiser_source += Format(", %g V full scale", full_scale);

  // The table's nominal magnetic sensor value, in the calibrations' V/nT: "CNOM"
  // for the sensor family of "RJ"/"PXR" hardware, "HNOM" for all others.
  std::string hw;
  ReadTableText(ts_, "HW", &hw);
  hw = Upper(hw);
  const char* nominal_name =
      hw.find("RJ") != std::string::npos || hw.find("PXR") != std::string::npos ? "CNOM" : "HNOM";
  double nominal = 0;
  const bool have_nominal = ReadTableDouble(ts_, nominal_name, &nominal);

  channels_.assign(static_cast<std::size_t>(count), ChannelChain{});
  std::vector<const ComponentName*> component_of(static_cast<std::size_t>(count), nullptr);
  for (const ComponentName& comp : kComponentNames) {
    int32_t n = 0;
    if (ReadPrmHT(ts_, comp.parameter, OLMTS_TYPE_INT32, &n) != OLMTS_OK || n < 1 || n > count) continue;
    if (component_of[static_cast<std::size_t>(n - 1)] == nullptr) component_of[static_cast<std::size_t>(n - 1)] = &comp;
  }

  for (int c = 0; c < count; ++c) {
    ChannelChain& ch = channels_[static_cast<std::size_t>(c)];
    const ComponentName* comp = component_of[static_cast<std::size_t>(c)];
    ch.component = comp != nullptr ? comp->name : "";
    if (comp == nullptr) {
      ch.units = "V";  // nothing says what feeds this channel: the box input
    } else if (!comp->magnetic) {
      ch.units = "mV/km";
      Stage s = StageOf(OLMTS_STAGE_DIPOLE);
      double length = 0;
      if (!ReadTableDouble(ts_, comp->length, &length) || !(length > 0) || !std::isfinite(length)) {
        s.flags |= OLMTS_STAGE_UNUSABLE;
        length = 0;
        s.source = std::string("table ") + comp->length + " missing or not positive";
      } else {
        s.source = std::string("table ") + comp->length + Format(" = %g m", length);
      }
      s.constant = length * 1e-6;  // 1 mV/km over L metres gives L x 1e-6 V
      ch.stages.push_back(s);
    } else {
      ch.units = "nT";
      Stage s = StageOf(OLMTS_STAGE_SENSOR);
      CalHandle* cal = in.sensors[c];
      if (cal != nullptr) {
        s.eval = Stage::Eval::kSensor;
        s.cal = cal;
        s.block = in.blocks[c];
        int32_t blocks = 0;
        if (int32_t st = ReadCalPrmHT(cal, "NCHN", OLMTS_TYPE_INT32, &blocks); st != OLMTS_OK) return st;
        if (s.block < 0 || s.block >= blocks) return OLMTS_BAD_ARGUMENT;
        s.range = in.sensor_ranges[c];
        int32_t snum = 0;
        ReadCalPrmHT(cal, "SNUM", OLMTS_TYPE_INT32, &snum);
        char raw[17] = {};
        std::string hsn;
        if (ReadCalPrmHT(cal, "HSN", OLMTS_TYPE_TEXT16, raw) == OLMTS_OK) hsn = Text16(raw);
        s.serial = hsn.empty() ? std::to_string(snum) : hsn;
        s.source = "calibration SNUM " + std::to_string(snum) + (hsn.empty() ? "" : " HSN " + hsn) + " block " +
                   std::to_string(s.block + 1);
        std::string named;
        if (ReadTableText(ts_, comp->serial, &named) && !named.empty() && !hsn.empty() && Upper(named) != Upper(hsn)) {
          s.flags |= OLMTS_STAGE_SERIAL_MISMATCH;
          s.source += std::string(", table ") + comp->serial + " names " + named;
        }
      } else {
        if ((in.options & OLMTS_CHAIN_REQUIRE_SENSORS) != 0) return OLMTS_SENSOR_REQUIRED;
        s.flags |= OLMTS_STAGE_TABLE_NOMINAL;
        if (!have_nominal || !(nominal > 0) || !std::isfinite(nominal)) {
          s.flags |= OLMTS_STAGE_UNUSABLE;
          nominal = have_nominal ? nominal : 0;
          s.source = std::string("no sensor calibration; table ") + nominal_name + " missing or not positive";
          s.constant = 0;
        } else {
          s.constant = nominal;
          s.source =
              std::string("no sensor calibration: table ") + nominal_name + Format(" = %g V/nT (nominal)", nominal);
        }
      }
      ch.stages.push_back(s);
    }
    Stage box = StageOf(OLMTS_STAGE_BOX);
    box.eval = Stage::Eval::kBox;
    box.flags = box_flags;
    box.source = box_source + " channel " + std::to_string(c + 1);
    box.serial = std::to_string(box_serial);
    box.range = in.box_range;
    ch.stages.push_back(box);
    Stage dig = StageOf(OLMTS_STAGE_DIGITISER);
    dig.flags = digitiser_flags;
    dig.constant = kCountsFullScale / full_scale;
    dig.source = digitiser_source;
    ch.stages.push_back(dig);
  }
  return OLMTS_OK;
}

int32_t Chain::BoxResponses(double f, std::complex<double>* out, int32_t* channel_status) const {
  Complex resp[12] = {};
  double aux[12] = {};
  const int32_t st = CalcBoxRespHT(box_, ts_, stream_, f, resp, aux);
  if (st != OLMTS_OK && st != OLMTS_NO_RESPONSE) return st;
  // The library's box response carries the linear phase of the delay; the chain
  // keeps the delay as a time shift instead.
  const std::complex<double> undelay = std::polar(1.0, 2 * kPi * f * delay_seconds());
  for (int c = 0; c < channels(); ++c) {
    // An unusable channel stops the library part way: trust none then.
    const bool usable = st == OLMTS_OK;
    out[c] = usable ? std::complex<double>(resp[c].re, resp[c].im) * undelay : 0.0;
    channel_status[c] = usable ? OLMTS_OK : OLMTS_NO_RESPONSE;
  }
  return st;
}

int32_t Chain::SensorResponse(const Stage& s, double f, std::complex<double>* out) const {
  Complex resp[12] = {};
  double aux[12] = {};
  const int32_t st = CalcSensorRespHT(s.cal, ts_, f, resp, aux);
  if (st != OLMTS_OK && st != OLMTS_NO_RESPONSE) return st;
  if (aux[s.block] < 0) return OLMTS_NO_RESPONSE;
  *out = {resp[s.block].re, resp[s.block].im};
  return OLMTS_OK;
}

int32_t Chain::Response(int c, int stage, double f, std::complex<double>* out, bool* outside) const {
  const ChannelChain& ch = channels_[static_cast<std::size_t>(c)];
  *outside = false;
  if (stage >= 0) {
    const Stage& s = ch.stages[static_cast<std::size_t>(stage)];
    *outside = Outside(s.range, f);
    switch (s.eval) {
      case Stage::Eval::kConstant:
        *out = s.constant;
        return (s.flags & OLMTS_STAGE_UNUSABLE) != 0 ? OLMTS_NO_RESPONSE : OLMTS_OK;
      case Stage::Eval::kSensor:
        return SensorResponse(s, f, out);
      case Stage::Eval::kBox: {
        std::complex<double> all[12];
        int32_t status[12];
        const int32_t st = BoxResponses(f, all, status);
        if (st != OLMTS_OK) return st;
        *out = all[c];
        return OLMTS_OK;
      }
    }
    return OLMTS_BAD_ARGUMENT;
  }
  std::complex<double> total = 1.0;
  for (int k = 0; k < static_cast<int>(ch.stages.size()); ++k) {
    std::complex<double> v;
    bool o = false;
    if (int32_t st = Response(c, k, f, &v, &o); st != OLMTS_OK) return st;
    *outside = *outside || o;
    total *= v;
  }
  *out = total;
  return OLMTS_OK;
}

int32_t Chain::TotalResponses(double f, std::complex<double>* out) const {
  std::complex<double> box[12];
  int32_t box_status[12];
  if (int32_t st = BoxResponses(f, box, box_status); st != OLMTS_OK && st != OLMTS_NO_RESPONSE) return st;
  for (int c = 0; c < channels(); ++c) {
    std::complex<double> total = box_status[c] == OLMTS_OK ? box[c] : 0.0;
    for (const Stage& s : channels_[static_cast<std::size_t>(c)].stages) {
      if (s.eval == Stage::Eval::kConstant) {
        total *= (s.flags & OLMTS_STAGE_UNUSABLE) != 0 ? 0.0 : s.constant;
      } else if (s.eval == Stage::Eval::kSensor) {
        std::complex<double> v;
        total *= SensorResponse(s, f, &v) == OLMTS_OK ? v : 0.0;
      }
    }
    out[c] = total;
  }
  return OLMTS_OK;
}

double Chain::Gain(int c, int stage) const {
  std::complex<double> v;
  bool outside = false;
  if (Response(c, stage, gain_frequency_, &v, &outside) != OLMTS_OK) return 0.0;
  return std::abs(v);
}

}  // namespace olmtsfil::units
