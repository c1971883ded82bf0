#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace olmtsfil::fuzz {
namespace {

class Folder {
 public:
  Folder() {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path root = "/dev/shm";
    if (!fs::is_directory(root, ec) || access(root.c_str(), W_OK) != 0) root = fs::temp_directory_path();
    path_ = (root / ("olmtsfil-fuzz-" + std::to_string(getpid()))).string();
    fs::create_directories(path_, ec);
  }
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

const std::string& ScratchFolder() {
  static Folder folder;
  return folder.path();
}

std::string WriteScratchFile(const std::string& name, const uint8_t* data, std::size_t size) {
  std::string path = ScratchFolder() + "/" + name;
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  return path;
}

void RemoveScratchFile(const std::string& name) { std::remove((ScratchFolder() + "/" + name).c_str()); }

}  // namespace olmtsfil::fuzz
