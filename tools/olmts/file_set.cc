#include "olmts/file_set.h"

#include <filesystem>

#include "ts/file_set.h"

namespace olmts {

std::vector<std::string> FileSet(const std::string& first, bool follow) {
  std::vector<std::string> files{first};
  std::error_code ec;
  if (!follow || !std::filesystem::exists(first, ec)) return files;
  // The library stops where a set would come round to its first file; the bound
  // only guards against a rule that never repeats.
  for (int guard = 0; guard < 12 * 31 * 26; ++guard) {
    std::string found;
    for (const std::string& candidate : olmtsfil::NextSetFileName(files.back())) {
      if (candidate == first) break;
      if (std::filesystem::exists(candidate, ec)) {
        found = candidate;
        break;
      }
    }
    if (found.empty()) break;
    files.push_back(found);
  }
  return files;
}

}  // namespace olmts
