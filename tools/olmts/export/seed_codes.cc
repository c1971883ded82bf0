#include "olmts/export/seed_codes.h"

#include <cctype>
#include <cmath>

namespace olmts::exporting {

char BandCode(double rate_hz) {
  if (!(rate_hz > 0) || !std::isfinite(rate_hz)) return 0;
  struct Band {
    double from_hz;  // lowest rate of the band, inclusive
    char code;
  };
  // Between the nominal "about 1 Hz", "about 0.1 Hz" ... bands the lower one
  // takes the rates up to its nominal value, so that every rate has one code.
  static const Band kBands[] = {{5000, 'J'},      {1000, 'F'},      {250, 'C'},       {80, 'H'},
                                {10, 'B'},        {1.0000001, 'M'}, {0.1000001, 'L'}, {0.0100001, 'V'},
                                {0.0010001, 'U'}, {0.0001, 'R'},    {0.00001, 'P'},   {0.000001, 'T'}};
  for (const Band& band : kBands)
    if (rate_hz >= band.from_hz) return band.code;
  return 'Q';
}

char OrientationCode(const Component& component) {
  if (component.axis == 'z') return component.azimuth_from_table ? '3' : 'Z';
  if (!component.azimuth_from_table) return component.axis == 'x' ? 'N' : 'E';
  const double nominal = component.axis == 'x' ? 0.0 : 90.0;
  double off = std::fmod(std::fabs(component.azimuth_deg - nominal), 360.0);
  if (off > 180) off = 360 - off;
  if (off <= 5.0) return component.axis == 'x' ? 'N' : 'E';
  return component.axis == 'x' ? '1' : '2';
}

std::string ChannelCode(double rate_hz, const Component& component) {
  const char band = BandCode(rate_hz);
  if (band == 0) return "";
  return std::string{band, component.magnetic ? 'F' : 'Q', OrientationCode(component)};
}

std::string StationFromSite(const std::string& site) {
  std::string code;
  for (char c : site) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 128 && std::isalnum(u)) code += static_cast<char>(std::toupper(u));
    if (code.size() == 5) break;
  }
  return code;
}

std::optional<std::string> CheckCode(const std::string& code, const char* what, std::size_t min_length,
                                     std::size_t max_length) {
  if (code.size() < min_length || code.size() > max_length)
    return std::string(what) + " code '" + code + "' must have " + std::to_string(min_length) + " to " +
           std::to_string(max_length) + " characters";
  for (char c : code) {
    const auto u = static_cast<unsigned char>(c);
    if (!(u < 128 && (std::isdigit(u) || std::isupper(u))))
      return std::string(what) + " code '" + code + "' may hold only A-Z and 0-9";
  }
  return std::nullopt;
}

}  // namespace olmts::exporting
