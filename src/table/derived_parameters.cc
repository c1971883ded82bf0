#include "table/derived_parameters.h"

#include "table/components.h"

#include "common/text.h"

namespace olmtsfil {
namespace {

// Samples per minute of the minute-based rate codes 0 ... 6.
constexpr int kSamplesPerMinute[7] = {1440, 720, 480, 240, 180, 120, 60};

}  // namespace

int32_t CountChannels(const ParameterTable& table) {
  int32_t count = 0;
  for (const ComponentName& component : kComponentNames) {
    int32_t channel = 0;
    table.ReadInt(component.parameter, &channel);
    if (channel != 0) ++count;
  }
  return count;
}

Status SampleRateHz(const ParameterTable& table, int32_t stream, double* rate_hz) {
  *rate_hz = 0.0;
  char version[16];
  if (Status s = table.ReadText("VER", version); s != Status::kOk) return s;
  // The search is case-sensitive, over the whole 16-byte text.
  if (Contains(FieldText(version, sizeof version), "4264")) {
    static constexpr const char* kNames[3] = {"SRW1", "SRW2", "SRW3"};
    if (stream < 1 || stream > 3) return Status::kBadStream;
    int32_t code = 0;
    if (Status s = table.ReadInt(kNames[stream - 1], &code); s != Status::kOk) return s;
    if (code < 0 || code > 6) return Status::kBadRateCode;
    *rate_hz = kSamplesPerMinute[code] / 60.0;
    return Status::kOk;
  }
  static constexpr const char* kNames[6] = {"SRL0", "SRL1", "SRL2", "SRL3", "SRL4", "SRL5"};
  if (stream < 0 || stream > 5) return Status::kBadStream;
  int32_t rate = 0;
  if (Status s = table.ReadInt(kNames[stream], &rate); s != Status::kOk) return s;
  *rate_hz = rate / 1.0;
  return Status::kOk;
}

}  // namespace olmtsfil
