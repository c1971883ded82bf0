#include "common/input_file.h"

#include <sys/stat.h>
#if !defined(_WIN32)
#include <sys/types.h>
#endif

namespace olmtsfil {

bool InputFile::Open(const char* path) {
  Close();
  file_ = std::fopen(path, "rb");
  return file_ != nullptr;
}

void InputFile::Close() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

std::size_t InputFile::Read(void* buffer, std::size_t size) {
  if (file_ == nullptr || size == 0) return 0;
  return std::fread(buffer, 1, size, file_);
}

bool InputFile::SeekRelative(int64_t offset) {
  if (file_ == nullptr) return false;
#if defined(_WIN32)
  return _fseeki64(file_, offset, SEEK_CUR) == 0;
#else
  static_assert(sizeof(off_t) >= 8, "64-bit file offsets are required");
  return fseeko(file_, static_cast<off_t>(offset), SEEK_CUR) == 0;
#endif
}

bool InputFile::SeekStart() {
  if (file_ == nullptr) return false;
  // Unlike rewind, this tells when the file cannot be positioned (a pipe).
  if (std::fseek(file_, 0, SEEK_SET) != 0) return false;
  std::clearerr(file_);
  return true;
}

bool InputFile::AtEnd() const { return file_ != nullptr && std::feof(file_) != 0; }

bool InputFile::RemainingBytes(uint64_t* remaining) const {
  if (file_ == nullptr) return false;
#if defined(_WIN32)
  const int64_t position = _ftelli64(file_);
  struct _stati64 info;
  if (position < 0 || _fstati64(_fileno(file_), &info) != 0) return false;
  const int64_t size = info.st_size;
#else
  const int64_t position = ftello(file_);
  struct stat info;
  if (position < 0 || fstat(fileno(file_), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  const int64_t size = info.st_size;
#endif
  *remaining = size > position ? static_cast<uint64_t>(size - position) : 0;
  return true;
}

}  // namespace olmtsfil
