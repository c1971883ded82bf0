#include "ts/file_set.h"

#include <cstdio>

#include "common/text.h"

namespace olmtsfil {
namespace {

constexpr char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsSeparator(char c) {
#if defined(_WIN32)
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

struct SplitPath {
  std::string_view directory;  // drive and directory, with the trailing separator
  std::string_view stem;
  std::string_view extension;  // with its dot
};

SplitPath Split(std::string_view path) {
  std::size_t name_start = 0;
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsSeparator(path[i - 1])) {
      name_start = i;
      break;
    }
  }
  std::string_view name = path.substr(name_start);
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) dot = name.size();
  return SplitPath{path.substr(0, name_start), name.substr(0, dot), name.substr(dot)};
}

int DaysInMonth(int month) {
  switch (month) {
    case 4:
    case 6:
    case 9:
    case 11:
      return 30;
    case 2:
      return 29;  // the rollover rule: a day of 29 or more ends February
    default:
      return 31;
  }
}

}  // namespace

std::vector<std::string> NextSetFileName(std::string_view current_path) {
  std::vector<std::string> candidates;
  SplitPath parts = Split(current_path);
  std::string original(parts.stem);
  std::string stem = original;
  for (char& c : stem) c = AsciiLower(c);
  if (stem.size() < 2 || stem.back() < 'a' || stem.back() > 'y') return candidates;

  // The recorder writes lower-case stems; files copied from other systems may be
  // upper-case, so each candidate is also tried in the case of the current stem.
  bool upper = original.back() >= 'A' && original.back() <= 'Z';
  auto add = [&](const std::string& new_stem, std::size_t suffix_length) {
    candidates.push_back(std::string(parts.directory) + new_stem + std::string(parts.extension));
    std::string cased =
        original.substr(0, original.size() - suffix_length) + new_stem.substr(new_stem.size() - suffix_length);
    if (upper)
      for (std::size_t i = cased.size() - suffix_length; i < cased.size(); ++i) cased[i] = AsciiUpper(cased[i]);
    if (cased != new_stem) candidates.push_back(std::string(parts.directory) + cased + std::string(parts.extension));
  };

  std::string next_letter = stem;
  next_letter.back() = static_cast<char>(next_letter.back() + 1);
  add(next_letter, 1);

  if (stem.size() < 4) return candidates;
  char date_field[4] = {stem[stem.size() - 4], stem[stem.size() - 3], stem[stem.size() - 2], '\0'};
  unsigned month = 0;
  int day = 0;
  if (std::sscanf(date_field, "%1x%2d", &month, &day) != 2) return candidates;
  if (month < 1 || month > 12 || day < 1 || day > 31) return candidates;

  int new_month = static_cast<int>(month);
  int new_day = day + 1;
  if (day >= DaysInMonth(new_month)) {
    new_day = 1;
    new_month = new_month == 12 ? 1 : new_month + 1;
  }
  auto dated = [&](int m, int d) {
    char field[16];
    std::snprintf(field, sizeof field, "%01x%02ia", static_cast<unsigned>(m), d);
    return stem.substr(0, stem.size() - 4) + field;
  };
  add(dated(new_month, new_day), 4);
  if (new_month == 2 && new_day == 29) add(dated(3, 1), 4);
  return candidates;
}

}  // namespace olmtsfil
