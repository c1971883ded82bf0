// Walking a stream by its tags alone: what an inventory needs (records, gaps,
// first and last time) for the price of one tag read per record, the data
// blocks passed over by offset and never read.
#include "ts/recording.h"

namespace olmtsfil {

Status Recording::WalkStream(int k, StreamWalk* walk) {
  *walk = StreamWalk{};
  StreamState& s = mutable_stream(k);
  // Mapped for the walk only (each file of the set as it is reached): a later
  // read goes through the stream as before.
  struct Unmapped {
    StreamState& s;
    ~Unmapped() { s.file.Unmap(); }
  } unmapped{s};
  int32_t mapped_file = -1;  // tried once per file: one that cannot be mapped is walked through the stream
  for (;;) {
    if (mapped_file != s.files_after_first) {
      mapped_file = s.files_after_first;
      s.file.Map();
    }
    // Seeking past the end of a file succeeds, so a data block cut short by the
    // end of its file would pass for a whole record and the set would continue
    // into its next file. A read refuses such a block; so does the walk, leaving
    // the stream failed there as a read would.
    if (s.next_status == Status::kOk && s.file.EndsWithin(s.next_tag.DataBlockSize())) {
      s.last_tag = s.next_tag;
      s.last_status = Status::kReadError;
      s.next_status = Status::kReadError;
      return Status::kReadError;
    }
    // Where each tag lies is known only from the one before: fetched one by one,
    // every tag waits on memory. Records of a stream are of one size, so the tag
    // some records on is fetched early.
    constexpr uint64_t kAhead = 8;
    s.file.WillRead(kAhead * (s.next_tag.Ltag() + s.next_tag.DataBlockSize()) - s.next_tag.Ltag());
    // Any other failed skip leaves the stream failed; its status ends the walk.
    if (Status skipped = SkipRecord(k); skipped != Status::kOk) return skipped;
    if (walk->records == 0) walk->first = s.last_tag.Utc();
    walk->last = s.last_tag.Utc();
    ++walk->records;
    // The gap test needs both records: a gap is counted only when a next record
    // follows, as a caller asking GapHT and then reading the next tag would.
    if (s.next_status == Status::kOk && Gap(k) != Status::kOk) ++walk->gaps;
  }
}

}  // namespace olmtsfil
