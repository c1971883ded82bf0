// Walking a stream by its tags alone: what an inventory needs (records, gaps,
// first and last time) for the price of one tag read per record, the data
// blocks passed over by offset and never read; and the survey, which finds the
// same for the price of a few tags per file where the records lie evenly.
#include <algorithm>
#include <cmath>
#include <vector>

#include "ts/recording.h"

namespace olmtsfil {
namespace {

// Mapped for the walk only (each file of the set as it is reached): a later
// read goes through the stream as before.
struct Unmapped {
  StreamState& s;
  bool& map_next_files;
  ~Unmapped() {
    s.file.Unmap();
    map_next_files = false;
  }
};

// The one whole number of seconds after which a record of `tag` is joined by
// the next (the gap test rounds rate x seconds and compares it with the scan
// count), or 0 when no spacing or more than one joins: stamps are whole
// seconds, so with a rate below one a record may be followed at several.
int64_t JoinSpacing(const Tag& tag) {
  const double rate = GapTestRate(tag);
  const double scans = tag.Scnt();
  if (!(rate > 0)) return 0;
  auto joins = [&](int64_t seconds) { return std::floor(rate * static_cast<double>(seconds) + 0.5) == scans; };
  const double nearest = std::nearbyint(scans / rate);
  if (!(nearest >= 1 && nearest <= 4294967295.0)) return 0;
  const auto spacing = static_cast<int64_t>(nearest);
  return joins(spacing) && !joins(spacing - 1) && !joins(spacing + 1) ? spacing : 0;
}

// The gaps between the whole records of one file, from the tags of a few: a
// run whose end records lie as many spacings apart as records is taken as
// joined throughout, any other is halved, down to single pairs.
class RunCheck {
 public:
  RunCheck(InputFile& file, const Tag& first, uint64_t start, uint64_t record_size, int64_t spacing)
      : file_(file), first_(first), start_(start), record_size_(record_size), spacing_(spacing) {}

  // The tag of record `index` (0: the one at `start`), or false when it cannot
  // be read whole or does not agree with the stream's first tag as the reader
  // requires, nor in the rate on which the spacing rests.
  bool Look(int64_t index, Tag* tag) {
    if (!file_.SeekTo(start_ + static_cast<uint64_t>(index) * record_size_)) return false;
    if (ReadTagBytes(file_, tag) != TagRead::kWhole) return false;
    if (!TagsAgree(first_, *tag) || tag->Rate() != first_.Rate() || tag->Runt() != first_.Runt()) return false;
    looked_.push_back(index);
    return true;
  }

  // Counts the gaps between records a and b, left to right; false at a tag that
  // does not fit, the gaps up to record reached() counted.
  bool Count(int64_t a, uint32_t a_seconds, int64_t b, uint32_t b_seconds) {
    const int64_t elapsed = static_cast<int64_t>(b_seconds) - static_cast<int64_t>(a_seconds);
    if (elapsed > 0 && elapsed % spacing_ == 0 && elapsed / spacing_ == b - a) {
      reached_ = b;
      return true;
    }
    if (b == a + 1) {
      ++gaps_;  // only the one spacing joins
      reached_ = b;
      return true;
    }
    const int64_t middle = a + (b - a) / 2;
    Tag tag;
    if (!Look(middle, &tag)) return false;
    const uint32_t middle_seconds = StampSeconds(tag.Utc());
    return Count(a, a_seconds, middle, middle_seconds) && Count(middle, middle_seconds, b, b_seconds);
  }

  int64_t reached() const { return reached_; }
  int64_t gaps() const { return gaps_; }
  // Records before `end` whose tags were looked at (record 0 aside).
  int64_t LookedBefore(int64_t end) {
    std::sort(looked_.begin(), looked_.end());
    looked_.erase(std::unique(looked_.begin(), looked_.end()), looked_.end());
    return std::count_if(looked_.begin(), looked_.end(), [end](int64_t i) { return i > 0 && i < end; });
  }

