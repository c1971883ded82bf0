#include "common/input_file.h"

#include <sys/stat.h>

#include <cstring>
#include <new>
#if !defined(_WIN32)
#include <sys/mman.h>
#include <sys/types.h>
#endif

namespace olmtsfil {

namespace {

// Records are read a tag and a data block at a time: a buffer of many records
// turns the two or three system calls each would cost into one per buffer.
constexpr std::size_t kStreamBuffer = std::size_t{128} << 10;

// The size of a regular file now; false for anything else or when it cannot be told.
bool FileSize(std::FILE* file, uint64_t* size) {
#if defined(_WIN32)
  struct _stati64 info;
  if (_fstati64(_fileno(file), &info) != 0) return false;
#else
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return false;
#endif
  *size = info.st_size > 0 ? static_cast<uint64_t>(info.st_size) : 0;
  return true;
}

}  // namespace

bool InputFile::Open(const char* path) {
  Close();
  file_ = std::fopen(path, "rb");
  if (file_ == nullptr) return false;
  // Given its buffer, or the C library picks one of a few kB of its own.
  buffer_.reset(new (std::nothrow) char[kStreamBuffer]);
  if (!buffer_ || std::setvbuf(file_, buffer_.get(), _IOFBF, kStreamBuffer) != 0) buffer_.reset();
  position_ = 0;
  position_known_ = true;
  size_known_ = false;
  return true;
}

void InputFile::Take(InputFile& other) {
  file_ = other.file_;
  buffer_ = std::move(other.buffer_);
  position_ = other.position_;
  position_known_ = other.position_known_;
  size_seen_ = other.size_seen_;
  size_known_ = other.size_known_;
  map_ = other.map_;
  map_size_ = other.map_size_;
  map_position_ = other.map_position_;
  map_at_end_ = other.map_at_end_;
  other.file_ = nullptr;
  other.map_ = nullptr;
}

void InputFile::Close() {
  // Closed, the stream need not be set where the mapped reads stood (Unmap).
  DropMap();
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  buffer_.reset();
}

std::size_t InputFile::Read(void* buffer, std::size_t size) {
  if (file_ == nullptr || size == 0) return 0;
  if (map_ != nullptr) {
    const uint64_t available = map_position_ < map_size_ ? map_size_ - map_position_ : 0;
    const std::size_t n = size < available ? size : static_cast<std::size_t>(available);
    if (n > 0) std::memcpy(buffer, map_ + map_position_, n);
    map_position_ += n;
    if (n < size) map_at_end_ = true;
    return n;
  }
  const std::size_t n = std::fread(buffer, 1, size, file_);
  position_ += n;
  return n;
}

bool InputFile::SeekRelative(int64_t offset) {
  if (file_ == nullptr) return false;
  if (map_ != nullptr) {
    // As the stream: a position past the end is allowed, one before the start is not.
    if (offset < 0 && static_cast<uint64_t>(-(offset + 1)) >= map_position_) return false;
    map_position_ += static_cast<uint64_t>(offset);
    map_at_end_ = false;
    return true;
  }
#if defined(_WIN32)
  const bool moved = _fseeki64(file_, offset, SEEK_CUR) == 0;
#else
  static_assert(sizeof(off_t) >= 8, "64-bit file offsets are required");
  const bool moved = fseeko(file_, static_cast<off_t>(offset), SEEK_CUR) == 0;
#endif
  if (moved)
    position_ += static_cast<uint64_t>(offset);
  else
    position_known_ = false;  // the stream is asked again
  return moved;
}

// Unlike rewind, this tells when the file cannot be positioned (a pipe).
bool InputFile::SeekStart() { return SeekTo(0); }

bool InputFile::AtEnd() const {
  if (map_ != nullptr) return map_at_end_;
  return file_ != nullptr && std::feof(file_) != 0;
}

bool InputFile::Position(uint64_t* position) const {
  if (position_known_) {
    *position = position_;
    return true;
  }
#if defined(_WIN32)
  const int64_t at = _ftelli64(file_);
#else
  const int64_t at = ftello(file_);
#endif
  if (at < 0) return false;
  *position = static_cast<uint64_t>(at);
  return true;
}

bool InputFile::Tell(uint64_t* position) const {
  if (file_ == nullptr) return false;
  if (map_ != nullptr) {
    *position = map_position_;
    return true;
  }
  return Position(position);
}

bool InputFile::SeekTo(uint64_t position) {
  if (file_ == nullptr || position > static_cast<uint64_t>(INT64_MAX)) return false;
  if (map_ != nullptr) {
    map_position_ = position;
    map_at_end_ = false;
    return true;
  }
#if defined(_WIN32)
  const bool moved = _fseeki64(file_, static_cast<int64_t>(position), SEEK_SET) == 0;
#else
  const bool moved = fseeko(file_, static_cast<off_t>(position), SEEK_SET) == 0;
#endif
  if (!moved) {
    position_known_ = false;
    return false;
  }
  std::clearerr(file_);
  position_ = position;
  position_known_ = true;
  return true;
}

bool InputFile::Size(uint64_t* size) const {
  if (file_ == nullptr) return false;
  if (map_ != nullptr) {
    *size = map_size_;
    return true;
  }
  return FileSize(file_, size);
}

bool InputFile::EndsWithin(uint64_t size) {
  if (file_ == nullptr) return false;
  if (map_ != nullptr) return size > (map_size_ > map_position_ ? map_size_ - map_position_ : 0);
  uint64_t position = 0;
  if (!Position(&position)) return false;
  if (size_known_ && size_seen_ >= position && size_seen_ - position >= size) return false;
  if (!FileSize(file_, &size_seen_)) return false;
  size_known_ = true;
  return size > (size_seen_ > position ? size_seen_ - position : 0);
}

#if defined(_WIN32)
bool InputFile::Map() { return false; }
void InputFile::Unmap() {}
void InputFile::DropMap() { map_ = nullptr; }
#else
bool InputFile::Map() {
  if (file_ == nullptr || map_ != nullptr) return map_ != nullptr;
  const off_t position = ftello(file_);
  uint64_t size = 0;
  if (position < 0 || !FileSize(file_, &size) || size == 0 || size > SIZE_MAX) return false;
  // The stream's position, whatever it holds in its buffer, is where mapped reads begin.
  const int eof = std::feof(file_);
  void* map = mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, fileno(file_), 0);
  if (map == MAP_FAILED) return false;
  map_ = static_cast<const unsigned char*>(map);
  map_size_ = size;
  map_position_ = static_cast<uint64_t>(position);
  map_at_end_ = eof != 0;
  return true;
}

void InputFile::DropMap() {
  if (map_ != nullptr) munmap(const_cast<unsigned char*>(map_), static_cast<std::size_t>(map_size_));
  map_ = nullptr;
}

void InputFile::Unmap() {
  if (map_ == nullptr) return;
  DropMap();
  if (file_ == nullptr) return;
  // The stream's own indicator is set again by a read at the end, as a read
  // through it would have left it.
  // (A byte the file gained since is given back.)
  if (fseeko(file_, static_cast<off_t>(map_position_), SEEK_SET) != 0) {
    position_known_ = false;
    return;
  }
  position_ = map_position_;
  position_known_ = true;
  if (map_at_end_) {
    const int c = std::fgetc(file_);
    if (c != EOF) std::ungetc(c, file_);
  }
}
#endif

}  // namespace olmtsfil
