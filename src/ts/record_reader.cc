// Record-level movement along a stream: reading, skipping, seeking by time and
// telling whether consecutive records join.
#include <cmath>

#include "ts/recording.h"

namespace olmtsfil {

Status Recording::ReadRecord(int k, int64_t buffer_size, void* buffer) {
  StreamState& s = mutable_stream(k);
  if (s.open_status != Status::kOk) return Status::kBadStream;
  if (s.next_status != Status::kOk) return s.next_status;
  s.last_tag = s.next_tag;
  s.last_status = Status::kOk;
  const uint64_t size = s.last_tag.DataBlockSize();
  // Too small a buffer leaves the record unconsumed: the same call with a larger
  // buffer delivers it.
  if (buffer_size < 0 || size > static_cast<uint64_t>(buffer_size)) return Status::kNullHandle;
  // A block longer than the rest of the file cannot arrive whole; it is refused
  // before any byte is read (the scan reader relies on this to fail such a record
  // without making a buffer for it).
  const bool cut_short = s.file.EndsWithin(size);
  if (size == 0 || cut_short || s.file.Read(buffer, static_cast<std::size_t>(size)) < size) {
    s.last_status = Status::kReadError;
    s.next_status = Status::kReadError;
    return Status::kReadError;
  }
  ReadNextTag(k);  // its status is reported by the next call
  return Status::kOk;
}

Status Recording::SkipRecord(int k) {
  StreamState& s = mutable_stream(k);
  if (s.open_status != Status::kOk) return Status::kBadStream;
  if (s.next_status != Status::kOk) return s.next_status;
  s.last_tag = s.next_tag;
  s.last_status = Status::kOk;
  SkipData(k);
  // After a failed skip the file stands inside the data block: reading a tag there
  // would take samples for a tag, so the stream fails instead.
  if (s.next_status != Status::kOk) {
    s.last_status = s.next_status;
    return s.next_status;
  }
  ReadNextTag(k);
  return Status::kOk;
}

Status Recording::Seek(int k, TimeStamp time, int32_t mode) {
  StreamState& s = mutable_stream(k);
  if (s.open_status != Status::kOk) return Status::kBadStream;
  if (mode != 0) return Status::kBadSeekMode;

  // Backward: restart from the current file, then from the first file of the set.
  // The held tag counts whatever next_status says, so an ended stream can return.
  if (CompareStamps(s.next_tag.Utc(), time) > 0) {
    s.last_status = Status::kEndOfData;
    s.next_status = Status::kEndOfData;
    // A file that cannot be rewound stands wherever it was, possibly inside a
    // data block: reading a tag there would take samples for a tag.
    if (!s.file.SeekStart()) {
      s.next_status = Status::kReadError;
      return s.next_status;
    }
    ReadNextTag(k);
    if (CompareStamps(s.next_tag.Utc(), time) > 0 && s.current_path != s.first_path) {
      // When the first file cannot be reopened the stream stays on the first record
      // of its current file, already read: a well-defined position.
      if (Status reopened = ReopenFirstFile(k); reopened != Status::kOk) return reopened;
      s.last_status = Status::kEndOfData;
      s.next_status = Status::kEndOfData;
      ReadNextTag(k);
    }
  }
  while (s.next_status == Status::kOk && CompareStamps(s.next_tag.Utc(), time) < 0) {
    SkipData(k);
    if (s.next_status != Status::kOk) break;  // never read a data block as a tag
    ReadNextTag(k);
  }
  if (s.next_status != Status::kOk) return s.next_status;
  return CompareStamps(s.next_tag.Utc(), time) == 0 ? Status::kOk : Status::kSeekLater;
}

Status Recording::CountGap(int k, GapCounts* counts) const {
  const StreamState& s = stream(k);
  if (s.open_status != Status::kOk) return Status::kBadStream;
  if (s.last_status != Status::kOk || s.next_status != Status::kOk) return Status::kGap;
  const double elapsed =
      static_cast<double>(StampSeconds(s.next_tag.Utc())) - static_cast<double>(StampSeconds(s.last_tag.Utc()));
  counts->rate_hz = GapTestRate(s.next_tag);
  counts->expected_scans = std::floor(counts->rate_hz * elapsed + 0.5);
  counts->record_scans = static_cast<double>(s.last_tag.Scnt());
  return Status::kOk;
}

Status Recording::TagRate(int k, int32_t which, double* rate_hz) const {
  const StreamState& s = stream(k);
  if (s.open_status != Status::kOk) return Status::kBadStream;
  const Status held = which == 0 ? s.last_status : s.next_status;
  if (held != Status::kOk) return held;
  *rate_hz = GapTestRate(which == 0 ? s.last_tag : s.next_tag);
  return Status::kOk;
}

Status Recording::Gap(int k) const {
  GapCounts counts;
  if (Status status = CountGap(k, &counts); status != Status::kOk) return status;
  return counts.expected_scans == counts.record_scans ? Status::kOk : Status::kGap;
}

}  // namespace olmtsfil
