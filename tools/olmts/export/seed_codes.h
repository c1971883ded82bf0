// SEED identifiers of exported channels: band code from the sample rate,
// instrument code from the kind of field, orientation from the component and its
// azimuth; and the network, station and location codes a user may give.
#pragma once

#include <optional>
#include <string>

namespace olmts::exporting {

// What a recorded component is, as the table describes it.
struct Component {
  std::string name;  // "Ex" ... "Hz"
  int channel = 0;   // channel number 1 ... 12
  bool magnetic = false;
  char axis = 'x';         // 'x', 'y' or 'z'
  double azimuth_deg = 0;  // clockwise from north
  double dip_deg = 0;      // down from horizontal
  bool azimuth_from_table = false;
};

// Band code of a sample rate, for sensors with a long corner period as MT sensors
// are (the broadband column of the SEED band codes). 0 for a rate that is not
// positive and finite.
char BandCode(double rate_hz);

// Orientation code: N, E, Z for components along north, east and down; 1, 2, 3
// for components whose azimuth from the table is more than 5 degrees from north
// or east.
char OrientationCode(const Component& component);

// "LQN", "HFZ", ...: band, instrument (Q electric, F magnetic), orientation.
std::string ChannelCode(double rate_hz, const Component& component);

// The default station code from a site name: its letters and digits, upper
// case, the first five. Empty when the name has none.
std::string StationFromSite(const std::string& site);

// nullopt when the code is valid, else why it is not. Network: 1-2, station:
// 1-5, location: 0-2 characters A-Z and 0-9.
std::optional<std::string> CheckCode(const std::string& code, const char* what, std::size_t min_length,
                                     std::size_t max_length);

}  // namespace olmts::exporting
