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
