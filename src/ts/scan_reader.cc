// Scan-by-scan reading: whole records are pulled into a per-stream buffer and
// handed out one scan (one sample of every channel) at a time.
#include <cstring>
#include <limits>
#include <new>

#include "common/bytes.h"
#include "ts/recording.h"
#include "ts/sample.h"

namespace olmtsfil {

Status Recording::NextScan(int k, int32_t* record_flag, const uint8_t** scan) {
  StreamState& s = mutable_stream(k);
  *record_flag = 0;
  const uint64_t block_size = s.first_tag.DataBlockSize();
  const uint32_t scan_size = s.first_tag.ScanSize();
  while (s.scans_left == 0) {
    if (!s.record_buffer) {
      // A stream without a first tag has a block size of 0: no buffer for it.
      if (block_size == 0 || block_size > std::numeric_limits<std::size_t>::max()) return Status::kNoMemory;
      // The sizes in a tag allow blocks of up to 4.3 GB. No buffer is made for a
      // record that cannot be read: a stream that has ended or failed, or a block
      // longer than the rest of its file (ReadRecord refuses it before reading).
      if (s.next_status != Status::kOk || s.file.EndsWithin(block_size))
        return ReadRecord(k, static_cast<int64_t>(block_size), nullptr);
      s.record_buffer.reset(new (std::nothrow) uint8_t[static_cast<std::size_t>(block_size)]);
      if (!s.record_buffer) return Status::kNoMemory;
      s.record_buffer_size = block_size;
    }
    s.scan_cursor = 0;
    const int64_t capacity = static_cast<int64_t>(s.record_buffer_size);
    if (Status read = ReadRecord(k, capacity, s.record_buffer.get()); read != Status::kOk) return read;
    s.scans_left = s.last_tag.Scnt();
    // Records agree with the first tag, so their scans fit the buffer; a record
    // without scans is passed over rather than reported as a scan.
    if (static_cast<uint64_t>(s.scans_left) * scan_size > s.record_buffer_size) s.scans_left = 0;
    *record_flag = s.scans_left > 0 ? 1 : 0;
  }
  *scan = s.record_buffer.get() + s.scan_cursor;
  s.scan_cursor += scan_size;
  if (--s.scans_left == 0) *record_flag = -1;
  return Status::kOk;
}

Status Recording::ReadScan(int k, int32_t* record_flag, void* scan) {
  const uint8_t* data = nullptr;
  if (Status s = NextScan(k, record_flag, &data); s != Status::kOk) return s;
  std::memcpy(scan, data, stream(k).first_tag.ScanSize());
  return Status::kOk;
}

Status Recording::ReadScanDouble(int k, int32_t* record_flag, double* values) {
  const uint8_t* data = nullptr;
  if (Status s = NextScan(k, record_flag, &data); s != Status::kOk) return s;
  const StreamState& s = stream(k);
  const uint32_t scan_size = s.first_tag.ScanSize();
  const uint32_t sample_size = s.last_tag.Lsmp();
  const uint32_t channels = s.last_tag.Nchn();
  // Converted straight from the record buffer, so scans of any length are served.
  for (uint32_t i = 0; i < channels; ++i) values[i] = BoundedSampleFraction(data, scan_size, i * sample_size);
  return Status::kOk;
}

}  // namespace olmtsfil
