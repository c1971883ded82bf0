// ASCII text helpers: case folding as the recorder's files use it (only A-Z and
// a-z fold, whatever the locale), bounded copies and substring tests.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace olmtsfil {

constexpr char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr bool IsAsciiAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Whole-string comparison without regard to ASCII case.
constexpr bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

// The NUL-terminated text in a fixed-width field (no terminator when it fills it).
inline std::string_view FieldText(const char* field, std::size_t width) {
  return std::string_view(field, strnlen(field, width));
}
inline std::string_view FieldText(const unsigned char* field, std::size_t width) {
  return FieldText(reinterpret_cast<const char*>(field), width);
}

// Fixed-width copy: the characters of `text` up to `width`, then NULs up to `width`.
inline void CopyFixedWidth(char* out, std::string_view text, std::size_t width) {
  std::size_t n = text.size() < width ? text.size() : width;
  std::memcpy(out, text.data(), n);
  std::memset(out + n, 0, width - n);
}

inline void UpperCaseInPlace(char* text, std::size_t width) {
  for (std::size_t i = 0; i < width && text[i] != '\0'; ++i) text[i] = AsciiUpper(text[i]);
}

inline bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

}  // namespace olmtsfil
