// Nominal gains per channel number from a recording's table alone: the recorder
// box's gain and the nominal sensitivity of the sensor on each channel.
#pragma once

#include <array>

#include "common/status.h"
#include "table/parameter_table.h"

namespace olmtsfil {

// Element n - 1 belongs to channel number n; channels that no component names
// stay 0.0.
using ChannelGains = std::array<double, 12>;

// Both clear all 12 gains first and return the first failed read among those that
// count (a null table counts as kNullHandle there). Gains written before a
// failure stay in place.
Status BoxNominalGains(const ParameterTable* table, ChannelGains& gains);
Status SensorNominalGains(const ParameterTable* table, ChannelGains& gains);

}  // namespace olmtsfil
