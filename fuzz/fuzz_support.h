// Shared pieces of the fuzz targets: a scratch folder per process for the files a
// target writes, and a reader that takes file contents and call arguments from the
// fuzzed input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace olmtsfil::fuzz {

// The folder of this process, below /dev/shm when that is writable (memory-backed,
// so the millions of small writes of a campaign cost little), else below the
// temporary folder. Created on first use, removed with its files at exit.
const std::string& ScratchFolder();

// Writes `size` bytes to `name` inside the scratch folder and returns the path.
std::string WriteScratchFile(const std::string& name, const uint8_t* data, std::size_t size);
// Removes `name` from the scratch folder if it is there.
void RemoveScratchFile(const std::string& name);

// Takes the input apart front to back. Reads past the end yield zeros, so every
// input, however short, drives the target the same defined way.
class InputReader {
 public:
  InputReader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t U16() {
    uint16_t low = Byte();
    return static_cast<uint16_t>(low | (Byte() << 8));
  }
  // Up to `length` bytes (fewer at the end of the input); advances past them.
  std::string_view Bytes(std::size_t length) {
    if (length > size_ - pos_) length = size_ - pos_;
    std::string_view out(reinterpret_cast<const char*>(data_ + pos_), length);
    pos_ += length;
    return out;
  }
  std::string_view Rest() { return Bytes(size_ - pos_); }
  bool Empty() const { return pos_ >= size_; }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Header of a multi-file input: one little-endian 16-bit word per file. The high
// bit set means "file absent"; otherwise the low 15 bits are the file's length
// (cut at the end of the input). The contents follow the header in file order.
constexpr uint16_t kAbsentFile = 0x8000;

}  // namespace olmtsfil::fuzz
