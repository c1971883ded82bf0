// A file opened for reading in byte mode, owned: closed by the destructor.
// Offsets are 64-bit on every platform, so data blocks and files beyond 4 GiB
// are passed over and sought across correctly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace olmtsfil {

// Longest base path (the path of a recording or calibration without its
// extension) the library accepts.
inline constexpr std::size_t kMaxBaseNameLength = 256;

class InputFile {
 public:
  InputFile() = default;
  ~InputFile() { Close(); }
  InputFile(InputFile&& other) noexcept { Take(other); }
  InputFile& operator=(InputFile&& other) noexcept {
    if (this != &other) {
      Close();
      Take(other);
    }
    return *this;
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens `path` for binary reading; false (and closed) when it cannot be opened.
  bool Open(const char* path);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }

  // Reads up to `size` bytes; returns how many arrived.
  std::size_t Read(void* buffer, std::size_t size);
  // Moves the position by `offset` bytes from the current one; false when the seek fails.
  bool SeekRelative(int64_t offset);
  // Back to the first byte, clearing the end-of-file indicator; false when the
  // file cannot be positioned.
  bool SeekStart();
  // The end-of-file indicator, set by a read that met the end.
  bool AtEnd() const;
  // True when fewer than `size` bytes lie between the position and the end of
  // the file, as the file is at this call; false when they are there or when
  // that cannot be told. Asked once per record: the size last seen answers
  // while it holds enough, and is looked up again before anything is said
  // to be missing, so a file still growing is never taken as cut short.
  bool EndsWithin(uint64_t size);

  // Random access for looking at a few records far apart (the survey's tag
  // checks): the position, a move to an absolute one (clearing the end-of-file
  // indicator) and the file's size now. False when it cannot be told or done.
  bool Tell(uint64_t* position) const;
  bool SeekTo(uint64_t position);
  bool Size(uint64_t* size) const;

  // Passing over many small pieces (a tag per record) costs a system call or
  // two each through the stream. Mapped, the file's bytes as they are at this
  // call are read from memory with no call at all, until Unmap, which leaves
  // the stream where the mapped reads stood (and at its end when they met it).
  // False, and nothing changed, where the file cannot be mapped (not a regular
  // file, a platform without mapping): reads then go through the stream.
  // While mapped, a file cut shorter by another process faults the reader.
  bool Map();
  void Unmap();
  bool IsMapped() const { return map_ != nullptr; }
  // A hint that the mapped bytes `ahead` bytes past the position are read soon
  // (so their fetch from memory overlaps the work before); nothing when not mapped.
  void WillRead(uint64_t ahead) const {
#if defined(__GNUC__)
    if (map_ != nullptr && map_position_ + ahead < map_size_) __builtin_prefetch(map_ + map_position_ + ahead);
#else
    (void)ahead;
#endif
  }

 private:
  void Take(InputFile& other);
  // Releases the mapping, leaving the stream where it was.
  void DropMap();

  // The position, counted here as reads and seeks go: asking the stream costs a
  // system call.
  bool Position(uint64_t* position) const;

  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;  // the stream's, freed after it is closed
  uint64_t position_ = 0;
  bool position_known_ = false;
  uint64_t size_seen_ = 0;  // the file's size at the last look, when size_known_
  bool size_known_ = false;
  const unsigned char* map_ = nullptr;
  uint64_t map_size_ = 0;
  uint64_t map_position_ = 0;
  bool map_at_end_ = false;
};

}  // namespace olmtsfil
