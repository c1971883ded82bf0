#include "table/nominal_gain.h"

#include "common/text.h"
#include "table/components.h"

namespace olmtsfil {

namespace {

Status ReadInt(const ParameterTable* table, std::string_view name, int32_t* out) {
  return table == nullptr ? Status::kNullHandle : table->ReadInt(name, out);
}
Status ReadDouble(const ParameterTable* table, std::string_view name, double* out) {
  return table == nullptr ? Status::kNullHandle : table->ReadDouble(name, out);
}

// Channel numbers of the six components; 0 means not recorded.
struct Channels {
  int32_t ex = 0, ey = 0, ez = 0, hx = 0, hy = 0, hz = 0;
  bool AnyElectric() const { return ex != 0 || ey != 0 || ez != 0; }
  bool AnyMagnetic() const { return hx != 0 || hy != 0 || hz != 0; }
};

// Reads stop at the first failure. A recording without a vertical electric
// component often has no "CHEZ" at all, so its absence is no failure.
Status ReadChannels(const ParameterTable* table, Channels& ch) {
  struct Item {
    const char* name;
    int32_t* number;
    bool counts;
  };
  const Item items[] = {
      {kComponentNames[kEx].parameter, &ch.ex, true},  {kComponentNames[kEy].parameter, &ch.ey, true},
      {kComponentNames[kEz].parameter, &ch.ez, false}, {kComponentNames[kHx].parameter, &ch.hx, true},
      {kComponentNames[kHy].parameter, &ch.hy, true},  {kComponentNames[kHz].parameter, &ch.hz, true}};
  Status status = Status::kOk;
  for (const Item& item : items) {
    if (status != Status::kOk) break;
    Status s = ReadInt(table, item.name, item.number);
    if (s != Status::kOk && item.counts) status = s;
    if (*item.number < 0 || *item.number > 12) *item.number = 0;
  }
  return status;
}

// A negative gain code -g stands for the attenuation 1/g.
double GainOfCode(int32_t code) { return code >= 0 ? static_cast<double>(code) : -1.0 / code; }

void SetGain(ChannelGains& gains, int32_t channel, double value) {
  if (channel != 0) gains[static_cast<std::size_t>(channel - 1)] = value;
}

}  // namespace

Status BoxNominalGains(const ParameterTable* table, ChannelGains& gains) {
  gains.fill(0.0);
  Channels ch;
  Status status = ReadChannels(table, ch);

  double full_scale = 0.0;
  ReadDouble(table, "FSCV", &full_scale);  // optional: the recorder's usual full scale
  if (full_scale == 0.0) full_scale = 6.4;

  double electric_gain = 0.0;
  if (status == Status::kOk && ch.AnyElectric()) {
    int32_t code = 0;
    status = ReadInt(table, "EGN", &code);
    if (status == Status::kOk) electric_gain = GainOfCode(code);
  }
  if (status == Status::kOk) {
    for (int32_t n : {ch.ex, ch.ey, ch.ez}) SetGain(gains, n, electric_gain / full_scale);
  }

  double magnetic_gain = 0.0;
  double attenuation = 0.0;
  int32_t magnetic_code = 0;
  if (status == Status::kOk && ch.AnyMagnetic()) {
    status = ReadInt(table, "HGN", &magnetic_code);
    if (status == Status::kOk) {
      magnetic_gain = GainOfCode(magnetic_code);
      status = ReadDouble(table, "HATT", &attenuation);
    }
  }
  if (status == Status::kOk) {
    for (int32_t n : {ch.hx, ch.hy, ch.hz}) SetGain(gains, n, magnetic_gain * attenuation / full_scale);
  }
  // Gain code 6 of the magnetic amplifier falls short of its nominal value.
  if (status == Status::kOk && magnetic_code == 6) {
    for (int32_t n : {ch.hx, ch.hy, ch.hz})
      if (n != 0) gains[static_cast<std::size_t>(n - 1)] *= 0.935;
  }
  return status;
}

Status SensorNominalGains(const ParameterTable* table, ChannelGains& gains) {
  gains.fill(0.0);
  char hw[16] = {};
  if (table != nullptr) table->ReadText("HW", hw);
  UpperCaseInPlace(hw, sizeof hw);
  const std::string_view hardware = FieldText(hw, sizeof hw);
  // Recorders of this family carry one induction coil whose nominal value the
  // table gives as "CNOM", on the channel of "CHHX" only.
  const bool coil_family = Contains(hardware, "RJ") || Contains(hardware, "PXR");

  Channels ch;
  Status status = ReadChannels(table, ch);

  struct Electric {
    int32_t channel;
    const char* length;
  };
  for (const Electric& e : {Electric{ch.ex, "EXLN"}, Electric{ch.ey, "EYLN"}}) {
    if (status != Status::kOk || e.channel == 0) continue;
    double value = 0.0;
    status = ReadDouble(table, e.length, &value);
    if (status == Status::kOk) SetGain(gains, e.channel, value);
  }
  if (status == Status::kOk && ch.ez != 0) {
    double value = 0.0;
    ReadDouble(table, "EZLN", &value);  // optional: 0.0 when the vertical line is not described
    SetGain(gains, ch.ez, value);
  }

  if (!coil_family) {
    if (status == Status::kOk && ch.AnyMagnetic()) {
      double nominal = 0.0;
      status = ReadDouble(table, "HNOM", &nominal);
      if (status == Status::kOk) {
        for (int32_t n : {ch.hx, ch.hy, ch.hz}) SetGain(gains, n, nominal * 1000000.0);
      }
    }
  } else if (status == Status::kOk && ch.hx != 0) {
    double nominal = 0.0;
    status = ReadDouble(table, "CNOM", &nominal);
    if (status == Status::kOk) SetGain(gains, ch.hx, nominal * 0.001);
  }
  return status;
}

}  // namespace olmtsfil
