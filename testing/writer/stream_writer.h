// Record tags, data blocks, stream files (".TS1" ... ".TS5", ".TSH" with mixed
// rates, ".TSL", ".TFC") and dated file sets.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "olmtsfil.h"
#include "writer/bytes_io.h"

namespace olmtsfil::testdata {

TimeStamp MakeStamp(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
// Calendar arithmetic on stamps (whole seconds; may be negative).
TimeStamp AddSeconds(const TimeStamp& stamp, int64_t seconds);
int64_t StampToUnix(const TimeStamp& stamp);
TimeStamp StampFromUnix(int64_t seconds);

// Every field of a tag. ltag 0 writes the older 16-byte kind.
struct TagSpec {
  TimeStamp utc = MakeStamp(2026, 3, 14, 10, 0, 0);
  uint16_t snum = 1;
  uint16_t scnt = 250;
  uint8_t nchn = 5;
  uint8_t ltag = 32;
  uint8_t stat = 0;
  uint8_t satc = 0;
  uint8_t kind = 0;  // byte 16: 0 time series, 15 spectral
  uint8_t lsmp = 3;
  uint16_t rate = 250;
  int8_t runt = 0;
  uint8_t clst = 0;
  uint32_t terr = 0;
  uint8_t byte26 = 0;
  uint8_t trailer_factor = 0;  // byte 27
  uint8_t sbrec = 0;
  uint8_t byte29 = 0;
  uint16_t bytes30 = 0;
  int32_t windx = 0;
  uint16_t wiscn = 0;
  uint8_t levtp = 0;
  uint8_t leval = 0;
  uint8_t nfrqt = 0;
  uint8_t nfrqd = 0;
  uint8_t nfreq = 0;

  // The data block size a reader computes from the stored tag.
  uint64_t DataBlockSize() const;
  uint8_t StoredLsmp() const;
  uint8_t StoredTrailerFactor() const;
  uint8_t StoredSbrec() const;
  uint64_t ScanCount() const { return scnt; }
  // Bytes of a whole record as EncodeRecord lays it out: the tag (16 bytes for
  // the older kind) and the data block.
  uint64_t RecordSize() const;
};

Bytes EncodeTag(const TagSpec& tag);
// The fields of the tag stored at `base` (zero for a field past the end or past
// an older 16-byte tag), for tests that change a record of a written file.
TagSpec DecodeTag(const Bytes& bytes, std::size_t base = 0);

// Encodes a 24-bit sample value into `lsmp` bytes (bytes past the third hold a
// marker that readers must ignore).
void PutSample(Bytes& out, int32_t value, uint8_t lsmp);

// One record: tag, scnt x nchn samples (scan by scan, channel by channel) and the
// trailer, filled with a recognisable pattern.
Bytes EncodeRecord(const TagSpec& tag, const std::vector<int32_t>& samples);

// Sample value of a record/scan/channel position.
using SampleFunction = std::function<int32_t(int64_t global_scan, int channel)>;

// A deterministic default: distinct, recognisable values per scan and channel.
int32_t PatternSample(int64_t global_scan, int channel);

// `records` consecutive records of `tag`, the first at tag.utc, each starting
// scnt / rate seconds after the previous (rate in samples per second), so they
// join without gaps.
Bytes EncodeStream(TagSpec tag, int records, const SampleFunction& sample = PatternSample,
                   int64_t first_global_scan = 0);

// Stem of a dated file: prefix + month (hex) + day (2 digits) + sequence letter.
std::string DatedStem(const std::string& prefix, int month, int day, char sequence);

// A recording on disk below a folder: base path and the file of each extension.
class RecordingFiles {
 public:
  RecordingFiles(std::string directory, std::string stem);
  std::string base() const { return directory_ + "/" + stem_; }
  std::string Path(const std::string& extension) const { return base() + extension; }
  void Write(const std::string& extension, const Bytes& bytes) const { WriteFile(Path(extension), bytes); }

 private:
  std::string directory_;
  std::string stem_;
};

}  // namespace olmtsfil::testdata
