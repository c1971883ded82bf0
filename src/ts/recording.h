// An open recording: its parameter table and up to six streams, each read strictly
// forward with one tag of look-ahead (the tag of the next record, whose data block
// is next in the file) and the tag of the record consumed last.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "common/input_file.h"
#include "common/status.h"
#include "table/parameter_table.h"
#include "ts/tag.h"
#include "ts/time_stamp.h"

namespace olmtsfil {

struct StreamState {
  InputFile file;                           // the file of the stream's set being read
  std::string first_path;                   // first file of the set (empty: no file)
  std::string current_path;                 // file now open
  int32_t files_after_first = 0;            // how far current_path lies along the set
  Status open_status = Status::kBadStream;  // kOk when the stream is usable
  Tag first_tag;                            // reference for agreement and buffer sizes
  Status last_status = Status::kEndOfData;
  Tag last_tag;  // record consumed last
  Status next_status = Status::kEndOfData;
  Tag next_tag;  // next record, its data block next in the file

  // Scan reading: the data block most recently read by it, handed out scan by scan.
  std::unique_ptr<uint8_t[]> record_buffer;
  uint64_t record_buffer_size = 0;
  uint64_t scan_cursor = 0;  // offset of the next scan in record_buffer
  int32_t scans_left = 0;

  bool HasFile() const { return file.IsOpen(); }
};

// Layout of the spectral cycle, derived from stream 0's first tag at open.
struct DftLayout {
  int32_t level_mask = 0;    // -1 << (LEVAL + 1)
  int32_t base_bit = 0;      // 1 << LEVTP
  int32_t level_step = 0;    // 1 << (LEVAL + 1)
  int32_t level_count = 0;   // LEVAL - LEVTP + 2
  int32_t cycle_length = 0;  // (LEVAL - LEVTP + 1) x NFRQD + NFRQT
};

// What the gap test compares for a stream's last consumed record and its next one.
struct GapCounts {
  double rate_hz = 0;         // the next record's rate, as the gap test counts it
  double expected_scans = 0;  // scans between the two record times at that rate, rounded
  double record_scans = 0;    // scan count of the last record
};

// What a walk over a stream's tags found (Recording::WalkStream).
struct StreamWalk {
  int64_t records = 0;  // records passed over
  int64_t gaps = 0;     // records the next one does not join (the gap test), a next one held
  TimeStamp first{};    // time of the first record passed; meaningful when records > 0
  TimeStamp last{};     // time of the last record passed
};

// What a survey of a stream found (Recording::SurveyStream): what a walk would
// find, and how much of it was seen rather than inferred.
struct StreamSurvey {
  StreamWalk walk;
  int64_t tags_read = 0;     // records passed whose tag was read (walk.records when every one was)
  uint64_t record_size = 0;  // bytes of a record of the stream (tag and data block), from its first tag
};

// One tag read at the file's position, an older 16-byte tag widened: whole,
// or where it fell short (its first 16 bytes, a length no tag has, the rest).
enum class TagRead { kWhole, kShortBase, kBadLength, kShortRest };
TagRead ReadTagBytes(InputFile& file, Tag* tag);

class Recording {
 public:
  static constexpr int kStreams = 6;

  // Loads the table and opens the first file of each stream. On failure the
  // internal reason is returned and the object should be discarded.
  Status Open(const char* base_name);

  const ParameterTable& table() const { return table_; }
  bool concatenate() const { return concatenate_; }
  void set_concatenate(bool on) { concatenate_ = on; }
  bool split_by_rate() const { return split_by_rate_; }
  const StreamState& stream(int k) const { return streams_[static_cast<std::size_t>(k)]; }
  const DftLayout& dft_layout() const { return dft_; }

