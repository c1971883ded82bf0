// Byte buffers, files and scratch folders for the test-data writer.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/byte_layouts.h"

namespace olmtsfil::testdata {

using Bytes = std::vector<uint8_t>;

void PutU16(Bytes& out, uint16_t v);
void PutU32(Bytes& out, uint32_t v);
void PutF32(Bytes& out, float v);
void PutF64(Bytes& out, double v);
void PutText(Bytes& out, const std::string& text, std::size_t width);  // NUL-padded, cut at width

// `more` after the end of `out`; the parts one after the other.
void Append(Bytes& out, const Bytes& more);
Bytes Joined(std::initializer_list<Bytes> parts);

void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);

// Writes `value` into the field's bytes at `base` + its offset, little-endian and
// cut to its width (a signed value as its two's complement), growing `out` with
// zeros to hold it. PutText fills a text field; PutReal a double or single.
void PutField(Bytes& out, std::size_t base, const layout::Field& field, uint64_t value);
void PutTextField(Bytes& out, std::size_t base, const layout::Field& field, const std::string& text);
void PutRealField(Bytes& out, std::size_t base, const layout::Field& field, double value);

// The unsigned little-endian value of a field at `base` (0 for bytes past the end).
uint64_t FieldValue(const Bytes& bytes, const layout::Field& field, std::size_t base = 0);

// Mutators for malformed-input tests: a valid file plus one named defect.
// WithField sets a field of the header, record or tag that starts at `base`.
Bytes WithField(Bytes bytes, const layout::Field& field, uint64_t value, std::size_t base = 0);
Bytes WithByte(Bytes bytes, std::size_t offset, uint8_t value);
Bytes Truncated(Bytes bytes, std::size_t size);

// A fresh folder below the system's temporary folder, removed with its contents
// by the destructor.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(const std::string& label = "olmtsfil");
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace olmtsfil::testdata
