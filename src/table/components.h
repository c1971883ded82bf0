// The field components a recording can carry, by the table parameter that
// holds each one's channel number, with the name users know it by. One list for
// the library and its clients, so that a channel is called the same everywhere.
#pragma once

namespace olmtsfil {

struct ComponentName {
  const char* parameter;  // table parameter holding the component's channel number (0: not recorded)
  const char* name;       // "Ex" ... "Hz"
  bool magnetic;
};

inline constexpr ComponentName kComponentNames[6] = {
    {"CHEX", "Ex", false}, {"CHEY", "Ey", false}, {"CHEZ", "Ez", false},
    {"CHHX", "Hx", true},  {"CHHY", "Hy", true},  {"CHHZ", "Hz", true},
};

}  // namespace olmtsfil
