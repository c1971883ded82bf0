// Files of an export: written under a temporary name beside the final one and
// renamed only once complete, so that a final name never holds a partial file.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace olmts::exporting {

class OutputFile {
 public:
  explicit OutputFile(std::string final_path);
  ~OutputFile();  // removes the temporary file unless committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Throws a ToolError naming the file and the system's reason.
  void Write(const void* bytes, std::size_t size);
  // Flushes, closes and renames to the final name; throws on any failure, and
  // the temporary file is then removed.
  void Commit();
  const std::string& path() const { return final_path_; }

 private:
  void Fail(const char* what);
  std::string final_path_, temporary_path_;
  std::FILE* file_ = nullptr;
  bool committed_ = false;
};

}  // namespace olmts::exporting
