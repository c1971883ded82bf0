#include "writer/bytes_io.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace olmtsfil::testdata {

void PutU16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutU32(Bytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutF32(Bytes& out, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  PutU32(out, bits);
}
void PutF64(Bytes& out, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}
void PutText(Bytes& out, const std::string& text, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) out.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
}

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

Bytes Joined(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) Append(out, part);
  return out;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  // A fresh file rather than a truncated one: ext4 flushes a file truncated over
  // its data to disk, which made tests that rewrite a file thousands of times slow.
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) throw std::runtime_error("cannot write " + path);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

namespace {
uint8_t* FieldBytes(Bytes& out, std::size_t base, const layout::Field& field) {
  const std::size_t end = base + field.offset + field.width;
  if (out.size() < end) out.resize(end, 0);
  return out.data() + base + field.offset;
}
}  // namespace

void PutField(Bytes& out, std::size_t base, const layout::Field& field, uint64_t value) {
  uint8_t* at = FieldBytes(out, base, field);
  for (std::size_t i = 0; i < field.width; ++i) at[i] = i < 8 ? static_cast<uint8_t>(value >> (8 * i)) : 0;
}

void PutTextField(Bytes& out, std::size_t base, const layout::Field& field, const std::string& text) {
  uint8_t* at = FieldBytes(out, base, field);
  for (std::size_t i = 0; i < field.width; ++i) at[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
}

void PutRealField(Bytes& out, std::size_t base, const layout::Field& field, double value) {
  if (field.width == 4) {
    const float single = static_cast<float>(value);
    uint32_t bits;
    std::memcpy(&bits, &single, sizeof bits);
    PutField(out, base, field, bits);
  } else {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    PutField(out, base, field, bits);
  }
}

uint64_t FieldValue(const Bytes& bytes, const layout::Field& field, std::size_t base) {
  uint64_t value = 0;
  for (std::size_t i = 0; i < field.width && i < 8; ++i) {
    const std::size_t at = base + field.offset + i;
    if (at < bytes.size()) value |= static_cast<uint64_t>(bytes[at]) << (8 * i);
  }
  return value;
}

Bytes WithField(Bytes bytes, const layout::Field& field, uint64_t value, std::size_t base) {
  // A defect inside the file, never one that lengthens it.
  if (base + field.offset + field.width > bytes.size()) return bytes;
  PutField(bytes, base, field, value);
  return bytes;
}

Bytes WithByte(Bytes bytes, std::size_t offset, uint8_t value) {
  if (offset < bytes.size()) bytes[offset] = value;
  return bytes;
}

Bytes Truncated(Bytes bytes, std::size_t size) {
  if (size < bytes.size()) bytes.resize(size);
  return bytes;
}

ScratchDirectory::ScratchDirectory(const std::string& label) {
  static std::atomic<unsigned> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / (label + "-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(dir);
  path_ = dir.generic_string();
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace olmtsfil::testdata