  // Record-level reading; `k` is 0 ... 5 (checked by the caller).
  Status ReadRecord(int k, int64_t buffer_size, void* buffer);
  Status SkipRecord(int k);
  Status Seek(int k, TimeStamp time, int32_t mode);
  Status Gap(int k) const;
  // The counts behind Gap(k); kGap (nothing written) when either record is missing.
  Status CountGap(int k, GapCounts* counts) const;
  // GapTestRate of the last (which == 0) or next tag; the tag's status when it is not held.
  Status TagRate(int k, int32_t which, double* rate_hz) const;

  // Scan reading. On success *scan points at NCHN x LSMP bytes inside the stream's
  // record buffer, valid until the next call on the stream.
  Status NextScan(int k, int32_t* record_flag, const uint8_t** scan);
  Status ReadScan(int k, int32_t* record_flag, void* scan);
  Status ReadScanDouble(int k, int32_t* record_flag, double* values);

  // Many scans at once, continuing scan reading where it stands: up to
  // `max_scans` rows of NCHN values into `values` (fractions of full scale) or
  // `counts` (signed 24-bit counts), exactly one of them non-null. With
  // `stop_at_gap` it stops before a record that does not join the one before,
  // unless nothing was delivered yet. *scans_read counts the rows delivered; the
  // status says why reading stopped: kOk (max_scans reached), kGap, or the
  // status that ended the stream.
  Status ReadScanBlock(int k, bool stop_at_gap, int64_t max_scans, double* values, int32_t* counts,
                       int64_t* scans_read);

  // Passes over every remaining record of stream k by its tag, as SkipRecord
  // does, reading no data block, until a skip fails or a data block is cut
  // short by the end of its file (kReadError, as reading it would give);
  // returns that status (kEndOfData at a clean end).
  Status WalkStream(int k, StreamWalk* walk);

  // What WalkStream would find, for the price of a few tags per file where
  // records follow one another evenly: within a file, a run of records whose
  // end tags agree with the stream's and lie as many record durations apart as
  // records is taken as whole and joined, without its inner tags being read;
  // runs that do not fit are halved until every gap between them is found. The
  // last record of each file, and any file where a tag looked at does not fit,
  // are walked record by record, so joins, files cut short and faults are met
  // exactly as the walk meets them. Streams whose records do not lie evenly (a
  // shared file of several rates, a rate for which more than one spacing joins)
  // are walked, and so is every stream with `every_tag`. Leaves the stream as
  // WalkStream does.
  Status SurveyStream(int k, bool every_tag, StreamSurvey* survey);

  // Named fields of the last (which == 0) or next tag.
  Status ReadTag(int k, int32_t which, const char* name, int32_t type, void* out) const;

  // Spectral records of stream 0.
  Status ReadDftScan(int32_t* record_flag, int32_t* window, int32_t* level, int32_t* freq_index, double* values);
  double DftFrequency(int32_t freq_index) const;

 private:
  StreamState& mutable_stream(int k) { return streams_[static_cast<std::size_t>(k)]; }
  void OpenStreamFile(int k, const char* path);
  Status ReadNextTag(int k);
  // One record of a walk (the file it enters mapped once, tracked in
  // *mapped_file); kOk while the walk goes on, else the status that ends it.
  Status WalkStep(int k, StreamWalk* walk, int32_t* mapped_file);
  // The survey's pass over the whole records of the current file from the held
  // one; false when a tag looked at does not fit (the file is then walked).
  bool SurveyFile(int k, int64_t spacing_s, StreamSurvey* survey);
  void SkipData(int k);
  bool OpenNextFile(int k);
  Status ReopenFirstFile(int k);
  void CheckSpectralStream();
  Status LocateDftValue(int32_t windx, int32_t pos, int32_t* window, int32_t* level, int32_t* freq_index) const;

  InputFile table_file_;
  std::array<StreamState, kStreams> streams_;
  bool split_by_rate_ = false;
  bool concatenate_ = false;
  // Set by a walk or survey: the next file of a set is mapped as soon as it
  // opens, its first tag read from memory rather than through a stream
  // buffer filled for nothing.
  bool map_next_files_ = false;
  DftLayout dft_;
  ParameterTable table_;
};

}  // namespace olmtsfil
