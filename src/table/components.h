// The field components a recording can carry, by the table parameter that
// holds each one's channel number, with the name users know it by. One list for
// the library and its clients, so that a channel is called the same everywhere.
#pragma once

namespace olmtsfil {

struct ComponentName {
  const char* parameter;  // table parameter holding the component's channel number (0: not recorded)
  const char* name;       // "Ex" ... "Hz"
  bool magnetic;
  const char* length;   // table parameter of the dipole length in metres (electric components)
  const char* serial;   // table parameter of the sensor serial (magnetic components)
  const char* azimuth;  // table parameter of the azimuth in degrees east of north (horizontal components)
};

// Positions in kComponentNames.
enum ComponentIndex { kEx, kEy, kEz, kHx, kHy, kHz, kComponentCount };

inline constexpr ComponentName kComponentNames[kComponentCount] = {
    {"CHEX", "Ex", false, "EXLN", nullptr, "EXAZ"},  {"CHEY", "Ey", false, "EYLN", nullptr, "EYAZ"},
    {"CHEZ", "Ez", false, "EZLN", nullptr, nullptr}, {"CHHX", "Hx", true, nullptr, "HSNX", "HXAZ"},
    {"CHHY", "Hy", true, nullptr, "HSNY", "HYAZ"},   {"CHHZ", "Hz", true, nullptr, "HSNZ", nullptr},
};

}  // namespace olmtsfil
