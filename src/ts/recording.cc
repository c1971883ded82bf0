#include "ts/recording.h"

#include <cstring>
#include <new>

#include "ts/file_set.h"

namespace olmtsfil {
namespace {

// Shifts in 32 bits without undefined behaviour: counts of 32 or more (possible
// with hostile spectral tags) shift every bit out.
int32_t ShiftLeft(int32_t value, int count) {
  if (count < 0 || count >= 32) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(value) << count);
}

}  // namespace

Status Recording::Open(const char* base_name) {
  const std::size_t length = std::strlen(base_name);
  if (length > kMaxBaseNameLength) return Status::kPathTooLong;
  // Every file name is the base plus a 4-character extension, built in place: the
  // only allocations of an open are the handle and the stored paths.
  char path[kMaxBaseNameLength + 8];
  std::memcpy(path, base_name, length);
  auto with_extension = [&](const char* extension) -> const char* {
    std::memcpy(path + length, extension, 5);
    return path;
  };

  if (!table_file_.Open(with_extension(".TBL"))) return Status::kTableNotOpened;
  if (Status s = table_.Load(table_file_); s != Status::kOk) return s;

  OpenStreamFile(0, with_extension(".TFC"));
  for (int k = 1; k < kStreams; ++k) {
    with_extension(".TS0");
    path[length + 3] = static_cast<char>('0' + k);
    OpenStreamFile(k, path);
  }
  // Streams 2-4 fall back on the shared high-rate file and then take only the
  // records of their own rate class; stream 5 falls back on the low-rate file.
  for (int k = 2; k < kStreams; ++k) {
    if (stream(k).HasFile()) continue;
    if (k <= 4) split_by_rate_ = true;
    OpenStreamFile(k, with_extension(k <= 4 ? ".TSH" : ".TSL"));
  }

  for (int k = 0; k < kStreams; ++k) {
    StreamState& s = mutable_stream(k);
    s.last_status = Status::kEndOfData;
    s.next_status = Status::kEndOfData;
    s.open_status = Status::kBadStream;
    if (!s.HasFile()) continue;
    Status first = ReadNextTag(k);  // no agreement check: open_status is not kOk yet
    s.open_status = first;
    s.next_status = first;
    s.first_tag = s.next_tag;
  }
  CheckSpectralStream();
  return Status::kOk;
}

// A file that does not open leaves the stream without one: no failure.
void Recording::OpenStreamFile(int k, const char* path) {
  StreamState& s = mutable_stream(k);
  InputFile file;
  if (!file.Open(path)) return;
  s.file = std::move(file);
  s.first_path = path;
  s.current_path = s.first_path;
}

void Recording::CheckSpectralStream() {
  StreamState& s = mutable_stream(0);
  if (!s.HasFile() || s.open_status != Status::kOk) return;
  const Tag& t = s.first_tag;
  const int levtp = t.Levtp(), leval = t.Leval(), nfrqt = t.Nfrqt(), nfrqd = t.Nfrqd();
  bool passes = (leval <= 23 && levtp <= leval && nfrqd <= 4 && nfrqt <= 12 && levtp == 0) || nfrqd == nfrqt;
  if (!passes) {
    s.open_status = Status::kTagMismatch;
    return;
  }
  dft_.level_mask = ShiftLeft(-1, leval + 1);
  dft_.base_bit = ShiftLeft(1, levtp);
  dft_.level_step = ShiftLeft(1, leval + 1);
  dft_.level_count = leval - levtp + 2;
  dft_.cycle_length = (leval - levtp + 1) * nfrqd + nfrqt;
}

