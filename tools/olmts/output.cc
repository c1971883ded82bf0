#include "olmts/output.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>

namespace olmts {

std::string Number(double value) {
  char text[32];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  if (ec != std::errc()) return "nan";
  return std::string(text, end);
}

Json JsonNumber(double value) { return std::isfinite(value) ? Json(value) : Json(Number(value)); }

std::string Text16(const char* bytes) { return std::string(bytes, strnlen(bytes, 16)); }

std::string FileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

}  // namespace olmts