 private:
  InputFile& file_;
  const Tag& first_;
  uint64_t start_;
  uint64_t record_size_;
  int64_t spacing_;
  int64_t reached_ = 0;
  int64_t gaps_ = 0;
  std::vector<int64_t> looked_;
};

}  // namespace

Status Recording::WalkStep(int k, StreamWalk* walk, int32_t* mapped_file) {
  StreamState& s = mutable_stream(k);
  // Tried once per file: one that cannot be mapped is walked through the stream.
  if (*mapped_file != s.files_after_first) {
    *mapped_file = s.files_after_first;
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
  return Status::kOk;
}

Status Recording::WalkStream(int k, StreamWalk* walk) {
  *walk = StreamWalk{};
  map_next_files_ = true;
  Unmapped unmapped{mutable_stream(k), map_next_files_};
  int32_t mapped_file = -1;
  for (;;) {
    if (Status status = WalkStep(k, walk, &mapped_file); status != Status::kOk) return status;
  }
}

bool Recording::SurveyFile(int k, int64_t spacing_s, StreamSurvey* survey) {
  StreamState& s = mutable_stream(k);
  const Tag held = s.next_tag;
  if (held.Rate() != s.first_tag.Rate() || held.Runt() != s.first_tag.Runt()) return false;
  const uint64_t record_size = held.Ltag() + held.DataBlockSize();
  uint64_t position = 0, size = 0;
  if (!s.file.Tell(&position) || !s.file.Size(&size) || position < held.Ltag()) return false;
  const uint64_t start = position - held.Ltag();  // where the held record begins
  const uint64_t whole = size > start ? (size - start) / record_size : 0;
  // The last whole record is left to the walk, which takes it into the next file.
  if (whole < 2) return true;
  const auto last = static_cast<int64_t>(whole - 1);
  RunCheck run(s.file, s.first_tag, start, record_size, spacing_s);
  Tag last_tag;
  bool counted =
      run.Look(last, &last_tag) && run.Count(0, StampSeconds(held.Utc()), last, StampSeconds(last_tag.Utc()));
  // The stream is set on the first record not passed, the one before it as the
  // last consumed, as skipping up to there would leave them. That one's tag
  // may not have been looked at yet: one that does not fit leaves the file to
  // the walk from the held record on.
  int64_t reached = run.reached();
  Tag before;
  if (reached > 0 && !run.Look(reached - 1, &before)) {
    reached = 0;
    counted = false;
  }
  // A file that cannot be positioned stands anywhere, possibly inside a data
  // block: reading a tag there would take samples for a tag, so the stream fails.
  if (!s.file.SeekTo(start + static_cast<uint64_t>(reached) * record_size)) {
    s.next_status = Status::kReadError;
    return false;
  }
  if (reached > 0) {
    if (survey->walk.records == 0) survey->walk.first = held.Utc();
    survey->walk.records += reached;
    survey->walk.gaps += run.gaps();
    survey->walk.last = before.Utc();
    survey->tags_read += 1 + run.LookedBefore(reached);
    s.last_tag = before;
    s.last_status = Status::kOk;
  }
  // A tag looked at is read again as the reader reads it, its status the stream's.
  ReadNextTag(k);
  return counted;
}

Status Recording::SurveyStream(int k, bool every_tag, StreamSurvey* survey) {
  *survey = StreamSurvey{};
  StreamState& s = mutable_stream(k);
  survey->record_size = s.first_tag.Ltag() + s.first_tag.DataBlockSize();
  map_next_files_ = true;
  Unmapped unmapped{s, map_next_files_};
  int32_t mapped_file = -1;
  // Records of several rates sharing the high-rate file do not lie evenly. (A
  // stream's own file is also taken by rate once that file is in use: a record
  // of another rate in it is one more tag that does not fit.)
  const std::size_t path_length = s.first_path.size();
  const bool shared =
      split_by_rate_ && k >= 2 && k <= 4 && path_length >= 4 && s.first_path.compare(path_length - 4, 4, ".TSH") == 0;
  const int64_t spacing_s = every_tag || shared ? 0 : JoinSpacing(s.first_tag);
  int32_t walked_file = -1;  // a file where a tag looked at did not fit: walked record by record
  for (;;) {
    if (spacing_s > 0 && s.next_status == Status::kOk && walked_file != s.files_after_first) {
      if (mapped_file != s.files_after_first) {
        mapped_file = s.files_after_first;
        s.file.Map();
      }
      if (!SurveyFile(k, spacing_s, survey)) walked_file = s.files_after_first;
    }
    const int64_t before = survey->walk.records;
    const Status status = WalkStep(k, &survey->walk, &mapped_file);
    survey->tags_read += survey->walk.records - before;
    if (status != Status::kOk) return status;
  }
}

}  // namespace olmtsfil