TagRead ReadTagBytes(InputFile& file, Tag* tag) {
  if (file.Read(tag->bytes.data(), Tag::kBaseSize) < Tag::kBaseSize) return TagRead::kShortBase;
  const uint8_t ltag = tag->Ltag();
  if (ltag == 0) {
    // Older 16-byte tag: 3-byte samples, one record per second of RATE = SCNT.
    std::memset(tag->bytes.data() + Tag::kBaseSize, 0, Tag::kMaxSize - Tag::kBaseSize);
    tag->bytes[tag_field::kLtag.offset] = Tag::kBaseSize;
    tag->bytes[tag_field::kLsmp.offset] = 3;
    std::memcpy(tag->bytes.data() + tag_field::kRate.offset, tag->At(tag_field::kScnt), tag_field::kRate.width);
    return TagRead::kWhole;
  }
  if (ltag < Tag::kBaseSize || ltag > Tag::kMaxSize) return TagRead::kBadLength;
  const std::size_t rest = ltag - Tag::kBaseSize;
  // Bytes past this tag's length read as 0, never as a stale earlier tag.
  std::memset(tag->bytes.data() + ltag, 0, Tag::kMaxSize - ltag);
  if (file.Read(tag->bytes.data() + Tag::kBaseSize, rest) < rest) return TagRead::kShortRest;
  return TagRead::kWhole;
}

Status Recording::ReadNextTag(int k) {
  StreamState& s = mutable_stream(k);
  Tag& tag = s.next_tag;
  s.next_status = Status::kOk;
  for (;;) {
    TagRead got = ReadTagBytes(s.file, &tag);
    // Only one file change per tag: an empty file inside a set ends the stream.
    if (got == TagRead::kShortBase && s.file.AtEnd() && concatenate_ && OpenNextFile(k))
      got = ReadTagBytes(s.file, &tag);
    if (got == TagRead::kBadLength) {
      // Such a tag cannot be held, nor its record found: a later tag of a usable
      // stream disagrees with its first tag; a first tag makes the stream unreadable.
      s.next_status = s.open_status == Status::kOk ? Status::kTagMismatch : Status::kReadError;
      return s.next_status;
    }
    if (got != TagRead::kWhole) s.next_status = Status::kEndOfData;
    if (s.next_status == Status::kOk && split_by_rate_ && k >= 2 && k <= 4 && RateClassStream(tag) != k) {
      SkipData(k);
      if (s.next_status != Status::kOk) break;
      continue;
    }
    break;
  }
  if (s.next_status != Status::kOk) return s.next_status;
  if (s.open_status != Status::kOk) return Status::kOk;  // the first read, made at open
  if (!TagsAgree(s.first_tag, tag)) s.next_status = Status::kTagMismatch;
  return s.next_status;
}

void Recording::SkipData(int k) {
  StreamState& s = mutable_stream(k);
  if (!s.file.SeekRelative(static_cast<int64_t>(s.next_tag.DataBlockSize()))) s.next_status = Status::kReadError;
}

bool Recording::OpenNextFile(int k) {
  // File names carry month, day and letter but no year, so a set of daily files
  // covering a whole year leads from its last day back to its first. Such a set
  // ends where it would come round to its first file, and in any case after as
  // many files as there are distinct names; otherwise reading and seeking with
  // concatenation would never end.
  constexpr int32_t kMaxSetFiles = 12 * 31 * 26;
  StreamState& s = mutable_stream(k);
  if (!s.HasFile() || s.files_after_first >= kMaxSetFiles) return false;
  for (const std::string& candidate : NextSetFileName(s.current_path)) {
    if (candidate == s.first_path) return false;
    InputFile next;
    if (!next.Open(candidate.c_str())) continue;
    s.file = std::move(next);
    s.current_path = candidate;
    ++s.files_after_first;
    if (map_next_files_) s.file.Map();
    return true;
  }
  return false;
}

Status Recording::ReopenFirstFile(int k) {
  StreamState& s = mutable_stream(k);
  if (!s.HasFile()) return Status::kCannotReopen;
  if (s.current_path == s.first_path) return Status::kOk;
  InputFile first;
  if (!first.Open(s.first_path.c_str())) return Status::kCannotReopen;
  s.file = std::move(first);
  s.current_path = s.first_path;
  s.files_after_first = 0;
  return Status::kOk;
}

}  // namespace olmtsfil
