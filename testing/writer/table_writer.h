// Table files (".TBL") in both layouts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "olmtsfil.h"
#include "writer/bytes_io.h"

namespace olmtsfil::testdata {

struct Parameter {
  std::string name;  // written into 8 bytes (4 plus NUL in the older layout)
  uint8_t type = 0;  // value type code
  Bytes value = Bytes(16, 0);
  int32_t info_word = 0;
  uint8_t info_byte1 = 0;
  uint8_t info_byte2 = 0;

  static Parameter Int(const std::string& name, int32_t v);
  static Parameter Double(const std::string& name, double v);
  static Parameter Text(const std::string& name, const std::string& text, uint8_t type = 2);
  static Parameter Stamp(const std::string& name, const TimeStamp& stamp);
  static Parameter None(const std::string& name);
};

enum class TableLayout { kOlder25, kCurrent32 };

class TableFile {
 public:
  TableFile& Add(Parameter p);
  TableFile& Int(const std::string& name, int32_t v) { return Add(Parameter::Int(name, v)); }
  TableFile& Double(const std::string& name, double v) { return Add(Parameter::Double(name, v)); }
  TableFile& Text(const std::string& name, const std::string& v) { return Add(Parameter::Text(name, v)); }
  // Replaces the first parameter of that name, or appends it.
  TableFile& Set(Parameter p);
  TableFile& Remove(const std::string& name);

  TableLayout layout = TableLayout::kCurrent32;
  // Appends a record starting with NUL after the last parameter (the recorder does).
  bool terminator = true;
  std::vector<Parameter> params;

  Bytes Encode() const;
  void Write(const std::string& path) const { WriteFile(path, Encode()); }
};

// The parameters a typical five-component recording carries: channels Ex, Ey on
// 1-2 and Hx, Hy, Hz on 3-5, gains, sensor values, board identifiers, rates of
// streams 0 ... 5 ("SRL0" ...), decimation chain and filter settings.
TableFile TypicalTable();

}  // namespace olmtsfil::testdata
