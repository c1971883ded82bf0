// One channel of a stream as a miniSEED 2 file: Steim-2 compressed 32-bit counts
// in 4096-byte records, written with libmseed. The samples arrive in segments of
// contiguous scans; every segment opens a new record, and each record's start
// time is the segment's start plus its sample offset over the rate, rounded to
// the microsecond (never accumulated from record to record).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "olmts/export/output_file.h"

namespace olmts::exporting {

struct SeedId {
  std::string network, station, location, channel;
};

class MseedWriter {
 public:
  static constexpr int kRecordLength = 4096;

  MseedWriter(const std::string& path, const SeedId& id, double rate_hz);
  ~MseedWriter();
  MseedWriter(const MseedWriter&) = delete;
  MseedWriter& operator=(const MseedWriter&) = delete;

  // Starts a segment whose first sample lies at `start_us` microseconds since
  // 1970; ends the previous one.
  void StartSegment(int64_t start_us);
  void Append(int32_t count) {
    pending_.push_back(count);
    if (pending_.size() >= kPackBatch) Pack(false);
  }
  void EndSegment() { Pack(true); }
  // Ends the last segment and renames the file to its final name.
  void Commit();

  const std::string& path() const { return file_.path(); }
  int64_t samples() const { return samples_; }
  int64_t records() const { return records_; }
  int64_t segments() const { return segments_; }

 private:
  static constexpr std::size_t kPackBatch = 1 << 15;
  void Pack(bool flush);
  static void Handler(char* record, int length, void* self);

  OutputFile file_;
  double rate_hz_;
  struct Record;  // libmseed's MSRecord, kept out of this header
  Record* record_ = nullptr;
  std::vector<int32_t> pending_;
  int64_t segment_start_us_ = 0;
  int64_t segment_packed_ = 0;  // samples of the segment already in records
  bool in_segment_ = false;
  int64_t samples_ = 0, records_ = 0, segments_ = 0;
  std::string write_error_;
};

}  // namespace olmts::exporting
