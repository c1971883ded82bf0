#include "writer/table_writer.h"

#include <cstring>

namespace olmtsfil::testdata {

Parameter Parameter::Int(const std::string& name, int32_t v) {
  Parameter p{name, 0};
  std::memcpy(p.value.data(), &v, 4);  // the writer runs on little-endian hosts only
  return p;
}
Parameter Parameter::Double(const std::string& name, double v) {
  Parameter p{name, 1};
  std::memcpy(p.value.data(), &v, 8);
  return p;
}
Parameter Parameter::Text(const std::string& name, const std::string& text, uint8_t type) {
  Parameter p{name, type};
  for (std::size_t i = 0; i < text.size() && i < 16; ++i) p.value[i] = static_cast<uint8_t>(text[i]);
  return p;
}
Parameter Parameter::Stamp(const std::string& name, const TimeStamp& stamp) {
  Parameter p{name, 5};
  std::memcpy(p.value.data(), &stamp, 8);
  return p;
}
Parameter Parameter::None(const std::string& name) { return Parameter{name, 3}; }

TableFile& TableFile::Add(Parameter p) {
  params.push_back(std::move(p));
  return *this;
}

TableFile& TableFile::Set(Parameter p) {
  for (Parameter& existing : params) {
    if (existing.name == p.name) {
      existing = std::move(p);
      return *this;
    }
  }
  return Add(std::move(p));
}

TableFile& TableFile::Remove(const std::string& name) {
  std::erase_if(params, [&](const Parameter& p) { return p.name == name; });
  return *this;
}

Bytes TableFile::Encode() const {
  Bytes out;
  if (layout == TableLayout::kCurrent32) {
    const uint8_t signature[8] = {0x03, 0x00, 0x2E, 0x54, 0x42, 0x4C, 0x32, 0x25};
    out.assign(32, 0);
    std::memcpy(out.data(), signature, sizeof signature);
    for (const Parameter& p : params) {
      PutText(out, p.name, 8);
      PutU32(out, static_cast<uint32_t>(p.info_word));
      out.push_back(p.info_byte1);
      out.push_back(p.info_byte2);
      out.push_back(0);
      out.push_back(p.type);
      out.insert(out.end(), p.value.begin(), p.value.begin() + 16);
    }
    if (terminator) out.resize(out.size() + 32, 0);
  } else {
    for (const Parameter& p : params) {
      PutText(out, p.name.substr(0, 4), 5);
      PutU16(out, static_cast<uint16_t>(p.info_word));
      out.push_back(p.info_byte1);
      out.push_back(p.info_byte2);
      out.push_back(0);
      out.push_back(0);
      out.push_back(p.type);
      out.insert(out.end(), p.value.begin(), p.value.begin() + 13);
    }
    if (terminator) out.resize(out.size() + 25, 0);
  }
  return out;
}

TableFile TypicalTable() {
  TableFile t;
  t.Int("CHEX", 1).Int("CHEY", 2).Int("CHEZ", 0).Int("CHHX", 3).Int("CHHY", 4).Int("CHHZ", 5);
  t.Text("HW", "SIM5A").Text("VER", "4270A2");
  t.Int("EGN", 10).Int("HGN", 2).Double("FSCV", 6.4).Double("HATT", 0.2);
  t.Int("EGNC", 1).Int("HGNC", 0).Int("ACDC", 0).Int("ACDH", 1).Int("LPFR", 0);
  t.Int("EXR", 500).Int("EYR", 500).Int("EZR", 0);
  t.Double("EXLN", 100.0).Double("EYLN", 100.0).Double("EZLN", 0.0);
  t.Double("HNOM", 1.0).Double("CNOM", 0.0);
  t.Int("TALS", 5).Int("LFRQ", 50).Int("TCMB", 0).Int("K8SR", 0);
  t.Int("SRL0", 2400).Int("SRL1", 24000).Int("SRL2", 2400).Int("SRL3", 150).Int("SRL4", 15).Int("SRL5", 1);
  return t;
}

}  // namespace olmtsfil::testdata
