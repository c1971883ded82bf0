#include "writer/table_writer.h"

#include <algorithm>
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
    namespace f = olmtsfil::layout::table_entry;
    out.assign(f::kHeaderSize, 0);
    std::memcpy(out.data(), f::kSignature, sizeof f::kSignature);
    for (const Parameter& p : params) {
      const std::size_t at = out.size();
      out.resize(at + f::kSize, 0);
      PutTextField(out, at, f::kName, p.name);
      PutField(out, at, f::kInfoWord, static_cast<uint32_t>(p.info_word));
      PutField(out, at, f::kInfoByte1, p.info_byte1);
      PutField(out, at, f::kInfoByte2, p.info_byte2);
      PutField(out, at, f::kType, p.type);
      std::copy_n(p.value.begin(), f::kValue.width, out.begin() + static_cast<std::ptrdiff_t>(at + f::kValue.offset));
    }
    if (terminator) out.resize(out.size() + f::kSize, 0);
  } else {
    namespace f = olmtsfil::layout::older_table_entry;
    for (const Parameter& p : params) {
      const std::size_t at = out.size();
      out.resize(at + f::kSize, 0);
      PutTextField(out, at, f::kName, p.name.substr(0, f::kName.width - 1));
      PutField(out, at, f::kInfoWord, static_cast<uint16_t>(p.info_word));
      PutField(out, at, f::kInfoByte1, p.info_byte1);
      PutField(out, at, f::kInfoByte2, p.info_byte2);
      PutField(out, at, f::kType, p.type);
      std::copy_n(p.value.begin(), f::kValue.width, out.begin() + static_cast<std::ptrdiff_t>(at + f::kValue.offset));
    }
    if (terminator) out.resize(out.size() + f::kSize, 0);
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
